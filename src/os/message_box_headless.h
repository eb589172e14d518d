// message_box_headless.h - the logged stand-in for a message box, shared by every platform.
#pragma once

#include <atomic>
#include <string>

#include "driver/logger.h"
#include "os/message_box.h"

namespace kestcam::os::detail {

inline std::atomic<int> &MessageBoxCounter() {
    static std::atomic<int> counter{0};
    return counter;
}

inline void LogMessageBox(MessageBoxIcon icon, const std::string &text) {
    KC_LOG(1, "MessageBox: %s: %s\n", icon == MessageBoxIcon::Error ? "ERROR" : "WARNING", text.c_str());
}

} // namespace kestcam::os::detail
