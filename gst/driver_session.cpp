// driver_session.cpp - one driver per process behind the elements, its log and its callbacks.
#include "driver_session.h"

#include <chrono>
#include <map>
#include <thread>

GST_DEBUG_CATEGORY_STATIC(kestcamsrc_debug);
#define GST_CAT_DEFAULT kestcamsrc_debug

namespace kestcam::gst {

namespace {

// Tells the processor that this thread only waits for another's write.
inline void Pause() {
#if defined(__x86_64__) || defined(__i386__)
    __builtin_ia32_pause();
#elif defined(__aarch64__)
    asm volatile("yield");
#endif
}

} // namespace

void CompletionWaiter::Complete() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        // The stamp is taken here, as the image completes, not when the streaming thread wakes.
        last_ = clock_ != nullptr ? gst_clock_get_time(clock_) : GST_CLOCK_TIME_NONE;
        ++completed_;
    }
    changed_.notify_all();
}

CompletionWaiter::Wait CompletionWaiter::WaitBeyond(uint64_t seen, unsigned timeoutMs) {
    // A fast camera completes a grab within some tens of microseconds of the request. Watching for
    // it that long costs less than sleeping on the condition and being woken: two system calls and,
    // on a virtual machine, an interrupt between processors, about a tenth of what an image of
    // 2048x1000 takes. A single processor would only delay the completion by watching.
    static const bool watch = std::thread::hardware_concurrency() > 1;
    if (watch) {
        const auto until = std::chrono::steady_clock::now() + kWatch;
        for (unsigned i = 1;; ++i) {
            if (interrupted_.load(std::memory_order_acquire)) return Wait::Interrupted;
            if (completed_.load(std::memory_order_acquire) > seen) return Wait::Completed;
            Pause();
            if (i % 64 == 0 && std::chrono::steady_clock::now() >= until) break;
        }
    }
    std::unique_lock<std::mutex> lock(mutex_);
    const bool woken = changed_.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                                         [&] { return interrupted_ || completed_ > seen; });
    if (interrupted_) return Wait::Interrupted;
    return woken ? Wait::Completed : Wait::TimedOut;
}

uint64_t CompletionWaiter::Completed() {
    std::lock_guard<std::mutex> lock(mutex_);
    return completed_;
}

GstClockTime CompletionWaiter::LastCompletion() {
    std::lock_guard<std::mutex> lock(mutex_);
    return last_;
}

void CompletionWaiter::Interrupt() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        interrupted_ = true;
    }
    changed_.notify_all();
}

void CompletionWaiter::Resume() {
    std::lock_guard<std::mutex> lock(mutex_);
    interrupted_ = false;
}

void CompletionWaiter::UseClock(GstClock *clock) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (clock != nullptr) gst_object_ref(clock);
    if (clock_ != nullptr) gst_object_unref(clock_);
    clock_ = clock;
}

namespace {

// The callbacks carry no user data: they reach the session through this process-wide state.
struct Shared {
    std::mutex mutex;
    std::weak_ptr<DriverSession> session;
    std::map<int, CompletionWaiter *> waiters; // by port
    std::mutex errorMutex;
    std::string lastError;
};
// Never destroyed: a pipeline still stopping on another thread while the process exits reaches it.
Shared &State() {
    static Shared *shared = new Shared();
    return *shared;
}

void KESTCAM_CDECL OnDriverLog(const char *text) {
    if (text == nullptr) return;
    // The driver hands over the time stamp and the message in two calls: one line is logged whole.
    thread_local std::string pending;
    pending += text;
    if (pending.empty() || pending.back() != '\n') return;
    std::string line;
    line.swap(pending);
    while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) line.pop_back();
    GstDebugLevel level = GST_LEVEL_DEBUG;
    if (line.find("ERROR") != std::string::npos) {
        level = GST_LEVEL_ERROR;
    } else if (line.find("WARNING") != std::string::npos) {
        level = GST_LEVEL_WARNING;
    }
    if (level <= GST_LEVEL_WARNING) {
        std::lock_guard<std::mutex> lock(State().errorMutex);
        State().lastError = line;
    }
    GST_CAT_LEVEL_LOG(kestcamsrc_debug, level, nullptr, "%s", line.c_str());
}

void KESTCAM_CDECL OnComplete(int, int port) {
    std::lock_guard<std::mutex> lock(State().mutex);
    auto it = State().waiters.find(port);
    if (it == State().waiters.end()) return;
    it->second->Complete();
}

} // namespace

GstDebugCategory *DriverSession::Category() {
    static gsize once = 0;
    if (g_once_init_enter(&once)) {
        GST_DEBUG_CATEGORY_INIT(kestcamsrc_debug, "kestcamsrc", 0, "kestcam camera source and the driver's log");
        g_once_init_leave(&once, 1);
    }
    return kestcamsrc_debug;
}

std::shared_ptr<DriverSession> DriverSession::Acquire(const std::string &driverPath, const std::string &systemPath,
                                                      std::string &error) {
    Category();
    std::lock_guard<std::mutex> lock(State().mutex);
    if (auto running = State().session.lock()) {
        if (running->driverPath_ != driverPath || running->systemPath_ != systemPath) {
            error = "the driver already runs in this process from " + running->driverPath_ + " with system path " +
                    running->systemPath_ + "; every kestcamsrc of a process must use the same driver and system-path";
            return nullptr;
        }
        return running;
    }
    std::shared_ptr<DriverSession> session(new DriverSession());
    if (!session->library_.Load(driverPath, error)) return nullptr;
    const cli::DriverExports &d = session->Exports();
    if (d.openCVLPort == nullptr || d.closeCVLPort == nullptr || d.doCVLGrab == nullptr ||
        d.getCVLGrabRow == nullptr || d.setCompleteCallback == nullptr) {
        error = driverPath + ": the driver lacks the acquisition exports";
        return nullptr;
    }
    TakeLastError();
    if (d.initialize(systemPath.c_str(), &OnDriverLog) != 1) {
        const std::string reason = TakeLastError();
        error = "the driver failed to initialize with system path " + systemPath +
                (reason.empty() ? std::string() : ": " + reason);
        d.finalize();
        return nullptr;
    }
    session->driverPath_ = driverPath;
    session->systemPath_ = systemPath;
    State().session = session;
    return session;
}

DriverSession::~DriverSession() {
    if (!driverPath_.empty()) Exports().finalize();
}

bool DriverSession::Route(int port, CompletionWaiter *waiter) {
    {
        std::lock_guard<std::mutex> lock(State().mutex);
        if (waiter != nullptr) {
            State().waiters[port] = waiter;
        } else {
            State().waiters.erase(port);
        }
    }
    return Exports().setCompleteCallback(0, port, waiter != nullptr ? &OnComplete : nullptr) == 1;
}

std::string DriverSession::TakeLastError() {
    std::lock_guard<std::mutex> lock(State().errorMutex);
    std::string last;
    last.swap(State().lastError);
    return last;
}

} // namespace kestcam::gst
