// camera_source.cpp - the live view's own host loop on a camera: request a grab, wait for the
// completion callback, read every row, publish the frame, and again while grabbing is on. Property
// changes from the page go through setProperty, one at a time.
#include <atomic>
#include <condition_variable>
#include <mutex>
#include <thread>

#include "host_session.h"
#include "view/frame_source.h"

namespace kestcam::cli {

namespace {

// The completion callback carries no user data: it signals this process-wide state.
struct Completion {
    std::mutex mutex;
    std::condition_variable done;
    long count = 0;
};
Completion g_completion;

void KESTCAM_CDECL OnComplete(int, int) {
    {
        std::lock_guard<std::mutex> lock(g_completion.mutex);
        ++g_completion.count;
    }
    g_completion.done.notify_all();
}

// The driver's longest grab time-out is 60 s per frame; a grab that fails produces no callback.
constexpr auto kCompletionPatience = std::chrono::seconds(120);
constexpr auto kRetryPause = std::chrono::milliseconds(500);

struct ControlSpec {
    const char *name;
    const char *label;
    const char *unit;
};
constexpr ControlSpec kControls[] = {
    {"ExposureTime", "Exposure time", "\xC2\xB5s"},
    {"LinePeriod", "Line period", "\xC2\xB5s"},
    {"Gain", "Gain", "dB"},
};

// A GenICam camera's controls: the standard feature, else its older name, whichever the camera has.
struct GenicamControlSpec {
    const char *names[2];
    const char *units[2];
    const char *label;
};
constexpr GenicamControlSpec kGenicamControls[] = {
    {{"GenICam:ExposureTime", "GenICam:ExposureTimeAbs"}, {"\xC2\xB5s", "\xC2\xB5s"}, "Exposure time"},
    {{"GenICam:Gain", "GenICam:GainRaw"}, {"dB", ""}, "Gain"},
};

class CameraSource final : public GrabbingSource {
public:
    CameraSource(const DriverExports &d, std::string camera, int port, FrameHub &hub)
        : GrabbingSource(false), d_(d), camera_(std::move(camera)), port_(port), hub_(hub) {}
    ~CameraSource() override { Stop(); }

    bool Open(std::string &error) {
        int geometry[2] = {0, 0};
        if (d_.openCVLPort(0, port_, camera_.c_str(), geometry) != 1) {
            error = "cannot open '" + camera_ + "' on port " + std::to_string(port_) +
                    " (run with -v for the driver's reason)";
            return false;
        }
        opened_ = true;
        width_ = geometry[0];
        height_ = geometry[1];
        channels_ = CameraBytesPerPixel(d_, port_, width_);
        d_.setCompleteCallback(0, port_, &OnComplete);
        FindControls();
        running_ = true;
        thread_ = std::thread([this] { Loop(); });
        return true;
    }

    std::string Description() const override { return camera_; }

    std::vector<CameraControl> Controls() const override {
        std::lock_guard<std::mutex> lock(mutex_);
        return controls_;
    }

    bool SetControl(const std::string &name, int value, std::string &error) override {
        // One serial exchange at a time: the driver opens the camera's port for each.
        std::lock_guard<std::mutex> serial(controlMutex_);
        CameraControl control;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            const CameraControl *found = Find(name);
            if (found == nullptr) {
                error = "no control named '" + name + "'";
                return false;
            }
            control = *found;
        }
        if (value < control.min || value > control.max) {
            error = control.name + " must lie within " + std::to_string(control.min) + " to " +
                    std::to_string(control.max);
            return false;
        }
        if (d_.setProperty(0, port_, control.name.c_str(), value) != 1) {
            error = "the camera refused " + control.name + " " + std::to_string(value);
            return false;
        }
        std::lock_guard<std::mutex> lock(mutex_);
        if (CameraControl *c = Find(name)) c->value = value;
        return true;
    }

