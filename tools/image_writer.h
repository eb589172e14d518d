// image_writer.h - writes one 8-bit image (grey, or blue-green-red triples) as PNG, PGM or PPM.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace kestcam::cli {

struct Image {
    int width = 0;
    int height = 0;
    int channels = 1; // 1: grey; 3: blue, green, red per pixel as the driver delivers them
    std::vector<uint8_t> pixels;
};

// Chooses the format by the file's extension (.png, .pgm, .ppm); false with a reason on failure.
bool WriteImage(const std::string &file, const Image &image, std::string &error);
// Whether this build writes .png files.
bool PngAvailable();

} // namespace kestcam::cli
