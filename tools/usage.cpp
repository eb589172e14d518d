// usage.cpp - the usage text of each command, printed on standard output when asked for with --help
// and on standard error after a usage error.
#include <cstdio>

#include "acquisition/lut_generator.h"
#include "commands.h"

namespace kestcam::cli {

std::string CommandUsage(const std::string &command) {
    if (command == "list") return "usage: kestcam list\n";
    if (command == "grab")
        return "usage: kestcam grab --camera NAME [--port N] [--grabs N>=1] [--interval MS] [--out FILE]\n";
    if (command == "props")
        return "usage: kestcam props get|range --camera NAME [--port N] PROP\n"
               "       kestcam props set --camera NAME [--port N] PROP VALUE\n";
    if (command == "lut") {
        char text[512];
        std::snprintf(text, sizeof text,
                      "usage: kestcam lut generate [--lsb N] [--msb N] [--steepness N] -o FILE\n"
                      "       kestcam lut columns FILE\n"
                      "generate: LSB and MSB %d..%d with LSB < MSB (defaults 0 and 15), steepness %d..%d "
                      "(default 1)\n",
                      kLutGenBitMin, kLutGenBitMax, kLutGenSteepnessMin, kLutGenSteepnessMax);
        return text;
    }
    if (command == "camsim") return "usage: kestcam camsim [--config FILE]\n";
    if (command == "share") return "usage: kestcam share watch NAME [--frames N>=1] [--out DIR]\n";
    if (command == "view") return "usage: kestcam view (--camera NAME [--port N] | --share NAME) [--listen ADDR:PORT]\n";
    return {};
}

void PrintUsageError(const std::string &command) {
    std::fputs(CommandUsage(command).c_str(), stderr);
}

bool AsksForHelp(int argc, char **argv) {
    for (int i = 0; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "-h" || arg == "--help") return true;
    }
    return false;
}

} // namespace kestcam::cli
