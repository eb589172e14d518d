// lut_generator.cpp - the logarithmic table's formula, input check and file writer.
#include "acquisition/lut_generator.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace kestcam {

int LutGeneratorValue(int x, int lsb, int msb, int steepness) {
    lsb = std::clamp(lsb, kLutGenBitMin, kLutGenBitMax);
    msb = std::clamp(msb, kLutGenBitMin, kLutGenBitMax);
    steepness = std::clamp(steepness, kLutGenSteepnessMin, kLutGenSteepnessMax);
    const int lo = (1 << lsb) - 1;
    const int hi = (1 << msb) - 1;
    if (hi <= lo) return x <= lo ? 0 : 255; // no width to spread over: 0/0 would not be a number
    const int xc = std::clamp(x, lo, hi);
    const double v = xc - lo;
    const double span = hi - lo;
    const double s = steepness;
    const double y = (std::log(v + s) - std::log(s)) / (std::log(span + s) - std::log(s)) * 255.0 + 0.5;
    // v <= span keeps y within [0.5, 255.5]; the clamp only guards the conversion against rounding.
    return static_cast<int>(std::clamp(y, 0.0, 255.0));
}

bool LutGeneratorInputsValid(int lsb, int msb, int steepness, std::string *reason) {
    char text[160];
    text[0] = '\0';
    if (lsb < kLutGenBitMin || lsb > kLutGenBitMax) {
        std::snprintf(text, sizeof text, "LSB must be between %d and %d (it is %d)", kLutGenBitMin, kLutGenBitMax,
                      lsb);
    } else if (msb < kLutGenBitMin || msb > kLutGenBitMax) {
        std::snprintf(text, sizeof text, "MSB must be between %d and %d (it is %d)", kLutGenBitMin, kLutGenBitMax,
                      msb);
    } else if (steepness < kLutGenSteepnessMin || steepness > kLutGenSteepnessMax) {
        std::snprintf(text, sizeof text, "steepness must be between %d and %d (it is %d)", kLutGenSteepnessMin,
                      kLutGenSteepnessMax, steepness);
    } else if (lsb >= msb) {
        std::snprintf(text, sizeof text, "LSB must be less than MSB (LSB is %d, MSB is %d)", lsb, msb);
    } else {
        if (reason != nullptr) reason->clear();
        return true;
    }
    if (reason != nullptr) *reason = text;
    return false;
}

bool WriteLutGeneratorFile(const std::string &path, int lsb, int msb, int steepness) {
    if (!LutGeneratorInputsValid(lsb, msb, steepness, nullptr)) return false;
    // Text mode on purpose: the file gets the platform's own line ends.
    std::FILE *file = std::fopen(path.c_str(), "w");
    if (file == nullptr) return false;
    bool ok = std::fputs("LN;ln\n", file) >= 0;
    for (int x = 0; ok && x < kLutGenInputCount; ++x) {
        ok = std::fprintf(file, "%4d;%4d\n", x, LutGeneratorValue(x, lsb, msb, steepness)) > 0;
    }
    // Write errors may only show when the buffer is flushed at close.
    if (std::fclose(file) != 0) ok = false;
    if (!ok) std::remove(path.c_str());
    return ok;
}

} // namespace kestcam
