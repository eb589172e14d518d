// win32_exception_win32.cpp - error codes and texts from the Windows system message table.
#include "share/win32_exception.h"

#include <windows.h>

namespace kestcam {

int LastPlatformError() {
    return static_cast<int>(GetLastError());
}

std::string PlatformErrorText(int code) {
    char text[4096] = {};
    const DWORD length = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                                        static_cast<DWORD>(code), MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT), text,
                                        sizeof text, nullptr);
    std::string out(text, length);
    while (!out.empty() && (out.back() == '\n' || out.back() == '\r' || out.back() == ' '))
        out.pop_back();
    return out;
}

bool IsPeerGoneError(int code) {
    // Broken pipe (a read), no data (a write: the pipe is being closed), pipe not connected.
    return code == ERROR_BROKEN_PIPE || code == ERROR_NO_DATA || code == ERROR_PIPE_NOT_CONNECTED;
}

bool IsNameTakenError(int code) {
    // The one instance exists (busy), or a pipe of that name was made with other settings.
    return code == ERROR_PIPE_BUSY || code == ERROR_ACCESS_DENIED;
}

} // namespace kestcam
