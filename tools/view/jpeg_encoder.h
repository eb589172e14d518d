// jpeg_encoder.h - 8-bit grey or blue-green-red pixels to a baseline JPEG, through libturbojpeg.
#pragma once

#include <cstdint>
#include <string>

namespace kestcam::cli {

// The JPEG file's bytes; empty when the image is empty or the encoder failed.
std::string EncodeJpeg(const uint8_t *pixels, int width, int height, int channels, int quality = 85);

} // namespace kestcam::cli
