// view_command.cpp - `kestcam view (--camera NAME | --share NAME) [--port N] [--listen ADDR:PORT]`: the
// live view in the browser. Prints the URL it serves on the first line of standard output and serves
// until SIGINT, SIGTERM or SIGHUP; then it stops serving, stops grabbing and closes the camera.
#include <signal.h>

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "commands.h"
#include "listen_address.h"
#include "driver/logger.h"
#include "host_session.h"
#include "view/frame_hub.h"
#include "view/frame_source.h"
#include "view/view_server.h"

namespace kestcam::cli {

namespace {

void KESTCAM_CDECL LogToStderr(const char *text) {
    std::fputs(text, stderr);
}

struct ViewArgs {
    std::string camera;
    std::string share;
    int port = 0;
    std::string host = "127.0.0.1";
    int listenPort = 8080;
};

bool ParsePort(const std::string &text, int low, int &out) {
    if (text.empty() || text.size() > 5 || text.find_first_not_of("0123456789") != std::string::npos) return false;
    out = std::atoi(text.c_str());
    return out >= low && out <= 65535;
}

bool ParseViewArgs(const std::vector<std::string> &args, ViewArgs &parsed) {
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string &a = args[i];
        const bool hasValue = i + 1 < args.size();
        if (a == "--camera" && hasValue) {
            parsed.camera = args[++i];
        } else if (a == "--share" && hasValue) {
            parsed.share = args[++i];
        } else if (a == "--port" && hasValue) {
            if (!ParsePort(args[++i], 0, parsed.port)) return false;
        } else if (a == "--listen" && hasValue) {
            if (!ParseListenAddress(args[++i], parsed.host, parsed.listenPort)) return false;
        } else {
            return false;
        }
    }
    return parsed.camera.empty() != parsed.share.empty();
}

} // namespace

int RunView(const CommonOptions &options, const std::vector<std::string> &args) {
    ViewArgs view;
    if (!ParseViewArgs(args, view)) {
        PrintUsageError("view");
        return kExitUsage;
    }
    // Every thread started from here on inherits the blocked signals; only sigwait below takes them.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    sigaddset(&stopSignals, SIGHUP);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);
    signal(SIGPIPE, SIG_IGN);

    FrameHub hub;
    std::unique_ptr<HostSession> session;
    std::unique_ptr<FrameSource> source;
    std::string error;
    if (!view.camera.empty()) {
        session = std::make_unique<HostSession>(options);
        if (!session->Start()) return kExitFailure;
        source = OpenCameraSource(session->Driver(), view.camera, view.port, hub, error);
    } else {
        // The share's own messages (segment and pipe) only with -v.
        Logger &logger = Logger::Instance();
        logger.SetLogLevel(options.verbose ? 3 : 0);
        if (options.verbose) logger.SetDebugMsgProc(&LogToStderr);
        source = OpenShareSource(view.share, hub);
    }
    if (!source) {
        std::fprintf(stderr, "kestcam view: %s\n", error.c_str());
        return kExitFailure;
    }

    ViewServer server(hub, *source);
    if (!server.Bind(view.host, view.listenPort, error)) {
        std::fprintf(stderr, "kestcam view: %s\n", error.c_str());
        source->Stop();
        return kExitFailure;
    }
    bool served = true;
    std::thread serving([&] {
        served = server.Serve();
        // Wakes the sigwait below when serving ends on its own.
        if (!served) kill(getpid(), SIGTERM);
    });
    std::printf("%s\n", ViewUrl(view.host, server.Port()).c_str());
    std::printf("kestcam view: %s; Ctrl-C stops\n", source->Description().c_str());
    std::fflush(stdout);

    int received = 0;
    sigwait(&stopSignals, &received);
    server.Stop();
    serving.join();
    source->Stop();
    source.reset();
    if (!served) {
        std::fprintf(stderr, "kestcam view: serving failed\n");
        return kExitFailure;
    }
    return kExitOk;
}

} // namespace kestcam::cli
