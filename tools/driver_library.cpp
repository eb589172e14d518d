// driver_library.cpp - resolving the exports the hosts of this tree use, and what they ask of an open camera.
#include "driver_library.h"

#include <algorithm>
#include <vector>

namespace kestcam::cli {

namespace {
template <typename F> void Resolve(const DriverLibrary &lib, const char *name, F &target) {
    target = reinterpret_cast<F>(lib.Symbol(name));
}
} // namespace

bool DriverLibrary::Load(const std::string &path, std::string &error) {
    if (!OpenHandle(path, error)) return false;
    Resolve(*this, "initialize", exports_.initialize);
    Resolve(*this, "finalize", exports_.finalize);
    Resolve(*this, "setSystemPath", exports_.setSystemPath);
    Resolve(*this, "setDebugMsgProc", exports_.setDebugMsgProc);
    Resolve(*this, "getCVLMaxNoOfGrabbers", exports_.getCVLMaxNoOfGrabbers);
    Resolve(*this, "getCVLMaxNoOfPorts", exports_.getCVLMaxNoOfPorts);
    Resolve(*this, "getCVLNoOfSupportedCameras", exports_.getCVLNoOfSupportedCameras);
    Resolve(*this, "getCVLCameraConfigNames", exports_.getCVLCameraConfigNames);
    Resolve(*this, "openCVLPort", exports_.openCVLPort);
    Resolve(*this, "closeCVLPort", exports_.closeCVLPort);
    Resolve(*this, "doCVLGrab", exports_.doCVLGrab);
    Resolve(*this, "getCVLGrabRow", exports_.getCVLGrabRow);
    Resolve(*this, "setHWTrigger", exports_.setHWTrigger);
    Resolve(*this, "setCompleteCallback", exports_.setCompleteCallback);
    Resolve(*this, "getPropertyRange", exports_.getPropertyRange);
    Resolve(*this, "getProperty", exports_.getProperty);
    Resolve(*this, "setProperty", exports_.setProperty);
    Resolve(*this, "configureCamera", exports_.configureCamera);
    if (exports_.initialize == nullptr || exports_.finalize == nullptr ||
        exports_.getCVLCameraConfigNames == nullptr) {
        error = path + ": not a kestcam driver (initialize, finalize or getCVLCameraConfigNames missing)";
        return false;
    }
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
