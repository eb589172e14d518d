// camera_share.h - the sharing server of one camera: publishes every grabbed frame to one client
// process through a named pipe (dimensions and frame notices) and a named shared segment (the
// pixels). Frames that complete while the server is busy, or while no client is served, are
// skipped, never queued: acquisition never waits for sharing.
#pragma once

#include <atomic>
#include <cstdint>
#include <thread>

#include "share/image_buffer.h"
#include "share/named_pipe.h"
#include "share/share_protocol.h"
#include "share/shared_memory.h"
#include "share/waitable.h"

namespace kestcam {

class MilDigitizer;

class CCameraShare {
public:
    // How long a frame waits for a client that holds the segment's mutex before it is skipped.
    static constexpr int kSegmentLockBoundMs = 5000;
    // How long a reply waits for a client that does not take its messages before that client is
    // dropped.
    static constexpr int kWriteBoundMs = 5000;

    explicit CCameraShare(MilDigitizer *digitizer);
    // Ends a sharing thread that still runs before anything it uses goes.
    ~CCameraShare();
    CCameraShare(const CCameraShare &) = delete;
    CCameraShare &operator=(const CCameraShare &) = delete;

    // Publishes the camera under shareName: image buffer, segment, pipe, sharing thread. The
    // geometry announced and copied is the camera's at this moment. Failures are logged; the
    // camera works on without sharing.
    void Start(const char *shareName);
    // Safe in every state, and always ends: the thread is stopped, then pipe and segment released.
    void Stop();
    // From the acquisition thread after each completed grab: the newest frame is ready.
    void NotifyFrame();
    // Ends the sharing thread, if one runs.
    void StopProcessingThread();

    bool IsRunning() const { return thread_.joinable(); }
    const ShareDimensions &Dimensions() const { return dimensions_; }

private:
    enum class State { Waiting, Serving, Ended };

    void StartProcessingThread();
    static int32_t static_ThreadMain(void *parameter);
    int32_t ThreadMain();
    State WaitForClient();
    State ServeClient();
    // One completed read: a 12-byte header, or a message that is ignored.
    void ProcessMessage(int messageBytes);
    void ProcessCommand(const ShareHeader &header);
    void SendFrame();
    // Copies the frame of the camera's ring count `grabs`; false (reason logged) when it is not one
    // whole grab, or not a new one.
    bool ReadFrame(uint32_t grabs);
    // Writes one message once the previous one has been taken. False when the stop event came
    // first; throws when the client does not take it within kWriteBoundMs.
    bool WriteMessage(const ShareMessage &message);
    bool Stopping() const { return stopEvent_.IsSet(); }
    int Port() const;
    const char *CameraName() const;

    MilDigitizer *digitizer_;
    CNamedPipe pipe_;
    std::thread thread_;
    share::WaitableEvent stopEvent_;
    share::WaitableEvent frameEvent_;
    CSharedMemory sharedMemory_;
    ImageBuffer image_;

    // Fixed by Start for the life of the thread.
    ShareDimensions dimensions_{};
    std::atomic<bool> notify_{false};
    // Sharing thread only.
    ShareMessage readBuffer_{};
    uint32_t lastSent_ = 0; // the camera's ring count of the last frame announced
    bool sentAny_ = false;
    int waitFailures_ = 0; // connect attempts in a row that failed
};

} // namespace kestcam
