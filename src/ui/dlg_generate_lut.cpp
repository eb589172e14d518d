// dlg_generate_lut.cpp - the generator dialog's check and its OK.
#include "ui/dlg_generate_lut.h"

#include <cstdio>
#include <string>

#include "acquisition/lut_generator.h"

namespace kestcam::ui {
namespace {

std::string RangeText(const Param<int> &param) {
    char text[64];
    std::snprintf(text, sizeof text, "[%d..%d]", param.min, param.max);
    return text;
}

} // namespace

void DlgGenerateLUT::OnInitDialog() {
    view_->Item(kFormulaText).SetText(kFormula);
    ExchangeInt(ExchangeDirection::ToControl, view_->Item(kMsb), settings_.LUTGEN_maxpix);
    ExchangeInt(ExchangeDirection::ToControl, view_->Item(kLsb), settings_.LUTGEN_minpix);
    ExchangeInt(ExchangeDirection::ToControl, view_->Item(kSteepness), settings_.LUTGEN_steepness);
    Check();
}

void DlgGenerateLUT::ReadFields() {
    ExchangeInt(ExchangeDirection::FromControl, view_->Item(kMsb), settings_.LUTGEN_maxpix);
    ExchangeInt(ExchangeDirection::FromControl, view_->Item(kLsb), settings_.LUTGEN_minpix);
    ExchangeInt(ExchangeDirection::FromControl, view_->Item(kSteepness), settings_.LUTGEN_steepness);
}

void DlgGenerateLUT::OnEditChange(int id) {
    if (id != kMsb && id != kLsb && id != kSteepness) return;
    ReadFields();
    Check();
}

bool DlgGenerateLUT::Check() {
    const CameraSettings &s = settings_;
    const bool valid = s.LUTGEN_maxpix.InRange() && s.LUTGEN_minpix.InRange() && s.LUTGEN_steepness.InRange() &&
                       s.LUTGEN_minpix.value < s.LUTGEN_maxpix.value;
    view_->Enable(kOk, valid);
    view_->Item(kMsbRange).SetText(RangeText(s.LUTGEN_maxpix));
    view_->Item(kLsbRange).SetText(RangeText(s.LUTGEN_minpix));
    view_->Item(kSteepnessRange).SetText(RangeText(s.LUTGEN_steepness));
    return valid;
}

bool DlgGenerateLUT::OnOk() {
    ReadFields();
    if (!Check()) return false;
    FileDialogRequest request;
    request.save = true;
    request.title = "Select LUT file";
    request.defaultExtension = "csv";
    request.fileName = "LUT table";
    request.filter = "LUT table (*.csv)|*.csv||";
    request.initialDir = "c:";
    request.overwritePrompt = true;
    std::optional<std::string> chosen = view_->ChooseFile(request);
    if (!chosen) return true;
    // A file that cannot be written is not reported; the writer leaves no partial table behind.
    WriteLutGeneratorFile(*chosen, settings_.LUTGEN_minpix.value, settings_.LUTGEN_maxpix.value,
                          settings_.LUTGEN_steepness.value);
    return true;
}

} // namespace kestcam::ui
