// camera_settings_fuzz.cpp - libFuzzer harness for a camera's settings section: any text must load,
// and what a save of it writes must load and save to the very same text (the section's fixed point).
// The file form shares every exchange with the in-memory form used here; a few inputs also take the
// file road, so its reading and atomic replace are fuzzed too.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

#include "settings/camera_settings.h"
#include "sim/sim_config.h"

namespace {

// A failed check names its line before the abort, so a finding explains itself.
void CheckAt(bool condition, int line) {
    if (condition) return;
    std::fprintf(stderr, "camera_settings_fuzz: check at line %d failed\n", line);
    std::abort();
}
#define Check(condition) CheckAt((condition), __LINE__)

// Files on a memory file system by default: every save is an fsync'ed atomic replace.
std::string Scratch(const char *leaf) {
    const char *dir = std::getenv("KESTCAM_FUZZ_DIR");
    if (dir == nullptr || dir[0] == '\0') dir = access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp";
    return std::string(dir) + "/kestcam-fuzz-" + std::to_string(getpid()) + "-" + leaf;
}

void CheckFileRoad(std::string_view text, const std::string &expected) {
    static const std::string input = Scratch("input.ini");
    static const std::string saved = Scratch("saved.ini");
    std::FILE *file = std::fopen(input.c_str(), "wb");
    Check(file != nullptr);
    Check(std::fwrite(text.data(), 1, text.size(), file) == text.size());
    Check(std::fclose(file) == 0);
    std::remove(saved.c_str());

    kestcam::CameraSettings loaded;
    Check(loaded.LoadFrom(input, "Camera 1"));
    Check(loaded.SaveTo(saved, "Camera 1"));
    std::string written;
    Check(kestcam::sim::ReadTextFile(saved, written));
    Check(kestcam::ini::IniDocument::Parse(written).Get("Camera 1", "Width") ==
          kestcam::ini::IniDocument::Parse(expected).Get("Camera 1", "Width"));
    std::remove(input.c_str());
    std::remove(saved.c_str());
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    using kestcam::CameraSettings;
    using kestcam::ini::IniDocument;
    const std::string_view text(reinterpret_cast<const char *>(data), size);

    CameraSettings loaded;
    loaded.LoadFrom(IniDocument::Parse(text), "Camera 1");
    IniDocument first;
    Check(loaded.SaveTo(first, "Camera 1"));

    CameraSettings again;
    again.LoadFrom(IniDocument::Parse(first.Serialize()), "Camera 1");
    IniDocument second;
    Check(again.SaveTo(second, "Camera 1"));
    if (first.Serialize() != second.Serialize())
        for (const std::string &save : {first.Serialize(), second.Serialize()}) {
            std::fputs("save:\n", stderr);
            std::fwrite(save.data(), 1, save.size(), stderr);
        }
    Check(first.Serialize() == second.Serialize());

    // Every ranged key answers; a double bound the file made huge or NaN still gives an int.
    int lo = 0;
    int hi = 0;
    for (const char *key : {"HeightMultiplier", "GrabTimeout", "Shift16bit", "Gain", "exposuretime", "Width"})
        (void)again.GetRange(key, lo, hi);
    (void)again.ExposureMode.CurrentCode();
    (void)again.BaslerPort.CurrentCode();

    if (size % 64 == 0) CheckFileRoad(text, first.Serialize());
    return 0;
}
