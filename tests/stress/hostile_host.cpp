// hostile_host.cpp - a host that loads the driver as any host does and calls every export with
// random arguments (null, negative, huge, reversed spans, unbound and reused ports, junk and
// overlong strings, callbacks that call back into the driver) in random order from several threads
// for a bounded time. Any crash, sanitizer report or hang fails it; the seed it prints replays the
// same choices.
//
// The host contract lets no other export run beside initialize, finalize and
// getCVLCameraConfigNames; this host keeps that one rule (a shared/exclusive lock) and breaks all
// the others it can reach.
//
// Usage: kestcam_hostile_host [--seconds N] [--calls N] [--threads N] [--seed N] [--driver PATH]
#include <fcntl.h>
#include <signal.h>
#include <strings.h>
#include <sys/file.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <map>
#include <mutex>
#include <random>
#include <shared_mutex>
#include <string>
#include <thread>
#include <vector>

#include "driver_library.h"
#include "support/temp_dir.h"

namespace {

using kestcam::cli::DriverExports;

const DriverExports *gDriver = nullptr;
std::shared_mutex gLifecycle; // exclusive: initialize, finalize, the names list
std::atomic<long long> gCalls{0};
std::atomic<long long> gLastProgress{0}; // steady-clock milliseconds of the last finished call
std::vector<std::string> gNames;         // camera names, read under the exclusive lock

// How often each export answered success: a run that never opens a camera tests little.
enum Counter { kOpened, kGrabbed, kRowsRead, kCompleted, kPropertySet, kCounters };
std::atomic<long long> gCount[kCounters];
void Count(Counter c, bool success) {
    if (success) gCount[c].fetch_add(1, std::memory_order_relaxed);
}
std::mutex gNamesMutex;

long long NowMs() {
    using namespace std::chrono;
    return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

void Finished() {
    gCalls.fetch_add(1, std::memory_order_relaxed);
    gLastProgress.store(NowMs(), std::memory_order_relaxed);
}

// Rows of the widest camera the simulator can be configured with, three bytes a pixel: the driver
// refuses every span beyond its own width, so a host buffer of this size is always large enough.
constexpr size_t kRowBytes = 65536 * 3 + 64;

// A callback runs on a driver thread; the nesting guard keeps a callback's own calls (which log
// and so call the log callback again) from recursing without end.
thread_local int tNesting = 0;

void KESTCAM_CDECL LogProc(const char *text) {
    if (text != nullptr) (void)std::strlen(text);
    // Every call below logs too (an unbound port, say): calling back on every message would make the
    // log the whole of the run.
    static thread_local unsigned seen = 0;
    if (tNesting > 1 || ++seen % 16 != 0) return;
    ++tNesting;
    (void)gDriver->getCVLMaxNoOfPorts();
    if (gDriver->getProperty != nullptr) {
        int value = 0;
        (void)gDriver->getProperty(0, 1, "continuous", &value);
    }
    --tNesting;
}

void KESTCAM_CDECL QuietLog(const char *) {}

void KESTCAM_CDECL CompleteReentrant(int grabberNo, int portNo) {
    Count(kCompleted, true);
    if (tNesting > 1) return;
    ++tNesting;
    static thread_local std::vector<unsigned char> row(kRowBytes);
    (void)gDriver->getCVLGrabRow(grabberNo, portNo, row.data(), 0, 0, 1);
    // The camera's own callback may not open or close it; the driver must refuse, not deadlock.
    gDriver->closeCVLPort(grabberNo, portNo);
    int geometry[2] = {0, 0};
    (void)gDriver->openCVLPort(grabberNo, portNo, "Camera 1", geometry);
    if (gDriver->setProperty != nullptr) (void)gDriver->setProperty(grabberNo, portNo, "continuous", 0);
    (void)gDriver->doCVLGrab(grabberNo, portNo);
    --tNesting;
}

void KESTCAM_CDECL CompleteQuiet(int, int) {
    Count(kCompleted, true);
}

class Chooser {
public:
    explicit Chooser(unsigned long long seed) : rng_(seed) {}

    int Below(int n) { return static_cast<int>(rng_() % static_cast<unsigned>(n)); }
    bool OneIn(int n) { return Below(n) == 0; }

    int AnyInt() {
        static const int kEdges[] = {0, 1, -1, 2, 7, 255, 256, 4127, 65535, INT_MAX, INT_MIN, INT_MAX - 1, -2};
        switch (Below(4)) {
        case 0:
            return kEdges[Below(sizeof kEdges / sizeof kEdges[0])];
        case 1:
            return static_cast<int>(rng_());
        default:
            return Below(2100) - 50;
        }
    }
    // A few ports, so that binds, reuses and look-ups of bound ports all happen.
    int Port() {
        static const int kPorts[] = {0, 1, 2, 3, 4, 19, 20, -1, INT_MAX, INT_MIN};
        return OneIn(8) ? AnyInt() : kPorts[Below(sizeof kPorts / sizeof kPorts[0])];
    }
    int Grabber() { return OneIn(4) ? AnyInt() : 0; }

    // Null, empty, junk, overlong, or one of the given names in a random letter case.
    const char *Text(const std::vector<std::string> &known, std::string &storage) {
        switch (Below(10)) {
        case 0:
            return nullptr;
        case 1:
            storage.clear();
            break;
        case 2:
            storage.assign(static_cast<size_t>(Below(300)), '\0');
            for (char &c : storage)
                c = static_cast<char>(1 + Below(255));
            break;
        case 3:
            storage.assign(static_cast<size_t>(70000 + Below(1000)), 'A' + static_cast<char>(Below(26)));
            break;
        default:
            if (known.empty()) return "Camera 1";
            storage = known[static_cast<size_t>(Below(static_cast<int>(known.size())))];
            if (OneIn(3))
                for (char &c : storage)
                    if (OneIn(2)) c = static_cast<char>(c ^ 0x20);
        }
        return storage.c_str();
    }

private:
    std::mt19937_64 rng_;
};

const std::vector<std::string> kProperties = {"PixelSize",
                                              "continuous",
                                              "continous",
                                              "StoreValue",
                                              "MdigControl",
                                              "MdigInquire",
                                              "ExposureTime",
                                              "LinePeriod",
                                              "ExposureMode",
                                              "Gain",
                                              "GainBalance",
                                              "DigitalOffset",
                                              "DigitalOffsetBalance",
                                              "BaslerPortAccessEnabled",
                                              "LogLevel",
                                              "LogIntoFile",
                                              "Use16bit",
                                              "Shift16bit",
                                              "UseLUT",
                                              "HeightMultiplier",
                                              "GrabTimeout",
                                              "Height",
                                              "Width",
                                              "Undefined"};

std::vector<std::string> Names() {
    std::lock_guard<std::mutex> lock(gNamesMutex);
    return gNames;
}

// Reads the names list; the exclusive lock is held by the caller.
void RefreshNames() {
    std::vector<std::string> names;
    char **list = gDriver->getCVLCameraConfigNames();
    for (int i = 0; list != nullptr && list[i] != nullptr && i < 1000; ++i)
        names.emplace_back(list[i]);
    names.push_back("Undefined");
    names.push_back("Camera 99");
    std::lock_guard<std::mutex> lock(gNamesMutex);
    gNames = std::move(names);
}

void Lifecycle(Chooser &choose, const std::string &systemPath) {
    std::unique_lock<std::shared_mutex> exclusive(gLifecycle);
    std::string storage;
    switch (choose.Below(5)) {
    case 0:
        (void)gDriver->finalize();
        Finished();
        [[fallthrough]];
    case 1:
        (void)gDriver->initialize(choose.OneIn(20) ? choose.Text({}, storage) : systemPath.c_str(),
                                  choose.OneIn(3) ? LogProc : (choose.OneIn(2) ? QuietLog : nullptr));
        break;
    case 2:
        (void)gDriver->finalize();
        break;
    default:
        break;
    }
    RefreshNames();
    Finished();
}

// Time spent in each kind of call, to tell where a run's time went.
const char *const kCallKinds[15] = {"openCVLPort",   "closeCVLPort",  "doCVLGrab",        "doCVLGrab",
                                    "getCVLGrabRow", "getCVLGrabRow", "getCVLGrabRow",    "setCompleteCallback",
                                    "setProperty",   "getProperty",   "getPropertyRange", "configureCamera",
                                    "small exports", "setSystemPath", "whole frames"};
std::atomic<long long> gKindNs[15];
std::atomic<long long> gKindMaxNs[15];

void Timed(int which, std::chrono::steady_clock::duration spent) {
    const long long ns = std::chrono::duration_cast<std::chrono::nanoseconds>(spent).count();
    gKindNs[which].fetch_add(ns, std::memory_order_relaxed);
    long long max = gKindMaxNs[which].load(std::memory_order_relaxed);
    while (ns > max && !gKindMaxNs[which].compare_exchange_weak(max, ns)) {
    }
}

void OneCall(Chooser &choose, std::vector<unsigned char> &row, const std::string &systemPath) {
    const std::vector<std::string> names = Names();
    std::string storage;
    const DriverExports &d = *gDriver;
    const int which = choose.Below(15);
    const auto started = std::chrono::steady_clock::now();
    switch (which) {
    case 0: {
        int geometry[2] = {-5, -5};
        Count(kOpened, d.openCVLPort(choose.Grabber(), choose.Port(), choose.Text(names, storage),
                                     choose.OneIn(10) ? nullptr : geometry) == 1);
        break;
    }
    case 1:
        d.closeCVLPort(choose.Grabber(), choose.Port());
        break;
    case 2:
    case 3:
        Count(kGrabbed, d.doCVLGrab(choose.Grabber(), choose.Port()) == 1);
        break;
    case 4:
    case 5:
    case 6: {
        int first = choose.OneIn(3) ? choose.AnyInt() : choose.Below(600);
        // A span near the first column, or anything at all (reversed and wrapping included).
        int last = choose.OneIn(3) ? choose.AnyInt()
                                   : static_cast<int>(static_cast<unsigned>(first) +
                                                      static_cast<unsigned>(choose.Below(3000)) - 100u);
        Count(kRowsRead,
              d.getCVLGrabRow(choose.Grabber(), choose.Port(), choose.OneIn(20) ? nullptr : row.data(),
                              choose.OneIn(4) ? choose.AnyInt() : choose.Below(4000), first, last) == 1);
        break;
    }
    case 7: {
        CompleteCallback callback =
            choose.OneIn(3) ? nullptr : (choose.OneIn(2) ? CompleteReentrant : CompleteQuiet);
        (void)d.setCompleteCallback(choose.Grabber(), choose.Port(), callback);
        break;
    }
    case 8:
        if (d.setProperty != nullptr) {
            const char *name = choose.Text(kProperties, storage);
            int value = choose.AnyInt();
            // Logging every row of every thread would only measure the log.
            if (name != nullptr && strcasecmp(name, "LogLevel") == 0) value = choose.Below(3);
            Count(kPropertySet, d.setProperty(choose.Grabber(), choose.Port(), name, value) == 1);
        }
        break;
    case 9:
        if (d.getProperty != nullptr) {
            int value = 0;
            (void)d.getProperty(choose.Grabber(), choose.Port(), choose.Text(kProperties, storage),
                                choose.OneIn(10) ? nullptr : &value);
        }
        break;
    case 10:
        if (d.getPropertyRange != nullptr) {
            int lo = 0;
            int hi = 0;
            const bool nulls = choose.OneIn(10);
            (void)d.getPropertyRange(choose.Grabber(), choose.Port(), choose.Text(kProperties, storage),
                                     nulls ? nullptr : &lo, nulls ? nullptr : &hi);
        }
        break;
    case 11:
        if (d.configureCamera != nullptr) (void)d.configureCamera(nullptr, choose.Text(names, storage));
        break;
    case 12:
        switch (choose.Below(5)) {
        case 0:
            (void)d.setHWTrigger();
            break;
        case 1:
            (void)d.getCVLMaxNoOfGrabbers();
            break;
        case 2:
            (void)d.getCVLMaxNoOfPorts();
            break;
        case 3:
            (void)d.getCVLNoOfSupportedCameras();
            break;
        default:
            d.setDebugMsgProc(choose.OneIn(2) ? LogProc : QuietLog);
            break;
        }
        break;
    case 13:
        (void)d.setSystemPath(choose.OneIn(20) ? choose.Text({}, storage) : systemPath.c_str());
        break;
    default: {
        // A whole frame read back as a host does after a grab.
        const int port = choose.Port();
        for (int r = 0; r < 64; ++r)
            Count(kRowsRead, d.getCVLGrabRow(0, port, row.data(), r, 0, 511) == 1);
        break;
    }
    }
    Timed(which, std::chrono::steady_clock::now() - started);
    Finished();
}

struct Options {
    double seconds = 10;
    long long calls = 0; // 0: no count limit
    int threads = 4;
    unsigned long long seed = 0;
    std::string driver;
};

bool ParseOptions(int argc, char **argv, Options &o) {
    o.seed = std::random_device{}();
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        auto next = [&]() -> const char * { return i + 1 < argc ? argv[++i] : nullptr; };
        const char *v = nullptr;
        if (a == "--seconds" && (v = next()))
            o.seconds = std::atof(v);
        else if (a == "--calls" && (v = next()))
            o.calls = std::atoll(v);
        else if (a == "--threads" && (v = next()))
            o.threads = std::max(1, std::atoi(v));
        else if (a == "--seed" && (v = next()))
            o.seed = std::strtoull(v, nullptr, 10);
        else if (a == "--driver" && (v = next()))
            o.driver = v;
        else {
            std::fprintf(stderr, "usage: kestcam_hostile_host [--seconds N] [--calls N] [--threads N] [--seed N] "
                                 "[--driver PATH]\n");
            return false;
        }
    }
    return true;
}

// Small frames so that grabs and whole-frame reads are many; a camera of each kind, and faults.
const char *kSimConfig = "[System 0]\nDevices = 0,1\nDigitizers = 3\n"
                         "[System 0 Digitizer 0]\nWidth = 512\nHeight = 64\n"
                         "[System 0 Digitizer 1]\nWidth = 300\nHeight = 40\nBits = 12\nGrabFailsAt = 5\n"
                         "[System 0 Digitizer 2]\nWidth = 256\nHeight = 32\nBands = 3\nFrameTimeMs = 2\n"
                         "[System 1]\nDescriptor = M_SYSTEM_HOST\n"
                         "[Faults]\nBufferLimit = 200\n";

// A camera loaded from a system path without its section (the host may name any) has the default
// port COM1, a real line of this machine where every read would wait out its time-out. The run
// holds the machine's first four lines itself, so the driver finds them in use and fails at once.
class RealSerialPortsHeld {
public:
    RealSerialPortsHeld() {
        for (int n = 0; n < 4; ++n) {
            const std::string device = "/dev/ttyS" + std::to_string(n);
            const int fd = open(device.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
            if (fd < 0) continue;
            if (flock(fd, LOCK_EX | LOCK_NB) == 0)
                fds_.push_back(fd);
            else
                close(fd);
        }
    }
    ~RealSerialPortsHeld() {
        for (int fd : fds_)
            close(fd);
    }

private:
    std::vector<int> fds_;
};

// The command-line host's simulated serial camera (`kestcam camsim`) on a pseudo-terminal, for as
// long as the run lasts. Its output goes to a file: it prints a line per frame, and a pipe nobody
// reads would stop it.
class SimulatedCamera {
public:
    SimulatedCamera(const std::string &kestcam, const std::string &output) : output_(output) {
        if (access(kestcam.c_str(), X_OK) != 0) return;
        pid_ = fork();
        if (pid_ == 0) {
            const int fd = open(output.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
            if (fd >= 0) {
                dup2(fd, 1);
                dup2(fd, 2);
            }
            // It ends with this process, however this process ends.
            prctl(PR_SET_PDEATHSIG, SIGTERM);
            execl(kestcam.c_str(), kestcam.c_str(), "camsim", static_cast<char *>(nullptr));
            _exit(127);
        }
        // Its first line names the terminal; a bounded wait, then the run goes on without it.
        for (int i = 0; i < 100 && pid_ > 0 && device_.empty(); ++i) {
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
            std::string text = kestcam::test::TempDir::Read(output);
            const size_t end = text.find('\n');
            if (end != std::string::npos) device_ = text.substr(0, end);
        }
        std::printf("hostile host: simulated serial camera %s\n",
                    device_.empty() ? "not running" : device_.c_str());
    }
    ~SimulatedCamera() {
        if (pid_ <= 0) return;
        kill(pid_, SIGTERM);
        waitpid(pid_, nullptr, 0);
    }
    const std::string &Device() const { return device_; }
    // Frames the camera received so far: a line each after the first.
    long long Frames() const {
        if (device_.empty()) return 0;
        const std::string text = kestcam::test::TempDir::Read(output_);
        return std::max<long long>(0, static_cast<long long>(std::count(text.begin(), text.end(), '\n')) - 1);
    }

private:
    std::string output_;
    pid_t pid_ = -1;
    std::string device_;
};

} // namespace

int main(int argc, char **argv) {
    Options options;
    if (!ParseOptions(argc, argv, options)) return 2;
    std::printf("hostile host: seed %llu, %d threads, %.0f s%s\n", options.seed, options.threads, options.seconds,
                options.calls > 0 ? (", at most " + std::to_string(options.calls) + " calls").c_str() : "");
    std::fflush(stdout);

    // Every close and every geometry property saves the settings file with an fsync; on a memory
    // file system that costs nothing, and the calls measure the driver instead of the disk.
    if (std::getenv("TMPDIR") == nullptr && access("/dev/shm", W_OK) == 0) setenv("TMPDIR", "/dev/shm", 1);
    kestcam::test::TempDir dir;
    const std::string systemPath = dir.Str();
    setenv("KESTCAM_SIM_CONFIG", dir.Write("sim.ini", kSimConfig).c_str(), 1);
    setenv("KESTCAM_MIL", "sim", 1);
    kestcam::cli::DriverLibrary library;
    std::string error;
    if (!library.Load(options.driver.empty() ? kestcam::cli::DriverLibrary::DefaultPath() : options.driver,
                      error)) {
        std::fprintf(stderr, "hostile host: %s\n", error.c_str());
        return 1;
    }
    gDriver = &library.Exports();
    const std::string driverPath =
        options.driver.empty() ? kestcam::cli::DriverLibrary::DefaultPath() : options.driver;
    RealSerialPortsHeld realPorts;
    SimulatedCamera camsim(driverPath.substr(0, driverPath.find_last_of('/') + 1) + "kestcam",
                           dir.File("camsim.out"));
    {
        std::unique_lock<std::shared_mutex> exclusive(gLifecycle);
        (void)gDriver->initialize(systemPath.c_str(), QuietLog);
        RefreshNames();
        // Settings the random calls cannot reach: the cameras' serial line. Most share one simulated
        // camera (the port is process-wide, so they contend for it); the others name no device, one
        // a directory, and fail at once.
        std::string ini;
        int n = 0;
        for (const std::string &name : Names()) {
            const int kind = n++ % 4;
            const std::string port = kind == 0 ? "/nonexistent/tty" : kind == 1 ? systemPath : camsim.Device();
            ini += "[" + name + "]\nBaslerPort=" + (port.empty() ? "/nonexistent/tty" : port) + "\n";
        }
        dir.Write("Kest.ini", ini);
    }

    const auto deadline = std::chrono::steady_clock::now() + std::chrono::duration<double>(options.seconds);
    auto more = [&] {
        return std::chrono::steady_clock::now() < deadline &&
               (options.calls <= 0 || gCalls.load(std::memory_order_relaxed) < options.calls);
    };
    gLastProgress = NowMs();
    std::vector<std::thread> threads;
    for (int t = 0; t < options.threads; ++t) {
        threads.emplace_back([&, t] {
            Chooser choose(options.seed * 1000003ULL + static_cast<unsigned long long>(t));
            std::vector<unsigned char> row(kRowBytes);
            while (more()) {
                if (choose.OneIn(2000)) {
                    Lifecycle(choose, systemPath);
                    continue;
                }
                std::shared_lock<std::shared_mutex> shared(gLifecycle);
                OneCall(choose, row, systemPath);
            }
        });
    }

    // No call may take longer than the longest wait the driver owns: a grab time-out of a minute,
    // and a camera close that waits for its thread.
    constexpr long long kHangMs = 90000;
    std::atomic<bool> done{false};
    std::thread watchdog([&] {
        while (!done.load()) {
            std::this_thread::sleep_for(std::chrono::milliseconds(200));
            if (NowMs() - gLastProgress.load() > kHangMs) {
                std::fprintf(stderr, "hostile host: no call finished for %lld s (seed %llu)\n", kHangMs / 1000,
                             options.seed);
                std::fflush(stderr);
                std::abort();
            }
        }
    });
    for (std::thread &t : threads)
        t.join();
    done = true;
    watchdog.join();
    {
        std::unique_lock<std::shared_mutex> exclusive(gLifecycle);
        gDriver->setDebugMsgProc(nullptr);
        (void)gDriver->finalize();
    }
    std::printf("hostile host: accepted: %lld opens, %lld grabs (%lld completed), %lld rows, %lld property sets\n",
                gCount[kOpened].load(), gCount[kGrabbed].load(), gCount[kCompleted].load(),
                gCount[kRowsRead].load(), gCount[kPropertySet].load());
    std::map<std::string, std::pair<long long, long long>> byExport;
    for (int k = 0; k < 15; ++k) {
        auto &[total, max] = byExport[kCallKinds[k]];
        total += gKindNs[k].load();
        max = std::max(max, gKindMaxNs[k].load());
    }
    std::printf("hostile host: the simulated serial camera received %lld frames\n", camsim.Frames());
    std::printf("hostile host: time in calls (total ms / longest ms):");
    for (const auto &[name, times] : byExport)
        std::printf(" %s %lld/%lld;", name.c_str(), times.first / 1000000, times.second / 1000000);
    std::printf("\n");
    std::printf("hostile host: %lld calls, seed %llu: no crash, no hang\n", gCalls.load(), options.seed);
    return 0;
}
