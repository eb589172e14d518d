// soak.cpp - cameras opened, grabbed, read, closed and the driver finalized, cycle after cycle, with
// faults injected at random through the simulated imaging library. Every accepted grab must end in
// its completion callback or in the driver's report of the failure; memory in use and open file
// descriptors after the last cycle must equal those after the first.
//
// Usage: kestcam_soak [--cycles N] [--seconds N] [--seed N] [--driver PATH]
//   a cycle opens every camera once; the run ends at whichever limit comes first.
#include <unistd.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <map>
#include <mutex>
#include <new>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "driver_library.h"
#include "share/share_client.h"
#include "support/temp_dir.h"

namespace {

using kestcam::cli::DriverExports;

struct CameraKind {
    const char *name;
    int width;
    int height;
    int bytesPerPixel;
};
const CameraKind kCameras[] = {{"Camera 1", 512, 64, 1}, {"Camera 2", 300, 40, 1}, {"Camera 3", 256, 32, 3}};
constexpr int kCameraCount = 3;

// What the driver says about each port's grabs: completions and reported failures.
class GrabOutcomes {
public:
    // Every port's counters exist before the first cycle ends, so they do not count as growth.
    GrabOutcomes() {
        for (int port = 1; port <= kCameraCount; ++port)
            counts_[port];
    }
    void Completed(int port) { Add(port, &Counts::completed); }
    void Failed(int port) { Add(port, &Counts::failed); }
    int Ended(int port) {
        std::lock_guard<std::mutex> lock(mutex_);
        return counts_[port].completed + counts_[port].failed;
    }
    int Completions(int port) {
        std::lock_guard<std::mutex> lock(mutex_);
        return counts_[port].completed;
    }
    // Waits until port has seen `ended` outcomes; false after the time-out.
    bool WaitEnded(int port, int ended, std::chrono::milliseconds timeout) {
        std::unique_lock<std::mutex> lock(mutex_);
        return changed_.wait_for(lock, timeout,
                                 [&] { return counts_[port].completed + counts_[port].failed >= ended; });
    }

private:
    struct Counts {
        int completed = 0;
        int failed = 0;
    };
    void Add(int port, int Counts::*field) {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            ++(counts_[port].*field);
        }
        changed_.notify_all();
    }
    std::mutex mutex_;
    std::condition_variable changed_;
    std::map<int, Counts> counts_;
};

GrabOutcomes gOutcomes;

void KESTCAM_CDECL OnComplete(int, int portNo) {
    gOutcomes.Completed(portNo);
}

// The failure of an accepted grab is reported once, at level 3, naming its port.
void KESTCAM_CDECL OnLog(const char *text) {
    static const char kFailed[] = "grab failed, no completion on port=";
    const char *at = text != nullptr ? std::strstr(text, kFailed) : nullptr;
    if (at != nullptr) gOutcomes.Failed(std::atoi(at + sizeof kFailed - 1));
}

size_t OpenDescriptors() {
    size_t n = 0;
    for (const auto &entry : std::filesystem::directory_iterator("/proc/self/fd")) {
        (void)entry;
        ++n;
    }
    return n;
}

// Bytes the program and the driver hold through operator new, as requested: the driver's own
// objects. (malloc's own figures also count blocks parked in per-thread caches and the slack of
// each block, which come and go with the heap's history.)
std::atomic<long long> gLiveBytes{0};

size_t HeapInUse() {
    return static_cast<size_t>(gLiveBytes.load());
}

