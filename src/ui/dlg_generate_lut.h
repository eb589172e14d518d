// dlg_generate_lut.h - the lookup-table generator dialog: the three inputs of the logarithmic
// table, their check, and writing the table to a file the user chooses.
#pragma once

#include "settings/camera_settings.h"
#include "ui/dialog_view.h"

namespace kestcam::ui {

class DlgGenerateLUT {
public:
    static constexpr int kTemplateId = 1004;
    static constexpr const char *kCaption = "Generate LUT table";
    static constexpr const char *kFormula = "Generate 16bit->8bit transformation LUT file according to formula:\n"
                                            "\tln(x+s) - ln(s)\n"
                                            "\t---------------------     x 255\n"
                                            "\tln(xmax+s) - ln(s)";

    static constexpr int kFormulaText = 1055;
    static constexpr int kMsb = 1020;
    static constexpr int kMsbRange = 1056;
    static constexpr int kLsb = 1053;
    static constexpr int kLsbRange = 1057;
    static constexpr int kSteepness = 1054;
    static constexpr int kSteepnessRange = 1058;
    static constexpr int kOk = 1;
    static constexpr int kCancel = 2;

    // settings: the frame-grabber page's working copy; parent: the owner window, or null.
    DlgGenerateLUT(CameraSettings &settings, void *parent) : settings_(settings), parent_(parent) {}

    void *Parent() const { return parent_; }
    void Attach(DialogView *view) { view_ = view; }

    void OnInitDialog();
    // A change in any of the three fields stores all three and checks again.
    void OnEditChange(int id);
    // Asks for the file and writes the table; true: the dialog ends as confirmed, also when the
    // file choice was cancelled. False (dialog stays) only for inputs the check refuses, which a
    // disabled OK button cannot send but a keyboard shortcut might.
    bool OnOk();

    // OK is enabled only while each value is within its range and LSB < MSB.
    bool Check();

private:
    void ReadFields();

    CameraSettings &settings_;
    void *parent_;
    DialogView *view_ = nullptr;
};

} // namespace kestcam::ui
