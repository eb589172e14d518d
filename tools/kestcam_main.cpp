// kestcam_main.cpp - the command-line host: common options and the dispatch to sub-commands.
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "commands.h"
#include "driver_library.h"

namespace {

void Usage(std::FILE *out) {
    std::fprintf(out, "usage: kestcam [--driver PATH] [--system-path DIR] [-v] COMMAND [ARGS]\n"
                         "commands:\n"
                         "  list                                   one camera name a line\n"
                         "  grab --camera NAME [--port N] [--grabs N] [--interval MS] [--out FILE]\n"
                         "  props get|range --camera NAME [--port N] PROP\n"
                         "  props set --camera NAME [--port N] PROP VALUE\n"
                         "  lut generate --lsb N --msb N --steepness N -o FILE\n"
                         "  lut columns FILE\n"
                         "  camsim [--config FILE]                 a simulated serial camera on a terminal\n"
                         "  share watch NAME [--frames N] [--out DIR]\n"
                         "  view (--camera NAME [--port N] | --share NAME) [--listen ADDR:PORT]\n"
                         "                                         the live view in a browser\n"
                         "  stream --camera NAME [--port N] [--listen ADDR:PORT] [--path /NAME] [--codec raw|jpeg|h264]\n"
                         "                                         an RTSP server of the camera\n");
}

} // namespace

int main(int argc, char **argv) {
    using namespace kestcam::cli;
    CommonOptions options;
    std::vector<std::string> rest;
    int i = 1;
    for (; i < argc; ++i) {
        std::string arg = argv[i];
        if (arg == "--driver" || arg == "--system-path") {
            if (i + 1 >= argc) {
                std::fprintf(stderr, "kestcam: %s needs a value\n", arg.c_str());
                return kExitUsage;
            }
            (arg == "--driver" ? options.driver : options.systemPath) = argv[++i];
        } else if (arg == "-v") {
            options.verbose = true;
        } else if (arg == "-h" || arg == "--help") {
            Usage(stdout);
            return std::fflush(stdout) == 0 ? kExitOk : kExitFailure;
        } else {
            break;
        }
    }
    if (i >= argc) {
        Usage(stderr);
        return kExitUsage;
    }
    const std::string command = argv[i];
    // A request, not a mistake: the command's usage on standard output, and success.
    const std::string usage = CommandUsage(command);
    if (!usage.empty() && AsksForHelp(argc - i - 1, argv + i + 1)) {
        std::fputs(usage.c_str(), stdout);
        return std::fflush(stdout) == 0 ? kExitOk : kExitFailure;
    }
    if (command == "lut") return RunLutCommand(argc - i, argv + i);

    // Options may also follow the command.
    for (int j = i + 1; j < argc; ++j) {
        std::string arg = argv[j];
        if ((arg == "--driver" || arg == "--system-path") && j + 1 < argc)
            (arg == "--driver" ? options.driver : options.systemPath) = argv[++j];
        else if (arg == "-v")
            options.verbose = true;
        else
            rest.push_back(arg);
    }
    if (options.driver.empty()) options.driver = DriverLibrary::DefaultPath();
    if (options.systemPath.empty()) options.systemPath = ".";

    if (command == "list") return RunList(options, rest);
    if (command == "grab") return RunGrab(options, rest);
    if (command == "props") return RunProps(options, rest);
    if (command == "camsim") return RunCamsim(rest);
    if (command == "share") return RunShare(options, rest);
    if (command == "view") return RunView(options, rest);
    if (command == "stream") return RunStream(options, rest);
    std::fprintf(stderr, "kestcam: unknown command '%s'\n", command.c_str());
    Usage(stderr);
    return kExitUsage;
}
