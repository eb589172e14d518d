// sim_ramp.h - the test pattern the simulated digitizers grab: band b of pixel (x, y) of frame f
// is (x + 3*y + 7*f + 85*b) mod 2^bits, stored right-shifted into buffers shallower than bits.
#pragma once

#include <cstdint>

namespace kestcam::sim {

// Where one band of one frame goes: a plane of width x height samples, rowStride samples apart,
// of which the top-left fillWidth x fillHeight are written.
struct RampTarget {
    int fillWidth;
    int fillHeight;
    int rowStride;
};

// Fills one band plane for frame `frame` of a digitizer with `bits` (8..16) bits per sample; `shift` is
// how far the values are moved right to fit the buffer (0 when the buffer is deep enough).
void FillRamp(uint8_t *plane, const RampTarget &target, int64_t frame, int band, int bits, int shift);
void FillRamp(uint16_t *plane, const RampTarget &target, int64_t frame, int band, int bits, int shift);

} // namespace kestcam::sim
