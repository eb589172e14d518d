// csheet1.h - the camera's property sheet: validity of its two pages, the reset notice and the
// status bar in which the pages report; OK is enabled only while both pages are valid.
#pragma once

#include <string>

namespace kestcam::ui {

class CPropFrameGrabber;
class CPropCameraControls;

// What the sheet controller draws on.
class SheetView {
public:
    virtual ~SheetView() = default;
    virtual void EnableOk(bool enabled) = 0;
    // Part 0 of the status bar.
    virtual void SetStatusText(const std::string &text) = 0;
};

// Window geometry in pixels.
struct Rect {
    int left = 0, top = 0, right = 0, bottom = 0;
    int Width() const { return right - left; }
    int Height() const { return bottom - top; }
};

// Where the sheet's initialisation puts OK and Cancel: in a column at the right edge beside the
// page area, the sheet wider by a button and shorter by a button row.
struct SheetButtonLayout {
    Rect sheet; // new window rectangle
    Rect ok;    // client coordinates
    Rect cancel;
};

class CSheet1 {
public:
    static constexpr int kOkId = 1;
    static constexpr int kCancelId = 2;
    static constexpr int kApplyId = 12321;
    static constexpr int kHelpId = 9;
    static constexpr int kStatusBarId = 1049;
    static constexpr size_t kStatusTextLimit = 254;
    static constexpr const char *kResetNotice =
        "Please close this dialog, reset all cameras and reopen properties dialog to continue configuration";

    CSheet1(std::string title, void *parent, int firstPage = 0)
        : title_(std::move(title)), parent_(parent), firstPage_(firstPage) {}

    void AddPage(CPropFrameGrabber &page) { frameGrabber_ = &page; }
    void AddPage(CPropCameraControls &page) { camera_ = &page; }
    CPropFrameGrabber *FrameGrabberPage() const { return frameGrabber_; }
    CPropCameraControls *CameraPage() const { return camera_; }
    const std::string &Title() const { return title_; }
    void *Parent() const { return parent_; }
    int FirstPage() const { return firstPage_; }

    // The platform's sheet window exists; null when it is gone.
    void Attach(SheetView *view) { view_ = view; }

    void SetFrameGrabberValid(bool valid);
    void SetCameraValid(bool valid);
    // What needs the cameras reset: each page says so for its own changes (the DCF choice, the
    // COM port), and the notice stays while either needs it. The text follows at the next
    // RefreshStatus.
    enum class ResetCause { Dcf, Port };
    void SetNeedsReset(ResetCause cause, bool needed) { (cause == ResetCause::Dcf ? dcfReset_ : portReset_) = needed; }
    // "<page caption>: <message>", cut at kStatusTextLimit characters.
    void ReportError(const std::string &pageCaption, const std::string &message);
    // The reset notice while one is pending, else an empty status bar.
    void RefreshStatus();

    bool FrameGrabberValid() const { return frameGrabberValid_; }
    bool CameraValid() const { return cameraValid_; }
    int NeedsReset() const { return dcfReset_ || portReset_ ? 1 : 0; }
    // What OK stands for: both pages valid.
    bool CanAccept() const { return frameGrabberValid_ && cameraValid_; }

    // From OK's client rectangle and the sheet's window rectangle.
    static SheetButtonLayout LayOutButtons(const Rect &ok, const Rect &sheetWindow);

private:
    void RefreshOk();

    std::string title_;
    void *parent_;
    int firstPage_;
    CPropFrameGrabber *frameGrabber_ = nullptr;
    CPropCameraControls *camera_ = nullptr;
    SheetView *view_ = nullptr;
    bool frameGrabberValid_ = true;
    bool cameraValid_ = true;
    bool dcfReset_ = false;
    bool portReset_ = false;
};

} // namespace kestcam::ui
