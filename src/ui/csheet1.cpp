// csheet1.cpp - the sheet's validity, status text and button layout.
#include "ui/csheet1.h"

namespace kestcam::ui {

void CSheet1::SetFrameGrabberValid(bool valid) {
    frameGrabberValid_ = valid;
    RefreshOk();
}

void CSheet1::SetCameraValid(bool valid) {
    cameraValid_ = valid;
    RefreshOk();
}

void CSheet1::RefreshOk() {
    const bool both = frameGrabberValid_ && cameraValid_;
    if (view_ != nullptr) view_->EnableOk(both);
    // While a page is invalid its last report stays in the status bar.
    if (both) RefreshStatus();
}

void CSheet1::ReportError(const std::string &pageCaption, const std::string &message) {
    std::string text = pageCaption + ": " + message;
    if (text.size() > kStatusTextLimit) text.resize(kStatusTextLimit);
    if (view_ != nullptr) view_->SetStatusText(text);
}

void CSheet1::RefreshStatus() {
    if (view_ != nullptr) view_->SetStatusText(NeedsReset() != 0 ? kResetNotice : "");
}

SheetButtonLayout CSheet1::LayOutButtons(const Rect &ok, const Rect &sheetWindow) {
    const int bw = ok.Width();
    const int bh = ok.Height();
    SheetButtonLayout layout;
    layout.sheet = sheetWindow;
    layout.sheet.right += bw + 15;
    layout.sheet.bottom -= bh + 5;
    const int x = layout.sheet.Width() - bw - 17;
    layout.ok = {x, 15, x + bw, 15 + bh};
    layout.cancel = {x, bh + 20, x + bw, bh + 20 + bh};
    return layout;
}

} // namespace kestcam::ui
