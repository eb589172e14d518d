// driver_library.cpp - resolving the exports the command-line host uses.
#include "driver_library.h"

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

} // namespace kestcam::cli
