// mil_digitizer_properties.cpp - the camera's named integer properties: continuous mode, the MIL
// control and inquiry pass-through, the serial camera's parameters and the settings by key.
#include <algorithm>
#include <cctype>
#include <climits>
#include <cmath>
#include <cstring>

#include "acquisition/inquiry_answer.h"
#include "acquisition/mil_digitizer.h"
#include "driver/logger.h"
#include "mil/mil_app.h"

namespace kestcam {

namespace {

bool Is(const char *name, const char *key) {
    for (; *name != '\0' && *key != '\0'; ++name, ++key)
        if (std::tolower(static_cast<unsigned char>(*name)) != std::tolower(static_cast<unsigned char>(*key)))
            return false;
    return *name == '\0' && *key == '\0';
}
bool Is(const char *name, const std::string &key) {
    return Is(name, key.c_str());
}

bool IsContinuousName(const char *name) {
    return Is(name, "continuous") || Is(name, "continous");
}

// Truncation toward zero; a stored value beyond int's range gives the nearest bound.
int TruncateToInt(double v) {
    if (std::isnan(v)) return 0;
    if (v >= static_cast<double>(INT_MAX)) return INT_MAX;
    if (v <= static_cast<double>(INT_MIN)) return INT_MIN;
    return static_cast<int>(v);
}

// The pending error's own text, as MIL words it.
std::string MilMessage() {
    char text[mil::kErrorTextSize + 1] = {};
    Mil().MappGetError(mil::kErrorMessage, text);
    text[mil::kErrorTextSize] = '\0';
    return text;
}

bool MilErrorPending() {
    return Mil().MappGetError(mil::kErrorCurrent, nullptr) != 0;
}

constexpr const char *kFeaturePrefix = "GenICam:";

// The feature a "GenICam:<Feature>" name asks for (the prefix in any case), else null.
const char *GenicamFeature(const char *name) {
    const size_t length = std::strlen(kFeaturePrefix);
    for (size_t i = 0; i < length; ++i)
        if (std::tolower(static_cast<unsigned char>(name[i])) !=
            std::tolower(static_cast<unsigned char>(kFeaturePrefix[i])))
            return nullptr; // also stops at the end of a shorter name
    return name + length;
}

// The camera's feature functions when the imaging library has them and the camera is open; logs
// why not otherwise.
const MilFeatureFunctions *FeatureAccess(const char *function, const char *feature, MilId digitizer) {
    const MilFeatureFunctions &features = MilFeatures();
    if (features.FeatureGet == nullptr) {
        KC_LOG(2, "MilDigitizer::%s: ERROR: the imaging library gives no feature access (GenICam:%s)\n", function,
               feature);
        return nullptr;
    }
    if (digitizer == 0) {
        KC_LOG(2, "MilDigitizer::%s: ERROR: GenICam:%s needs an open camera\n", function, feature);
        return nullptr;
    }
    return &features;
}

} // namespace

bool MilDigitizer::SetFeature(const char *feature, int value) {
    const MilFeatureFunctions *features = FeatureAccess("SetProperty", feature, DigitizerId());
    if (features == nullptr) return false;
    if (features->FeatureSet(DigitizerId(), feature, value) != 0) return true;
    KC_LOG(2, "MilDigitizer::SetProperty: ERROR: GenICam:%s=%d refused, %s\n", feature, value,
           MilMessage().c_str());
    return false;
}

bool MilDigitizer::GetFeature(const char *feature, int *out) {
    const MilFeatureFunctions *features = FeatureAccess("GetProperty", feature, DigitizerId());
    if (features == nullptr) return false;
    MilInt64 value = 0;
    if (features->FeatureGet(DigitizerId(), feature, &value) == 0) {
        KC_LOG(2, "MilDigitizer::GetProperty: ERROR: GenICam:%s, %s\n", feature, MilMessage().c_str());
        return false;
    }
    if (value < INT_MIN || value > INT_MAX) {
        KC_LOG(2, "MilDigitizer::GetProperty: ERROR: GenICam:%s is %lld, which does not fit into an int\n",
               feature, static_cast<long long>(value));
        return false;
    }
    *out = static_cast<int>(value);
    return true;
}

bool MilDigitizer::GetFeatureRange(const char *feature, int &min, int &max) {
    const MilFeatureFunctions *features = FeatureAccess("GetPropertyRange", feature, DigitizerId());
    if (features == nullptr) return false;
    MilInt64 low = 0, high = 0;
    if (features->FeatureRange(DigitizerId(), feature, &low, &high) == 0) {
        KC_LOG(2, "MilDigitizer::GetPropertyRange: ERROR: GenICam:%s, %s\n", feature, MilMessage().c_str());
        return false;
    }
    // The part of the range an int can hold.
    min = static_cast<int>(std::clamp<MilInt64>(low, INT_MIN, INT_MAX));
    max = static_cast<int>(std::clamp<MilInt64>(high, INT_MIN, INT_MAX));
    return true;
}

bool MilDigitizer::SetProperty(const char *name, int value) {
    if (name == nullptr) return false;
    DriverLock<std::mutex> lock(lifecycleMutex_);
    if (const char *feature = GenicamFeature(name)) return SetFeature(feature, value);
    if (IsContinuousName(name)) {
        SetContinuousGrab(value != 0);
        return true;
    }
    if (Is(name, "StoreValue")) {
        storedValue_ = value;
        return true;
    }
    if (Is(name, "MdigControl")) {
        Mil().MdigControl(DigitizerId(), static_cast<MilInt64>(value), static_cast<double>(storedValue_));
        if (!MilErrorPending()) return true;
        KC_LOG(2, "MilDigitizer::SetProperty: ERROR: while calling MdigControl (%d, %d). Error message:%s\n",
               value, storedValue_, MilMessage().c_str());
        return false;
    }

    CameraSettings &s = settings_;
    if (s.BaslerPortAccessEnabled.value != 0) {
        // An exchange: serial property calls on one camera take turns with one another and with the
        // lifecycle steps; the other property calls do not wait for it. A copy of the parameter goes
        // to the camera: the stored setting keeps its value.
        auto send = [&](Param<double> CameraSettings::*stored, bool (BaslerCamera::*set)(Param<double> &)) {
            bool sent = false;
            ExchangeWithCamera(lock, [&](BaslerCamera &link) {
                Param<double> copy = link.Settings().*stored;
                copy.value = static_cast<double>(value);
                sent = (link.*set)(copy);
            });
            return sent;
        };
        if (Is(name, s.ExposureTime.name)) return send(&CameraSettings::ExposureTime, &BaslerCamera::SetExposureTime);
        if (Is(name, s.LinePeriod.name)) return send(&CameraSettings::LinePeriod, &BaslerCamera::SetLinePeriod);
        if (Is(name, s.ExposureMode.name)) {
            bool sent = false;
            ExchangeWithCamera(lock, [&](BaslerCamera &link) { sent = link.WriteExposureMode(value); });
            return sent;
        }
        if (Is(name, s.Gain.name)) return send(&CameraSettings::Gain, &BaslerCamera::SetGain);
        if (Is(name, s.GainBalance.name)) return send(&CameraSettings::GainBalance, &BaslerCamera::SetGainLRBalance);
        if (Is(name, s.DigitalOffset.name))
            return send(&CameraSettings::DigitalOffset, &BaslerCamera::SetDigitalOffset);
        if (Is(name, s.DigitalOffsetBalance.name))
            return send(&CameraSettings::DigitalOffsetBalance, &BaslerCamera::SetDigitalOffsetLRBalance);
    }

    // Row reads consult some of these; the change waits for the row being read.
    return WithSettings([&](CameraSettings &settings) {
        for (Param<int> *p : {&settings.BaslerPortAccessEnabled, &settings.LogLevel, &settings.LogIntoFile,
                              &settings.Use16bit, &settings.Shift16bit, &settings.UseLUT}) {
            if (Is(name, p->name)) {
                p->value = value;
                return true;
            }
        }
        for (Param<int> *p :
             {&settings.HeightMultiplier, &settings.GrabTimeout, &settings.Height, &settings.Width}) {
            if (Is(name, p->name)) {
                p->value = value;
                settings.Save(name_.c_str());
                return true;
            }
        }
        return false;
    });
}

bool MilDigitizer::GetProperty(const char *name, int *out) {
    if (name == nullptr || out == nullptr) return false;
    DriverLock<std::mutex> lock(lifecycleMutex_);
    if (const char *feature = GenicamFeature(name)) return GetFeature(feature, out);
    if (Is(name, "MdigInquire")) return InquireStoredType(out);
    if (IsContinuousName(name)) {
        *out = IsContinuous() ? 1 : 0;
        return true;
    }

    const CameraSettings &s = settings_;
    if (s.BaslerPortAccessEnabled.value != 0) {
        for (const Param<double> *p : {&s.ExposureTime, &s.LinePeriod}) {
            if (Is(name, p->name)) {
                *out = TruncateToInt(p->value);
                return true;
            }
        }
        if (Is(name, s.ExposureMode.name)) {
            *out = s.ExposureMode.CurrentCode();
            return true;
        }
        for (const Param<double> *p : {&s.Gain, &s.GainBalance, &s.DigitalOffset, &s.DigitalOffsetBalance}) {
            if (Is(name, p->name)) {
                *out = TruncateToInt(p->value);
                return true;
            }
        }
    }
    DriverLock<std::mutex> rows(rowsMutex_);
    for (const Param<int> *p : {&s.BaslerPortAccessEnabled, &s.LogLevel, &s.LogIntoFile, &s.HeightMultiplier,
                                &s.GrabTimeout, &s.Use16bit, &s.Shift16bit, &s.UseLUT, &s.Height, &s.Width}) {
        if (Is(name, p->name)) {
            *out = p->value;
            return true;
        }
    }
    return false;
}

// The host's int has room for 32 bits: the answer is taken into scratch areas first and handed on
// only when it fits.
bool MilDigitizer::InquireStoredType(int *out) {
    alignas(8) uint8_t zeroFilled[kInquiryScratchSize];
    alignas(8) uint8_t oneFilled[kInquiryScratchSize];
    const MilId id = DigitizerId();
    const MilInt64 type = static_cast<MilInt64>(storedValue_);
    std::memset(zeroFilled, 0x00, sizeof zeroFilled);
    const MilInt returned = Mil().MdigInquire(id, type, zeroFilled);
    if (!MilErrorPending()) {
        std::memset(oneFilled, 0xFF, sizeof oneFilled);
        Mil().MdigInquire(id, type, oneFilled);
    }
    if (MilErrorPending()) {
        KC_LOG(2, "MilDigitizer::GetProperty ERROR calling MdigInquire (%d). Error message:%s\n", storedValue_,
               MilMessage().c_str());
        return false;
    }
    int value = 0;
    if (!InquiryAnswerAsInt(zeroFilled, oneFilled, sizeof zeroFilled, returned, value)) {
        KC_LOG(2,
               "MilDigitizer::GetProperty ERROR calling MdigInquire (%d). Error message:the answer does not fit "
               "into an int\n",
               storedValue_);
        return false;
    }
    *out = value;
    return true;
}

bool MilDigitizer::GetPropertyRange(const char *name, int &min, int &max) {
    if (name == nullptr) return false;
    DriverLock<std::mutex> lock(lifecycleMutex_);
    if (const char *feature = GenicamFeature(name)) return GetFeatureRange(feature, min, max);
    return settings_.GetRange(name, min, max);
}

int MilDigitizer::SizeBand() {
    DriverLock<std::mutex> rows(rowsMutex_);
    return buffers_.SizeBand();
}

} // namespace kestcam