// A random configuration of the simulated boards: the same three cameras, different faults. The
// first cycle meets the faults that change what the driver and the simulator keep for the rest of
// the process (the process-wide fallback to single-frame grabs; the simulator's pool of buffer
// objects, which grows to the most buffers ever held at once), so both are in place before the
// first measurement.
std::string RandomConfig(std::mt19937_64 &rng, bool first, bool &timeouts) {
    auto below = [&](int n) { return static_cast<int>(rng() % static_cast<unsigned>(n)); };
    std::string text = "[System 0]\nDigitizers = 3\n";
    if (first) {
        timeouts = true;
        return text + "[System 0 Digitizer 0]\nWidth = 512\nHeight = 64\nProcessFails = 1\n"
                      "[System 0 Digitizer 1]\nWidth = 300\nHeight = 40\nBits = 12\nGrabFailsAt = 2\n"
                      "FrameTimeMs = 40\n"
                      "[System 0 Digitizer 2]\nWidth = 256\nHeight = 32\nBands = 3\n"
                      "[System 1]\nDescriptor = M_SYSTEM_HOST\n[Faults]\n";
    }
    timeouts = below(6) == 0;
    for (int k = 0; k < kCameraCount; ++k) {
        const CameraKind &c = kCameras[k];
        text += "[System 0 Digitizer " + std::to_string(k) + "]\nWidth = " + std::to_string(c.width) +
                "\nHeight = " + std::to_string(c.height) + "\n";
        if (c.bytesPerPixel == 3) text += "Bands = 3\n";
        if (k == 1) text += "Bits = 12\n";
        if (below(4) == 0) text += "ProcessFails = 1\n";
        if (below(3) == 0) text += "GrabFailsAt = " + std::to_string(1 + below(4)) + "\n";
        // Frames slower than the grab time-out the cameras are given below.
        if (timeouts && k == 1) text += "FrameTimeMs = 40\n";
    }
    text += "[System 1]\nDescriptor = M_SYSTEM_HOST\n[Faults]\n";
    if (below(5) == 0) text += "BufferLimit = " + std::to_string(1 + below(6)) + "\n";
    return text;
}

// Simulated serial cameras (`kestcam camsim`, beside the driver), one per kind of line: a camera
// that answers, one that garbles its answers, one that acknowledges wrongly, one that says nothing.
class SerialCameras {
public:
    enum Kind { kGood, kGarbling, kWrongAck, kSilent, kKinds };

    SerialCameras(const std::string &kestcam, const kestcam::test::TempDir &dir) {
        static const char *const kFaults[kKinds] = {"", "BadChecksum = 1\n", "AckByte = 21\n", "NoAnswer = 1\n"};
        for (int k = 0; k < kKinds && access(kestcam.c_str(), X_OK) == 0; ++k) {
            const std::string config =
                dir.Write("camsim" + std::to_string(k) + ".ini", std::string("[Faults]\n") + kFaults[k]);
            const std::string output = dir.File("camsim" + std::to_string(k) + ".out");
            const pid_t pid = fork();
            if (pid == 0) {
                const int fd = open(output.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
                if (fd >= 0) {
                    dup2(fd, 1);
                    dup2(fd, 2);
                }
                // It ends with this process, however this process ends.
                prctl(PR_SET_PDEATHSIG, SIGTERM);
                execl(kestcam.c_str(), kestcam.c_str(), "camsim", "--config", config.c_str(),
                      static_cast<char *>(nullptr));
                _exit(127);
            }
            pids_.push_back(pid);
            for (int i = 0; i < 100 && devices_[k].empty(); ++i) {
                std::this_thread::sleep_for(std::chrono::milliseconds(50));
                const std::string text = kestcam::test::TempDir::Read(output);
                if (text.find('\n') != std::string::npos) devices_[k] = text.substr(0, text.find('\n'));
            }
        }
    }
    ~SerialCameras() {
        for (pid_t pid : pids_)
            kill(pid, SIGTERM);
        for (pid_t pid : pids_)
            waitpid(pid, nullptr, 0);
    }
    bool Running() const { return !devices_[kSilent].empty(); }
    const std::string &Device(Kind kind) const { return devices_[kind]; }

private:
    std::vector<pid_t> pids_;
    std::string devices_[kKinds];
};

// A client of the camera's share that comes, reads, stalls or vanishes; it runs on its own thread
// while the camera grabs, and stops when told, before or after the camera closes.
class ShareVisitor {
public:
    enum Behaviour { kReader, kStaller, kVanisher, kMutexHolder, kBehaviours };

