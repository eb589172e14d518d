// dialog_view_win32.h - a dialog or property page window as a DialogView: items by id through the
// dialog manager, the common file dialogs, owned message boxes.
#pragma once

#include <windows.h>

#include <map>
#include <memory>
#include <string>

#include "ui/dialog_view.h"

namespace kestcam::ui::win32 {

class DialogViewWin32;

// An edit, static or combo box of a dialog.
class ControlWin32 : public ControlView {
public:
    ControlWin32(HWND hwnd, DialogViewWin32 &owner) : hwnd_(hwnd), owner_(owner) {}

    std::string GetText() const override;
    void SetText(const std::string &text) override;
    void ResetList() override;
    void AddItem(const std::string &text) override;
    int GetSelection() const override;
    void SetSelection(int index) override;
    int ItemCount() const override;
    std::string ItemText(int index) const override;
    void SetReadOnly(bool readOnly) override;

private:
    LRESULT Send(UINT message, WPARAM wParam, LPARAM lParam) const;

    HWND hwnd_;
    DialogViewWin32 &owner_;
};

class DialogViewWin32 : public DialogView {
public:
    // caption: the template's, used when the window has no text of its own.
    DialogViewWin32(HWND dialog, std::string caption) : dialog_(dialog), caption_(std::move(caption)) {}

    ControlView &Item(int id) override;
    int GetCheck(int id) const override;
    void SetCheck(int id, int state) override;
    void Enable(int id, bool enabled) override;
    std::string Caption() const override;
    std::optional<std::string> ChooseFile(const FileDialogRequest &request) override;
    void ShowError(const std::string &text) override;
    void QuerySiblings() override;
    void RunGenerator(DlgGenerateLUT &dialog) override;

    HWND Handle() const { return dialog_; }
    // True while the controller itself writes an item's text: the change notices this sends are
    // not the user's edits.
    bool Writing() const { return writing_ > 0; }
    void BeginWrite() { ++writing_; }
    void EndWrite() { --writing_; }

private:
    HWND dialog_;
    std::string caption_;
    std::map<int, std::unique_ptr<ControlWin32>> items_;
    int writing_ = 0;
};

// The module whose resources hold the dialog templates: the driver itself.
HINSTANCE ResourceModule();
// Runs the generator dialog modally (template 1004).
void RunGeneratorDialog(DlgGenerateLUT &dialog);

} // namespace kestcam::ui::win32
