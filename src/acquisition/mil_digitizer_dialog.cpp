// mil_digitizer_dialog.cpp - MilDigitizer::ShowProperties: the camera's side of the property
// sheet. The sheet edits a copy; the copy goes back only on OK, under the camera's lifecycle lock
// (Open, Close and the property calls read and write the same settings and serial link) and, for
// the row reads, the rows lock.
#include "acquisition/mil_digitizer.h"
#include "ui/dialog_service.h"
#include "ui/properties_launcher.h"

namespace kestcam {
namespace {

class DigitizerTarget : public ui::PropertiesTarget {
public:
    explicit DigitizerTarget(MilDigitizer &camera) : camera_(camera) {}

    std::string Name() const override { return camera_.Name(); }
    bool Busy() const override { return camera_.IsGrabInProgress() || camera_.IsContinuous(); }
    int BandCount() const override {
        return camera_.WithSettings([&](CameraSettings &) { return camera_.Buffers().SizeBand(); });
    }
    // Close writes the camera's values back into the settings under the lifecycle lock alone.
    CameraSettings CopySettings() override {
        return camera_.WithLifecycleLock(
            [&] { return camera_.WithSettings([](CameraSettings &settings) { return settings; }); });
    }
    void AssignSettings(const CameraSettings &working) override {
        camera_.WithSettings([&](CameraSettings &settings) { settings = working; });
    }
    // Serial I/O with time-outs: an exchange that lets go of the lifecycle lock while it runs.
    void ApplyCameraParameters() override { camera_.ApplyCameraParameters(); }
    bool Exclusively(const std::function<bool()> &steps) override { return camera_.WithLifecycleLock(steps); }
    bool SaveSettings() override {
        const std::string name = camera_.Name();
        return camera_.WithSettings([&](CameraSettings &settings) { return settings.Save(name.c_str()); });
    }

private:
    MilDigitizer &camera_;
};

} // namespace

bool MilDigitizer::ShowProperties(void *parent) {
    DigitizerTarget target(*this);
    return ui::ShowCameraProperties(target, parent, ui::CurrentDialogService());
}

} // namespace kestcam
