// sim_camera_config.cpp - the simulated serial camera's configuration read from an INI document.
#include <cstdlib>

#include "settings/number_text.h"
#include "sim/camera/sim_serial_camera.h"

namespace kestcam::sim {

namespace {

// An integer key within [min, max]; false with a reason naming section and key otherwise.
bool ReadInt(const ini::IniDocument &doc, const char *section, const char *key, int min, int max, int &value,
             std::string &reason) {
    const std::optional<std::string> text = doc.Get(section, key);
    if (!text) return true;
    const int parsed = ini::ProfileIntFromText(*text, value);
    if (parsed < min || parsed > max) {
        reason = std::string("[") + section + "] " + key + " = " + *text + ": expected " + std::to_string(min) +
                 ".." + std::to_string(max);
        return false;
    }
    value = parsed;
    return true;
}

bool ReadFloat(const ini::IniDocument &doc, const char *section, const char *key, float &value,
               std::string &reason) {
    const std::optional<std::string> text = doc.Get(section, key);
    if (!text) return true;
    char *end = nullptr;
    std::strtod(text->c_str(), &end); // only to see where the number ends
    if (text->empty() || end == text->c_str()) {
        reason = std::string("[") + section + "] " + key + " = " + *text + ": expected a number";
        return false;
    }
    value = static_cast<float>(ParseDoublePrefix(*text));
    return true;
}

} // namespace

bool ParseCameraConfig(const ini::IniDocument &doc, SimCameraConfig &config, std::string &reason) {
    SimCameraConfig parsed = config;
    for (SimFloatRegister &r : parsed.floats) {
        if (!ReadFloat(doc, r.name, "Value", r.value, reason) || !ReadFloat(doc, r.name, "Min", r.min, reason) ||
            !ReadFloat(doc, r.name, "Max", r.max, reason))
            return false;
    }
    int noAnswer = parsed.faults.noAnswer ? 1 : 0;
    int ackByte = parsed.faults.ackByte;
    int badChecksum = parsed.faults.badChecksum ? 1 : 0;
    int shortResponse = parsed.faults.shortResponse ? 1 : 0;
    const bool ok =
        ReadInt(doc, "Camera", "ExposureMode", 0, 255, parsed.exposureMode, reason) &&
        ReadInt(doc, "Camera", "ResponseOpcode", 0, 31, parsed.responseOpcode, reason) &&
        ReadInt(doc, "Faults", "NoAnswer", 0, 1, noAnswer, reason) &&
        ReadInt(doc, "Faults", "AckByte", 0, 255, ackByte, reason) &&
        ReadInt(doc, "Faults", "BadChecksum", 0, 1, badChecksum, reason) &&
        ReadInt(doc, "Faults", "ShortResponse", 0, 1, shortResponse, reason) &&
        ReadInt(doc, "Faults", "SilentAfterFrames", 0, 1000000, parsed.faults.silentAfterFrames, reason) &&
        ReadInt(doc, "Faults", "BadChecksumAfterFrames", 0, 1000000, parsed.faults.badChecksumAfterFrames, reason);
    if (!ok) return false;
    parsed.faults.noAnswer = noAnswer != 0;
    parsed.faults.ackByte = static_cast<uint8_t>(ackByte);
    parsed.faults.badChecksum = badChecksum != 0;
    parsed.faults.shortResponse = shortResponse != 0;
    config = parsed;
    return true;
}

} // namespace kestcam::sim
