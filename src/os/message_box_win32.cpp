// message_box_win32.cpp - modal MessageBoxA boxes; KESTCAM_NO_MESSAGE_BOXES=1 logs them instead so
// that tests and unattended hosts are never blocked by a box nobody will close.
#include <windows.h>

#include <cstdlib>
#include <cstring>

#include "os/message_box.h"
#include "os/message_box_headless.h"

namespace kestcam::os {
namespace {

bool BoxesSuppressed() {
    const char *value = std::getenv("KESTCAM_NO_MESSAGE_BOXES");
    return value != nullptr && std::strcmp(value, "1") == 0;
}

} // namespace

void ShowMessageBox(MessageBoxIcon icon, const std::string &text) {
    // No caption of its own: the system's default title, as for any box without an owner.
    ShowMessageBox(nullptr, icon, text, nullptr, MessageBoxButtons::Ok);
}

bool ShowMessageBox(void *owner, MessageBoxIcon icon, const std::string &text, const char *caption,
                    MessageBoxButtons buttons) {
    detail::MessageBoxCounter().fetch_add(1, std::memory_order_relaxed);
    const bool okOnly = buttons == MessageBoxButtons::Ok;
    if (BoxesSuppressed()) {
        detail::LogMessageBox(icon, text);
        return okOnly;
    }
    const UINT style =
        (icon == MessageBoxIcon::Error ? MB_ICONERROR : MB_ICONEXCLAMATION) | (okOnly ? MB_OK : MB_OKCANCEL);
    return ::MessageBoxA(static_cast<HWND>(owner), text.c_str(), caption, style) == IDOK;
}

int MessageBoxCount() {
    return detail::MessageBoxCounter().load(std::memory_order_relaxed);
}

} // namespace kestcam::os
