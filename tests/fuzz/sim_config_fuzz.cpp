// sim_config_fuzz.cpp - libFuzzer harness for the simulated library's configuration and DCF
// readers: any text parses or is refused with a reason, and what is accepted lies in range.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "sim/sim_config.h"

namespace {

void Check(bool condition) {
    if (!condition) std::abort();
}

void CheckDigitizer(const kestcam::sim::DigitizerConfig &d) {
    Check(d.width >= 1 && d.width <= 65536 && d.height >= 1 && d.height <= 65536);
    Check(d.bands == 1 || d.bands == 3);
    Check(d.bits >= 8 && d.bits <= 16);
    Check(d.frameTimeMs >= 0 && d.grabFailsAt >= 0);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    using namespace kestcam;
    const std::string_view text(reinterpret_cast<const char *>(data), size);
    const ini::IniDocument doc = ini::IniDocument::Parse(text);

    sim::SimConfig config = sim::DefaultConfig();
    std::string reason;
    if (sim::ParseConfig(doc, config, reason)) {
        for (const sim::SystemConfig &system : config.systems) {
            for (int device : system.devices)
                Check(device >= 0 && device <= 255);
            Check(system.digitizers.size() <= 16);
            for (const sim::DigitizerConfig &d : system.digitizers)
                CheckDigitizer(d);
        }
        Check(config.bufferLimit >= 0);
    } else {
        Check(!reason.empty());
    }

    // The same text as a DCF: refused whole, or applied whole and in range.
    sim::DigitizerConfig dcf;
    const sim::DigitizerConfig before = dcf;
    reason.clear();
    if (sim::ApplyDcf(doc, dcf, reason)) {
        CheckDigitizer(dcf);
    } else {
        Check(!reason.empty());
        Check(dcf.width == before.width && dcf.height == before.height && dcf.bits == before.bits);
    }
    (void)sim::ParseProfileInt(std::string(text.substr(0, 64)));
    return 0;
}
