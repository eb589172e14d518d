// port_exports.cpp - the host's per-camera acquisition calls: bind a camera to a port and open it,
// grab, read rows, set the completion callback, close.

#include "acquisition/mil_digitizer.h"
#include "driver/export_guard.h"
#include "driver/logger.h"
#include "kestcam/kestcam.h"
#include "mil/mil_app.h"

using kestcam::Guarded;
using kestcam::MilApp;
using kestcam::MilDigitizer;

namespace {

constexpr int kUnboundPort = -1;

const char *Printable(const char *text) {
    return text != nullptr ? text : "(null)";
}

bool IsUndefinedName(const char *name) {
    if (name == nullptr || name[0] == '\0') return true;
    const char *undefined = "undefined";
    for (; *name != '\0' && *undefined != '\0'; ++name, ++undefined)
        if ((*name | 0x20) != *undefined) return false;
    return *name == '\0' && *undefined == '\0';
}

MilDigitizer *FindCameraOnPort(const MilApp &app, int port) {
    for (MilDigitizer *camera : app.Cameras())
        if (camera->Port() == port) return camera;
    return nullptr;
}

// MilApp::GetByPort, walked here: the host reads every row through it.
MilDigitizer &CameraOnPort(int port) {
    KC_LOG(4, "MilApp::GetByPort:  %d\n", port);
    const MilApp &app = MilApp::GetInstance();
    if (MilDigitizer *camera = FindCameraOnPort(app, port)) return *camera;
    app.NoCameraOnPort(port);
}

// A row read in the common case while nothing it could log is enabled (the look-up's and the row's
// lines at level 4, the last row's at 3): nothing in it logs, so it needs none of the export's
// deferral of messages. False when anything else is the case, or something threw: the guarded path
// then reads the row again, with its checks, its log lines and its failure value.
bool ReadRowQuietly(int portNo, unsigned char *dst, int row, int firstPix, int lastPix) noexcept {
    if (kestcam::Logger::LevelEnabled(3)) return false;
    const MilApp *app = MilApp::Existing();
    if (app == nullptr) return false;
    try {
        MilDigitizer *camera = FindCameraOnPort(*app, portNo);
        long long rowCount = 0;
        return camera != nullptr && camera->ReadPlainRow(dst, row, static_cast<unsigned>(firstPix),
                                                         static_cast<unsigned>(lastPix), rowCount);
    } catch (...) {
        return false;
    }
}

} // namespace

extern "C" {

KESTCAM_API int KESTCAM_CDECL openCVLPort(int grabberNo, int portNo, const char *cameraName, int geometry[2]) {
    return Guarded(
        0,
        [&] {
            MilApp &app = MilApp::GetInstance();
            // Zeros first, so the host finds them after any failure before the camera's own open.
            if (geometry != nullptr) {
                geometry[1] = 0;
                geometry[0] = 0;
            }
            if (IsUndefinedName(cameraName)) {
                KC_LOG(1, "openCVLPort: ERROR: undefined camera, grabberNo=%d, portNo=%d, cameraName=%s\n",
                       grabberNo, portNo, Printable(cameraName));
                return 0;
            }
            if (geometry == nullptr) {
                KC_LOG(1,
                       "openCVLPort: ERROR: no geometry array supplied, grabberNo=%d, portNo=%d, cameraName=%s\n",
                       grabberNo, portNo, cameraName);
                return 0;
            }
            if (!app.IsCameraAvailable(cameraName)) {
                KC_LOG(1, "openCVLPort: ERROR: cannot find camera by name:%s\n", cameraName);
                return 0;
            }
            if (app.IsPortInUse(portNo)) {
                KC_LOG(1, "openCVLPort: ERROR: port %d already in use\n", portNo);
                return 0;
            }
            // -1 is every unbound camera's port: a camera opened on it could never be told apart
            // from the closed ones.
            if (portNo == kUnboundPort) {
                KC_LOG(1, "openCVLPort: ERROR: port %d marks an unbound camera and cannot be opened\n", portNo);
                return 0;
            }
            MilDigitizer &camera = app.GetByName(cameraName);
            if (camera.Open(portNo, geometry)) {
                KC_LOG(2, "openCVLPort: -- Camera %s OPENED on port %d\n", camera.Name().c_str(), portNo);
                return 1;
            }
            KC_LOG(1, "openCVLPort: ERROR: camera not opened, grabberNo=%d, portNo=%d, cameraName=%s\n", grabberNo,
                   portNo, cameraName);
            return 0;
        },
        [&] {
            KC_LOG(1, "openCVLPort: --EXCEPTION caught grabberNo=%d, portNo=%d, cameraName=%s\n", grabberNo,
                   portNo, Printable(cameraName));
        });
}

KESTCAM_API void KESTCAM_CDECL closeCVLPort(int grabberNo, int portNo) {
    Guarded(
        0,
        [&] {
            MilApp::GetInstance().GetByPort(portNo).Close();
            return 1;
        },
        [&] { KC_LOG(1, "closeCVLPort: --EXCEPTION caught  grabberNo=%d, portNo=%d\n", grabberNo, portNo); });
    KC_LOG(2, "closeCVLPort: grabberNo=%d, portNo=%d\n", grabberNo, portNo);
}

KESTCAM_API int KESTCAM_CDECL doCVLGrab(int grabberNo, int portNo) {
    return Guarded(
        0,
        [&] {
            KC_LOG(3, "doCVLGrab: grabberNo=%d portNo=%d\n", grabberNo, portNo);
            return MilApp::GetInstance().GetByPort(portNo).Grab() ? 1 : 0;
        },
        [&] { KC_LOG(1, "doCVLGrab: --EXCEPTION caught  grabberNo=%d portNo=%d\n", grabberNo, portNo); });
}

KESTCAM_API int KESTCAM_CDECL getCVLGrabRow(int grabberNo, int portNo, unsigned char *dst, int row, int firstPix,
                                            int lastPix) {
    if (ReadRowQuietly(portNo, dst, row, firstPix, lastPix)) return 1;
    return Guarded(
        0,
        [&] {
            MilDigitizer &camera = CameraOnPort(portNo);
            // The columns travel as unsigned values: a negative one is refused as a huge one. The
            // common case was tried first, quietly, where the log level let it.
            if (!camera.GetRowChecked(dst, row, static_cast<unsigned>(firstPix), static_cast<unsigned>(lastPix)))
                return 0;
            KC_LOG(4, "getCVLGrabRow: row=%d  grabberNo=%d  portNo=%d\n", row, grabberNo, portNo);
            return 1;
        },
        [] { KC_LOG(1, "getCVLGrabRow: --EXCEPTION caught \n"); });
}

KESTCAM_API int KESTCAM_CDECL setHWTrigger(void) {
    return Guarded(
        0,
        [] {
            KC_LOG(2, "setHWTrigger: ");
            return 1;
        },
        [] {});
}

KESTCAM_API int KESTCAM_CDECL setCompleteCallback(int grabberNo, int portNo, CompleteCallback callback) {
    return Guarded(
        0,
        [&] {
            MilApp::GetInstance().GetByPort(portNo).SetCompleteCB(callback);
            KC_LOG(2, "setCompleteCallback: grabberNo=%d   portNo=%d\n", grabberNo, portNo);
            return 1;
        },
        [] { KC_LOG(1, "setCompleteCallback: --EXCEPTION caught \n"); });
}

} // extern "C"
