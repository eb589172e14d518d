// host_session.cpp - driver start and stop for every command, with -v log lines on stderr.
#include "host_session.h"

#include <algorithm>
#include <cstdio>
#include <vector>

namespace kestcam::cli {

namespace {
void KESTCAM_CDECL LogToStderr(const char *text) { std::fputs(text, stderr); }
} // namespace

HostSession::~HostSession() {
    if (initialized_) library_.Exports().finalize();
}

bool HostSession::Start() {
    std::string error;
    if (!library_.Load(options_.driver, error)) {
        std::fprintf(stderr, "kestcam: %s\n", error.c_str());
        return false;
    }
    if (library_.Exports().initialize(options_.systemPath.c_str(), options_.verbose ? LogToStderr : nullptr) != 1) {
        std::fprintf(stderr, "kestcam: the driver failed to initialize\n");
        return false;
    }
    initialized_ = true;
    return true;
}

// One byte per pixel for a monochrome camera, three for a colour one. The PixelSize property says
// which; a driver without the property exports is asked by reading row 0 twice into a buffer of three
// bytes per pixel pre-filled with two different patterns: bytes the driver wrote agree afterwards.
int CameraBytesPerPixel(const DriverExports &d, int port, int width) {
    int pixelSize = 0;
    if (d.getProperty != nullptr && d.getProperty(0, port, "PixelSize", &pixelSize) == 1)
        return pixelSize == 24 ? 3 : 1;
    const size_t monoBytes = static_cast<size_t>(width);
    std::vector<unsigned char> a(monoBytes * 3, 0x00), b(monoBytes * 3, 0xFF);
    if (d.getCVLGrabRow(0, port, a.data(), 0, 0, width - 1) != 1 ||
        d.getCVLGrabRow(0, port, b.data(), 0, 0, width - 1) != 1)
        return 1;
    return std::equal(a.begin() + monoBytes, a.end(), b.begin() + monoBytes) ? 3 : 1;
}

} // namespace kestcam::cli
