// dialog_view.h - what the dialog controllers see of a dialog: its items by id, its caption, the
// file dialogs and message boxes it can show, and the property sheet's query to its pages. The
// Win32 views draw real controls; tests hand in scripted ones.
#pragma once

#include <optional>
#include <string>

#include "settings/param_exchange.h"

namespace kestcam {
class CameraSettings;
}

namespace kestcam::ui {

class DlgGenerateLUT;

// An open-file or save-file dialog. The filter is written "Name (*.ext)|*.ext||".
struct FileDialogRequest {
    bool save = false;
    std::string title;
    std::string defaultExtension;
    std::string fileName; // initial file name
    std::string filter;
    std::string initialDir; // empty: the platform's choice
    bool fileMustExist = false;
    bool overwritePrompt = false;
    bool hideReadOnly = true;
};

// Check states as a check box holds them.
constexpr int kUnchecked = 0;
constexpr int kChecked = 1;

// One dialog or property page.
class DialogView {
public:
    virtual ~DialogView() = default;

    // The edit, static or combo box with that id (text and list operations).
    virtual ControlView &Item(int id) = 0;
    // 0 unticked, 1 ticked, 2 indeterminate.
    virtual int GetCheck(int id) const = 0;
    virtual void SetCheck(int id, int state) = 0;
    virtual void Enable(int id, bool enabled) = 0;
    // The page's window caption (its tab text).
    virtual std::string Caption() const = 0;

    // The chosen full path, or nothing when the user cancelled.
    virtual std::optional<std::string> ChooseFile(const FileDialogRequest &request) = 0;
    // A modal box with the error icon and an OK button, owned by this dialog.
    virtual void ShowError(const std::string &text) = 0;
    // Pages: sends the property sheet's query-siblings message; the sheet passes it to each page.
    virtual void QuerySiblings() = 0;
    // Runs the lookup-table generator modally, without a parent window.
    virtual void RunGenerator(DlgGenerateLUT &dialog) = 0;
};

// Sets the check box from an integer setting; a value outside 0..2 is first set to 0.
inline void CheckToControl(DialogView &view, int id, Param<int> &param) {
    if (param.value < 0 || param.value > 2) param.value = 0;
    view.SetCheck(id, param.value);
}
// Reads the check box back: unticked 0, ticked 1 (an indeterminate box keeps its 2).
inline void CheckFromControl(const DialogView &view, int id, Param<int> &param) {
    param.value = view.GetCheck(id);
}

} // namespace kestcam::ui