    void Stop() override {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            stop_ = true;
        }
        wake_.notify_all();
        {
            // Releases a wait for a completion that will not come.
            std::lock_guard<std::mutex> lock(g_completion.mutex);
        }
        g_completion.done.notify_all();
        if (thread_.joinable()) thread_.join();
        if (opened_) {
            d_.setCompleteCallback(0, port_, nullptr);
            d_.closeCVLPort(0, port_);
            opened_ = false;
        }
    }

private:
    // Direct camera access shows as the serial parameters' ranges: the camera reported its limits.
    // A camera reached through a GenICam imaging library shows its exposure and gain features.
    void FindControls() {
        int enabled = 0;
        if (d_.getProperty(0, port_, "BaslerPortAccessEnabled", &enabled) == 1 && enabled > 0) {
            for (const ControlSpec &spec : kControls) AddControl({spec.name, spec.label, spec.unit});
            return;
        }
        for (const GenicamControlSpec &spec : kGenicamControls) {
            for (int i = 0; i < 2; ++i)
                if (AddControl({spec.names[i], spec.label, spec.units[i]})) break;
        }
    }

    // Adds the control when the driver gives its range; false otherwise.
    bool AddControl(CameraControl c) {
        if (d_.getPropertyRange(0, port_, c.name.c_str(), &c.min, &c.max) != 1 || c.min > c.max) return false;
        if (d_.getProperty(0, port_, c.name.c_str(), &c.value) != 1) c.value = c.min;
        if (c.value < c.min) c.value = c.min;
        if (c.value > c.max) c.value = c.max;
        controls_.push_back(c);
        return true;
    }

    CameraControl *Find(const std::string &name) {
        for (CameraControl &c : controls_)
            if (c.name == name) return &c;
        return nullptr;
    }

    // Waits while grabbing is off; false when the source stops.
    bool WaitUntilRunning() {
        std::unique_lock<std::mutex> lock(mutex_);
        wake_.wait(lock, [&] { return stop_ || running_; });
        return !stop_;
    }

    void Pause(const std::string &problem) {
        std::unique_lock<std::mutex> lock(mutex_);
        problem_ = problem;
        wake_.wait_for(lock, kRetryPause, [&] { return stop_; });
    }

    bool Stopping() const {
        std::lock_guard<std::mutex> lock(mutex_);
        return stop_;
    }

    void Loop() {
        const size_t stride = static_cast<size_t>(width_) * channels_;
        while (WaitUntilRunning()) {
            long before;
            {
                std::lock_guard<std::mutex> lock(g_completion.mutex);
                before = g_completion.count;
            }
            if (d_.doCVLGrab(0, port_) != 1) {
                Pause("the driver refused a grab (run with -v for its reason)");
                continue;
            }
            bool completed;
            {
                std::unique_lock<std::mutex> lock(g_completion.mutex);
                completed = g_completion.done.wait_for(lock, kCompletionPatience, [&] {
                    return g_completion.count > before || Stopping();
                }) && g_completion.count > before;
            }
            if (!completed) {
                if (!Stopping()) Pause("a grab did not complete (run with -v for the driver's reason)");
                continue;
            }
            std::vector<uint8_t> pixels(stride * static_cast<size_t>(height_));
            bool whole = true;
            for (int row = 0; row < height_ && whole; ++row)
                whole = d_.getCVLGrabRow(0, port_, pixels.data() + stride * row, row, 0, width_ - 1) == 1;
            if (!whole) {
                Pause("a row of the image could not be read");
                continue;
            }
            {
                std::lock_guard<std::mutex> lock(mutex_);
                problem_.clear();
            }
            hub_.Publish(width_, height_, channels_, std::move(pixels));
        }
    }

    const DriverExports &d_;
    const std::string camera_;
    const int port_;
    FrameHub &hub_;
    bool opened_ = false;
    int width_ = 0;
    int height_ = 0;
    int channels_ = 1;

    bool stop_ = false; // under mutex_
    std::vector<CameraControl> controls_;
    std::mutex controlMutex_;
    std::thread thread_;
};

} // namespace

std::unique_ptr<FrameSource> OpenCameraSource(const DriverExports &driver, const std::string &camera, int port,
                                              FrameHub &hub, std::string &error) {
    if (driver.openCVLPort == nullptr || driver.doCVLGrab == nullptr || driver.getCVLGrabRow == nullptr ||
        driver.setCompleteCallback == nullptr || driver.closeCVLPort == nullptr || driver.getProperty == nullptr ||
        driver.setProperty == nullptr || driver.getPropertyRange == nullptr) {
        error = "the driver lacks the acquisition or property exports";
        return nullptr;
    }
    auto source = std::make_unique<CameraSource>(driver, camera, port, hub);
    if (!source->Open(error)) return nullptr;
    return source;
}

} // namespace kestcam::cli
