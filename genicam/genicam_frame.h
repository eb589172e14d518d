// genicam_frame.h - what the GenICam backend does without a camera: the pixel formats it takes,
// the DCF's feature list, and the copy of a received frame into a buffer's planes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace kestcam::genicam {

// How a camera's pixel format reaches the buffers.
struct PixelLayout {
    int bands = 1; // 1 or 3
    int bits = 8;  // significant bits of a sample: 8, 10, 12 or 16
    int bytesPerSample = 1;
    // For three bands: the camera's byte order within a pixel, as indexes of red, green, blue.
    int red = 0, green = 1, blue = 2;
};

// The layout of a GenICam PixelFormat name; false for a format the backend does not take
// (packed, Bayer, YUV and the rest).
bool LayoutOf(const std::string &pixelFormat, PixelLayout &layout);

// The [Features] section of a DCF, in file order: one name and value a line, "Name=Value". Other
// sections are ignored; ';' and '#' start a comment line. False, with the reason, for a line of the
// section that is not "Name=Value".
bool ParseFeatureList(const std::string &text, std::vector<std::pair<std::string, std::string>> &features,
                      std::string &reason);

// One received frame of `layout`, width x height, into the planes of a buffer of the same size:
// `bands` planes one after another, each width x height samples of `bufferBits` (8 or 16). A buffer
// shallower than the camera's samples receives value >> (bits - 8).
void CopyFrame(const uint8_t *frame, const PixelLayout &layout, int width, int height, int bufferBits,
               void *planes);

} // namespace kestcam::genicam
