// driver_library_posix.cpp - dlopen / dlsym; the default driver is the one beside the program, else
// the one in its prefix's library directory, else the one on the system's library search path.
#include <dlfcn.h>
#include <limits.h>
#include <unistd.h>

#include <sys/stat.h>

#include "driver_library.h"

// The library directory relative to the program directory of an installed tree (the build says).
#ifndef KESTCAM_LIBDIR_FROM_BINDIR
#define KESTCAM_LIBDIR_FROM_BINDIR "../lib"
#endif

namespace kestcam::cli {

DriverLibrary::~DriverLibrary() {
    if (handle_ != nullptr) dlclose(handle_);
}

bool DriverLibrary::OpenHandle(const std::string &path, std::string &error) {
    // Kept mapped after dlclose, as a host keeps its driver: the driver's process-wide objects live
    // until the process ends.
    handle_ = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL | RTLD_NODELETE);
    if (handle_ == nullptr) {
        const char *why = dlerror();
        error = why != nullptr ? why : ("cannot load " + path);
        return false;
    }
    return true;
}

void *DriverLibrary::Symbol(const char *name) const { return handle_ != nullptr ? dlsym(handle_, name) : nullptr; }

std::string DriverLibrary::DefaultPath() {
    char self[PATH_MAX] = {};
    ssize_t n = readlink("/proc/self/exe", self, sizeof self - 1);
    std::string dir = ".";
    if (n > 0) {
        std::string exe(self, static_cast<size_t>(n));
        size_t slash = exe.rfind('/');
        if (slash != std::string::npos) dir = exe.substr(0, slash);
    }
    return SearchFrom(dir, KESTCAM_LIBDIR_FROM_BINDIR);
}

std::string DriverLibrary::SearchFrom(const std::string &dir, const char *libdirFromDir) {
    const std::string beside = dir + "/libkestcam.so";
    struct stat st {};
    if (stat(beside.c_str(), &st) == 0) return beside;
    // An installed program finds the driver in the library directory of its prefix.
    const std::string installed = dir + "/" + libdirFromDir + "/libkestcam.so";
    if (stat(installed.c_str(), &st) == 0) return installed;
    // Else the system's library search path, where a distribution package puts it
    // (/usr/lib/<multiarch>); the loader's error then names the file it looked for.
    return "libkestcam.so";
}

} // namespace kestcam::cli
