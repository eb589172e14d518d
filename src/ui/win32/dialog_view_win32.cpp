// dialog_view_win32.cpp - items, file dialogs and boxes of a real dialog window; the generator.
#include "ui/win32/dialog_view_win32.h"

#include <commdlg.h>
#include <prsht.h>

#include <vector>

#include "os/message_box.h"
#include "ui/dlg_generate_lut.h"

namespace kestcam::ui::win32 {

std::string ControlWin32::GetText() const {
    if (hwnd_ == nullptr) return std::string();
    const int length = GetWindowTextLengthA(hwnd_);
    std::vector<char> text(static_cast<size_t>(length) + 1, '\0');
    GetWindowTextA(hwnd_, text.data(), length + 1);
    return text.data();
}

void ControlWin32::SetText(const std::string &text) {
    if (hwnd_ == nullptr) return;
    owner_.BeginWrite();
    SetWindowTextA(hwnd_, text.c_str());
    owner_.EndWrite();
}

LRESULT ControlWin32::Send(UINT message, WPARAM wParam, LPARAM lParam) const {
    return hwnd_ != nullptr ? SendMessageA(hwnd_, message, wParam, lParam) : CB_ERR;
}

void ControlWin32::ResetList() {
    Send(CB_RESETCONTENT, 0, 0);
}

void ControlWin32::AddItem(const std::string &text) {
    Send(CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(text.c_str()));
}

int ControlWin32::GetSelection() const {
    const LRESULT selection = Send(CB_GETCURSEL, 0, 0);
    return selection == CB_ERR ? -1 : static_cast<int>(selection);
}

void ControlWin32::SetSelection(int index) {
    owner_.BeginWrite(); // the edit of a drop-down combo box reports the new text as a change
    Send(CB_SETCURSEL, static_cast<WPARAM>(index), 0);
    owner_.EndWrite();
}

int ControlWin32::ItemCount() const {
    const LRESULT count = Send(CB_GETCOUNT, 0, 0);
    return count == CB_ERR ? 0 : static_cast<int>(count);
}

std::string ControlWin32::ItemText(int index) const {
    const LRESULT length = Send(CB_GETLBTEXTLEN, static_cast<WPARAM>(index), 0);
    if (length == CB_ERR) return std::string();
    std::vector<char> text(static_cast<size_t>(length) + 1, '\0');
    Send(CB_GETLBTEXT, static_cast<WPARAM>(index), reinterpret_cast<LPARAM>(text.data()));
    return text.data();
}

void ControlWin32::SetReadOnly(bool readOnly) {
    // Only a drop-down combo box has an edit field; a drop-down list has none.
    if (hwnd_ == nullptr) return;
    HWND edit = FindWindowExA(hwnd_, nullptr, "Edit", nullptr);
    if (edit != nullptr) SendMessageA(edit, EM_SETREADONLY, readOnly ? TRUE : FALSE, 0);
}

ControlView &DialogViewWin32::Item(int id) {
    std::unique_ptr<ControlWin32> &item = items_[id];
    // A template without the item gives a control that holds nothing and ignores writes.
    if (!item) item = std::make_unique<ControlWin32>(GetDlgItem(dialog_, id), *this);
    return *item;
}

int DialogViewWin32::GetCheck(int id) const {
    return static_cast<int>(IsDlgButtonChecked(dialog_, id));
}

void DialogViewWin32::SetCheck(int id, int state) {
    CheckDlgButton(dialog_, id, static_cast<UINT>(state));
}

void DialogViewWin32::Enable(int id, bool enabled) {
    HWND item = GetDlgItem(dialog_, id);
    if (item != nullptr) EnableWindow(item, enabled ? TRUE : FALSE);
}

std::string DialogViewWin32::Caption() const {
    char text[256] = {};
    GetWindowTextA(dialog_, text, sizeof text);
    return text[0] != '\0' ? std::string(text) : caption_;
}

std::optional<std::string> DialogViewWin32::ChooseFile(const FileDialogRequest &request) {
    // "Name (*.ext)|*.ext||" becomes the dialog's list of zero-terminated pairs.
    std::string filter = request.filter;
    for (char &c : filter)
        if (c == '|') c = '\0';
    filter.push_back('\0');
    std::vector<char> file(32768, '\0');
    request.fileName.copy(file.data(), file.size() - 1);

    OPENFILENAMEA ofn = {};
    ofn.lStructSize = sizeof ofn;
    ofn.hwndOwner = dialog_;
    ofn.lpstrFilter = filter.c_str();
    ofn.lpstrFile = file.data();
    ofn.nMaxFile = static_cast<DWORD>(file.size());
    ofn.lpstrInitialDir = request.initialDir.empty() ? nullptr : request.initialDir.c_str();
    ofn.lpstrTitle = request.title.c_str();
    ofn.lpstrDefExt = request.defaultExtension.empty() ? nullptr : request.defaultExtension.c_str();
    ofn.Flags =
        OFN_EXPLORER | OFN_NOCHANGEDIR | (request.fileMustExist ? OFN_FILEMUSTEXIST | OFN_PATHMUSTEXIST : 0) |
        (request.overwritePrompt ? OFN_OVERWRITEPROMPT : 0) | (request.hideReadOnly ? OFN_HIDEREADONLY : 0);
    const BOOL chosen = request.save ? GetSaveFileNameA(&ofn) : GetOpenFileNameA(&ofn);
    if (!chosen) return std::nullopt;
    return std::string(file.data());
}

void DialogViewWin32::ShowError(const std::string &text) {
    os::ShowMessageBox(dialog_, os::MessageBoxIcon::Error, text, nullptr, os::MessageBoxButtons::Ok);
}

void DialogViewWin32::QuerySiblings() {
    SendMessageA(GetParent(dialog_), PSM_QUERYSIBLINGS, 0, 0);
}

void DialogViewWin32::RunGenerator(DlgGenerateLUT &dialog) {
    RunGeneratorDialog(dialog);
}

HINSTANCE ResourceModule() {
    // The module this code is linked into, so the driver DLL finds its own templates.
    HMODULE module = nullptr;
    GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                       reinterpret_cast<LPCSTR>(&ResourceModule), &module);
    return module;
}

