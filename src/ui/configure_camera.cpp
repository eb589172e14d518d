// configure_camera.cpp - finds the camera by name and shows its property sheet.
#include "ui/configure_camera.h"

#include "acquisition/mil_digitizer.h"
#include "driver/logger.h"
#include "mil/mil_app.h"

namespace kestcam::ui {

int ConfigureCamera(void *parent, const char *cameraName) {
    MilApp &app = MilApp::GetInstance();
    if (!app.IsCameraAvailable(cameraName)) {
        KC_LOG(1, "configureCamera: ERROR: cannot find camera by name: %s\n",
               cameraName != nullptr ? cameraName : "(null)");
        return 0;
    }
    return app.GetByName(cameraName).ShowProperties(parent) ? 0 : 1;
}

} // namespace kestcam::ui
