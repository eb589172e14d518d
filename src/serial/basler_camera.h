// basler_camera.h - direct control of the line-scan camera behind one digitizer over its serial
// port: limits, clamped parameter writes, read-back of the current values, the exposure mode.
// Every operation that touches the camera opens the process-wide port and closes it again.
#pragma once

#include <atomic>
#include <thread>

#include "settings/camera_settings.h"

namespace kestcam {

class BaslerCamera {
public:
    // Register blocks: value at base + 1, lower limit at base + 5, upper limit at base + 9.
    static constexpr int kExposureTimeBase = 0x1500;
    static constexpr int kLinePeriodBase = 0x1600;
    static constexpr int kGainBase = 0x0E00;
    static constexpr int kGainLRBalanceBase = 0x0E20;
    static constexpr int kDigitalOffsetBase = 0x0F00;
    static constexpr int kDigitalOffsetLRBalanceBase = 0x0F20;
    static constexpr int kExposureModeRegister = 0x1401;

    // settings belong to the owning digitizer and outlive this object.
    explicit BaslerCamera(CameraSettings *settings);
    // The same camera over other settings (a copy an exchange works on outside the owner's locks):
    // it shares camera's initialized state and holds the port on its own. camera outlives it.
    BaslerCamera(CameraSettings *settings, BaslerCamera &camera);
    ~BaslerCamera();
    BaslerCamera(const BaslerCamera &) = delete;
    BaslerCamera &operator=(const BaslerCamera &) = delete;

    static constexpr int kBaudRate = 9600;
    static constexpr int kReadTimeoutMs = 2000;

    // Opens the port named by BaslerPort at 9600 baud, 2000 ms read time-out, unless held already.
    // The port is held by the calling thread: the same object used from another thread meanwhile
    // finds it taken, as another camera would, instead of sharing the operation under way.
    bool Open();
    // Gives the port back if the calling thread holds it for this object; portOpen is false
    // afterwards in every case.
    void ClosePort();

    // Reads the limits of all six float parameters into the settings; sets initialized.
    bool Init();
    bool IsInitialized() const { return initialized_->load(std::memory_order_acquire); }
    // Whether the calling thread holds the port for this object.
    bool IsPortOpen() const { return holder_.load(std::memory_order_acquire) == std::this_thread::get_id(); }

    // The settings this object reads and writes.
    CameraSettings &Settings() { return *settings_; }

    bool GetBoundaries(int base, Param<double> &param);
    // Refreshes param's limits from the camera, clamps (in single precision) and writes the value;
    // param.value itself is left as it was.
    bool SetFloatParamValue(const char *name, int base, Param<double> &param);
    bool ReadFloatParamValue_(const char *name, int base, Param<double> &param);

    bool ReadExposureMode(int &mode);
    bool WriteExposureMode(int mode);
    bool ApplyExposureMode();
    // Writes every enabled float parameter from the settings, line period first.
    void ApplyParameters();

    bool ReadExposureTime(Param<double> &param);
    bool SetExposureTime(Param<double> &param);
    bool ApplyExposureTime();
    bool ReadLinePeriod(Param<double> &param);
    bool SetLinePeriod(Param<double> &param);
    bool ApplyLinePeriod();
    bool ReadGain(Param<double> &param);
    bool SetGain(Param<double> &param);
    bool ApplyGain();
    bool ReadGainLRBalance(Param<double> &param);
    bool SetGainLRBalance(Param<double> &param);
    bool ApplyGainLRBalance();
    bool ReadDigitalOffset(Param<double> &param);
    bool SetDigitalOffset(Param<double> &param);
    bool ApplyDigitalOffset();
    bool ReadDigitalOffsetLRBalance(Param<double> &param);
    bool SetDigitalOffsetLRBalance(Param<double> &param);
    bool ApplyDigitalOffsetLRBalance();

private:
    bool ReadFloat(int64_t address, float &value);

    unsigned char floatSize_ = 4;
    unsigned char modeSize_ = 4;
    CameraSettings *settings_;
    // The thread holding the port for this object: the portOpen flag, kept per thread.
    std::atomic<std::thread::id> holder_{};
    // Set by the first Init that succeeds, never cleared; initialized_ points at the owner's.
    std::atomic<bool> ownInitialized_{false};
    std::atomic<bool> *initialized_ = &ownInitialized_;
};

} // namespace kestcam
