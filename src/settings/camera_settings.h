// camera_settings.h - the 34 settings of one camera and their section of the settings file.
#pragma once

#include <string>

#include "settings/ini_store.h"
#include "settings/param.h"

namespace kestcam {

class ProfileArchive;

// Member names are the keys: settings-file keys and host property names alike.
class CameraSettings {
public:
    CameraSettings() { SetDefaults(); }
    CameraSettings(const CameraSettings &) = default;
    CameraSettings &operator=(const CameraSettings &) = default;

    // Rebuilds every parameter: key, default value, bounds and enum entries.
    void SetDefaults();

    // Reads the stored keys of section from the settings file of the system path. Missing
    // file, section or key leave the values as they are; nothing is range-checked. False for a
    // null section or a file that exists but cannot be read (values kept, reason logged).
    bool Load(const char *section);
    // Writes the stored keys to section in one atomic replace of the settings file; other
    // sections, unknown keys and comments stay. False for a null section or when the file
    // cannot be written (it is then unchanged; reason logged).
    bool Save(const char *section);
    bool LoadFrom(const std::string &file, const char *section);
    bool SaveTo(const std::string &file, const char *section);
    // The same exchanges on a document in memory (parsers and fuzzers need no file).
    void LoadFrom(const ini::IniDocument &document, const char *section);
    bool SaveTo(ini::IniDocument &document, const char *section);

    // Bounds of the ranged parameters the host may ask for (HeightMultiplier, GrabTimeout,
    // Shift16bit and the six camera doubles), key compared without regard to case. Double
    // bounds are truncated toward zero. False, outputs untouched, for any other key.
    bool GetRange(const char *key, int &min, int &max) const;

    // Whether the bounds of one of the six camera doubles (ExposureTime, LinePeriod, Gain,
    // GainBalance, DigitalOffset, DigitalOffsetBalance) are limits the camera reported, rather than
    // the placeholders of SetDefaults. The serial camera marks them when it stores them; copies and
    // assignments carry the marks with the bounds. Any other parameter is never marked.
    void MarkLimitsReported(const Param<double> &param);
    bool LimitsReported(const Param<double> &param) const;
    // What the serial camera writes into the settings: the six camera doubles with their bounds and
    // marks, and the exposure mode, taken from a copy an exchange with the camera worked on.
    void TakeCameraValues(const CameraSettings &from);

    Param<int> Width;
    Param<int> Height;
    Param<int> HeightMultiplier;
    Param<int> GrabTimeout;
    Param<std::string> DCF_FILE;
    Param<int> UseLUT;
    Param<std::string> LUT_FILE;
    Param<std::string> lutcolumn;
    Param<int> LUTGEN_minpix;
    Param<int> LUTGEN_maxpix;
    Param<int> LUTGEN_steepness;
    Param<int> Use16bit;
    Param<int> Shift16bit;
    ParamEnum BaslerPort;
    Param<double> ExposureTime;
    Param<double> LinePeriod;
    ParamEnum ExposureMode;
    Param<double> Gain;
    Param<double> GainBalance;
    Param<double> DigitalOffset;
    Param<double> DigitalOffsetBalance;
    Param<int> UseExposureTime;
    Param<int> UseLinePeriod;
    Param<int> UseExposureMode;
    Param<int> UseGain;
    Param<int> UseGainBalance;
    Param<int> UseDigitalOffset;
    Param<int> UseDigitalOffsetBalance;
    Param<int> UseDefaultDCF;
    Param<int> BaslerPortAccessEnabled;
    Param<int> LogLevel;
    Param<int> LogIntoFile; // handed to the logger at open, never stored
    Param<int> ShareCamera;
    Param<std::string> ShareName;

private:
    // Bit i: the i-th of the six camera doubles, in the order above.
    int LimitsBit(const Param<double> &param) const;
    unsigned reportedLimits_ = 0;

    // The stored keys in the order a new section lists them.
    void ExchangeStored(ProfileArchive &archive);
};

} // namespace kestcam