    ShareVisitor(const std::string &name, Behaviour behaviour)
        : thread_([this, name, behaviour] { Run(name, behaviour); }) {
        std::unique_lock<std::mutex> lock(mutex_);
        changed_.wait_for(lock, std::chrono::seconds(5), [&] { return started_; });
    }
    ~ShareVisitor() { Stop(); }
    void Stop() {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            stop_ = true;
        }
        changed_.notify_all();
        if (thread_.joinable()) thread_.join();
    }
    long Frames() const { return frames_; }

private:
    bool Stopping(std::chrono::milliseconds wait) {
        std::unique_lock<std::mutex> lock(mutex_);
        return changed_.wait_for(lock, wait, [&] { return stop_; });
    }
    void Started() {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            started_ = true;
        }
        changed_.notify_all();
    }
    void Run(const std::string &name, Behaviour behaviour) {
        kestcam::ShareClient client;
        std::string error;
        const bool connected = client.Connect(name, 2000, error);
        Started();
        if (!connected) return;
        std::vector<unsigned char> frame(client.FrameBytes());
        switch (behaviour) {
        case kReader:
            while (!Stopping(std::chrono::milliseconds(0)))
                if (client.WaitForFrame(100) == kestcam::ShareClient::Wait::Frame &&
                    client.CopyFrame(frame.data(), frame.size()))
                    ++frames_;
            break;
        case kStaller: // connected, and never reads another message
            Stopping(std::chrono::seconds(60));
            break;
        case kVanisher: // one frame, then gone without a word
            if (client.WaitForFrame(500) == kestcam::ShareClient::Wait::Frame) ++frames_;
            break;
        default: // holds the segment's mutex most of the time
            while (!Stopping(std::chrono::milliseconds(2))) {
                if (!client.Segment().Lock()) break;
                Stopping(std::chrono::milliseconds(20));
                client.Segment().Unlock();
            }
            break;
        }
        client.Disconnect();
    }

    std::mutex mutex_;
    std::condition_variable changed_;
    bool started_ = false;
    bool stop_ = false;
    std::atomic<long> frames_{0};
    std::thread thread_;
};

struct Options {
    long long cycles = 100;
    double seconds = 1e9;
    unsigned long long seed = 0;
    std::string driver;
};

bool ParseOptions(int argc, char **argv, Options &o) {
    o.seed = std::random_device{}();
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        const char *v = i + 1 < argc ? argv[i + 1] : nullptr;
        if (v == nullptr) return false;
        ++i;
        if (a == "--cycles")
            o.cycles = std::atoll(v);
        else if (a == "--seconds")
            o.seconds = std::atof(v);
        else if (a == "--seed")
            o.seed = std::strtoull(v, nullptr, 10);
        else if (a == "--driver")
            o.driver = v;
        else
            return false;
    }
    return true;
}

// The serial layer writes every failed exchange to the standard error stream; during the cycles
// that goes to a file of the run, and the soak's own verdict to the stream it was given.
int gVerdictFd = 2;

int Fail(const char *what, unsigned long long seed) {
    const std::string text = std::string("soak: FAILED: ") + what + " (seed " + std::to_string(seed) + ")\n";
    if (write(gVerdictFd, text.data(), text.size()) < 0) return 1;
    return 1;
}

} // namespace

// Every block carries its requested size in front of it (malloc's usable size of the same request
// varies with what the heap had free).
constexpr size_t kHeader = alignof(std::max_align_t);

void *operator new(size_t size) {
    void *block = std::malloc(size + kHeader);
    if (block == nullptr) throw std::bad_alloc();
    *static_cast<size_t *>(block) = size;
    gLiveBytes.fetch_add(static_cast<long long>(size), std::memory_order_relaxed);
    return static_cast<char *>(block) + kHeader;
}
void *operator new[](size_t size) {
    return operator new(size);
}
void *operator new(size_t size, const std::nothrow_t &) noexcept {
    try {
        return operator new(size);
    } catch (...) {
        return nullptr;
    }
}
void *operator new[](size_t size, const std::nothrow_t &tag) noexcept {
    return operator new(size, tag);
}
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic ignored "-Wmismatched-new-delete" // the block came from malloc above
#pragma GCC diagnostic ignored "-Warray-bounds"          // the size header lies before the pointer
#endif
void operator delete(void *p) noexcept {
    if (p == nullptr) return;
    void *block = static_cast<char *>(p) - kHeader;
    gLiveBytes.fetch_sub(static_cast<long long>(*static_cast<size_t *>(block)), std::memory_order_relaxed);
    std::free(block);
}
void operator delete[](void *p) noexcept {
    operator delete(p);
}
void operator delete(void *p, size_t) noexcept {
    operator delete(p);
}
void operator delete[](void *p, size_t) noexcept {
    operator delete(p);
}

