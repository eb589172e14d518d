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
    // How long Destroy waits before saying what holds the thread up; a thread that is then inside the
    // host's completion callback is let go.
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
    // The event Signal sets, kept alive for a request made once the thread may be gone.
    std::shared_ptr<os::AutoResetEvent> WakeEvent() const;
    // Stops the thread and waits until it has ended: a grab that is still running keeps using the
    // camera's digitizer and buffers, so they must outlive it. A thread that is inside the host's
    // completion callback after kJoinWarningMs is let go instead: it ends when the callback returns,
    // touching nothing of the camera. Unless KeepWaitingForCallback was called: the camera is about
    // to be freed, and the callback may be inside a call on it.
    void Destroy();
    void KeepWaitingForCallback() { waitForCallback_ = true; }
    // Waits until every thread let go inside a completion callback has ended, but the calling one:
    // such a callback may still call into the driver, so finalize waits for it, as for any other
    // running callback, before it frees the cameras.
    static void WaitForLetGoThreads();

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

    // Where the thread is, as far as letting it go is concerned.
    enum Phase : int {
        kWorking,    // waiting or grabbing: it uses the camera
        kInCallback, // inside the host's completion callback
        kLetGo,      // let go while inside the callback: once it returns it ends, touching nothing
    };

    // Destroy with the thread still running after kJoinWarningMs: says what it waits for (before it
    // waits) and waits, or lets a thread inside the callback go. True when the thread was let go.
    bool WaitLonger(int port);

    // What the running thread shares with its owner. The thread holds its own reference, so that
    // a thread let go by its owner (destroyed from inside its completion callback, or closed while
    // it was in there) can still see it and end without touching the camera.
    struct Control {
        std::atomic<bool> stop{false};
        std::atomic<int> phase{kWorking};
        os::AutoResetEvent wakeEvent;
        std::mutex exitMutex;
        std::condition_variable exitChanged;
        bool exited = false;
    };

    MilDigitizer *digitizer_;
    std::shared_ptr<Control> control_; // holds the wake event; none until Init
    std::thread thread_;
    bool waitForCallback_ = false;
};

} // namespace kestcam
