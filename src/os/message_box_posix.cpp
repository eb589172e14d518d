// message_box_posix.cpp - no desktop to show a box on: the text is logged and the call returns.
#include "os/message_box.h"
#include "os/message_box_headless.h"

namespace kestcam::os {

void ShowMessageBox(MessageBoxIcon icon, const std::string &text) {
    ShowMessageBox(nullptr, icon, text, nullptr, MessageBoxButtons::Ok);
}

bool ShowMessageBox(void *, MessageBoxIcon icon, const std::string &text, const char *,
                    MessageBoxButtons buttons) {
    detail::MessageBoxCounter().fetch_add(1, std::memory_order_relaxed);
    detail::LogMessageBox(icon, text);
    return buttons == MessageBoxButtons::Ok;
}

int MessageBoxCount() {
    return detail::MessageBoxCounter().load(std::memory_order_relaxed);
}

} // namespace kestcam::os