int main(int argc, char **argv) {
    Options options;
    if (!ParseOptions(argc, argv, options)) {
        std::fprintf(stderr, "usage: kestcam_soak [--cycles N] [--seconds N] [--seed N] [--driver PATH]\n");
        return 2;
    }
    std::printf("soak: seed %llu, up to %lld cycles\n", options.seed, options.cycles);
    std::fflush(stdout);
    std::mt19937_64 rng(options.seed);

    // Every close saves the settings file with an fsync; on a memory file system that costs nothing
    // and the cycles measure the driver instead of the disk.
    if (std::getenv("TMPDIR") == nullptr && access("/dev/shm", W_OK) == 0) setenv("TMPDIR", "/dev/shm", 1);
    kestcam::test::TempDir dir;
    const std::string systemPath = dir.Str();
    const std::string configFile = dir.File("sim.ini");
    setenv("KESTCAM_SIM_CONFIG", configFile.c_str(), 1);
    setenv("KESTCAM_MIL", "sim", 1);
    const std::string driverPath =
        options.driver.empty() ? kestcam::cli::DriverLibrary::DefaultPath() : options.driver;
    SerialCameras serial(driverPath.substr(0, driverPath.find_last_of('/') + 1) + "kestcam", dir);
    const std::string shareName = "kestcam-soak-" + std::to_string(getpid());
    // Failed grabs are reported at level 3; stacks of two frames exercise the sequence and the
    // per-buffer fallback alike. Camera 1 shares its frames; the others talk to serial cameras of
    // every kind (a silent one rarely: each of its reads waits out the time-out).
    auto settingsFor = [&](bool first) {
        std::string text;
        for (int k = 0; k < kCameraCount; ++k) {
            text += std::string("[") + kCameras[k].name + "]\nLogLevel=3\nHeightMultiplier=2\nGrabTimeout=6000\n";
            if (k == 0) text += "ShareCamera=1\nShareName=" + shareName + "\n";
            if (k == 0 || !serial.Running()) continue;
            SerialCameras::Kind kind = SerialCameras::kGood;
            if (!first && k == 1)
                kind = static_cast<SerialCameras::Kind>(rng() % 30 == 0 ? int{SerialCameras::kSilent}
                                                                        : static_cast<int>(rng() % 3));
            text += "BaslerPortAccessEnabled=1\nBaslerPort=" + serial.Device(kind) +
                    "\nUseExposureTime=1\nUseLinePeriod=1\nUseGain=1\nUseExposureMode=1\nExposureTime=" +
                    std::to_string(rng() % 20000) + "\n";
        }
        return text;
    };
    long long sharedFrames = 0;

    kestcam::cli::DriverLibrary library;
    std::string error;
    if (!library.Load(driverPath, error)) {
        std::fprintf(stderr, "soak: %s\n", error.c_str());
        return 1;
    }
    const DriverExports &d = library.Exports();
    std::fflush(stderr);
    gVerdictFd = dup(2);
    const int serialErrors = open(dir.File("stderr.txt").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    if (gVerdictFd < 0 || serialErrors < 0 || dup2(serialErrors, 2) < 0)
        return Fail("cannot redirect stderr", options.seed);
    close(serialErrors);
    std::vector<unsigned char> row(512 * 3);

    const auto deadline = std::chrono::steady_clock::now() + std::chrono::duration<double>(options.seconds);
    size_t fdsAfterFirst = 0;
    size_t heapAfterFirst = 0;
    long long cycles = 0;
    long long accepted = 0;
    long long completed = 0;
    long long failed = 0;
    long long refusedOpens = 0;
    while (cycles < options.cycles && std::chrono::steady_clock::now() < deadline) {
        bool timeouts = false;
        dir.Write("sim.ini", RandomConfig(rng, cycles == 0, timeouts));
        dir.Write("Kest.ini", settingsFor(cycles == 0));
        if (d.initialize(systemPath.c_str(), OnLog) != 1) return Fail("initialize", options.seed);

        for (int k = 0; k < kCameraCount; ++k) {
            const int port = 1 + k;
            int geometry[2] = {0, 0};
            if (d.openCVLPort(0, port, kCameras[k].name, geometry) != 1) {
                // A buffer limit below the ring refuses the open; the port must still close cleanly.
                ++refusedOpens;
                d.closeCVLPort(0, port);
                continue;
            }
            if (timeouts && d.setProperty != nullptr) {
                // A 10 ms grab time-out for 40 ms frames: every grab times out and is reported.
                d.setProperty(0, port, "StoreValue", 10);
                d.setProperty(0, port, "MdigControl", 4127);
            }
            (void)d.setCompleteCallback(0, port, OnComplete);
            // The first cycle meets every kind of client, so what the share sets up once is there.
            std::unique_ptr<ShareVisitor> visitor;
            if (k == 0 && (cycles == 0 || rng() % 5 != 0))
                visitor = std::make_unique<ShareVisitor>(
                    shareName,
                    static_cast<ShareVisitor::Behaviour>(cycles == 0 ? 0 : rng() % ShareVisitor::kBehaviours));
            for (int g = 0; g < 3; ++g) {
                const int before = gOutcomes.Ended(port);
                const int completionsBefore = gOutcomes.Completions(port);
                if (d.doCVLGrab(0, port) != 1) return Fail("a grab of an idle camera was refused", options.seed);
                ++accepted;
                if (!gOutcomes.WaitEnded(port, before + 1, std::chrono::seconds(30)))
                    return Fail("an accepted grab neither completed nor was reported", options.seed);
                if (gOutcomes.Completions(port) == completionsBefore) {
                    ++failed;
                    continue;
                }
                ++completed;
                const int last = kCameras[k].width - 1;
                for (int r = 0; r < geometry[1]; ++r)
                    if (d.getCVLGrabRow(0, port, row.data(), r, 0, last) != 1)
                        return Fail("a row of a completed grab was refused", options.seed);
            }
            // Half the clients leave before the camera closes, half are still there when it does.
            if (visitor && rng() % 2 == 0) visitor->Stop();
            d.closeCVLPort(0, port);
            if (visitor) {
                visitor->Stop();
                sharedFrames += visitor->Frames();
            }
        }
        if (d.finalize() != 1) return Fail("finalize", options.seed);
        ++cycles;
        if (cycles == 1) {
            fdsAfterFirst = OpenDescriptors();
            heapAfterFirst = HeapInUse();
        }
    }
    const size_t fdsAtEnd = OpenDescriptors();
    std::fflush(stderr);
    dup2(gVerdictFd, 2);
    const size_t heapAtEnd = HeapInUse();
    std::printf(
        "soak: %lld cycles, %lld camera cycles (%lld opens refused by buffer limits), %lld grabs accepted: "
        "%lld completed, %lld reported failed\n",
        cycles, cycles * kCameraCount - refusedOpens, refusedOpens, accepted, completed, failed);
    std::printf("soak: %lld frames received by sharing clients; serial cameras %s\n", sharedFrames,
                serial.Running() ? "good, garbling, wrongly acknowledging and silent" : "not running");
    std::printf("soak: descriptors after the first cycle %zu, at the end %zu; bytes in use %zu, at the end %zu\n",
                fdsAfterFirst, fdsAtEnd, heapAfterFirst, heapAtEnd);
    if (fdsAtEnd != fdsAfterFirst) return Fail("open file descriptors grew", options.seed);
    if (heapAtEnd > heapAfterFirst) return Fail("memory in use grew", options.seed);
    std::printf("soak: seed %llu: no leak, every grab accounted for\n", options.seed);
    return 0;
}
