// frame_hub.h - the newest frame of the live view, handed from the thread that grabs to any number of
// HTTP clients. Publishing never waits for a client: each client takes the newest frame when it is
// ready for one, so a slow client skips frames and a stalled one holds nothing but its own copy.
#pragma once

#include <array>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace kestcam::cli {

using ViewClock = std::chrono::steady_clock;
using Histogram = std::array<uint32_t, 256>;

// Grey levels of an 8-bit image: the sample itself, or the luma of a blue-green-red pixel.
Histogram ComputeHistogram(const uint8_t *pixels, int width, int height, int channels);

class Frame {
public:
    Frame(long number, int width, int height, int channels, std::vector<uint8_t> pixels)
        : number_(number), width_(width), height_(height), channels_(channels), pixels_(std::move(pixels)) {}

    long Number() const { return number_; }
    int Width() const { return width_; }
    int Height() const { return height_; }
    int Channels() const { return channels_; }
    // Encoded and counted once, by the first client that asks; empty when encoding failed.
    const std::string &Jpeg() const;
    const Histogram &Levels() const;

private:
    long number_;
    int width_;
    int height_;
    int channels_; // 1 grey, 3 blue-green-red
    std::vector<uint8_t> pixels_;
    mutable std::once_flag jpegOnce_;
    mutable std::string jpeg_;
    mutable std::once_flag levelsOnce_;
    mutable Histogram levels_{};
};

class FrameHub {
public:
    // Takes the pixels as the newest frame; wakes every client waiting for one.
    void Publish(int width, int height, int channels, std::vector<uint8_t> pixels);
    std::shared_ptr<const Frame> Latest() const;
    // The newest frame once it is newer than frame number `after`; null at the deadline or on Close.
    std::shared_ptr<const Frame> WaitNewer(long after, ViewClock::time_point deadline) const;
    // Waits for Close until the deadline; true when closed.
    bool WaitClosed(ViewClock::time_point deadline) const;
    // Frames per second over the last two seconds; 0 when none came in that time.
    double FramesPerSecond() const;
    long Count() const;
    // Releases every waiting client for good (shutdown).
    void Close();
    bool Closed() const;

private:
    mutable std::mutex mutex_;
    mutable std::condition_variable changed_;
    std::shared_ptr<const Frame> latest_;
    std::deque<ViewClock::time_point> recent_; // publication times within the fps window
    long count_ = 0;
    bool closed_ = false;
};

} // namespace kestcam::cli
