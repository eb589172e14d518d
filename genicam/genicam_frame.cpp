// genicam_frame.cpp - pixel formats, the DCF's feature list and the frame copy.
#include "genicam_frame.h"

#include <cctype>
#include <cstring>

namespace kestcam::genicam {
namespace {

std::string Trim(const std::string &s) {
    const char *space = " \t\r\n";
    const size_t first = s.find_first_not_of(space);
    if (first == std::string::npos) return "";
    return s.substr(first, s.find_last_not_of(space) - first + 1);
}

bool EqualsIgnoreCase(const std::string &a, const char *b) {
    if (a.size() != std::strlen(b)) return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (std::tolower(static_cast<unsigned char>(a[i])) != std::tolower(static_cast<unsigned char>(b[i])))
            return false;
    return true;
}

} // namespace

bool LayoutOf(const std::string &pixelFormat, PixelLayout &layout) {
    struct Known {
        const char *name;
        PixelLayout layout;
    };
    static const Known kKnown[] = {
        {"Mono8", {1, 8, 1}},         {"Mono10", {1, 10, 2}},
        {"Mono12", {1, 12, 2}},       {"Mono16", {1, 16, 2}},
        {"RGB8", {3, 8, 1, 0, 1, 2}}, {"RGB8Packed", {3, 8, 1, 0, 1, 2}},
        {"BGR8", {3, 8, 1, 2, 1, 0}}, {"BGR8Packed", {3, 8, 1, 2, 1, 0}},
    };
    for (const Known &k : kKnown) {
        if (pixelFormat == k.name) {
            layout = k.layout;
            return true;
        }
    }
    return false;
}

bool ParseFeatureList(const std::string &text, std::vector<std::pair<std::string, std::string>> &features,
                      std::string &reason) {
    features.clear();
    bool inFeatures = false;
    size_t start = 0;
    int lineNumber = 0;
    while (start <= text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos) end = text.size();
        const std::string line = Trim(text.substr(start, end - start));
        start = end + 1;
        ++lineNumber;
        if (line.empty() || line[0] == ';' || line[0] == '#') continue;
        if (line[0] == '[') {
            const size_t close = line.find(']');
            inFeatures =
                close != std::string::npos && EqualsIgnoreCase(Trim(line.substr(1, close - 1)), "Features");
            continue;
        }
        if (!inFeatures) continue;
        const size_t equals = line.find('=');
        const std::string name = equals == std::string::npos ? "" : Trim(line.substr(0, equals));
        if (name.empty()) {
            reason = "line " + std::to_string(lineNumber) + " of [Features] is not Name=Value: " + line;
            return false;
        }
        features.emplace_back(name, Trim(line.substr(equals + 1)));
    }
    return true;
}

void CopyFrame(const uint8_t *frame, const PixelLayout &layout, int width, int height, int bufferBits,
               void *planes) {
    const size_t pixels = static_cast<size_t>(width) * static_cast<size_t>(height);
    if (layout.bands == 3) {
        // Interleaved triples into red, green and blue planes, in one pass over the frame.
        const uint8_t *src = frame;
        if (bufferBits == 8) {
            uint8_t *red = static_cast<uint8_t *>(planes);
            uint8_t *green = red + pixels;
            uint8_t *blue = green + pixels;
            for (size_t i = 0; i < pixels; ++i, src += 3) {
                red[i] = src[layout.red];
                green[i] = src[layout.green];
                blue[i] = src[layout.blue];
            }
        } else {
            uint16_t *red = static_cast<uint16_t *>(planes);
            uint16_t *green = red + pixels;
            uint16_t *blue = green + pixels;
            for (size_t i = 0; i < pixels; ++i, src += 3) {
                red[i] = src[layout.red];
                green[i] = src[layout.green];
                blue[i] = src[layout.blue];
            }
        }
        return;
    }
    if (layout.bytesPerSample == 1) {
        if (bufferBits == 8) {
            std::memcpy(planes, frame, pixels);
        } else {
            uint16_t *dst = static_cast<uint16_t *>(planes);
            for (size_t i = 0; i < pixels; ++i)
                dst[i] = frame[i];
        }
        return;
    }
    // Two-byte samples arrive little-endian, the order of every target.
    if (bufferBits == 16) {
        std::memcpy(planes, frame, pixels * 2);
        return;
    }
    const int shift = layout.bits - 8;
    uint8_t *dst = static_cast<uint8_t *>(planes);
    for (size_t i = 0; i < pixels; ++i) {
        uint16_t value;
        std::memcpy(&value, frame + 2 * i, 2);
        dst[i] = static_cast<uint8_t>(value >> shift);
    }
}

} // namespace kestcam::genicam
