// frame_source.h - where the live view's frames come from: a camera opened through the driver's
// exports, or another process's camera share. Each source grabs on its own thread into a FrameHub.
#pragma once

#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "driver_library.h"
#include "view/frame_hub.h"

namespace kestcam::cli {

// A camera parameter the page offers, within the range the driver reports.
struct CameraControl {
    std::string name;  // the property name for setProperty
    std::string label; // as the page shows it
    std::string unit;
    int min = 0;
    int max = 0;
    int value = 0; // the value last set (at start: the stored setting)
};

class FrameSource {
public:
    virtual ~FrameSource() = default;
    // "Camera 1", "share kestcam-demo".
    virtual std::string Description() const = 0;
    // Starts or stops continuous grabbing (for a share: receiving). Returns at once.
    virtual void SetRunning(bool on) = 0;
    virtual bool Running() const = 0;
    // What keeps frames from coming, for the page; empty when nothing does.
    virtual std::string Problem() const = 0;
    virtual std::vector<CameraControl> Controls() const = 0;
    // Sends one control's value to the camera; false with a reason (unknown, out of range, refused).
    virtual bool SetControl(const std::string &name, int value, std::string &error) = 0;
    // Ends the grabbing thread and lets go of the camera or the share.
    virtual void Stop() = 0;
};

// The state both sources keep for the page: running or paused, and what keeps frames from coming.
// The source's own thread waits on wake_ under mutex_, which also guards the source's other state.
class GrabbingSource : public FrameSource {
public:
    void SetRunning(bool on) override {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            running_ = on;
        }
        wake_.notify_all();
    }
    bool Running() const override {
        std::lock_guard<std::mutex> lock(mutex_);
        return running_;
    }
    std::string Problem() const override {
        std::lock_guard<std::mutex> lock(mutex_);
        return problem_;
    }

protected:
    explicit GrabbingSource(bool running) : running_(running) {}

    mutable std::mutex mutex_;
    std::condition_variable wake_;
    bool running_;
    std::string problem_;
};

// Opens the camera on the given port; null with a reason when it cannot be opened. Grabbing starts
// at once. The driver must stay loaded until the source is stopped and destroyed.
std::unique_ptr<FrameSource> OpenCameraSource(const DriverExports &driver, const std::string &camera, int port,
                                              FrameHub &hub, std::string &error);
// Connects to the share when it appears, and again after it ends, until stopped.
std::unique_ptr<FrameSource> OpenShareSource(const std::string &name, FrameHub &hub);

} // namespace kestcam::cli
