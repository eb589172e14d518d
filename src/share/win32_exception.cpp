// win32_exception.cpp - the exception's text is looked up when it is thrown.
#include "share/win32_exception.h"

namespace kestcam {

Win32Exception::Win32Exception() : Win32Exception(LastPlatformError()) {}

Win32Exception::Win32Exception(int code)
    : std::runtime_error("Win32 error"), code_(code), text_(PlatformErrorText(code)) {}

bool Win32Exception::IsPeerGone() const {
    return IsPeerGoneError(code_);
}

bool Win32Exception::IsNameTaken() const {
    return IsNameTakenError(code_);
}

} // namespace kestcam
