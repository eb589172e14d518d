// share_source.cpp - the live view on another process's camera share: a sharing client that takes
// every frame notice, copies the newest frame out of the segment and publishes it. A share that is
// not there yet, or ends, is waited for; stopping lets go of the share for other clients.
#include <condition_variable>
#include <mutex>
#include <thread>

#include "share/share_client.h"
#include "view/frame_source.h"

namespace kestcam::cli {

namespace {

constexpr int kReplyTimeoutMs = 2000;
constexpr int kPollMs = 200;
constexpr auto kReconnectPause = std::chrono::milliseconds(250);

class ShareSource final : public GrabbingSource {
public:
    ShareSource(std::string name, FrameHub &hub) : GrabbingSource(true), name_(std::move(name)), hub_(hub) {
        thread_ = std::thread([this] { Loop(); });
    }
    ~ShareSource() override { Stop(); }

    std::string Description() const override { return "share " + name_; }
    // A share carries pixels only: its camera is driven by the process that shares it.
    std::vector<CameraControl> Controls() const override { return {}; }
    bool SetControl(const std::string &name, int, std::string &error) override {
        error = "a share has no camera controls";
        return false;
    }
    void Stop() override {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            stop_ = true;
        }
        wake_.notify_all();
        if (thread_.joinable()) thread_.join();
    }

private:
    enum class State { Paused, Connecting, Receiving };

    void SetProblem(const std::string &problem) {
        std::lock_guard<std::mutex> lock(mutex_);
        problem_ = problem;
    }

    void Loop() {
        ShareClient client;
        std::vector<uint8_t> pixels;
        State state = State::Connecting;
        for (;;) {
            {
                std::unique_lock<std::mutex> lock(mutex_);
                if (state == State::Paused) wake_.wait(lock, [&] { return stop_ || running_; });
                if (stop_) break;
                if (!running_ && state != State::Paused) {
                    lock.unlock();
                    client.Disconnect();
                    state = State::Paused;
                    continue;
                }
                if (state == State::Paused) state = State::Connecting;
            }
            if (state == State::Connecting) {
                std::string error;
                if (!client.Connect(name_, kReplyTimeoutMs, error)) {
                    SetProblem("waiting for the share " + name_ + ": " + error);
                    std::unique_lock<std::mutex> lock(mutex_);
                    wake_.wait_for(lock, kReconnectPause, [&] { return stop_ || !running_; });
                    continue;
                }
                SetProblem("");
                state = State::Receiving;
                continue;
            }
            const ShareClient::Wait wait = client.WaitForFrame(kPollMs);
            if (wait == ShareClient::Wait::Disconnected) {
                client.Disconnect();
                SetProblem("the share " + name_ + " ended; waiting for it to come back");
                state = State::Connecting;
                continue;
            }
            if (wait != ShareClient::Wait::Frame) continue;
            const ShareDimensions dims = client.Dimensions();
            pixels.resize(client.FrameBytes());
            if (!client.CopyFrame(pixels.data(), pixels.size())) {
                SetProblem("a frame could not be copied out of the share's segment");
                continue;
            }
            hub_.Publish(dims.width, dims.height, ShareBytesPerPixel(dims.format), pixels);
        }
        client.Disconnect();
    }

    const std::string name_;
    FrameHub &hub_;
    bool stop_ = false; // under mutex_
    std::thread thread_;
};

} // namespace

std::unique_ptr<FrameSource> OpenShareSource(const std::string &name, FrameHub &hub) {
    return std::make_unique<ShareSource>(name, hub);
}

} // namespace kestcam::cli
