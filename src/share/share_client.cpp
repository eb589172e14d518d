// share_client.cpp - the client side of the sharing protocol over CNamedPipe and CSharedMemory.
#include "share/share_client.h"

#include <chrono>

#include "share/win32_exception.h"

namespace kestcam {

namespace {
using Clock = std::chrono::steady_clock;

int MsLeft(Clock::time_point deadline) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    return left > 0 ? static_cast<int>(left) : 0;
}
} // namespace

bool ShareClient::Connect(const std::string &name, int timeoutMs, std::string &error) {
    Disconnect();
    const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    try {
        pipe_.Open(name);
        const ShareMessage request = EncodeShareHeader(ShareHeader{kShareMagic, kShareTypeDimensions, 0});
        pipe_.Write(request.data(), kShareMessageSize);
        // The reply is a type 2 header and the dimensions; frame notices may come first.
        ShareMessage message{};
        ShareHeader header;
        for (;;) {
            if (ReadMessage(message, MsLeft(deadline)) != kShareMessageSize) {
                error = "no dimensions from the server in time";
                Disconnect();
                return false;
            }
            if (DecodeShareHeader(message.data(), message.size(), header) && header.type == kShareTypeDimensions)
                break;
        }
        if (ReadMessage(message, MsLeft(deadline)) != kShareMessageSize ||
            !DecodeShareDimensions(message.data(), message.size(), dimensions_)) {
            error = "no dimensions from the server in time";
            Disconnect();
            return false;
        }
    } catch (const Win32Exception &e) {
        error = std::string("cannot reach the share's pipe ") + CNamedPipe::PathFor(name) + ": " + e.what() +
                " (error " + std::to_string(e.GetErrorCode()) + ")";
        Disconnect();
        return false;
    }
    if (dimensions_.width <= 0 || dimensions_.height <= 0 || ShareBytesPerPixel(dimensions_.format) == 0) {
        error = "the server announced dimensions this client cannot use";
        Disconnect();
        return false;
    }
    const size_t bytes = FrameBytes();
    if (bytes > static_cast<size_t>(INT32_MAX) || !segment_.Create(name.c_str(), true, static_cast<int>(bytes))) {
        error = "cannot open the share's segment '" + name + "' of " + std::to_string(bytes) + " bytes";
        Disconnect();
        return false;
    }
    return true;
}

void ShareClient::Disconnect() {
    pipe_.Close();
    segment_.Release();
}

size_t ShareClient::FrameBytes() const {
    return static_cast<size_t>(dimensions_.width) * static_cast<size_t>(dimensions_.height) *
           static_cast<size_t>(ShareBytesPerPixel(dimensions_.format));
}

int ShareClient::ReadMessage(ShareMessage &message, int timeoutMs) {
    if (!pipe_.IsReadPending()) readReady_ = pipe_.Read(incoming_.data(), kShareMessageSize);
    const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        if (share::WaitForAny(&readReady_, 1, MsLeft(deadline)) == share::kWaitTimedOut) return 0;
        int bytes = 0;
        if (pipe_.FinishRead(bytes)) {
            message = incoming_;
            // An empty message counts as a message of the wrong size, not as none.
            return bytes == 0 ? -1 : bytes;
        }
        if (MsLeft(deadline) == 0) return 0;
    }
}

ShareClient::Wait ShareClient::WaitForFrame(int timeoutMs) {
    try {
        ShareMessage message{};
        ShareHeader header;
        const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
        for (;;) {
            const int bytes = ReadMessage(message, MsLeft(deadline));
            if (bytes == 0) return Wait::TimedOut;
            if (bytes == kShareMessageSize && DecodeShareHeader(message.data(), message.size(), header) &&
                header.type == kShareTypeFrame)
                break;
        }
        // Notices already waiting behind this one announce frames the segment no longer holds.
        while (ReadMessage(message, 0) == kShareMessageSize)
            if (DecodeShareHeader(message.data(), message.size(), header) && header.type == kShareTypeFrame)
                ++skipped_;
        return Wait::Frame;
    } catch (const Win32Exception &) {
        return Wait::Disconnected;
    }
}

bool ShareClient::CopyFrame(void *destination, size_t size) {
    if (size != FrameBytes()) return false;
    return segment_.Read(destination, size);
}

bool ShareClient::SendRaw(const void *bytes, int count, int timeoutMs) {
    try {
        // A message larger than the pipe's buffer is taken only as the server reads it.
        const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
        const share::Waitable written = pipe_.WriteWaitable();
        while (pipe_.IsWritePending())
            if (MsLeft(deadline) == 0 || share::WaitForAny(&written, 1, MsLeft(deadline)) == share::kWaitTimedOut)
                return false;
        pipe_.Write(bytes, count);
        return true;
    } catch (const Win32Exception &) {
        return false;
    }
}

} // namespace kestcam
