// prop_frame_grabber.cpp - the frame-grabber page: exchange, enabling, validation, the DCF and
// lookup-table choices and the generator.
#include "ui/prop_frame_grabber.h"

#include <cstdio>
#include <exception>

#include "acquisition/lut_csv_reader.h"
#include "driver/logger.h"
#include "ui/csheet1.h"
#include "ui/dlg_generate_lut.h"

namespace kestcam::ui {
namespace {

constexpr const char *kNoDcf = "M_DEFAULT";

std::string RangeText(const Param<int> &param) {
    char text[64];
    std::snprintf(text, sizeof text, "[%d ... %d]", param.min, param.max);
    return text;
}

} // namespace

void CPropFrameGrabber::Exchange(ExchangeDirection direction) {
    DialogView &v = *view_;
    CameraSettings &s = settings_;
    const bool to = direction == ExchangeDirection::ToControl;
    auto check = [&](int id, Param<int> &param) {
        if (to)
            CheckToControl(v, id, param);
        else
            CheckFromControl(v, id, param);
    };
    ExchangeInt(direction, v.Item(kWidth), s.Width);
    ExchangeInt(direction, v.Item(kHeight), s.Height);
    check(kUseLut, s.UseLUT);
    check(kDefaultDcf, s.UseDefaultDCF);
    check(kUse16bit, s.Use16bit);
    ExchangeText(direction, v.Item(kLutFile), s.LUT_FILE);
    ExchangeText(direction, v.Item(kDcfFile), s.DCF_FILE);
    ExchangeInt(direction, v.Item(kHeightMultiplier), s.HeightMultiplier);
    ExchangeInt(direction, v.Item(kGrabTimeout), s.GrabTimeout);
    ExchangeInt(direction, v.Item(kShift16bit), s.Shift16bit);
    ExchangeInt(direction, v.Item(kLogLevel), s.LogLevel);
    check(kLogIntoFile, s.LogIntoFile);
    check(kShareCamera, s.ShareCamera);
    ExchangeText(direction, v.Item(kShareName), s.ShareName);
}

void CPropFrameGrabber::OnInitDialog() {
    initialDcf_ = settings_.DCF_FILE.value;
    initialUseDefaultDcf_ = settings_.UseDefaultDCF.value;
    // Values out of range in the file are shown corrected; the others are shown as read, and the
    // page validates only once the user edits a number.
    settings_.HeightMultiplier.Clamp();
    settings_.GrabTimeout.Clamp();
    Exchange(ExchangeDirection::ToControl);
    UpdateControls();
    FillLutColumns();
}

void CPropFrameGrabber::UpdateControls() {
    Exchange(ExchangeDirection::FromControl);
    DialogView &v = *view_;
    const CameraSettings &s = settings_;
    const bool lut = s.UseLUT.value != 0;
    v.Enable(kLutFile, lut);
    v.Enable(kLutBrowse, lut);
    v.Enable(kLutColumn, lut);
    const bool ownDcf = s.UseDefaultDCF.value == 0;
    v.Enable(kDcfFile, ownDcf);
    v.Enable(kDcfBrowse, ownDcf);
    v.Enable(kShift16bit, !lut);
    v.Enable(kUse16bit, bandCount_ == 1);
    v.Item(kHeightMultiplierRange).SetText(RangeText(s.HeightMultiplier));
    v.Item(kLogLevelRange).SetText(RangeText(s.LogLevel));
    v.Item(kShift16bitRange).SetText(RangeText(s.Shift16bit));
    v.Enable(kShareName, s.ShareCamera.value > 0);
}

bool CPropFrameGrabber::Validate() {
    Exchange(ExchangeDirection::FromControl);
    const CameraSettings &s = settings_;
    const char *problem = nullptr;
    if (!s.HeightMultiplier.InRange())
        problem = "Frame count not in range";
    else if (!s.GrabTimeout.InRange())
        problem = "Image timeout not in range";
    else if (!s.LogLevel.InRange())
        problem = "Log level not in range";
    else if (s.Use16bit.value != 0 && !s.Shift16bit.InRange())
        problem = "Shift value not in range";
    if (problem == nullptr) return true;
    sheet_.ReportError(view_->Caption(), problem);
    return false;
}

void CPropFrameGrabber::EditChanged() {
    const bool valid = Validate();
    sheet_.SetFrameGrabberValid(valid);
    // Every page re-validates, which refreshes OK and the status text.
    if (valid) view_->QuerySiblings();
}

void CPropFrameGrabber::OnClicked(int id) {
    switch (id) {
    case kUseLut:
        UpdateControls();
        FillLutColumns();
        break;
    case kUse16bit:
    case kShareCamera:
        UpdateControls();
        break;
    case kDefaultDcf:
        OnDefaultDcf();
        break;
    case kDcfBrowse:
        BrowseDcf();
        break;
    case kLutBrowse:
        BrowseLut();
        break;
    case kGenerateLut:
        GenerateLut();
        break;
    default:
        break;
    }
}

void CPropFrameGrabber::OnEditChange(int id) {
    if (id == kHeightMultiplier || id == kGrabTimeout || id == kLogLevel || id == kShift16bit) EditChanged();
}

int CPropFrameGrabber::OnQuerySiblings() {
    sheet_.SetFrameGrabberValid(Validate());
    return 0;
}

void CPropFrameGrabber::OnApply() {
    // Items without a handler of their own ("Also log into file", "Share Name") are read here.
    Exchange(ExchangeDirection::FromControl);
    // The list is filled only while the table is on; with it off the stored column stays, ready
    // for when the table is switched on again.
    if (settings_.UseLUT.value != 0) ReadComboText(view_->Item(kLutColumn), settings_.lutcolumn);
}

void CPropFrameGrabber::OnDefaultDcf() {
    UpdateControls();
    const bool reset =
        settings_.DCF_FILE.value != initialDcf_ || settings_.UseDefaultDCF.value != initialUseDefaultDcf_;
    sheet_.SetNeedsReset(CSheet1::ResetCause::Dcf, reset);
    EditChanged();
}

void CPropFrameGrabber::BrowseDcf() {
    // The page is filled from the working copy after the choice: what was typed or ticked without
    // a handler of its own ("Share Name", "Also log into file") goes into it first.
    Exchange(ExchangeDirection::FromControl);
    Logger &logger = Logger::Instance();
    FileDialogRequest request;
    request.title = "Select DCF file";
    request.defaultExtension = "dcf";
    if (settings_.DCF_FILE.value != kNoDcf) request.fileName = logger.MakeAbsolutePath(settings_.DCF_FILE.value);
    request.filter = "DCF (*.dcf)|*.dcf||";
    request.fileMustExist = true;
    std::optional<std::string> chosen = view_->ChooseFile(request);
    if (!chosen) return;
    // Relative within one level above the system path, otherwise the full path.
    settings_.DCF_FILE.value = logger.MakeRelativePath(*chosen);
    Exchange(ExchangeDirection::ToControl);
    // The comparison is with the full path, so re-choosing a DCF stored relative counts as a change.
    const bool reset = *chosen != initialDcf_ || settings_.UseDefaultDCF.value != initialUseDefaultDcf_;
    sheet_.SetNeedsReset(CSheet1::ResetCause::Dcf, reset);
    EditChanged();
}

void CPropFrameGrabber::BrowseLut() {
    // As for the DCF: the page's own edits first, since it is refilled after the choice.
    Exchange(ExchangeDirection::FromControl);
    FileDialogRequest request;
    request.title = "Select LUT file";
    request.defaultExtension = "csv";
    request.fileName = "csv file";
    request.filter = "LUT table (*.csv)|*.csv||";
    request.initialDir = "c:";
    request.fileMustExist = true;
    std::optional<std::string> chosen = view_->ChooseFile(request);
    if (!chosen) return;
    LutCsvReader reader(*chosen);
    if (reader.GetColumnCount() == 0) {
        view_->ShowError("Could not read column names");
        return;
    }
    settings_.LUT_FILE.value = *chosen; // the table is loaded by this path as it stands
    Exchange(ExchangeDirection::ToControl);
    FillLutColumns();
}

void CPropFrameGrabber::FillLutColumns() {
    if (settings_.UseLUT.value == 0) return;
    ControlView &combo = view_->Item(kLutColumn);
    // A file that cannot be read leaves the list as far as it got; OK then stores "None".
    try {
        LutCsvReader reader(settings_.LUT_FILE.value);
        combo.ResetList();
        int selection = -1;
        for (int i = 0; i < reader.GetColumnCount(); ++i) {
            const std::string name = reader.GetColumnName(i);
            combo.AddItem(name);
            if (name == settings_.lutcolumn.value) selection = i;
        }
        if (selection < 0 && combo.ItemCount() > 0) selection = 0;
        combo.SetSelection(selection);
    } catch (const std::exception &) {
    }
    combo.SetReadOnly(true);
}

void CPropFrameGrabber::GenerateLut() {
    DlgGenerateLUT dialog(settings_, nullptr);
    view_->RunGenerator(dialog);
}

} // namespace kestcam::ui
