// camera_share.cpp - the sharing server: start and stop, and the sharing thread's two states,
// Waiting (for a client to connect) and Serving (its requests and the frame notices).
#include "share/camera_share.h"

#include <algorithm>
#include <chrono>
#include <climits>
#include <ctime>
#include <stdexcept>
#include <system_error>

#include "acquisition/mil_digitizer.h"
#include "driver/logger.h"
#include "share/win32_exception.h"

namespace kestcam {

namespace {

// Errors in a row with one client, other than its going away, before it is dropped.
constexpr int kMaxServingErrors = 3;
// Pauses between connect attempts that keep failing: the first retry is immediate (a client that
// has just left makes one attempt fail), later ones back off up to this.
constexpr int kMaxRetryPauseMs = 1000;
// Rows read between two looks at the ring's write count while a frame is copied: a copy that a
// new grab has overtaken ends there instead of taking the processor from acquisition for nothing.
constexpr int kRowsPerRingCheck = 16;
// Rows read between two looks at the stop event.
constexpr int kRowsPerStopCheck = 1024;

long Clock() {
    return static_cast<long>(std::clock());
}

} // namespace

CCameraShare::CCameraShare(MilDigitizer *digitizer) : digitizer_(digitizer) {}

CCameraShare::~CCameraShare() {
    StopProcessingThread();
    pipe_.Close();
    sharedMemory_.Release();
}

int CCameraShare::Port() const {
    return digitizer_->Port();
}

const char *CCameraShare::CameraName() const {
    return digitizer_->Name().c_str();
}

void CCameraShare::Start(const char *shareName) {
    const std::string name = shareName != nullptr ? shareName : "";
    KC_LOG(2, "Starting share '%s' for %s", name.c_str(), CameraName());
    const char *refusal = nullptr;
    if (IsRunning())
        refusal = "sharing runs already";
    else if (!stopEvent_.IsValid() || !frameEvent_.IsValid())
        refusal = "no events for the sharing thread";
    else if (name.empty())
        refusal = "the share name is empty";
    if (refusal != nullptr) {
        KC_LOG(1, "ERROR: Failed to start camera sharing: %s", refusal);
        return;
    }

    // The geometry of this moment is the one announced and copied for the whole run: a later
    // change of the settings must not make a frame outgrow the segment.
    int width = 0;
    long long rows = 0;
    int shareCamera = 0;
    digitizer_->WithSettings([&](CameraSettings &s) {
        width = s.Width.value;
        rows = static_cast<long long>(s.Height.max) * s.HeightMultiplier.value;
        shareCamera = s.ShareCamera.value;
    });
    // A colour camera's rows are blue-green-red, three bytes a pixel: so are the frames shared.
    const bool colour = digitizer_->Buffers().SizeBand() == 3;
    const int height = rows > 0 && rows <= INT_MAX ? static_cast<int>(rows) : 0;
    if (!image_.Allocate(colour, width, height)) {
        KC_LOG(1, "ERROR: Failed to start camera sharing: %s", "no image buffer for the frame");
        return;
    }
    // The pipe first: it holds the share name, which is one server's. Whatever the segment's and
    // the mutex's names hold after that, no live server of this name uses.
    try {
        pipe_.Create(name);
    } catch (const Win32Exception &e) {
        if (e.IsNameTaken())
            KC_LOG(1, "ERROR: Failed to start camera sharing: the share name '%s' is in use by another camera or process",
                   name.c_str());
        else
            KC_LOG(1, "ERROR: Failed to start camera sharing: %s", e.what());
        return;
    }
    if (!share::RemoveLeftObjects(name, &CNamedPipe::IsServed)) {
        pipe_.Close();
        KC_LOG(1, "ERROR: Failed to start camera sharing: the name of its mutex, '%sMutex', is a share in use",
               name.c_str());
        return;
    }
    // Frames are never copied into a segment that is not mapped: without one, sharing does not start.
    if (!sharedMemory_.Create(name.c_str(), false, image_.Size())) {
        pipe_.Close();
        KC_LOG(1, "ERROR: Failed to start camera sharing: %s", "no shared memory segment");
        return;
    }
    dimensions_ = ShareDimensions{width, height, colour ? kShareFormatBgr : kShareFormatMono};
    try {
        // A client may connect from here on: the thread takes it once it runs.
        pipe_.Listen();
        StartProcessingThread();
    } catch (const Win32Exception &e) {
        KC_LOG(1, "ERROR: Failed to start camera sharing: %s", e.what());
        return;
    }
    notify_.store(shareCamera > 0, std::memory_order_release);
}

void CCameraShare::Stop() {
    KC_LOG(2, "CCameraShare::Stop: Stopping share for %s", CameraName());
    StopProcessingThread();
    pipe_.Close();
    sharedMemory_.Release();
    KC_LOG(2, "CCameraShare::Stop: Stopped share for %s", CameraName());
}

void CCameraShare::NotifyFrame() {
    if (notify_.load(std::memory_order_acquire)) frameEvent_.Set();
}

void CCameraShare::StartProcessingThread() {
    stopEvent_.Reset();
    waitFailures_ = 0;
    try {
        // Its lines follow those of the thread that starts it, which holds them while under a lock.
        thread_ = std::thread([this, handOff = Logger::TakeHandOff()] {
            Logger::FollowHandOff(handOff);
            static_ThreadMain(this);
        });
    } catch (const std::system_error &e) {
        throw Win32Exception(e.code().value());
    }
}

void CCameraShare::StopProcessingThread() {
    notify_.store(false, std::memory_order_release);
    if (!thread_.joinable()) return;
    // Every wait of the thread ends on this event.
    stopEvent_.Set();
    thread_.join();
    KC_LOG(2, "CCameraShare::StopProcessingThread: thread stopped, clock=%ld on port=%d", Clock(), Port());
}

int32_t CCameraShare::static_ThreadMain(void *parameter) {
    if (parameter == nullptr) return -1;
    KC_LOG(2, "CCameraShare::static_ThreadMain\n");
    return static_cast<CCameraShare *>(parameter)->ThreadMain();
}

int32_t CCameraShare::ThreadMain() {
    KC_LOG(2, "CCameraShare::ThreadMain: entering, clock=%ld on port=%d", Clock(), Port());
    State state = State::Waiting;
    while (state != State::Ended)
        state = state == State::Waiting ? WaitForClient() : ServeClient();
    // Nothing of the pipe's I/O may outlive the thread.
    pipe_.Cancel();
    return 0;
}

CCameraShare::State CCameraShare::WaitForClient() {
    try {
        const share::Waitable items[] = {stopEvent_.AsWaitable(), pipe_.Connect()};
        // Written once the pipe takes clients: a client that reads it may connect at once.
        KC_LOG(3, "CCameraShare::ThreadMain: waiting for client on port=%d", Port());
        do {
            if (share::WaitForAny(items, 2, share::kWaitForever) == 0) return State::Ended;
        } while (!pipe_.FinishConnect());
        KC_LOG(2, "CCameraShare::ThreadMain: client connected on port=%d", Port());
        waitFailures_ = 0;
        return State::Serving;
    } catch (const std::exception &e) {
        KC_LOG(1, "CCameraShare::ThreadMain: ERROR: %s", e.what());
        KC_LOG(2, "CCameraShare::ThreadMain: Reconnecting...");
        pipe_.Disconnect();
    }
    // After a client has gone, one failed attempt is part of the way back; failures that go on do
    // not spin.
    if (++waitFailures_ > 1) {
        const int pause = std::min(kMaxRetryPauseMs, 10 << std::min(waitFailures_, 7));
        const share::Waitable stop = stopEvent_.AsWaitable();
        if (share::WaitForAny(&stop, 1, pause) == 0) return State::Ended;
    }
    return State::Waiting;
}

CCameraShare::State CCameraShare::ServeClient() {
    // Frames completed while no client was served are not shared.
    frameEvent_.Reset();
    share::Waitable readReady{};
    int failures = 0;
    bool wasHeld = false;
    for (;;) {
        try {
            if (!pipe_.IsReadPending()) {
                readBuffer_ = EncodeShareHeader(ShareHeader{});
                readReady = pipe_.Read(readBuffer_.data(), kShareMessageSize);
            }
            // While the client has not taken the last notice a frame could not be announced: the
            // thread waits for the notice to go out instead of for frames, and the frame event stays
            // set, so grabs meanwhile cost acquisition nothing (setting a set event does no work).
            // Once the notice is out, the newest frame is served.
            const bool noticeHeld = pipe_.IsWritePending();
            if (noticeHeld && !wasHeld)
                KC_LOG(
                    3,
                    "CCameraShare::ThreadMain: the client has not taken the last notice, frames wait on port=%d",
                    Port());
            wasHeld = noticeHeld;
            // The client's messages before the frames: grabs in quick succession must not keep a
            // request waiting.
            const share::Waitable items[] = {stopEvent_.AsWaitable(), readReady,
                                             noticeHeld ? pipe_.WriteWaitable() : frameEvent_.AsWaitable()};
            switch (share::WaitForAny(items, 3, share::kWaitForever)) {
            case 0:
                return State::Ended;
            case 1: {
                int bytes = 0;
                if (pipe_.FinishRead(bytes)) ProcessMessage(bytes);
                break;
            }
            case 2:
                if (noticeHeld) break; // the next pass sends it
                frameEvent_.Reset();
                SendFrame();
                break;
            default:
                throw Win32Exception();
            }
            failures = 0;
        } catch (const Win32Exception &e) {
            if (e.IsPeerGone()) {
                KC_LOG(2, "CCameraShare::ThreadMain: client disconnected on port %d", Port());
                return State::Waiting;
            }
            KC_LOG(1, "CCameraShare::ThreadMain: ERROR: %s", e.what());
            if (++failures < kMaxServingErrors) continue;
            KC_LOG(2, "CCameraShare::ThreadMain: Reconnecting...");
            pipe_.Disconnect();
            return State::Waiting;
        } catch (const std::exception &e) {
            KC_LOG(1, "CCameraShare::ThreadMain: ERROR: %s", e.what());
            KC_LOG(2, "CCameraShare::ThreadMain: Reconnecting...");
            pipe_.Disconnect();
            return State::Waiting;
        }
    }
}

void CCameraShare::ProcessMessage(int messageBytes) {
    ShareHeader header;
    if (!DecodeShareHeader(readBuffer_.data(), messageBytes == kShareMessageSize ? kShareMessageSize : 0,
                           header)) {
        KC_LOG(1, "CCameraShare::ProcessCommand: WARNING: ignored a message of %d bytes on port=%d", messageBytes,
               Port());
        return;
    }
    ProcessCommand(header);
}

void CCameraShare::ProcessCommand(const ShareHeader &header) {
    KC_LOG(2, "CCameraShare::ProcessCommand: type %d", header.type);
    if (header.type != kShareTypeDimensions) return;
    if (!WriteMessage(EncodeShareHeader(ShareHeader{kShareMagic, kShareTypeDimensions, kShareMessageSize})))
        return;
    if (!WriteMessage(EncodeShareDimensions(dimensions_))) return;
    KC_LOG(2, "CCameraShare::ThreadMain: dimensions sent on port=%d", Port());
}

bool CCameraShare::WriteMessage(const ShareMessage &message) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kWriteBoundMs);
    const share::Waitable items[] = {stopEvent_.AsWaitable(), pipe_.WriteWaitable()};
    while (pipe_.IsWritePending()) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now())
                .count();
        if (left <= 0) throw std::runtime_error("the client does not take its messages");
        if (share::WaitForAny(items, 2, static_cast<int>(left)) == 0) return false;
    }
    pipe_.Write(message.data(), kShareMessageSize);
    return true;
}

