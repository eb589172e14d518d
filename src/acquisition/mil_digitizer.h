// mil_digitizer.h - one camera: one digitizer of one board, bound to a host port while open.
#pragma once

#include <atomic>
#include <string>

#include "mil/mil_api.h"

namespace kestcam {

class MilApp;
class MilSystem;

class MilDigitizer {
public:
    MilDigitizer(MilApp *app, MilSystem *system);
    ~MilDigitizer();
    MilDigitizer(const MilDigitizer &) = delete;
    MilDigitizer &operator=(const MilDigitizer &) = delete;

    // Names the camera "Camera k+1" on device 0 of installed system 0, else "Camera s+1-d+1-k+1".
    bool Setup(int index, int dev, int k);

    const std::string &Name() const { return name_; }
    int Number() const { return number_; }
    int Port() const { return port_.load(std::memory_order_acquire); }

private:
    int number_ = 0;
    MilId idDigitizer_ = 0;
    MilApp *app_;
    MilSystem *system_;
    std::atomic<int> port_{-1};
    std::string name_;
};

} // namespace kestcam
