// prop_camera_controls.cpp - the camera page: exchange, range labels, enabling and validation.
#include "ui/prop_camera_controls.h"

#include <cstdio>
#include <string>
#include <utility>

#include "ui/csheet1.h"

namespace kestcam::ui {
namespace {

std::string RangeText(const Param<double> &param) {
    char text[128];
    std::snprintf(text, sizeof text, "[%.2f ... %.2f]", param.min, param.max);
    return text;
}

} // namespace

void CPropCameraControls::Exchange(ExchangeDirection direction) {
    DialogView &v = *view_;
    CameraSettings &s = settings_;
    const bool to = direction == ExchangeDirection::ToControl;
    auto check = [&](int id, Param<int> &param) {
        if (to)
            CheckToControl(v, id, param);
        else
            CheckFromControl(v, id, param);
    };
    check(kAccessEnabled, s.BaslerPortAccessEnabled);
    check(kUseGain, s.UseGain);
    ExchangeDouble(direction, v.Item(kGain), s.Gain);
    check(kUseGainBalance, s.UseGainBalance);
    ExchangeDouble(direction, v.Item(kGainBalance), s.GainBalance);
    check(kUseDigitalOffset, s.UseDigitalOffset);
    ExchangeDouble(direction, v.Item(kDigitalOffset), s.DigitalOffset);
    check(kUseDigitalOffsetBalance, s.UseDigitalOffsetBalance);
    ExchangeDouble(direction, v.Item(kDigitalOffsetBalance), s.DigitalOffsetBalance);
    check(kUseExposureMode, s.UseExposureMode);
    check(kUseExposureTime, s.UseExposureTime);
    ExchangeDouble(direction, v.Item(kExposureTime), s.ExposureTime);
    check(kUseLinePeriod, s.UseLinePeriod);
    ExchangeDouble(direction, v.Item(kLinePeriod), s.LinePeriod);
}

void CPropCameraControls::OnInitDialog() {
    Exchange(ExchangeDirection::ToControl);
    FillEnumCombo(view_->Item(kExposureMode), settings_.ExposureMode);
    FillEnumCombo(view_->Item(kPort), settings_.BaslerPort);
    Refresh();
}

void CPropCameraControls::Refresh() {
    Exchange(ExchangeDirection::FromControl);
    DialogView &v = *view_;
    const CameraSettings &s = settings_;
    // The limits are the camera's own: the serial layer stores them in min and max.
    v.Item(kLinePeriodRange).SetText(RangeText(s.LinePeriod));
    v.Item(kExposureTimeRange).SetText(RangeText(s.ExposureTime));
    v.Item(kGainRange).SetText(RangeText(s.Gain));
    v.Item(kGainBalanceRange).SetText(RangeText(s.GainBalance));
    v.Item(kDigitalOffsetRange).SetText(RangeText(s.DigitalOffset));
    v.Item(kDigitalOffsetBalanceRange).SetText(RangeText(s.DigitalOffsetBalance));

    static constexpr int kGroup[] = {kGain,
                                     kGainBalance,
                                     kDigitalOffset,
                                     kDigitalOffsetBalance,
                                     kExposureTime,
                                     kLinePeriod,
                                     kExposureMode,
                                     kPort,
                                     kUseGain,
                                     kUseGainBalance,
                                     kUseDigitalOffset,
                                     kUseDigitalOffsetBalance,
                                     kUseExposureMode,
                                     kUseExposureTime,
                                     kUseLinePeriod,
                                     kPortLabel};
    const bool access = s.BaslerPortAccessEnabled.value != 0;
    for (int id : kGroup)
        v.Enable(id, access);
    if (s.BaslerPortAccessEnabled.value > 0) {
        v.Enable(kGain, s.UseGain.value != 0);
        v.Enable(kGainBalance, s.UseGainBalance.value != 0);
        v.Enable(kDigitalOffset, s.UseDigitalOffset.value != 0);
        v.Enable(kDigitalOffsetBalance, s.UseDigitalOffsetBalance.value != 0);
        v.Enable(kExposureTime, s.UseExposureTime.value != 0);
        v.Enable(kExposureMode, s.UseExposureMode.value != 0);
        v.Enable(kLinePeriod, s.UseLinePeriod.value != 0);
    }
}

bool CPropCameraControls::Validate() {
    Exchange(ExchangeDirection::FromControl);
    const CameraSettings &s = settings_;
    // Exposure time and line period are clamped by the camera layer when written, not checked here.
    // A value is checked only while its field is enabled (direct access on, its box ticked) and
    // only against limits the camera reported: until then the bounds are placeholders, and a gain
    // of 5 dB from the file must not block OK.
    auto outOfRange = [&](const Param<int> &use, const Param<double> &param) {
        return s.BaslerPortAccessEnabled.value != 0 && use.value != 0 && s.LimitsReported(param) &&
               !param.InRange();
    };
    const char *problem = nullptr;
    if (outOfRange(s.UseGain, s.Gain))
        problem = "Gain not in range";
    else if (outOfRange(s.UseGainBalance, s.GainBalance))
        problem = "Gain L/R Balance not in range";
    else if (outOfRange(s.UseDigitalOffset, s.DigitalOffset))
        problem = "Digital Offset not in range";
    else if (outOfRange(s.UseDigitalOffsetBalance, s.DigitalOffsetBalance))
        problem = "Digital Offset L/R Balance not in range";
    if (problem == nullptr) return true;
    sheet_.ReportError(view_->Caption(), problem);
    return false;
}

void CPropCameraControls::ValidateAndReport() {
    const bool valid = Validate();
    sheet_.SetCameraValid(valid);
    if (valid) view_->QuerySiblings();
}

void CPropCameraControls::OnClicked(int id) {
    switch (id) {
    case kUseGain:
    case kUseGainBalance:
    case kUseDigitalOffset:
    case kUseDigitalOffsetBalance:
    case kUseExposureMode:
    case kUseExposureTime:
    case kUseLinePeriod:
    case kAccessEnabled:
        Refresh();
        ValidateAndReport();
        break;
    default:
        break;
    }
}

void CPropCameraControls::OnEditChange(int id) {
    switch (id) {
    case kGain:
    case kGainBalance:
    case kDigitalOffset:
    case kDigitalOffsetBalance:
    case kExposureTime:
    case kLinePeriod:
        ValidateAndReport();
        break;
    default:
        break;
    }
}

void CPropCameraControls::OnPortChanged() {
    // A new port takes effect only when the camera is opened again.
    sheet_.SetNeedsReset(CSheet1::ResetCause::Port, true);
    ValidateAndReport();
}

int CPropCameraControls::OnQuerySiblings() {
    sheet_.SetCameraValid(Validate());
    return 0;
}

void CPropCameraControls::OnApply() {
    Exchange(ExchangeDirection::FromControl);
    // A drop-down list without a selection is one whose stored text is none of its entries (a
    // device path written into the file by hand, say): the user chose nothing, so it is kept
    // rather than replaced by "None".
    for (auto [id, param] : {std::pair<int, ParamEnum *>{kExposureMode, &settings_.ExposureMode},
                             std::pair<int, ParamEnum *>{kPort, &settings_.BaslerPort}})
        if (view_->Item(id).GetSelection() >= 0) ReadComboText(view_->Item(id), *param);
}

} // namespace kestcam::ui
