// waitable.h - what the sharing thread waits for at once: its stop and frame events beside the
// completion of pipe I/O. On Windows an item is an event handle; elsewhere a descriptor and the
// poll events that make it ready.
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>

namespace kestcam::share {

struct Waitable {
    std::intptr_t native = -1;
    short events = 0; // POSIX only: POLLIN, POLLOUT
};

constexpr int kWaitTimedOut = -1;
constexpr int kWaitForever = -1;

// The index of a ready item (the lowest when several are), or kWaitTimedOut once timeoutMs have
// passed (kWaitForever: no time-out). Throws Win32Exception when the wait itself fails.
int WaitForAny(const Waitable *items, int count, int timeoutMs);

// A manual-reset event: set until reset, waited for with WaitForAny. Set is safe from any thread
// and never blocks.
class WaitableEvent {
public:
    WaitableEvent();
    ~WaitableEvent();
    WaitableEvent(const WaitableEvent &) = delete;
    WaitableEvent &operator=(const WaitableEvent &) = delete;

    // False when the platform refused the event; Set and Reset then do nothing.
    bool IsValid() const;
    void Set();
    void Reset();
    bool IsSet() const;
    Waitable AsWaitable() const;

private:
    std::intptr_t handle_ = -1; // the event (Windows) or the read end of a pipe
    std::intptr_t writer_ = -1; // POSIX: the pipe's write end
    mutable std::mutex mutex_;  // POSIX: keeps the flag and the pipe's byte in step
    bool set_ = false;
};

} // namespace kestcam::share
