// frame_hub.cpp - the newest-frame store of the live view and the grey-level histogram.
#include "view/frame_hub.h"

#include "view/jpeg_encoder.h"

namespace kestcam::cli {

namespace {
constexpr auto kFpsWindow = std::chrono::seconds(2);
}

Histogram ComputeHistogram(const uint8_t *pixels, int width, int height, int channels) {
    Histogram levels{};
    const size_t count = static_cast<size_t>(width) * static_cast<size_t>(height);
    if (channels == 3) {
        // Rec. 601 luma in 8-bit fixed point; the weights sum to 256, so white stays 255.
        for (size_t i = 0; i < count; ++i, pixels += 3)
            ++levels[(29u * pixels[0] + 150u * pixels[1] + 77u * pixels[2]) >> 8];
    } else {
        for (size_t i = 0; i < count; ++i)
            ++levels[pixels[i]];
    }
    return levels;
}

const std::string &Frame::Jpeg() const {
    std::call_once(jpegOnce_, [this] { jpeg_ = EncodeJpeg(pixels_.data(), width_, height_, channels_); });
    return jpeg_;
}

const Histogram &Frame::Levels() const {
    std::call_once(levelsOnce_,
                   [this] { levels_ = ComputeHistogram(pixels_.data(), width_, height_, channels_); });
    return levels_;
}

void FrameHub::Publish(int width, int height, int channels, std::vector<uint8_t> pixels) {
    const ViewClock::time_point now = ViewClock::now();
    {
        std::lock_guard<std::mutex> lock(mutex_);
        latest_ = std::make_shared<const Frame>(++count_, width, height, channels, std::move(pixels));
        recent_.push_back(now);
        while (!recent_.empty() && now - recent_.front() > kFpsWindow)
            recent_.pop_front();
    }
    changed_.notify_all();
}

std::shared_ptr<const Frame> FrameHub::Latest() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return latest_;
}

std::shared_ptr<const Frame> FrameHub::WaitNewer(long after, ViewClock::time_point deadline) const {
    std::unique_lock<std::mutex> lock(mutex_);
    changed_.wait_until(lock, deadline, [&] { return closed_ || (latest_ && latest_->Number() > after); });
    if (closed_ || !latest_ || latest_->Number() <= after) return nullptr;
    return latest_;
}

bool FrameHub::WaitClosed(ViewClock::time_point deadline) const {
    std::unique_lock<std::mutex> lock(mutex_);
    return changed_.wait_until(lock, deadline, [&] { return closed_; });
}

double FrameHub::FramesPerSecond() const {
    std::lock_guard<std::mutex> lock(mutex_);
    const ViewClock::time_point now = ViewClock::now();
    size_t first = 0;
    while (first < recent_.size() && now - recent_[first] > kFpsWindow)
        ++first;
    const size_t n = recent_.size() - first;
    if (n < 2) return 0.0;
    const double seconds = std::chrono::duration<double>(recent_.back() - recent_[first]).count();
    return seconds > 0 ? static_cast<double>(n - 1) / seconds : 0.0;
}

long FrameHub::Count() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return count_;
}

void FrameHub::Close() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        closed_ = true;
    }
    changed_.notify_all();
}

bool FrameHub::Closed() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return closed_;
}

} // namespace kestcam::cli
