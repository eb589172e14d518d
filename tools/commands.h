// commands.h - the sub-commands of the kestcam command-line host.
#pragma once

#include <string>
#include <vector>

namespace kestcam::cli {

// Options every command accepts.
struct CommonOptions {
    std::string driver;     // --driver PATH
    std::string systemPath; // --system-path DIR
    bool verbose = false;   // -v: driver log lines on stderr
};

// Exit codes of every command.
constexpr int kExitOk = 0;
constexpr int kExitFailure = 1;
constexpr int kExitUsage = 2;

// The usage text of a command ("list", "grab", ...); empty for a name that is none.
std::string CommandUsage(const std::string &command);
// The command's usage on standard error, after a usage error.
void PrintUsageError(const std::string &command);
// True when -h or --help is among the arguments.
bool AsksForHelp(int argc, char **argv);

int RunList(const CommonOptions &options, const std::vector<std::string> &args);
int RunGrab(const CommonOptions &options, const std::vector<std::string> &args);
int RunProps(const CommonOptions &options, const std::vector<std::string> &args);
// The simulated serial camera; needs no driver.
int RunCamsim(const std::vector<std::string> &args);
// `share watch NAME ...`: a sharing client; needs no driver.
int RunShare(const CommonOptions &options, const std::vector<std::string> &args);
// `view (--camera NAME | --share NAME) [--listen ADDR:PORT]`: the live view in the browser.
int RunView(const CommonOptions &options, const std::vector<std::string> &args);
// `stream --camera NAME [--port N] [--listen ADDR:PORT] [--path /NAME] [--codec raw|jpeg|h264]`: RTSP.
int RunStream(const CommonOptions &options, const std::vector<std::string> &args);

} // namespace kestcam::cli

// argv[0] is "lut"; works on files only, without the driver.
int RunLutCommand(int argc, char **argv);
