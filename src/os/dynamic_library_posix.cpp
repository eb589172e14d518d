// dynamic_library_posix.cpp - dlopen, dlsym, dlclose; shared objects have no ordinals.
#include "os/dynamic_library.h"

#include <dlfcn.h>

namespace kestcam::os {

DynamicLibrary DynamicLibrary::Open(const std::string &path, std::string &error) {
    void *handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (handle == nullptr) {
        const char *why = dlerror();
        error = why != nullptr ? why : "cannot load " + path;
        return DynamicLibrary();
    }
    return DynamicLibrary(handle);
}

void *DynamicLibrary::Symbol(const char *name) const {
    return handle_ != nullptr ? dlsym(handle_, name) : nullptr;
}

void *DynamicLibrary::Ordinal(int) const {
    return nullptr;
}

void DynamicLibrary::Reset() {
    if (handle_ != nullptr) dlclose(handle_);
    handle_ = nullptr;
}

} // namespace kestcam::os
