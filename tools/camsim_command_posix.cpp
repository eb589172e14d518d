// camsim_command_posix.cpp - `kestcam camsim`: the simulated line-scan camera on a pseudo-terminal.
// The first line of standard output is the terminal's device path; then one line per frame received.
// Serves until interrupted (SIGINT, SIGTERM or SIGHUP).
#include <signal.h>

#include <cstdio>
#include <fstream>
#include <mutex>
#include <string>
#include <vector>

#include "commands.h"
#include "settings/ini_store.h"
#include "sim/camera/sim_camera_server.h"

namespace kestcam::cli {

int RunCamsim(const std::vector<std::string> &args) {
    std::string configFile;
    for (size_t i = 0; i < args.size(); ++i) {
        if (args[i] == "--config" && i + 1 < args.size()) {
            configFile = args[++i];
        } else {
            PrintUsageError("camsim");
            return kExitUsage;
        }
    }
    sim::SimCameraConfig config;
    if (!configFile.empty()) {
        ini::IniDocument doc;
        std::string reason;
        // A missing file reads as an empty document; here it is a mistake in the command line.
        if (!std::ifstream(configFile) || ini::ReadDocument(configFile, doc)) {
            std::fprintf(stderr, "kestcam camsim: cannot read %s\n", configFile.c_str());
            return kExitFailure;
        }
        if (!sim::ParseCameraConfig(doc, config, reason)) {
            std::fprintf(stderr, "kestcam camsim: %s: %s\n", configFile.c_str(), reason.c_str());
            return kExitFailure;
        }
    }

    // The serving thread inherits the blocked signals; only sigwait below receives them.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    sigaddset(&stopSignals, SIGHUP);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);
    signal(SIGPIPE, SIG_IGN);

    sim::SimCameraServer server(config);
    std::mutex output;
    server.Camera().SetRecording(false); // reported, not kept: the camera may serve for days
    server.Camera().SetObserver([&output](const sim::SimFrame &frame) {
        std::lock_guard<std::mutex> lock(output);
        std::printf("%s\n", sim::DescribeFrame(frame).c_str());
        std::fflush(stdout);
    });
    std::string error;
    {
        std::lock_guard<std::mutex> lock(output);
        if (!server.Start(error)) {
            std::fprintf(stderr, "kestcam camsim: %s\n", error.c_str());
            return kExitFailure;
        }
        std::printf("%s\n", server.DevicePath().c_str());
        std::fflush(stdout);
    }
    int received = 0;
    sigwait(&stopSignals, &received);
    server.Stop();
    return kExitOk;
}

} // namespace kestcam::cli
