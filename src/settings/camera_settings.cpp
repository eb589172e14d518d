// camera_settings.cpp - defaults, ranges and the file exchange of one camera's settings.
#include "settings/camera_settings.h"

#include <climits>
#include <cmath>

#include "driver/logger.h"
#include "settings/profile_archive.h"

namespace kestcam {
namespace {

bool EqualsNoCase(const char *a, const std::string &b) {
    size_t i = 0;
    for (; a[i] != '\0' && i < b.size(); ++i) {
        auto lower = [](char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; };
        if (lower(a[i]) != lower(b[i])) return false;
    }
    return a[i] == '\0' && i == b.size();
}

// Truncation toward zero; bounds a camera reports beyond int's range give the nearest bound
// rather than an undefined conversion.
int TruncateToInt(double v) {
    if (std::isnan(v)) return 0;
    if (v >= static_cast<double>(INT_MAX)) return INT_MAX;
    if (v <= static_cast<double>(INT_MIN)) return INT_MIN;
    return static_cast<int>(v);
}

} // namespace

void CameraSettings::SetDefaults() {
    Width = Param<int>("Width", 8160, 0, 8160);
    Height = Param<int>("Height", 1000, 0, 50000);
    HeightMultiplier = Param<int>("HeightMultiplier", 1, 1, 10);
    GrabTimeout = Param<int>("GrabTimeout", 6000, 500, 60000);
    DCF_FILE = Param<std::string>("DCF_FILE", "M_DEFAULT");
    UseLUT = Param<int>("UseLUT", 0, 0, 1);
    LUT_FILE = Param<std::string>("LUT_FILE", "");
    lutcolumn = Param<std::string>("lutcolumn", "");
    LUTGEN_minpix = Param<int>("LUTGEN_minpix", 0, 0, 15);
    LUTGEN_maxpix = Param<int>("LUTGEN_maxpix", 15, 0, 15);
    LUTGEN_steepness = Param<int>("LUTGEN_steepness", 1, 1, 10);
    Use16bit = Param<int>("Use16bit", 0, 0, 1);
    Shift16bit = Param<int>("Shift16bit", 0, 0, 8);

    // Built with the last port; the first entry added then becomes the value, so the default
    // port is COM1.
    BaslerPort = ParamEnum("BaslerPort", "COM4");
    BaslerPort.ClearEntries();
    BaslerPort.AddEntry("COM1", 0);
    BaslerPort.AddEntry("COM2", 1);
    BaslerPort.AddEntry("COM3", 2);
    BaslerPort.AddEntry("COM4", 3);

    // Placeholder bounds until the camera reports its own.
    ExposureTime = Param<double>("ExposureTime", 0.0, 0.0, 1.0);
    LinePeriod = Param<double>("LinePeriod", 0.0, 0.0, 1.0);

    // The codes are the camera's register values; 1 and 3 are modes it does not offer.
    ExposureMode = ParamEnum("ExposureMode", "Free run programmable");
    ExposureMode.ClearEntries();
    ExposureMode.AddEntry("Free run programmable", 0);
    ExposureMode.AddEntry("Free run edge controlled", 2);
    ExposureMode.AddEntry("ExSync level controlled", 4);
    ExposureMode.AddEntry("ExSync level programmable", 5);
    ExposureMode.AddEntry("ExSync edge controlled", 6);

    Gain = Param<double>("Gain", 0.0, 0.0, 1.0);
    GainBalance = Param<double>("GainBalance", 0.0, 0.0, 1.0);
    DigitalOffset = Param<double>("DigitalOffset", 0.0, 0.0, 1.0);
    DigitalOffsetBalance = Param<double>("DigitalOffsetBalance", 0.0, 0.0, 1.0);
    UseExposureTime = Param<int>("UseExposureTime", 0, 0, 1);
    UseLinePeriod = Param<int>("UseLinePeriod", 0, 0, 1);
    UseExposureMode = Param<int>("UseExposureMode", 0, 0, 1);
    UseGain = Param<int>("UseGain", 0, 0, 1);
    UseGainBalance = Param<int>("UseGainBalance", 0, 0, 1);
    UseDigitalOffset = Param<int>("UseDigitalOffset", 0, 0, 1);
    UseDigitalOffsetBalance = Param<int>("UseDigitalOffsetBalance", 0, 0, 1);
    UseDefaultDCF = Param<int>("UseDefaultDCF", 0, 0, 1);
    BaslerPortAccessEnabled = Param<int>("BaslerPortAccessEnabled", 0, 0, 1);
    LogLevel = Param<int>("LogLevel", 1, 0, 3);
    LogIntoFile = Param<int>("LogIntoFile", 0, 0, 1);
    ShareCamera = Param<int>("ShareCamera", 0, 0, 1);
    ShareName = Param<std::string>("ShareName", "");
    reportedLimits_ = 0;
}

int CameraSettings::LimitsBit(const Param<double> &param) const {
    const Param<double> *cameraDoubles[] = {&ExposureTime, &LinePeriod,    &Gain,
                                            &GainBalance,  &DigitalOffset, &DigitalOffsetBalance};
    for (int i = 0; i < 6; ++i)
        if (cameraDoubles[i] == &param) return i;
    return -1;
}

void CameraSettings::MarkLimitsReported(const Param<double> &param) {
    const int bit = LimitsBit(param);
    if (bit >= 0) reportedLimits_ |= 1u << bit;
}

bool CameraSettings::LimitsReported(const Param<double> &param) const {
    const int bit = LimitsBit(param);
    return bit >= 0 && (reportedLimits_ & (1u << bit)) != 0;
}

void CameraSettings::TakeCameraValues(const CameraSettings &from) {
    ExposureTime = from.ExposureTime;
    LinePeriod = from.LinePeriod;
    Gain = from.Gain;
    GainBalance = from.GainBalance;
    DigitalOffset = from.DigitalOffset;
    DigitalOffsetBalance = from.DigitalOffsetBalance;
    ExposureMode = from.ExposureMode;
    reportedLimits_ = from.reportedLimits_;
}

void CameraSettings::ExchangeStored(ProfileArchive &archive) {
    archive.Exchange(Width);
    archive.Exchange(Height);
    archive.Exchange(HeightMultiplier);
    archive.Exchange(GrabTimeout);
    archive.Exchange(DCF_FILE);
    archive.Exchange(UseDefaultDCF);
    archive.Exchange(UseLUT);
    archive.Exchange(LUT_FILE);
    archive.Exchange(lutcolumn);
    archive.Exchange(Use16bit);
    archive.Exchange(Shift16bit);
    archive.Exchange(LUTGEN_minpix);
    archive.Exchange(LUTGEN_maxpix);
    archive.Exchange(LUTGEN_steepness);
    archive.Exchange(ExposureTime);
    archive.Exchange(LinePeriod);
    archive.Exchange(ExposureMode);
    archive.Exchange(Gain);
    archive.Exchange(GainBalance);
    archive.Exchange(DigitalOffset);
    archive.Exchange(DigitalOffsetBalance);
    archive.Exchange(BaslerPort);
    archive.Exchange(UseExposureTime);
    archive.Exchange(UseLinePeriod);
    archive.Exchange(UseExposureMode);
    archive.Exchange(UseGain);
    archive.Exchange(UseGainBalance);
    archive.Exchange(UseDigitalOffset);
    archive.Exchange(UseDigitalOffsetBalance);
    archive.Exchange(BaslerPortAccessEnabled);
    archive.Exchange(LogLevel);
    archive.Exchange(ShareCamera);
    archive.Exchange(ShareName);
}

bool CameraSettings::Load(const char *section) {
    if (section == nullptr) return false;
    return LoadFrom(Logger::Instance().GetSettingsFilePath(), section);
}

bool CameraSettings::Save(const char *section) {
    if (section == nullptr) return false;
    return SaveTo(Logger::Instance().GetSettingsFilePath(), section);
}

bool CameraSettings::LoadFrom(const std::string &file, const char *section) {
    if (section == nullptr) return false;
    ProfileArchive archive(file, section);
    archive.SetLoading();
    ExchangeStored(archive);
    if (!archive.Flush()) {
        KC_LOG(1,
               "CameraSettings::Load: ERROR cannot read settings file '%s' (%s); section '%s' keeps its values\n",
               file.c_str(), archive.ReadError().message().c_str(), section);
        return false;
    }
    return true;
}

bool CameraSettings::SaveTo(const std::string &file, const char *section) {
    if (section == nullptr) return false;
    ProfileArchive archive(file, section);
    archive.SetStoring();
    ExchangeStored(archive);
    if (!archive.Flush()) {
        KC_LOG(1,
               "CameraSettings::Save: ERROR cannot write section '%s' of settings file '%s' (%s); the file is "
               "unchanged\n",
               section, file.c_str(), archive.WriteError().message().c_str());
        return false;
    }
    return true;
}

void CameraSettings::LoadFrom(const ini::IniDocument &document, const char *section) {
    if (section == nullptr) return;
    ProfileArchive archive(document, section);
    archive.SetLoading();
    ExchangeStored(archive);
}

bool CameraSettings::SaveTo(ini::IniDocument &document, const char *section) {
    if (section == nullptr) return false;
    ProfileArchive archive(document, section);
    archive.SetStoring();
    ExchangeStored(archive);
    return archive.Flush();
}

bool CameraSettings::GetRange(const char *key, int &min, int &max) const {
    if (key == nullptr) return false;
    const Param<int> *ints[] = {&HeightMultiplier, &GrabTimeout};
    for (const Param<int> *p : ints) {
        if (EqualsNoCase(key, p->name)) {
            min = p->min;
            max = p->max;
            return true;
        }
    }
    const Param<double> *doubles[] = {&DigitalOffset, &DigitalOffsetBalance, &Gain,
                                      &GainBalance,   &LinePeriod,           &ExposureTime};
    for (const Param<double> *p : doubles) {
        if (EqualsNoCase(key, p->name)) {
            min = TruncateToInt(p->min);
            max = TruncateToInt(p->max);
            return true;
        }
    }
    if (EqualsNoCase(key, Shift16bit.name)) {
        min = Shift16bit.min;
        max = Shift16bit.max;
        return true;
    }
    return false;
}

} // namespace kestcam
