// grab_thread.h - a camera's acquisition thread: sleeps until a grab is requested, grabs one
// sequence of frames into the camera's buffer ring, then reports completion.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <thread>

#include "os/event.h"

namespace kestcam {

class MilDigitizer;

class GrabThread {
public:
    // How long Destroy waits before saying that a grab is holding the thread up.
    static constexpr int kJoinWarningMs = 3000;
    // How often Destroy repeats its stop request while the thread has not ended.
    static constexpr int kStopRepeatMs = 100;

    explicit GrabThread(MilDigitizer *digitizer);
    ~GrabThread();
    GrabThread(const GrabThread &) = delete;
    GrabThread &operator=(const GrabThread &) = delete;

    // Creates the wake event, then the thread.
    bool Init();
    bool IsRunning() const { return thread_.joinable(); }
    // Hands one grab request to the thread.
    bool Signal();
    // Stops the thread and waits until it has ended: a grab that is still running keeps using the
    // camera's digitizer and buffers, so they must outlive it.
    void Destroy();

    // The camera whose acquisition thread is the calling thread, or null. Completion callbacks run
    // there, and must not wait for their own thread to end.
    static const MilDigitizer *CurrentCamera();

    static int32_t static_ThreadMain(void *parameter);
    int32_t ThreadMain();
    bool Grab_MdigProcess();
    bool Grab_MdigGrab();

private:
    // Asks the library to end a running sequence grab (none runs in buffer-by-buffer mode).
    void StopSequence();

    // What the running thread shares with its owner. The thread holds its own reference, so that
    // a thread whose owner was destroyed from inside its completion callback can still see that it
    // is orphaned and end without touching the freed camera.
    struct Control {
        std::atomic<bool> stop{false};
        std::atomic<bool> orphaned{false};
        os::AutoResetEvent wakeEvent;
        std::mutex exitMutex;
        std::condition_variable exitChanged;
        bool exited = false;
    };

    MilDigitizer *digitizer_;
    std::shared_ptr<Control> control_; // holds the wake event; none until Init
    std::thread thread_;
};

} // namespace kestcam
