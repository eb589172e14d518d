// stream_command_unavailable.cpp - `kestcam stream` in a build without GStreamer and gst-rtsp-server
// (the Windows builds).
#include <cstdio>

#include "commands.h"

namespace kestcam::cli {

int RunStream(const CommonOptions &, const std::vector<std::string> &) {
    std::fprintf(stderr, "kestcam stream: not part of this build (it needs GStreamer and gst-rtsp-server)\n");
    return kExitFailure;
}

} // namespace kestcam::cli