void CCameraShare::SendFrame() {
    KC_LOG(3, "CCameraShare::SendFrame: entered");
    // A client that has not taken the last notice would not see this one either.
    if (pipe_.IsWritePending()) {
        KC_LOG(3, "CCameraShare::SendFrame: frame skipped, the client has not taken the last notice");
        return;
    }
    const uint32_t grabs = digitizer_->RingWriteCount();
    if (!ReadFrame(grabs)) return;
    KC_LOG(3, "CCameraShare::SendFrame: frame read, writing it to memory");
    switch (sharedMemory_.WriteBounded(image_.Data(), static_cast<size_t>(image_.Size()), kSegmentLockBoundMs,
                                       &stopEvent_)) {
    case share::LockResult::Acquired:
        break;
    case share::LockResult::Stopped:
        return;
    case share::LockResult::TimedOut:
        KC_LOG(1,
               "CCameraShare::SendFrame: WARNING: the client held the segment for %d ms, frame skipped on port=%d",
               kSegmentLockBoundMs, Port());
        return;
    case share::LockResult::Failed:
        KC_LOG(1, "CCameraShare::SendFrame: ERROR: the segment could not be written on port=%d", Port());
        return;
    }
    lastSent_ = grabs;
    sentAny_ = true;
    // Grabs that completed while this frame was being copied are skipped, not queued. (After a frame
    // that could not be shared, the newest one gets its turn.)
    frameEvent_.Reset();
    if (!WriteMessage(EncodeShareHeader(ShareHeader{kShareMagic, kShareTypeFrame, 0}))) return;
    KC_LOG(3, "CCameraShare::SendFrame: image has been written to memory");
}

