// grab_command.cpp - `kestcam grab`: open a camera, grab N times, read every row, write the last image
// and print a summary of the throughput and the doCVLGrab -> callback latency.
#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "commands.h"
#include "host_session.h"
#include "image_writer.h"
#include "terminal.h"

namespace kestcam::cli {

namespace {

using Clock = std::chrono::steady_clock;

// The completion callback carries no user data: it signals this process-wide state.
struct Completion {
    std::mutex mutex;
    std::condition_variable done;
    int count = 0;
    Clock::time_point when;
};
Completion g_completion;

void KESTCAM_CDECL OnComplete(int, int) {
    {
        std::lock_guard<std::mutex> lock(g_completion.mutex);
        ++g_completion.count;
        g_completion.when = Clock::now();
    }
    g_completion.done.notify_all();
}

bool ParseInt(const std::string &text, int &out) {
    char *end = nullptr;
    long v = std::strtol(text.c_str(), &end, 10);
    if (text.empty() || *end != '\0' || v < -2147483647L || v > 2147483647L) return false;
    out = static_cast<int>(v);
    return true;
}

struct GrabArgs {
    std::string camera;
    int port = 0;
    int grabs = 1;
    int intervalMs = 0; // pause after each image, as a host that processes it
    std::string out;
};

bool ParseGrabArgs(const std::vector<std::string> &args, GrabArgs &parsed) {
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string &a = args[i];
        const bool hasValue = i + 1 < args.size();
        if (a == "--camera" && hasValue) {
            parsed.camera = args[++i];
        } else if (a == "--port" && hasValue) {
            if (!ParseInt(args[++i], parsed.port)) return false;
        } else if (a == "--grabs" && hasValue) {
            if (!ParseInt(args[++i], parsed.grabs) || parsed.grabs < 1) return false;
        } else if (a == "--interval" && hasValue) {
            if (!ParseInt(args[++i], parsed.intervalMs) || parsed.intervalMs < 0) return false;
        } else if (a == "--out" && hasValue) {
            parsed.out = args[++i];
        } else {
            return false;
        }
    }
    return !parsed.camera.empty();
}

double Median(std::vector<double> values) {
    if (values.empty()) return 0.0;
    std::sort(values.begin(), values.end());
    const size_t n = values.size();
    return n % 2 ? values[n / 2] : 0.5 * (values[n / 2 - 1] + values[n / 2]);
}

} // namespace

int RunGrab(const CommonOptions &options, const std::vector<std::string> &args) {
    GrabArgs grab;
    if (!ParseGrabArgs(args, grab)) {
        PrintUsageError("grab");
        return kExitUsage;
    }
    HostSession session(options);
    if (!session.Start()) return kExitFailure;
    const DriverExports &d = session.Driver();
    if (d.openCVLPort == nullptr || d.doCVLGrab == nullptr || d.getCVLGrabRow == nullptr ||
        d.setCompleteCallback == nullptr || d.closeCVLPort == nullptr) {
        std::fprintf(stderr, "kestcam grab: the driver lacks the acquisition exports\n");
        return kExitFailure;
    }

    int geometry[2] = {0, 0};
    if (d.openCVLPort(0, grab.port, grab.camera.c_str(), geometry) != 1) {
        std::fprintf(stderr, "kestcam grab: cannot open '%s' on port %d (run with -v for the driver's reason)\n",
                     grab.camera.c_str(), grab.port);
        return kExitFailure;
    }
    Image image;
    image.width = geometry[0];
    image.height = geometry[1];
    d.setCompleteCallback(0, grab.port, &OnComplete);
    image.channels = CameraBytesPerPixel(d, grab.port, image.width);
    const size_t stride = static_cast<size_t>(image.width) * image.channels;
    image.pixels.assign(stride * static_cast<size_t>(image.height), 0);

    ProgressBar progress(grab.grabs);
    std::vector<double> latenciesMs;
    int failed = 0;
    const Clock::time_point start = Clock::now();
    for (int n = 0; n < grab.grabs && failed == 0; ++n) {
        int before;
        {
            std::lock_guard<std::mutex> lock(g_completion.mutex);
            before = g_completion.count;
        }
        const Clock::time_point requested = Clock::now();
        if (d.doCVLGrab(0, grab.port) != 1) {
            std::fprintf(stderr, "\nkestcam grab: grab %d was refused\n", n + 1);
            failed = 1;
            break;
        }
        std::unique_lock<std::mutex> lock(g_completion.mutex);
        // A grab that fails produces no callback; the driver's longest grab time-out is 60 s per frame.
        if (!g_completion.done.wait_for(lock, std::chrono::seconds(120),
                                        [&] { return g_completion.count > before; })) {
            std::fprintf(stderr, "\nkestcam grab: no completion for grab %d (run with -v for the reason)\n", n + 1);
            failed = 1;
            break;
        }
        latenciesMs.push_back(std::chrono::duration<double, std::milli>(g_completion.when - requested).count());
        lock.unlock();
        for (int row = 0; row < image.height; ++row) {
            if (d.getCVLGrabRow(0, grab.port, image.pixels.data() + stride * row, row, 0, image.width - 1) != 1) {
                std::fprintf(stderr, "\nkestcam grab: row %d could not be read\n", row);
                failed = 1;
                break;
            }
        }
        progress.Update(n + 1);
        if (grab.intervalMs > 0) std::this_thread::sleep_for(std::chrono::milliseconds(grab.intervalMs));
    }
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    progress.Finish();
    d.setCompleteCallback(0, grab.port, nullptr);
    d.closeCVLPort(0, grab.port);
    if (failed) return kExitFailure;

    const int done = static_cast<int>(latenciesMs.size());
    const double bytes = static_cast<double>(stride) * image.height * done;
    std::printf("grabs: %d of %dx%d%s\n", done, image.width, image.height, image.channels == 3 ? " (BGR)" : "");
    std::printf("images/s: %.1f\n", seconds > 0 ? done / seconds : 0.0);
    std::printf("MB/s: %.1f\n", seconds > 0 ? bytes / seconds / 1e6 : 0.0);
    std::printf("callback latency (doCVLGrab -> callback), median: %.3f ms\n", Median(latenciesMs));

    if (!grab.out.empty()) {
        std::string error;
        if (!WriteImage(grab.out, image, error)) {
            std::fprintf(stderr, "kestcam grab: %s\n", error.c_str());
            return kExitFailure;
        }
        std::printf("image: %s\n", grab.out.c_str());
    }
    return kExitOk;
}

} // namespace kestcam::cli
