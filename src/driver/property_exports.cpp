// property_exports.cpp - the host's property calls: a setting's range, reading and changing a
// property of the camera bound to a port.

#include <cctype>

#include "acquisition/mil_digitizer.h"
#include "driver/export_guard.h"
#include "driver/logger.h"
#include "kestcam/kestcam.h"
#include "mil/mil_app.h"

using kestcam::Guarded;
using kestcam::MilApp;
using kestcam::MilDigitizer;

namespace {

bool IsPixelSize(const char *name) {
    const char *key = "pixelsize";
    for (; *name != '\0' && *key != '\0'; ++name, ++key)
        if (std::tolower(static_cast<unsigned char>(*name)) != *key) return false;
    return *name == '\0' && *key == '\0';
}

} // namespace

extern "C" {

KESTCAM_API int KESTCAM_CDECL getPropertyRange(int grabberNo, int portNo, const char *name, int *minimum,
                                               int *maximum) {
    return Guarded(
        0,
        [&] {
            MilDigitizer &camera = MilApp::GetInstance().GetByPort(portNo);
            int min = 0;
            int max = 0;
            if (!camera.GetPropertyRange(name, min, max)) return 0;
            if (minimum == nullptr || maximum == nullptr) {
                KC_LOG(1, "getPropertyRange: ERROR: no place for the range supplied, portNo=%d\n", portNo);
                return 0;
            }
            *minimum = min;
            *maximum = max;
            KC_LOG(2, "getPropertyRange: grabberNo=%d   portNo=%d\n", grabberNo, portNo);
            return 1;
        },
        [] { KC_LOG(1, "getPropertyRange: --EXCEPTION caught \n"); });
}

KESTCAM_API int KESTCAM_CDECL getProperty(int grabberNo, int portNo, const char *prop, int *value) {
    return Guarded(
        0,
        [&] {
            MilDigitizer &camera = MilApp::GetInstance().GetByPort(portNo);
            if (prop == nullptr) return 0;
            if (value == nullptr) {
                KC_LOG(1, "getProperty: ERROR: no place for the value supplied, portNo=%d, prop=%s\n", portNo,
                       prop);
                return 0;
            }
            if (IsPixelSize(prop)) {
                // Rows reach the host with 8 bits per band, whatever the camera delivers.
                const int bands = camera.SizeBand();
                if (bands != 1 && bands != 3) return 0;
                *value = bands == 1 ? 8 : 24;
                return 1;
            }
            if (!camera.GetProperty(prop, value)) return 0;
            KC_LOG(2, "getProperty: portNo=%d, prop=%s\n", portNo, prop);
            return 1;
        },
        [] { KC_LOG(1, "--EXCEPTION caught at getProperty\n"); });
}

KESTCAM_API int KESTCAM_CDECL setProperty(int grabberNo, int portNo, const char *name, int value) {
    return Guarded(
        0,
        [&] {
            if (!MilApp::GetInstance().GetByPort(portNo).SetProperty(name, value)) return 0;
            KC_LOG(2, "setProperty: portNo=%d\n", portNo);
            return 1;
        },
        [] { KC_LOG(1, "setProperty: --EXCEPTION caught \n"); });
}

} // extern "C"
