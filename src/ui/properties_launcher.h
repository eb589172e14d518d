// properties_launcher.h - showing one camera's property sheet: the busy warning, the working copy,
// and on OK the copy back, the camera parameters and the saved section.
#pragma once

#include <functional>
#include <string>

#include "settings/camera_settings.h"

namespace kestcam::ui {

class DialogService;

constexpr const char *kBusyWarning = "Configuring camera properties while inspection is running may cause "
                                     "undesired effects. Continue anyway ?";

// What the launcher needs of the camera.
class PropertiesTarget {
public:
    virtual ~PropertiesTarget() = default;
    virtual std::string Name() const = 0;
    // A requested grab has not finished, or continuous mode is on.
    virtual bool Busy() const = 0;
    // Bands of the camera's grab buffers: 1, 3, or -1 before the first open.
    virtual int BandCount() const = 0;
    virtual CameraSettings CopySettings() = 0;
    virtual void AssignSettings(const CameraSettings &settings) = 0;
    // Writes the enabled camera parameters over the serial link (the exposure mode excepted).
    virtual void ApplyCameraParameters() = 0;
    virtual bool SaveSettings() = 0;
    // Runs the steps of OK (assign, apply, save) one at a time with the camera's open, close and
    // property calls of other threads; answers what steps answers. Never held while the sheet waits
    // for the user.
    virtual bool Exclusively(const std::function<bool()> &steps) = 0;
};

// True when the user confirmed with OK and the settings were saved. False when the warning was
// declined, the sheet cancelled, the section could not be written, or there is no service (logged).
bool ShowCameraProperties(PropertiesTarget &camera, void *parent, DialogService *service);

} // namespace kestcam::ui
