// share_client.h - the client end of a camera share, as another process uses it: connect to the
// pipe, ask for the dimensions, open the segment, wait for frame notices and copy each frame out
// under the segment's mutex.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "share/named_pipe.h"
#include "share/share_protocol.h"
#include "share/shared_memory.h"

namespace kestcam {

class ShareClient {
public:
    enum class Wait { Frame, TimedOut, Disconnected };

    ShareClient() = default;
    ShareClient(const ShareClient &) = delete;
    ShareClient &operator=(const ShareClient &) = delete;

    // Opens the share's pipe, asks for the dimensions (waiting at most timeoutMs for them) and
    // opens the segment they describe. False with a reason in error; nothing is then held.
    bool Connect(const std::string &name, int timeoutMs, std::string &error);
    void Disconnect();
    bool IsConnected() const { return pipe_.IsConnected(); }

    const ShareDimensions &Dimensions() const { return dimensions_; }
    // Bytes of one frame in the segment: width x height x bytes per pixel.
    size_t FrameBytes() const;

    // Waits at most timeoutMs for the next frame notice. Notices that queued up behind it are taken
    // too (one copy serves them all) and counted as skipped. Other messages are ignored.
    Wait WaitForFrame(int timeoutMs);
    // Copies the newest frame out of the segment, holding its mutex; size must be FrameBytes().
    bool CopyFrame(void *destination, size_t size);
    long SkippedNotices() const { return skipped_; }

    // One raw message to the server (for tools that probe it), once the previous one has been
    // taken (waiting at most timeoutMs); false when the pipe refused it or did not take it in time.
    bool SendRaw(const void *bytes, int count, int timeoutMs = 5000);
    // The next message within timeoutMs: its length (-1 for an empty one; at most its first 12
    // bytes land in message), or 0 when none came. Throws Win32Exception when the pipe failed.
    int ReadMessage(ShareMessage &message, int timeoutMs);
    // The pipe and the segment, for callers that go below this interface.
    CNamedPipe &Pipe() { return pipe_; }
    CSharedMemory &Segment() { return segment_; }

private:
    CNamedPipe pipe_;
    CSharedMemory segment_;
    ShareDimensions dimensions_{};
    ShareMessage incoming_{};
    share::Waitable readReady_{};
    long skipped_ = 0;
};

} // namespace kestcam
