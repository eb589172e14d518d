// sim_config.cpp - reading the simulated library's configuration and DCF files.
#include "sim/sim_config.h"

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <cstdio>
#include <sstream>
#include <utility>

namespace kestcam::sim {
namespace {

constexpr int kMaxSide = 65536;
constexpr int kMaxDigitizers = 16;
constexpr int kMaxDevice = 255;
constexpr int kMaxFrameTimeMs = 3600000;

// Reads the keys of one section: an absent key keeps the current value, a present one must lie
// in its range or the reason names section, key and text.
class KeyReader {
public:
    KeyReader(const ini::IniDocument &doc, std::string section, std::string &reason)
        : doc_(doc), section_(std::move(section)), reason_(reason) {}

    bool Int(const char *key, int &value, long long lo, long long hi) {
        const std::optional<std::string> text = doc_.Get(section_, key);
        if (!text) return true;
        const long long v = ParseProfileInt(*text);
        if (v < lo || v > hi)
            return Reject(key, *text, "outside " + std::to_string(lo) + ".." + std::to_string(hi));
        value = static_cast<int>(v);
        return true;
    }

    bool Reject(const char *key, const std::string &text, const std::string &why) {
        reason_ = "[" + section_ + "] " + key + "=" + text + " is " + why;
        return false;
    }

    bool Flag(const char *key, bool &value) {
        int v = value ? 1 : 0;
        if (!Int(key, v, 0, 1)) return false;
        value = v != 0;
        return true;
    }

    bool OptionalInt(const char *key, std::optional<int> &value, long long lo, long long hi) {
        if (!doc_.Get(section_, key)) return true;
        int v = 0;
        if (!Int(key, v, lo, hi)) return false;
        value = v;
        return true;
    }

    std::optional<std::string> Text(const char *key) const { return doc_.Get(section_, key); }

private:
    const ini::IniDocument &doc_;
    std::string section_;
    std::string &reason_;
};

bool ReadDigitizerKeys(KeyReader &keys, DigitizerConfig &d) {
    if (!keys.Int("Width", d.width, 1, kMaxSide) || !keys.Int("Height", d.height, 1, kMaxSide)) return false;
    if (!keys.Int("Bands", d.bands, 1, 3) || !keys.Int("Bits", d.bits, 8, 16)) return false;
    if (d.bands == 2) return keys.Reject("Bands", "2", "neither 1 nor 3");
    return keys.OptionalInt("ColorMode", d.colorMode, INT32_MIN, INT32_MAX) &&
           keys.Int("FrameTimeMs", d.frameTimeMs, 0, kMaxFrameTimeMs) &&
           keys.Flag("ProcessFails", d.processFails) && keys.Int("GrabFailsAt", d.grabFailsAt, 0, INT32_MAX);
}

bool ParseDevices(KeyReader &keys, const std::string &text, std::vector<int> &devices) {
    devices.clear();
    std::stringstream in(text);
    std::string item;
    while (std::getline(in, item, ',')) {
        if (item.find_first_not_of(" \t") == std::string::npos) continue;
        const long long device = ParseProfileInt(item);
        if (device < 0 || device > kMaxDevice)
            return keys.Reject("Devices", text, "not a list of device numbers 0.." + std::to_string(kMaxDevice));
        bool seen = false;
        for (int d : devices)
            seen = seen || d == device;
        if (!seen) devices.push_back(static_cast<int>(device));
    }
    return true;
}

} // namespace

SimConfig DefaultConfig() {
    SimConfig config;
    SystemConfig solios;
    solios.descriptor = "M_SYSTEM_SOLIOS";
    solios.devices = {0};
    solios.digitizers.assign(3, DigitizerConfig{});
    solios.digitizers[1].bits = 12;
    solios.digitizers[2].width = 1024;
    solios.digitizers[2].height = 768;
    solios.digitizers[2].bands = 3;
    solios.digitizers[2].colorMode = 8;
    config.systems.push_back(solios);

    SystemConfig host;
    host.descriptor = "M_SYSTEM_HOST";
    config.systems.push_back(host);
    return config;
}

bool ParseConfig(const ini::IniDocument &doc, SimConfig &config, std::string &reason) {
    SimConfig parsed;
    for (int s = 0;; ++s) {
        const std::string section = "System " + std::to_string(s);
        if (!doc.HasSection(section)) break;
        KeyReader keys(doc, section, reason);
        SystemConfig system;
        if (std::optional<std::string> descriptor = keys.Text("Descriptor")) system.descriptor = *descriptor;
        if (std::optional<std::string> devices = keys.Text("Devices")) {
            if (!ParseDevices(keys, *devices, system.devices)) return false;
        }
        int count = 1;
        if (!keys.Int("Digitizers", count, 0, kMaxDigitizers)) return false;
        system.digitizers.assign(static_cast<size_t>(count), DigitizerConfig{});
        for (int n = 0; n < count; ++n) {
            KeyReader digitizerKeys(doc, section + " Digitizer " + std::to_string(n), reason);
            if (!ReadDigitizerKeys(digitizerKeys, system.digitizers[static_cast<size_t>(n)])) return false;
        }
        parsed.systems.push_back(std::move(system));
    }
    KeyReader faults(doc, "Faults", reason);
    if (!faults.Flag("AppAllocFails", parsed.appAllocFails)) return false;
    if (!faults.Int("BufferLimit", parsed.bufferLimit, 0, INT32_MAX)) return false;
    config = std::move(parsed);
    return true;
}

bool ApplyDcf(const ini::IniDocument &doc, DigitizerConfig &config, std::string &reason) {
    if (!doc.HasSection("Digitizer")) {
        reason = "no [Digitizer] section";
        return false;
    }
    KeyReader keys(doc, "Digitizer", reason);
    DigitizerConfig updated = config;
    if (!ReadDigitizerKeys(keys, updated)) return false;
    config = updated;
    return true;
}

bool ReadTextFile(const std::string &path, std::string &text) {
    // stdio rather than a stream: reading a directory then fails here as it does on Windows.
    std::FILE *file = std::fopen(path.c_str(), "rb");
    if (file == nullptr) return false;
    text.clear();
    char chunk[4096];
    size_t got;
    while ((got = std::fread(chunk, 1, sizeof chunk, file)) > 0)
        text.append(chunk, got);
    const bool failed = std::ferror(file) != 0;
    std::fclose(file);
    return !failed;
}

long long ParseProfileInt(const std::string &text) {
    size_t i = 0;
    while (i < text.size() && (text[i] == ' ' || text[i] == '\t'))
        ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
    int base = 10;
    if (i + 1 < text.size() && text[i] == '0' && (text[i + 1] == 'x' || text[i + 1] == 'X')) {
        base = 16;
        i += 2;
    }
    // Saturate well beyond every accepted range so that an overlong number is refused, not wrapped.
    constexpr long long kCap = 1LL << 40;
    long long value = 0;
    for (; i < text.size(); ++i) {
        const int c = static_cast<unsigned char>(text[i]);
        int digit;
        if (std::isdigit(c))
            digit = c - '0';
        else if (base == 16 && std::isxdigit(c))
            digit = std::tolower(c) - 'a' + 10;
        else
            break;
        value = std::min(value * base + digit, kCap);
    }
    return negative ? -value : value;
}

} // namespace kestcam::sim
