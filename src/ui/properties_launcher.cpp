// properties_launcher.cpp - the launcher's decisions, apart from any camera or platform.
#include "ui/properties_launcher.h"

#include "driver/logger.h"
#include "ui/csheet1.h"
#include "ui/dialog_service.h"
#include "ui/prop_camera_controls.h"
#include "ui/prop_frame_grabber.h"

namespace kestcam::ui {

bool ShowCameraProperties(PropertiesTarget &camera, void *parent, DialogService *service) {
    const std::string name = camera.Name();
    if (service == nullptr) {
        KC_LOG(1,
               "MilDigitizer::ShowProperties: WARNING: no dialog service is available, the property sheet of %s "
               "is answered as cancelled\n",
               name.c_str());
        return false;
    }
    const std::string title = name + " properties";
    if (camera.Busy() && !service->Confirm(parent, kBusyWarning, title)) return false;

    CameraSettings working = camera.CopySettings();
    CSheet1 sheet(title, parent, 0);
    CPropFrameGrabber frameGrabber(working, camera.BandCount(), sheet);
    CPropCameraControls cameraControls(working, sheet);
    sheet.AddPage(frameGrabber);
    sheet.AddPage(cameraControls);
    if (!service->RunPropertySheet(sheet)) return false;

    // DCF, size, lookup table, 16-bit handling, time-out, logging and sharing take effect at the
    // next open; only the directly controlled camera parameters are written now.
    return camera.Exclusively([&] {
        camera.AssignSettings(working);
        if (working.BaslerPortAccessEnabled.value != 0) camera.ApplyCameraParameters();
        return camera.SaveSettings();
    });
}

} // namespace kestcam::ui
