// view_command_unavailable.cpp - `kestcam view` in a build without cpp-httplib and libturbojpeg
// (the Windows builds: Debian has no MinGW builds of either).
#include <cstdio>

#include "commands.h"

namespace kestcam::cli {

int RunView(const CommonOptions &, const std::vector<std::string> &) {
    std::fprintf(stderr, "kestcam view: not part of this build (it needs cpp-httplib and libturbojpeg)\n");
    return kExitFailure;
}

} // namespace kestcam::cli
