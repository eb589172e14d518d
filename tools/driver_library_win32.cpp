// driver_library_win32.cpp - LoadLibraryA / GetProcAddress.
#include <windows.h>

#include "driver_library.h"

namespace kestcam::cli {

DriverLibrary::~DriverLibrary() {
    if (handle_ != nullptr) FreeLibrary(static_cast<HMODULE>(handle_));
}

bool DriverLibrary::OpenHandle(const std::string &path, std::string &error) {
    handle_ = LoadLibraryA(path.c_str());
    if (handle_ == nullptr) {
        error = "cannot load " + path + " (error " + std::to_string(GetLastError()) + ")";
        return false;
    }
    return true;
}

void *DriverLibrary::Symbol(const char *name) const {
    return handle_ != nullptr ? reinterpret_cast<void *>(GetProcAddress(static_cast<HMODULE>(handle_), name))
                              : nullptr;
}

std::string DriverLibrary::DefaultPath() {
    char self[MAX_PATH] = {};
    DWORD n = GetModuleFileNameA(nullptr, self, MAX_PATH);
    std::string exe(self, n);
    size_t slash = exe.find_last_of("\\/");
    std::string dir = slash == std::string::npos ? "." : exe.substr(0, slash);
    return dir + "\\kestcam.dll";
}

} // namespace kestcam::cli
