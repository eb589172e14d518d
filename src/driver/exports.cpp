// exports.cpp - driver start and stop, and the camera list.
#include <cstdio>
#include <ctime>

#include "driver/export_guard.h"
#include "driver/logger.h"
#include "kestcam/kestcam.h"
#include "mil/mil_app.h"
#include "os/local_time.h"

using kestcam::Guarded;
using kestcam::Logger;
using kestcam::MilApp;

namespace {
constexpr const char *kDriverVersion = "1,0,0,22";
}

extern "C" {

KESTCAM_API void KESTCAM_CDECL setDebugMsgProc(DebugMsgProc proc) { Logger::Instance().SetDebugMsgProc(proc); }

KESTCAM_API int KESTCAM_CDECL setSystemPath(const char *path) {
    if (path == nullptr || path[0] == '\0') return 0;
    Logger::Instance().SetSystemPath(path);
    return 1;
}

KESTCAM_API int KESTCAM_CDECL initialize(const char *systemPath, DebugMsgProc proc) {
    return Guarded(
        0,
        [&] {
            setSystemPath(systemPath);
            setDebugMsgProc(proc);
            MilApp &app = MilApp::GetInstance();
            // The registry is built once per finalize: a second initialize keeps the cameras (and
            // their open ports) instead of enumerating the boards again beside them.
            if (app.Initialized())
                KC_LOG(1, "initialize: WARNING: already initialized, the camera registry is kept; call finalize "
                          "first to rebuild it\n");
            else
                app.Init();
            std::tm now = kestcam::os::LocalTimeNow();
            KC_LOG(1, "initialize: Mil camera driver V%s, %d-%d-%d %d:%d:%d\n", kDriverVersion, now.tm_year + 1900,
                   now.tm_mon + 1, now.tm_mday, now.tm_hour, now.tm_min, now.tm_sec);
            return 1;
        },
        [] { KC_LOG(1, "initialize: -- EXCEPTION occured\n"); });
}

KESTCAM_API int KESTCAM_CDECL finalize(void) {
    return Guarded(
        0,
        [] {
            MilApp::GetInstance();
            MilApp::DestroyInstance();
            KC_LOG(2, "finalize");
            return 1;
        },
        [] { KC_LOG(1, "finalize: --EXCEPTION occured \n"); });
}

KESTCAM_API int KESTCAM_CDECL getCVLMaxNoOfGrabbers(void) { return 1; }

KESTCAM_API int KESTCAM_CDECL getCVLMaxNoOfPorts(void) { return 20; }

// These two have no guard of their own; the registry's creation is the only thing that can throw,
// and the host is told "no cameras" rather than having an exception cross the C boundary.
KESTCAM_API int KESTCAM_CDECL getCVLNoOfSupportedCameras(void) {
    return Guarded(0, [] { return MilApp::GetInstance().GetCameraCount(); }, [] {});
}

KESTCAM_API char **KESTCAM_CDECL getCVLCameraConfigNames(void) {
    static char *empty[1] = {nullptr};
    return Guarded(static_cast<char **>(empty), [] { return MilApp::GetInstance().GetCameraNames(); }, [] {});
}

} // extern "C"
