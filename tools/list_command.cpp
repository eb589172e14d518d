// list_command.cpp - `kestcam list`: one camera name a line.
#include <cstdio>

#include "commands.h"
#include "host_session.h"

namespace kestcam::cli {

int RunList(const CommonOptions &options, const std::vector<std::string> &args) {
    if (!args.empty()) {
        std::fprintf(stderr, "kestcam list: unexpected argument '%s'\n", args.front().c_str());
        return kExitUsage;
    }
    HostSession session(options);
    if (!session.Start()) return kExitFailure;
    char **names = session.Driver().getCVLCameraConfigNames();
    for (char **name = names; name != nullptr && *name != nullptr; ++name) std::printf("%s\n", *name);
    return kExitOk;
}

} // namespace kestcam::cli
