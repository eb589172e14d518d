// win32_exception.h - what the sharing pipe and the sharing thread's creation throw: the platform's
// error code of the call that failed, and the system's text for it.
#pragma once

#include <stdexcept>
#include <string>

namespace kestcam {

class Win32Exception : public std::runtime_error {
public:
    // The calling thread's last error (GetLastError on Windows, errno elsewhere), taken now.
    Win32Exception();
    // An error code the caller took from the failing call itself.
    explicit Win32Exception(int code);

    int GetErrorCode() const { return code_; }
    // The system's message for the code; empty when the system has none.
    const char *what() const noexcept override { return text_.c_str(); }
    // The other end of the pipe has gone (the client closed it, or the server did).
    bool IsPeerGone() const;
    // A pipe of that name exists already: another server holds the share name.
    bool IsNameTaken() const;

private:
    int code_;
    std::string text_;
};

// The calling thread's last platform error.
int LastPlatformError();
// The system's message for a platform error code, without a trailing line end; empty if unknown.
std::string PlatformErrorText(int code);
// True for the codes that mean the pipe's other end has gone.
bool IsPeerGoneError(int code);
// True for the codes with which creating a pipe finds its name held by another server.
bool IsNameTakenError(int code);

} // namespace kestcam
