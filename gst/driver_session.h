// driver_session.h - the driver as the elements of one process share it: loaded and initialized by
// the first element that starts, finalized when the last one stops; its log lines go to the
// element's debug category and its completion callbacks to the element that grabs on the port.
#pragma once

#include <gst/gst.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

#include "driver_library.h"

namespace kestcam::gst {

// Completions of one port, as the element that grabs on it waits for them.
class CompletionWaiter {
public:
    // Called on the driver's acquisition thread; stamps the completion with the clock's time.
    void Complete();
    // Waits until more than `seen` grabs completed, Interrupt is called, or timeoutMs passes: it
    // watches the count for kWatch before it sleeps.
    static constexpr std::chrono::microseconds kWatch{50};
    enum class Wait { Completed, Interrupted, TimedOut };
    Wait WaitBeyond(uint64_t seen, unsigned timeoutMs);
    uint64_t Completed();
    GstClockTime LastCompletion();
    // Makes waits return Interrupted until Resume (a flush or a stop of the element).
    void Interrupt();
    void Resume();
    // The clock that stamps completions (null: none); the waiter holds a reference.
    void UseClock(GstClock *clock);
    ~CompletionWaiter() { UseClock(nullptr); }

private:
    std::mutex mutex_;
    std::condition_variable changed_;
    // Written under mutex_, read without it by the spin of WaitBeyond.
    std::atomic<uint64_t> completed_{0};
    GstClockTime last_ = GST_CLOCK_TIME_NONE;
    std::atomic<bool> interrupted_{false};
    GstClock *clock_ = nullptr;
};

class DriverSession {
public:
    // The process's driver session, started from driverPath and systemPath on first use. A second
    // user asking for another library or system path is refused while the first holds it.
    static std::shared_ptr<DriverSession> Acquire(const std::string &driverPath, const std::string &systemPath,
                                                  std::string &error);
    ~DriverSession();
    DriverSession(const DriverSession &) = delete;
    DriverSession &operator=(const DriverSession &) = delete;

    const cli::DriverExports &Exports() const { return library_.Exports(); }

    // Routes the completions of port to waiter (null: to nobody) and tells the driver to call back.
    bool Route(int port, CompletionWaiter *waiter);

    // The last error or warning line the driver logged (empty: none), then forgotten.
    static std::string TakeLastError();

    // The debug category of the driver's log lines.
    static GstDebugCategory *Category();

private:
    DriverSession() = default;

    cli::DriverLibrary library_;
    std::string driverPath_;
    std::string systemPath_;
};

} // namespace kestcam::gst
