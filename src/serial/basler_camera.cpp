// basler_camera.cpp - the line-scan camera's registers: limits read at start, values clamped to
// them in single precision and written, values and the exposure mode read back. Each operation
// opens the process-wide serial port and closes it again on every path.
#include "serial/basler_camera.h"

#include <cstdint>
#include <cstring>

#include "driver/logger.h"
#include "serial/register_access.h"
#include "serial/serial_port.h"

namespace kestcam {

namespace {

constexpr int kValueOffset = 1;
constexpr int kMinOffset = 5;
constexpr int kMaxOffset = 9;

bool IsValidMode(int mode) {
    return mode == 0 || mode == 2 || mode == 4 || mode == 5 || mode == 6;
}

// Registers hold their bytes least significant first.
void PutLittleEndian(uint32_t value, uint8_t *bytes, size_t count) {
    for (size_t i = 0; i < count; ++i)
        bytes[i] = static_cast<uint8_t>(i < 4 ? value >> (8 * i) : 0);
}

uint32_t GetLittleEndian(const uint8_t *bytes) {
    return uint32_t{bytes[0]} | uint32_t{bytes[1]} << 8 | uint32_t{bytes[2]} << 16 | uint32_t{bytes[3]} << 24;
}

uint32_t FloatBits(float value) {
    uint32_t bits = 0;
    std::memcpy(&bits, &value, sizeof bits);
    return bits;
}

float BitsFloat(uint32_t bits) {
    float value = 0;
    std::memcpy(&value, &bits, sizeof value);
    return value;
}

} // namespace

BaslerCamera::BaslerCamera(CameraSettings *settings) : settings_(settings) {}

BaslerCamera::BaslerCamera(CameraSettings *settings, BaslerCamera &camera)
    : floatSize_(camera.floatSize_), modeSize_(camera.modeSize_), settings_(settings),
      initialized_(camera.initialized_) {}

BaslerCamera::~BaslerCamera() {
    ClosePort();
}

bool BaslerCamera::Open() {
    if (IsPortOpen()) return true;
    const std::string port = settings_->BaslerPort.value;
    if (SerialPortOpen(port.c_str(), kBaudRate, kReadTimeoutMs) != 1) {
        KC_LOG(2, "BaslerCamera::Open: cannot open basler camera port %s\n", port.c_str());
        return false;
    }
    holder_.store(std::this_thread::get_id(), std::memory_order_release);
    return true;
}

void BaslerCamera::ClosePort() {
    if (!IsPortOpen()) return;
    SerialPortClose();
    holder_.store(std::thread::id(), std::memory_order_release);
}

bool BaslerCamera::ReadFloat(int64_t address, float &value) {
    uint8_t bytes[4] = {};
    if (ReadRegister(address, bytes, floatSize_) != 1) return false;
    value = BitsFloat(GetLittleEndian(bytes));
    return true;
}

bool BaslerCamera::Init() {
    if (!Open()) {
        KC_LOG(1, "BaslerCamera::Init: ERROR: cannot open camera port\n");
        return false;
    }
    CameraSettings &s = *settings_;
    const bool ok = GetBoundaries(kExposureTimeBase, s.ExposureTime) &&
                    GetBoundaries(kLinePeriodBase, s.LinePeriod) && GetBoundaries(kGainBase, s.Gain) &&
                    GetBoundaries(kGainLRBalanceBase, s.GainBalance) &&
                    GetBoundaries(kDigitalOffsetBase, s.DigitalOffset) &&
                    GetBoundaries(kDigitalOffsetLRBalanceBase, s.DigitalOffsetBalance);
    if (!ok) {
        KC_LOG(1, "BaslerCamera::Init: ERROR: cannot obtain min/max values from the basler camera\n");
        ClosePort();
        return false;
    }
    ClosePort();
    initialized_->store(true, std::memory_order_release);
    return true;
}

bool BaslerCamera::GetBoundaries(int base, Param<double> &param) {
    if (!IsPortOpen()) return false;
    float min = 0;
    float max = 0;
    if (!ReadFloat(int64_t{base} + kMinOffset, min)) return false;
    if (!ReadFloat(int64_t{base} + kMaxOffset, max)) return false;
    param.min = min;
    param.max = max;
    settings_->MarkLimitsReported(param);
    return true;
}

bool BaslerCamera::SetFloatParamValue(const char *name, int base, Param<double> &param) {
    if (!IsInitialized()) return false;
    if (!Open()) {
        KC_LOG(2,
               "BaslerCamera::SetFloatParamValue: the port could not be open while setting parameter "
               "%s,address=%x,value=%f\n",
               name, static_cast<unsigned>(base), param.value);
        return false;
    }
    if (!GetBoundaries(base, param)) {
        KC_LOG(2,
               "BaslerCamera::SetFloatParamValue: could not obtain boundary values while setting parameter "
               "%s,address=%x\n",
               name, static_cast<unsigned>(base));
        ClosePort();
        return false;
    }
    float v = static_cast<float>(param.value);
    const float min = static_cast<float>(param.min);
    const float max = static_cast<float>(param.max);
    if (min > v) {
        v = min;
        KC_LOG(2,
               "BaslerCamera::SetFloatParamValue: value modified to %f, since boundary =[%f-%f], "
               "name=%s,address=%x\n",
               v, min, max, name, static_cast<unsigned>(base));
    }
    if (max < v) {
        v = max;
        KC_LOG(2,
               "BaslerCamera::SetFloatParamValue: value modified to %f, since boundary =[%f-%f], "
               "name=%s,address=%x\n",
               v, min, max, name, static_cast<unsigned>(base));
    }
    uint8_t bytes[4] = {};
    PutLittleEndian(FloatBits(v), bytes, sizeof bytes);
    const bool written = WriteRegister(int64_t{base} + kValueOffset, bytes, floatSize_) == 1;
    ClosePort();
    if (!written) {
        KC_LOG(2, "BaslerCamera::SetFloatParamValue: failed to write parameter %s,address=%x, value=%f\n", name,
               static_cast<unsigned>(base), v);
        return false;
    }
    return true;
}

bool BaslerCamera::ReadFloatParamValue_(const char *name, int base, Param<double> &param) {
    if (!IsInitialized()) return false;
    if (!Open()) {
        KC_LOG(2,
               "BaslerCamera::ReadFloatParamValue_: the port culd not be open while reading parameter "
               "%s,address=%x\n",
               name, static_cast<unsigned>(base));
        return false;
    }
    float v = static_cast<float>(param.value);
    const bool read = ReadFloat(int64_t{base} + kValueOffset, v);
    if (read) param.value = v;
    ClosePort();
    if (!read) {
        KC_LOG(2, "BaslerCamera::ReadFloatParamValue_: failed to read parameter %s,address=%x, value=%f\n", name,
               static_cast<unsigned>(base), v);
        return false;
    }
    return true;
}

bool BaslerCamera::ReadExposureMode(int &mode) {
    if (!IsInitialized() || !Open()) return false;
    mode = settings_->ExposureMode.CurrentCode();
    uint8_t byte = 0;
    const bool read = ReadRegister(kExposureModeRegister, &byte, 1) == 1;
    if (read) mode = byte;
    ClosePort();
    return read;
}

bool BaslerCamera::WriteExposureMode(int mode) {
    if (!IsInitialized() || !IsValidMode(mode)) return false;
    if (!Open()) return false;
    uint8_t bytes[4] = {};
    PutLittleEndian(static_cast<uint32_t>(mode), bytes, sizeof bytes);
    const bool written = WriteRegister(kExposureModeRegister, bytes, modeSize_) == 1;
    ClosePort();
    return written;
}

bool BaslerCamera::ApplyExposureMode() {
    if (!IsInitialized()) return false;
    return WriteExposureMode(settings_->ExposureMode.CurrentCode());
}

void BaslerCamera::ApplyParameters() {
    if (!IsInitialized()) return;
    const CameraSettings &s = *settings_;
    // Line period first: the camera bounds the exposure time by the line period.
    if (s.UseLinePeriod.value != 0) ApplyLinePeriod();
    if (s.UseExposureTime.value != 0) ApplyExposureTime();
    if (s.UseGain.value != 0) ApplyGain();
    if (s.UseGainBalance.value != 0) ApplyGainLRBalance();
    if (s.UseDigitalOffset.value != 0) ApplyDigitalOffset();
    if (s.UseDigitalOffsetBalance.value != 0) ApplyDigitalOffsetLRBalance();
}

#define KC_BASLER_PARAMETER(Name, base, member)                                                                   \
    bool BaslerCamera::Read##Name(Param<double> &param) {                                                         \
        return ReadFloatParamValue_(#Name, base, param);                                                          \
    }                                                                                                             \
    bool BaslerCamera::Set##Name(Param<double> &param) {                                                          \
        return SetFloatParamValue(#Name, base, param);                                                            \
    }                                                                                                             \
    bool BaslerCamera::Apply##Name() {                                                                            \
        return Set##Name(settings_->member);                                                                      \
    }

KC_BASLER_PARAMETER(ExposureTime, kExposureTimeBase, ExposureTime)
KC_BASLER_PARAMETER(LinePeriod, kLinePeriodBase, LinePeriod)
KC_BASLER_PARAMETER(Gain, kGainBase, Gain)
KC_BASLER_PARAMETER(GainLRBalance, kGainLRBalanceBase, GainBalance)
KC_BASLER_PARAMETER(DigitalOffset, kDigitalOffsetBase, DigitalOffset)
KC_BASLER_PARAMETER(DigitalOffsetLRBalance, kDigitalOffsetLRBalanceBase, DigitalOffsetBalance)

#undef KC_BASLER_PARAMETER

} // namespace kestcam
