// dynamic_library_win32.cpp - LoadLibraryA, GetProcAddress by name or ordinal, FreeLibrary.
#include "os/dynamic_library.h"

#include <windows.h>

namespace kestcam::os {
namespace {

std::string SystemErrorText(DWORD code) {
    char *text = nullptr;
    const DWORD n =
        FormatMessageA(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                       nullptr, code, 0, reinterpret_cast<char *>(&text), 0, nullptr);
    std::string out = "error " + std::to_string(code);
    if (n > 0 && text != nullptr) {
        std::string message(text, n);
        while (!message.empty() && (message.back() == '\n' || message.back() == '\r' || message.back() == ' '))
            message.pop_back();
        out += ": " + message;
    }
    if (text != nullptr) LocalFree(text);
    return out;
}

} // namespace

DynamicLibrary DynamicLibrary::Open(const std::string &path, std::string &error) {
    // A library on a drive that is not ready must fail the call, not stop an unattended host with
    // the system's "insert a disk" box.
    DWORD previousMode = 0;
    const bool modeSet =
        SetThreadErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX, &previousMode) != FALSE;
    HMODULE module = LoadLibraryA(path.c_str());
    const DWORD code = GetLastError();
    if (modeSet) SetThreadErrorMode(previousMode, nullptr);
    if (module == nullptr) {
        error = SystemErrorText(code);
        return DynamicLibrary();
    }
    return DynamicLibrary(module);
}

void *DynamicLibrary::Symbol(const char *name) const {
    if (handle_ == nullptr) return nullptr;
    return reinterpret_cast<void *>(GetProcAddress(static_cast<HMODULE>(handle_), name));
}

void *DynamicLibrary::Ordinal(int ordinal) const {
    // Ordinals are 16-bit; anything else would be read as a pointer to a name.
    if (handle_ == nullptr || ordinal <= 0 || ordinal > 0xFFFF) return nullptr;
    return reinterpret_cast<void *>(GetProcAddress(static_cast<HMODULE>(handle_), MAKEINTRESOURCEA(ordinal)));
}

void DynamicLibrary::Reset() {
    if (handle_ != nullptr) FreeLibrary(static_cast<HMODULE>(handle_));
    handle_ = nullptr;
}

} // namespace kestcam::os
