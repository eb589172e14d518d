// host_session.cpp - driver start and stop for every command, with -v log lines on stderr.
#include "host_session.h"

#include <cstdio>

namespace kestcam::cli {

namespace {
void KESTCAM_CDECL LogToStderr(const char *text) { std::fputs(text, stderr); }
} // namespace

HostSession::~HostSession() {
    if (initialized_) library_.Exports().finalize();
}

bool HostSession::Start() {
    std::string error;
    if (!library_.Load(options_.driver, error)) {
        std::fprintf(stderr, "kestcam: %s\n", error.c_str());
        return false;
    }
    if (library_.Exports().initialize(options_.systemPath.c_str(), options_.verbose ? LogToStderr : nullptr) != 1) {
        std::fprintf(stderr, "kestcam: the driver failed to initialize\n");
        return false;
    }
    initialized_ = true;
    return true;
}

} // namespace kestcam::cli
