// dialog_service_win32.cpp - the real modal property sheet (comctl32) with its two pages, its
// button column and status bar, and the owned OK/Cancel warning.
#include <windows.h>

#include <commctrl.h>
#include <prsht.h>

#include <memory>

#include "os/message_box.h"
#include "ui/csheet1.h"
#include "ui/dialog_service.h"
#include "ui/prop_camera_controls.h"
#include "ui/prop_frame_grabber.h"
#include "ui/win32/dialog_view_win32.h"

namespace kestcam::ui {
namespace win32 {
namespace {

class SheetViewWin32 : public SheetView {
public:
    HWND sheet = nullptr;
    HWND statusBar = nullptr;

    void EnableOk(bool enabled) override {
        HWND ok = sheet != nullptr ? GetDlgItem(sheet, IDOK) : nullptr;
        if (ok != nullptr) EnableWindow(ok, enabled ? TRUE : FALSE);
    }
    void SetStatusText(const std::string &text) override {
        if (statusBar != nullptr) SendMessageA(statusBar, SB_SETTEXTA, 0, reinterpret_cast<LPARAM>(text.c_str()));
    }
};

// One running sheet; modal, so at most one per thread.
struct SheetContext {
    CSheet1 *sheet = nullptr;
    SheetViewWin32 view;
    WNDPROC sheetProc = nullptr;
    bool laidOut = false;
    bool accepted = false;
};
thread_local SheetContext *currentSheet = nullptr;

struct PageContext {
    SheetContext *sheet;
    CPropFrameGrabber *frameGrabber; // one of the two is set
    CPropCameraControls *camera;
    std::unique_ptr<DialogViewWin32> view;
};

Rect ToRect(const RECT &r) {
    return {r.left, r.top, r.right, r.bottom};
}

RECT ClientRectOf(HWND child, HWND parent) {
    RECT r;
    GetWindowRect(child, &r);
    MapWindowPoints(nullptr, parent, reinterpret_cast<POINT *>(&r), 2);
    return r;
}

// OK and Cancel into a column at the right, Apply and Help hidden, the status bar below the pages.
void LayOutSheet(SheetContext &context) {
    HWND sheet = context.view.sheet;
    for (int id : {CSheet1::kApplyId, CSheet1::kHelpId}) {
        HWND button = GetDlgItem(sheet, id);
        if (button != nullptr) ShowWindow(button, SW_HIDE);
    }
    HWND ok = GetDlgItem(sheet, IDOK);
    HWND cancel = GetDlgItem(sheet, IDCANCEL);
    if (ok == nullptr || cancel == nullptr) return;

    RECT window;
    GetWindowRect(sheet, &window);
    const SheetButtonLayout layout = CSheet1::LayOutButtons(ToRect(ClientRectOf(ok, sheet)), ToRect(window));
    SetWindowPos(sheet, nullptr, 0, 0, layout.sheet.Width(), layout.sheet.Height(),
                 SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
    MoveWindow(ok, layout.ok.left, layout.ok.top, layout.ok.Width(), layout.ok.Height(), TRUE);
    MoveWindow(cancel, layout.cancel.left, layout.cancel.top, layout.cancel.Width(), layout.cancel.Height(), TRUE);

    HWND status = CreateWindowExA(0, STATUSCLASSNAMEA, "", WS_CHILD | WS_VISIBLE | CCS_BOTTOM, 0, 0, 0, 0, sheet,
                                  reinterpret_cast<HMENU>(static_cast<INT_PTR>(CSheet1::kStatusBarId)),
                                  ResourceModule(), nullptr);
    if (status == nullptr) return;
    context.view.statusBar = status;
    const RECT bar = ClientRectOf(status, sheet);
    const int sh = bar.bottom - bar.top;
    GetWindowRect(sheet, &window);
    SetWindowPos(sheet, nullptr, 0, 0, window.right - window.left, window.bottom - window.top + sh,
                 SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
    MoveWindow(status, 0, bar.top + sh, bar.right - bar.left, sh, TRUE);
}

LRESULT CALLBACK SheetSubclassProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    SheetContext *context = currentSheet;
    if (message == WM_NCDESTROY) {
        // The sheet's own procedure sees its last message without this one in front.
        SetWindowLongPtrA(hwnd, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(context->sheetProc));
        return CallWindowProcA(context->sheetProc, hwnd, message, wParam, lParam);
    }
    const LRESULT result = CallWindowProcA(context->sheetProc, hwnd, message, wParam, lParam);
    // The sheet has finished its own initialisation (and sizing) once it is first shown.
    if (message == WM_SHOWWINDOW && wParam != 0 && !context->laidOut) {
        context->laidOut = true;
        LayOutSheet(*context);
    }
    return result;
}

int CALLBACK SheetCallback(HWND hwnd, UINT message, LPARAM) {
    if (message == PSCB_INITIALIZED && currentSheet != nullptr) {
        currentSheet->view.sheet = hwnd;
        currentSheet->sheet->Attach(&currentSheet->view);
        currentSheet->sheetProc = reinterpret_cast<WNDPROC>(
            SetWindowLongPtrA(hwnd, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&SheetSubclassProc)));
    }
    return 0;
}

void SetResult(HWND hwnd, LONG_PTR result) {
    SetWindowLongPtrA(hwnd, DWLP_MSGRESULT, result);
}

INT_PTR CALLBACK PageProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    auto *page = reinterpret_cast<PageContext *>(GetWindowLongPtrA(hwnd, DWLP_USER));
    if (message == WM_INITDIALOG) {
        page = reinterpret_cast<PageContext *>(reinterpret_cast<PROPSHEETPAGEA *>(lParam)->lParam);
        SetWindowLongPtrA(hwnd, DWLP_USER, reinterpret_cast<LONG_PTR>(page));
        if (page->frameGrabber != nullptr) {
            page->view = std::make_unique<DialogViewWin32>(hwnd, CPropFrameGrabber::kCaption);
            page->frameGrabber->Attach(page->view.get());
            page->frameGrabber->OnInitDialog();
        } else {
            page->view = std::make_unique<DialogViewWin32>(hwnd, CPropCameraControls::kCaption);
            page->camera->Attach(page->view.get());
            page->camera->OnInitDialog();
        }
        return TRUE;
    }
    if (page == nullptr || !page->view) return FALSE;
    CPropFrameGrabber *fg = page->frameGrabber;
    CPropCameraControls *cam = page->camera;
    switch (message) {
    case WM_COMMAND: {
        const int id = LOWORD(wParam);
        switch (HIWORD(wParam)) {
        case BN_CLICKED:
            if (fg != nullptr)
                fg->OnClicked(id);
            else
                cam->OnClicked(id);
            break;
        case EN_CHANGE:
            if (page->view->Writing()) break;
            if (fg != nullptr)
                fg->OnEditChange(id);
            else
                cam->OnEditChange(id);
            break;
        case CBN_SELCHANGE:
            if (cam != nullptr && id == CPropCameraControls::kPort) cam->OnPortChanged();
            break;
        default:
            break;
        }
        return FALSE;
    }
    case PSM_QUERYSIBLINGS:
        // Answers 0, so the sheet passes the query on to the next page.
        SetResult(hwnd, fg != nullptr ? fg->OnQuerySiblings() : cam->OnQuerySiblings());
        return TRUE;
    case WM_NOTIFY:
        if (reinterpret_cast<NMHDR *>(lParam)->code == PSN_APPLY) {
            // OK stands disabled while a page is invalid; a keyboard shortcut must not get past it.
            if (!page->sheet->sheet->CanAccept()) {
                SetResult(hwnd, PSNRET_INVALID_NOCHANGEPAGE);
                return TRUE;
            }
            if (fg != nullptr)
                fg->OnApply();
            else
                cam->OnApply();
            page->sheet->accepted = true;
            SetResult(hwnd, PSNRET_NOERROR);
            return TRUE;
        }
        return FALSE;
    case WM_DESTROY:
        if (fg != nullptr)
            fg->Attach(nullptr);
        else
            cam->Attach(nullptr);
        return FALSE;
    default:
        return FALSE;
    }
}

class DialogServiceWin32 : public DialogService {
public:
    bool Confirm(void *owner, const std::string &text, const std::string &caption) override {
        return os::ShowMessageBox(owner, os::MessageBoxIcon::Warning, text, caption.c_str(),
                                  os::MessageBoxButtons::OkCancel);
    }

