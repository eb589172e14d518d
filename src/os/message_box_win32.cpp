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
    detail::MessageBoxCounter().fetch_add(1, std::memory_order_relaxed);
    if (BoxesSuppressed()) {
        detail::LogMessageBox(icon, text);
        return;
    }
    // No caption of its own: the system's default title, as for any box without an owner.
    const UINT style = (icon == MessageBoxIcon::Error ? MB_ICONERROR : MB_ICONEXCLAMATION) | MB_OK;
    ::MessageBoxA(nullptr, text.c_str(), nullptr, style);
}

int MessageBoxCount() {
    return detail::MessageBoxCounter().load(std::memory_order_relaxed);
}

} // namespace kestcam::os