namespace {

struct GeneratorContext {
    DlgGenerateLUT *dialog;
    std::unique_ptr<DialogViewWin32> view;
};

INT_PTR CALLBACK GeneratorProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    auto *context = reinterpret_cast<GeneratorContext *>(GetWindowLongPtrA(hwnd, DWLP_USER));
    switch (message) {
    case WM_INITDIALOG:
        context = reinterpret_cast<GeneratorContext *>(lParam);
        SetWindowLongPtrA(hwnd, DWLP_USER, lParam);
        context->view = std::make_unique<DialogViewWin32>(hwnd, DlgGenerateLUT::kCaption);
        context->dialog->Attach(context->view.get());
        context->dialog->OnInitDialog();
        return TRUE;
    case WM_COMMAND:
        if (context == nullptr) return FALSE;
        if (LOWORD(wParam) == IDOK) {
            if (context->dialog->OnOk()) EndDialog(hwnd, IDOK);
            return TRUE;
        }
        if (LOWORD(wParam) == IDCANCEL) {
            EndDialog(hwnd, IDCANCEL);
            return TRUE;
        }
        if (HIWORD(wParam) == EN_CHANGE && !context->view->Writing())
            context->dialog->OnEditChange(LOWORD(wParam));
        return FALSE;
    case WM_DESTROY:
        if (context != nullptr) context->dialog->Attach(nullptr);
        return FALSE;
    default:
        return FALSE;
    }
}

} // namespace

void RunGeneratorDialog(DlgGenerateLUT &dialog) {
    GeneratorContext context{&dialog, nullptr};
    DialogBoxParamA(ResourceModule(), MAKEINTRESOURCEA(DlgGenerateLUT::kTemplateId),
                    static_cast<HWND>(dialog.Parent()), GeneratorProc, reinterpret_cast<LPARAM>(&context));
}

} // namespace kestcam::ui::win32