bool CCameraShare::ReadFrame(uint32_t grabs) {
    // Rows are read under the camera's row lock: what they log reaches the host once it is released.
    Logger::DeferScope deferLog;
    // The count is odd while a grab writes the ring.
    if ((grabs & 1u) != 0) {
        KC_LOG(3, "CCameraShare::SendFrame: frame skipped, the next grab is already writing it");
        return false;
    }
    if (sentAny_ && grabs == lastSent_) {
        KC_LOG(3, "CCameraShare::SendFrame: frame skipped, it has been shared already");
        return false;
    }
    const int last = dimensions_.width - 1;
    for (int r = 0; r < dimensions_.height; ++r) {
        if (r % kRowsPerStopCheck == 0 && Stopping()) return false;
        if (r % kRowsPerRingCheck == 0 && digitizer_->RingWriteCount() != grabs) break;
        uint8_t *line = image_.GetLine(r);
        // The announced geometry is the segment's: a row the camera no longer delivers (its
        // settings changed) ends the frame rather than leave stale bytes in it.
        if (line == nullptr || !digitizer_->GetRow(line, r, 0, static_cast<unsigned>(last))) {
            KC_LOG(1, "CCameraShare::SendFrame: WARNING: row %d could not be read, frame skipped on port=%d", r,
                   Port());
            return false;
        }
    }
    // A grab that started meanwhile may have overwritten rows already copied: that frame is torn.
    if (digitizer_->RingWriteCount() != grabs) {
        KC_LOG(3, "CCameraShare::SendFrame: frame skipped, a grab overwrote it during the copy");
        return false;
    }
    return true;
}

} // namespace kestcam
