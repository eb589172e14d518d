// mil_digitizer.cpp - camera identity.
#include "acquisition/mil_digitizer.h"

#include <cstdio>

namespace kestcam {

MilDigitizer::MilDigitizer(MilApp *app, MilSystem *system) : app_(app), system_(system) {}

MilDigitizer::~MilDigitizer() = default;

bool MilDigitizer::Setup(int index, int dev, int k) {
    char text[64];
    if (index == 0 && dev == 0)
        std::snprintf(text, sizeof text, "Camera %d", k + 1);
    else
        std::snprintf(text, sizeof text, "Camera %d-%d-%d", index + 1, dev + 1, k + 1);
    name_ = text;
    number_ = k;
    return true;
}

} // namespace kestcam
