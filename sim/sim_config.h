// sim_config.h - the simulated library's configuration: installed systems, boards, digitizers
// and faults, read from an INI text (KESTCAM_SIM_CONFIG) or taken from the built-in default.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "settings/ini_store.h"

namespace kestcam::sim {

// What one digitizer looks like and how it misbehaves. A DCF overrides any of these.
struct DigitizerConfig {
    int width = 2048;
    int height = 1000;
    int bands = 1;                // 1 or 3
    int bits = 8;                 // 8..16
    std::optional<int> colorMode; // unset: 0 for one band, 8 for three
    int frameTimeMs = 0;
    bool processFails = false;
    int grabFailsAt = 0; // N > 0: the N-th single-frame grab fails

    int ColorMode() const { return colorMode ? *colorMode : (bands == 3 ? 8 : 0); }
};

// One installed system type and the boards that answer for it.
struct SystemConfig {
    std::string descriptor = "M_SYSTEM_SOLIOS";
    std::vector<int> devices{0}; // device numbers where a board answers
    std::vector<DigitizerConfig> digitizers = std::vector<DigitizerConfig>(1); // alike on every board
};

struct SimConfig {
    std::vector<SystemConfig> systems; // in installed-system order
    bool appAllocFails = false;
    int bufferLimit = 0; // N > 0: buffer allocations fail once N buffers are held
};

// The configuration used when KESTCAM_SIM_CONFIG is not set.
SimConfig DefaultConfig();

// Reads a configuration from an INI document. Systems are the sections "System 0", "System 1",
// ... up to the first missing index. False with a reason (naming section and key) when a value
// is out of range.
bool ParseConfig(const ini::IniDocument &doc, SimConfig &config, std::string &reason);

// Applies the [Digitizer] section of a DCF to a digitizer's configuration. False with a reason
// when the section is missing or a value is out of range; config is then unchanged.
bool ApplyDcf(const ini::IniDocument &doc, DigitizerConfig &config, std::string &reason);

// The whole content of a file; false when it cannot be opened or read.
bool ReadTextFile(const std::string &path, std::string &text);

// The integer reading of the private-profile rules: optional blanks, an optional sign, then
// decimal or 0x hexadecimal digits; 0 when there are none.
long long ParseProfileInt(const std::string &text);

} // namespace kestcam::sim
