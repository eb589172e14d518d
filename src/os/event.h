// event.h - an auto-reset event: one Set wakes one waiter and is consumed by it; Sets made while
// nobody waits collapse into one pending signal.
#pragma once

#include <chrono>
#include <condition_variable>
#include <mutex>

namespace kestcam::os {

class AutoResetEvent {
public:
    AutoResetEvent() = default;
    AutoResetEvent(const AutoResetEvent &) = delete;
    AutoResetEvent &operator=(const AutoResetEvent &) = delete;

    void Set() {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            signalled_ = true;
        }
        changed_.notify_one();
    }

    void Reset() {
        std::lock_guard<std::mutex> lock(mutex_);
        signalled_ = false;
    }

    // Blocks until the event is set, then resets it.
    void Wait() {
        std::unique_lock<std::mutex> lock(mutex_);
        changed_.wait(lock, [this] { return signalled_; });
        signalled_ = false;
    }

    // As Wait, for at most timeout; false (event untouched) when it was not set in time.
    bool WaitFor(std::chrono::milliseconds timeout) {
        std::unique_lock<std::mutex> lock(mutex_);
        if (!changed_.wait_for(lock, timeout, [this] { return signalled_; })) return false;
        signalled_ = false;
        return true;
    }

private:
    std::mutex mutex_;
    std::condition_variable changed_;
    bool signalled_ = false;
};

} // namespace kestcam::os
