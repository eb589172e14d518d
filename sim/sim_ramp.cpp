// sim_ramp.cpp - filling frames with the ramp at memory speed.
#include "sim/sim_ramp.h"

#include <cstddef>
#include <cstring>
#include <vector>

namespace kestcam::sim {
namespace {

// Every row of a plane is a run of consecutive values modulo 2^bits, so each row is a slice of
// one line holding a whole period followed by one more row's worth: one copy per row, at memory
// speed, with no arithmetic per sample.
template <typename Sample>
void FillPlane(Sample *plane, const RampTarget &target, int64_t frame, int band, int bits, int shift) {
    if (target.fillWidth <= 0 || target.fillHeight <= 0) return;
    const uint32_t period = 1u << bits;
    const uint32_t mask = period - 1u;
    const size_t width = static_cast<size_t>(target.fillWidth);
    std::vector<Sample> line(period + width);
    for (size_t i = 0; i < line.size(); ++i)
        line[i] = static_cast<Sample>((static_cast<uint32_t>(i) & mask) >> shift);

    // Unsigned wrap-around keeps every term right modulo 2^bits, since 2^bits divides 2^32.
    const uint32_t base =
        static_cast<uint32_t>(static_cast<uint64_t>(frame) * 7u) + 85u * static_cast<uint32_t>(band);
    for (int y = 0; y < target.fillHeight; ++y) {
        const uint32_t start = (base + 3u * static_cast<uint32_t>(y)) & mask;
        std::memcpy(plane + static_cast<size_t>(y) * static_cast<size_t>(target.rowStride), line.data() + start,
                    width * sizeof(Sample));
    }
}

} // namespace

void FillRamp(uint8_t *plane, const RampTarget &target, int64_t frame, int band, int bits, int shift) {
    FillPlane(plane, target, frame, band, bits, shift);
}

void FillRamp(uint16_t *plane, const RampTarget &target, int64_t frame, int band, int bits, int shift) {
    FillPlane(plane, target, frame, band, bits, shift);
}

} // namespace kestcam::sim
