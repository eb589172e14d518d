// win32_exception_posix.cpp - error codes are errno values, their texts strerror's.
#include "share/win32_exception.h"

#include <cerrno>
#include <cstring>

namespace kestcam {

int LastPlatformError() {
    return errno;
}

std::string PlatformErrorText(int code) {
    char text[4096] = {};
#if defined(__GLIBC__) && defined(_GNU_SOURCE)
    // The GNU form returns the text, which need not be in the buffer.
    const char *message = strerror_r(code, text, sizeof text);
    return message != nullptr ? message : "";
#else
    return strerror_r(code, text, sizeof text) == 0 ? text : "";
#endif
}

bool IsPeerGoneError(int code) {
    return code == EPIPE || code == ECONNRESET || code == ENOTCONN;
}

bool IsNameTakenError(int code) {
    // The share's lock file is held.
    return code == EADDRINUSE;
}

} // namespace kestcam