    bool RunPropertySheet(CSheet1 &sheet) override {
        if (sheet.FrameGrabberPage() == nullptr || sheet.CameraPage() == nullptr) return false;
        INITCOMMONCONTROLSEX controls = {sizeof controls, ICC_BAR_CLASSES | ICC_TAB_CLASSES};
        InitCommonControlsEx(&controls);

        SheetContext context;
        context.sheet = &sheet;
        PageContext pages[2] = {{&context, sheet.FrameGrabberPage(), nullptr, nullptr},
                                {&context, nullptr, sheet.CameraPage(), nullptr}};
        const int templates[2] = {CPropFrameGrabber::kTemplateId, CPropCameraControls::kTemplateId};
        PROPSHEETPAGEA psp[2] = {};
        for (int i = 0; i < 2; ++i) {
            psp[i].dwSize = sizeof psp[i];
            psp[i].dwFlags = PSP_DEFAULT;
            psp[i].hInstance = ResourceModule();
            psp[i].pszTemplate = MAKEINTRESOURCEA(templates[i]);
            psp[i].pfnDlgProc = PageProc;
            psp[i].lParam = reinterpret_cast<LPARAM>(&pages[i]);
        }
        PROPSHEETHEADERA psh = {};
        psh.dwSize = sizeof psh;
        psh.dwFlags = PSH_PROPSHEETPAGE | PSH_USECALLBACK | PSH_NOCONTEXTHELP;
        psh.hwndParent = static_cast<HWND>(sheet.Parent());
        psh.hInstance = ResourceModule();
        psh.pszCaption = sheet.Title().c_str();
        psh.nPages = 2;
        psh.nStartPage = static_cast<UINT>(sheet.FirstPage());
        psh.ppsp = psp;
        psh.pfnCallback = SheetCallback;

        SheetContext *outer = currentSheet;
        currentSheet = &context;
        PropertySheetA(&psh);
        currentSheet = outer;
        sheet.Attach(nullptr);
        // Accepted means every page took its OK; closing the window or Cancel leaves it false.
        return context.accepted;
    }
};

} // namespace
} // namespace win32

DialogService *PlatformDialogService() {
    static win32::DialogServiceWin32 service;
    return &service;
}

} // namespace kestcam::ui
