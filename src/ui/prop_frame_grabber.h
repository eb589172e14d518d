// prop_frame_grabber.h - the sheet's first page: DCF, frame stacking, grab time-out, 16-bit
// handling, lookup table, logging and sharing, edited on the sheet's working copy of the settings.
#pragma once

#include <string>

#include "settings/camera_settings.h"
#include "ui/dialog_view.h"

namespace kestcam::ui {

class CSheet1;

class CPropFrameGrabber {
public:
    static constexpr int kTemplateId = 1002;
    static constexpr const char *kCaption = "FrameGrabber Settings";

    // Item ids of template 1002.
    static constexpr int kDcfFile = 1022;
    static constexpr int kDcfBrowse = 1214;
    static constexpr int kDefaultDcf = 1051;
    static constexpr int kWidth = 1017;
    static constexpr int kHeight = 1018;
    static constexpr int kHeightMultiplier = 1021;
    static constexpr int kHeightMultiplierRange = 1044;
    static constexpr int kUse16bit = 1052;
    static constexpr int kGrabTimeout = 1025;
    static constexpr int kGrabTimeoutRange = 1042;
    static constexpr int kShift16bit = 1024;
    static constexpr int kShift16bitRange = 1046;
    static constexpr int kUseLut = 1030;
    static constexpr int kLutFile = 1048;
    static constexpr int kLutBrowse = 1006;
    static constexpr int kGenerateLut = 1007;
    static constexpr int kLutColumn = 1045;
    static constexpr int kLogLevel = 1023;
    static constexpr int kLogLevelRange = 1041;
    static constexpr int kLogIntoFile = 1059;
    static constexpr int kShareCamera = 1060;
    static constexpr int kShareName = 1061;

    // bandCount: 1 monochrome, 3 colour, -1 for a camera that was never opened.
    CPropFrameGrabber(CameraSettings &settings, int bandCount, CSheet1 &sheet)
        : settings_(settings), sheet_(sheet), bandCount_(bandCount) {}

    // The page's window exists (before OnInitDialog) or is gone (null).
    void Attach(DialogView *view) { view_ = view; }
    bool IsAttached() const { return view_ != nullptr; }

    // Events of the page; each needs the attached view.
    void OnInitDialog();
    void OnClicked(int id);
    // Text changes of the edits; only the four number fields have a handler.
    void OnEditChange(int id);
    // The sheet's query to all its pages; 0 so that every page receives it.
    int OnQuerySiblings();
    // OK of the sheet.
    void OnApply();

    // True when the page may be accepted; reports the first problem in the status bar.
    bool Validate();

private:
    void Exchange(ExchangeDirection direction);
    void UpdateControls();
    void FillLutColumns();
    void EditChanged();
    void OnDefaultDcf();
    void BrowseDcf();
    void BrowseLut();
    void GenerateLut();

    CameraSettings &settings_;
    CSheet1 &sheet_;
    DialogView *view_ = nullptr;
    std::string initialDcf_;
    int initialUseDefaultDcf_ = 0;
    int bandCount_;
};

} // namespace kestcam::ui
