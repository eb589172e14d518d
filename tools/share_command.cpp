// share_command.cpp - `kestcam share watch NAME [--frames N] [--out DIR]`: a sharing client. It
// connects to a camera's share, prints the dimensions, shows frames/s while it runs, saves the
// frames it receives, and reports the frames received and skipped.
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "commands.h"
#include "driver/logger.h"
#include "image_writer.h"
#include "share/share_client.h"
#include "terminal.h"

namespace kestcam::cli {

namespace {

using Clock = std::chrono::steady_clock;

// A share that is not there yet, or busy with another client, is tried again for this long.
constexpr auto kConnectPatience = std::chrono::seconds(10);
constexpr auto kConnectRetry = std::chrono::milliseconds(50);
constexpr int kReplyTimeoutMs = 5000;
constexpr int kPollMs = 200;

volatile std::sig_atomic_t g_interrupted = 0;
void OnInterrupt(int) {
    g_interrupted = 1;
}

void KESTCAM_CDECL LogToStderr(const char *text) {
    std::fputs(text, stderr);
}

struct WatchArgs {
    std::string name;
    long frames = 0; // 0: until interrupted or the share ends
    std::string out;
};

bool ParseWatchArgs(const std::vector<std::string> &args, WatchArgs &parsed) {
    if (args.size() < 2 || args[0] != "watch") return false;
    parsed.name = args[1];
    for (size_t i = 2; i < args.size(); ++i) {
        const bool hasValue = i + 1 < args.size();
        if (args[i] == "--frames" && hasValue) {
            char *end = nullptr;
            parsed.frames = std::strtol(args[++i].c_str(), &end, 10);
            if (*end != '\0' || parsed.frames < 1) return false;
        } else if (args[i] == "--out" && hasValue) {
            parsed.out = args[++i];
        } else {
            return false;
        }
    }
    return !parsed.name.empty();
}

// PNG where the build has it; PGM or PPM otherwise.
std::string FrameFile(const std::string &dir, long n, int channels) {
    char name[64];
    std::snprintf(name, sizeof name, "frame-%06ld.%s", n, PngAvailable() ? "png" : channels == 3 ? "ppm" : "pgm");
    return dir + "/" + name;
}

} // namespace

int RunShare(const CommonOptions &options, const std::vector<std::string> &args) {
    WatchArgs watch;
    if (!ParseWatchArgs(args, watch)) {
        PrintUsageError("share");
        return kExitUsage;
    }
    // The share's own messages (segment and pipe) only with -v.
    Logger &logger = Logger::Instance();
    logger.SetLogLevel(options.verbose ? 3 : 0);
    if (options.verbose) logger.SetDebugMsgProc(&LogToStderr);

    ShareClient client;
    std::string error;
    const Clock::time_point giveUp = Clock::now() + kConnectPatience;
    while (!client.Connect(watch.name, kReplyTimeoutMs, error)) {
        if (Clock::now() >= giveUp || g_interrupted) {
            std::fprintf(stderr, "kestcam share watch: %s\n", error.c_str());
            return kExitFailure;
        }
        std::this_thread::sleep_for(kConnectRetry);
    }
    const ShareDimensions dims = client.Dimensions();
    std::printf("share %s: %dx%d, %s (format %d)\n", watch.name.c_str(), dims.width, dims.height,
                dims.format == kShareFormatBgr ? "blue-green-red" : "mono", dims.format);
    std::fflush(stdout);

    Image image;
    image.width = dims.width;
    image.height = dims.height;
    image.channels = ShareBytesPerPixel(dims.format);
    image.pixels.assign(client.FrameBytes(), 0);

    std::signal(SIGINT, OnInterrupt);
    const bool live = StderrIsTerminal();
    long received = 0;
    bool ended = false;
    std::string failure;
    const Clock::time_point start = Clock::now();
    Clock::time_point shown = start;
    while (!g_interrupted && (watch.frames == 0 || received < watch.frames)) {
        const ShareClient::Wait wait = client.WaitForFrame(kPollMs);
        if (wait == ShareClient::Wait::Disconnected) {
            ended = true;
            break;
        }
        if (wait == ShareClient::Wait::Frame) {
            if (!client.CopyFrame(image.pixels.data(), image.pixels.size())) {
                failure = "a frame could not be copied out of the segment";
                break;
            }
            ++received;
            if (!watch.out.empty() && !WriteImage(FrameFile(watch.out, received, image.channels), image, error)) {
                failure = error;
                break;
            }
        }
        const Clock::time_point now = Clock::now();
        if (live && now - shown >= std::chrono::milliseconds(500)) {
            const double seconds = std::chrono::duration<double>(now - start).count();
            std::fprintf(stderr, "\rframes: %ld, %.1f frames/s ", received,
                         seconds > 0 ? received / seconds : 0.0);
            std::fflush(stderr);
            shown = now;
        }
    }
    std::signal(SIGINT, SIG_DFL);
    if (live && shown != start) std::fprintf(stderr, "\n");
    client.Disconnect();

    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    std::printf("frames received: %ld, skipped: %ld (%.1f frames/s)\n", received, client.SkippedNotices(),
                seconds > 0 ? received / seconds : 0.0);
    if (!watch.out.empty() && received > 0) std::printf("frames saved in %s\n", watch.out.c_str());
    if (!failure.empty()) {
        std::fprintf(stderr, "kestcam share watch: %s\n", failure.c_str());
        return kExitFailure;
    }
    if (watch.frames > 0 && received < watch.frames && !g_interrupted) {
        std::fprintf(stderr, "kestcam share watch: the share %s after %ld of %ld frames\n",
                     ended ? "ended" : "stopped", received, watch.frames);
        return kExitFailure;
    }
    return kExitOk;
}

} // namespace kestcam::cli
