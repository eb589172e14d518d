// basler_camera.cpp - placeholder until the serial link lands: the camera is never initialized, so
// every parameter and mode operation is refused, exactly as with direct access switched off.
#include "serial/basler_camera.h"

#include "driver/logger.h"

namespace kestcam {

BaslerCamera::BaslerCamera(CameraSettings *settings) : settings_(settings) {}
BaslerCamera::~BaslerCamera() { ClosePort(); }

bool BaslerCamera::Open() { return false; }
void BaslerCamera::ClosePort() { portOpen_ = false; }
bool BaslerCamera::Init() {
    KC_LOG(1, "BaslerCamera::Init: ERROR: cannot open camera port\n");
    return false;
}
bool BaslerCamera::GetBoundaries(int, Param<double> &) { return false; }
bool BaslerCamera::SetFloatParamValue(const char *, int, Param<double> &) { return false; }
bool BaslerCamera::ReadFloatParamValue_(const char *, int, Param<double> &) { return false; }
bool BaslerCamera::ReadExposureMode(int &) { return false; }
bool BaslerCamera::WriteExposureMode(int) { return false; }
bool BaslerCamera::ApplyExposureMode() { return false; }
void BaslerCamera::ApplyParameters() {}
bool BaslerCamera::ReadExposureTime(Param<double> &) { return false; }
bool BaslerCamera::SetExposureTime(Param<double> &) { return false; }
bool BaslerCamera::ApplyExposureTime() { return false; }
bool BaslerCamera::ReadLinePeriod(Param<double> &) { return false; }
bool BaslerCamera::SetLinePeriod(Param<double> &) { return false; }
bool BaslerCamera::ApplyLinePeriod() { return false; }
bool BaslerCamera::ReadGain(Param<double> &) { return false; }
bool BaslerCamera::SetGain(Param<double> &) { return false; }
bool BaslerCamera::ApplyGain() { return false; }
bool BaslerCamera::ReadGainLRBalance(Param<double> &) { return false; }
bool BaslerCamera::SetGainLRBalance(Param<double> &) { return false; }
bool BaslerCamera::ApplyGainLRBalance() { return false; }
bool BaslerCamera::ReadDigitalOffset(Param<double> &) { return false; }
bool BaslerCamera::SetDigitalOffset(Param<double> &) { return false; }
bool BaslerCamera::ApplyDigitalOffset() { return false; }
bool BaslerCamera::ReadDigitalOffsetLRBalance(Param<double> &) { return false; }
bool BaslerCamera::SetDigitalOffsetLRBalance(Param<double> &) { return false; }
bool BaslerCamera::ApplyDigitalOffsetLRBalance() { return false; }

} // namespace kestcam
