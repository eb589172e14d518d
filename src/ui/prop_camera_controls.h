// prop_camera_controls.h - the sheet's second page: direct camera access, its serial port and the
// camera parameters with their enable boxes and the limits the camera reported.
#pragma once

#include "settings/camera_settings.h"
#include "ui/dialog_view.h"

namespace kestcam::ui {

class CSheet1;

class CPropCameraControls {
public:
    static constexpr int kTemplateId = 1003;
    static constexpr const char *kCaption = "Camera Settings";

    // Item ids of template 1003.
    static constexpr int kAccessEnabled = 1046;
    static constexpr int kPortLabel = 1052;
    static constexpr int kPort = 1025;
    static constexpr int kUseGain = 1044;
    static constexpr int kGain = 1016;
    static constexpr int kGainRange = 1038;
    static constexpr int kUseGainBalance = 1045;
    static constexpr int kGainBalance = 1019;
    static constexpr int kGainBalanceRange = 1041;
    static constexpr int kUseDigitalOffset = 6037;
    static constexpr int kDigitalOffset = 1020;
    static constexpr int kDigitalOffsetRange = 1039;
    static constexpr int kUseDigitalOffsetBalance = 1047;
    static constexpr int kDigitalOffsetBalance = 1023;
    static constexpr int kDigitalOffsetBalanceRange = 1040;
    static constexpr int kUseExposureMode = 1048;
    static constexpr int kExposureMode = 1024;
    static constexpr int kUseExposureTime = 1049;
    static constexpr int kExposureTime = 1036;
    static constexpr int kExposureTimeRange = 1042;
    static constexpr int kUseLinePeriod = 1050;
    static constexpr int kLinePeriod = 1037;
    static constexpr int kLinePeriodRange = 1043;

    CPropCameraControls(CameraSettings &settings, CSheet1 &sheet) : settings_(settings), sheet_(sheet) {}

    void Attach(DialogView *view) { view_ = view; }
    bool IsAttached() const { return view_ != nullptr; }

    void OnInitDialog();
    // Check boxes: refresh, then validate and report.
    void OnClicked(int id);
    // The six value edits: validate and report.
    void OnEditChange(int id);
    // A new COM port: the reset notice, then validate and report.
    void OnPortChanged();
    int OnQuerySiblings();
    void OnApply();

    // Range checks of the enabled gain and offset values; the first failure goes to the status bar.
    bool Validate();

private:
    void Exchange(ExchangeDirection direction);
    void Refresh();
    void ValidateAndReport();

    CameraSettings &settings_;
    CSheet1 &sheet_;
    DialogView *view_ = nullptr;
};

} // namespace kestcam::ui
