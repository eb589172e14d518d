// configure_exports.cpp - the export that shows a camera's property sheet.
#include "driver/export_guard.h"
#include "driver/logger.h"
#include "kestcam/kestcam.h"
#include "ui/configure_camera.h"

extern "C" {

KESTCAM_API int KESTCAM_CDECL configureCamera(void *parent, const char *cameraName) {
    // The failure value is the result the sheet starts with: cancelled.
    return kestcam::Guarded(
        1, [&] { return kestcam::ui::ConfigureCamera(parent, cameraName); },
        [&] {
            KC_LOG(1, "configureCamera --EXCEPTION , cameraName=%s\n",
                   cameraName != nullptr ? cameraName : "(null)");
        });
}

} // extern "C"
