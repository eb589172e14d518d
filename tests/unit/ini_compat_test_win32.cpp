// INI compatibility with Windows: a settings file written by kestcam reads the same through the
// system's private-profile functions, and a file the system wrote reads the same through kestcam.
#define NOMINMAX
#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "settings/camera_settings.h"
#include "settings/ini_store.h"
#include "support/temp_dir.h"

namespace kestcam {
namespace {

const char *const kStoredKeys[] = {"Width",
                                   "Height",
                                   "HeightMultiplier",
                                   "GrabTimeout",
                                   "DCF_FILE",
                                   "UseDefaultDCF",
                                   "UseLUT",
                                   "LUT_FILE",
                                   "lutcolumn",
                                   "Use16bit",
                                   "Shift16bit",
                                   "LUTGEN_minpix",
                                   "LUTGEN_maxpix",
                                   "LUTGEN_steepness",
                                   "ExposureTime",
                                   "LinePeriod",
                                   "ExposureMode",
                                   "Gain",
                                   "GainBalance",
                                   "DigitalOffset",
                                   "DigitalOffsetBalance",
                                   "BaslerPort",
                                   "UseExposureTime",
                                   "UseLinePeriod",
                                   "UseExposureMode",
                                   "UseGain",
                                   "UseGainBalance",
                                   "UseDigitalOffset",
                                   "UseDigitalOffsetBalance",
                                   "BaslerPortAccessEnabled",
                                   "LogLevel",
                                   "ShareCamera",
                                   "ShareName"};

const char kMissing[] = "<missing>";

std::string WindowsString(const std::string &file, const char *section, const char *key) {
    char buffer[256] = {};
    DWORD n = GetPrivateProfileStringA(section, key, kMissing, buffer, sizeof buffer, file.c_str());
    return std::string(buffer, n);
}

int WindowsInt(const std::string &file, const char *section, const char *key, int def) {
    return static_cast<int>(GetPrivateProfileIntA(section, key, def, file.c_str()));
}

// Drops the system's cached copy, so the next read sees the file as it is on disk.
void FlushProfileCache(const std::string &file) {
    WritePrivateProfileStringA(nullptr, nullptr, nullptr, file.c_str());
}

TEST(IniCompatTest, SettingsWrittenByKestcamReadTheSameThroughWindows) {
    test::TempDir dir;
    std::string file = dir.File("Kest.ini");
    dir.Write("Kest.ini", "; site settings\r\n[Other]\r\nKey = spaced value \r\n");

    CameraSettings one;
    one.GrabTimeout.value = 100;
    one.ExposureTime.value = 1234.5678;
    one.Gain.value = -2.5;
    one.DCF_FILE.value = "C:\\dcf\\line scan.dcf";
    one.ExposureMode.value = "ExSync level programmable";
    one.ShareName.value = "cam one";
    one.LogLevel.value = -3;
    ASSERT_TRUE(one.SaveTo(file, "Camera 1"));
    CameraSettings two;
    two.Width.value = 2048;
    ASSERT_TRUE(two.SaveTo(file, "Camera 2-1-1"));
    FlushProfileCache(file);

    for (const char *section : {"Camera 1", "camera 2-1-1", "Other", "Absent"}) {
        for (const char *key : kStoredKeys) {
            EXPECT_EQ(WindowsString(file, section, key), ini::GetString(file, section, key, kMissing))
                << section << "/" << key;
            EXPECT_EQ(WindowsInt(file, section, key, 77), ini::GetInt(file, section, key, 77))
                << section << "/" << key;
        }
    }
    EXPECT_EQ(WindowsString(file, "Other", "key"), "spaced value");
    EXPECT_EQ(WindowsString(file, "Camera 1", "LogIntoFile"), kMissing);
}

TEST(IniCompatTest, FileWrittenByWindowsReadsTheSameThroughKestcam) {
    test::TempDir dir;
    std::string file = dir.File("Kest.ini");
    struct Entry {
        const char *section;
        const char *key;
        const char *value;
    } entries[] = {{"Camera 1", "Width", "2048"},
                   {"Camera 1", "GrabTimeout", "100"},
                   {"Camera 1", "ExposureTime", "1234.57"},
                   {"Camera 1", "DCF_FILE", "C:\\dcf\\line scan.dcf"},
                   {"Camera 1", "ShareName", ""},
                   {"Camera 1", "LogLevel", "-2"},
                   {"Camera 1", "HeightMultiplier", "0x5"},
                   {"Camera 1", "Shift16bit", "3 bits"},
                   {"Camera 1", "UseLUT", "yes"},
                   {"CAMERA 1", "width", "4096"}, // last write wins, whatever the case
                   {"Camera 2", "ExposureMode", "ExSync edge controlled"},
                   {"Camera 2", "LUT_FILE", "\"C:\\luts\\quoted.csv\""}};
    for (const Entry &e : entries)
        ASSERT_TRUE(WritePrivateProfileStringA(e.section, e.key, e.value, file.c_str())) << e.key;
    FlushProfileCache(file);

    for (const Entry &e : entries) {
        EXPECT_EQ(ini::GetString(file, e.section, e.key, kMissing), WindowsString(file, e.section, e.key))
            << e.key;
        EXPECT_EQ(ini::GetInt(file, e.section, e.key, 77), WindowsInt(file, e.section, e.key, 77)) << e.key;
    }

    CameraSettings s;
    ASSERT_TRUE(s.LoadFrom(file, "Camera 1"));
    EXPECT_EQ(s.Width.value, WindowsInt(file, "Camera 1", "Width", 0));
    EXPECT_EQ(s.ExposureTime.value, 1234.57);
    EXPECT_EQ(s.DCF_FILE.value, WindowsString(file, "Camera 1", "DCF_FILE"));
    CameraSettings t;
    ASSERT_TRUE(t.LoadFrom(file, "Camera 2"));
    EXPECT_EQ(t.ExposureMode.value, "ExSync edge controlled");
    EXPECT_EQ(t.LUT_FILE.value, WindowsString(file, "Camera 2", "LUT_FILE"));
}

// The look-up rules on a file edited by hand. Left out on purpose, where kestcam differs: keys
// named like comment lines, keys before the first section, integers outside int's range.
TEST(IniCompatTest, HandEditedFileReadsTheSameThroughBoth) {
    test::TempDir dir;
    std::string file = dir.Write("Kest.ini", "[ Camera 1 ]\r\n"
                                             "  GrabTimeout  =  700  \r\n"
                                             "grabtimeout=800\r\n"
                                             "DCF_FILE='C:\\dcf\\a b.dcf'\r\n"
                                             "Height=12px\r\nWidth=0X20\r\nLogLevel=-0x2\r\nShift16bit=0b11\r\n"
                                             "; a comment\r\n"
                                             "[broken\r\n"
                                             "UseLUT=1\r\n"
                                             "[Camera 2]\r\nWidth=640\r\n"
                                             "[camera 1]\r\nLUT_FILE=later duplicate\r\n");
    FlushProfileCache(file);
    for (const char *section : {"Camera 1", " camera 1 ", "Camera 2"}) {
        for (const char *key : kStoredKeys) {
            EXPECT_EQ(ini::GetString(file, section, key, kMissing), WindowsString(file, section, key))
                << section << "/" << key;
            EXPECT_EQ(ini::GetInt(file, section, key, 77), WindowsInt(file, section, key, 77))
                << section << "/" << key;
        }
    }
}

// UTF-16 files (with a byte-order mark): the system's functions are the reference for reading them,
// for writing into them, and for reading what kestcam wrote into them.
class IniCompatUtf16 : public ::testing::TestWithParam<ini::FileEncoding> {
protected:
    std::string Write(const std::string &text) {
        return dir_.Write("Kest.ini", ini::EncodeUtf16("\xEF\xBB\xBF" + text, GetParam()));
    }
    // The keys the tests use, compared through both.
    void ExpectSameReads(const std::string &file, const std::vector<const char *> &sections) {
        FlushProfileCache(file);
        for (const char *section : sections) {
            for (const char *key : {"Width", "GrabTimeout", "DCF_FILE", "ShareName", "Key", "LogLevel"}) {
                EXPECT_EQ(ini::GetString(file, section, key, kMissing), WindowsString(file, section, key))
                    << section << "/" << key;
                EXPECT_EQ(ini::GetInt(file, section, key, 77), WindowsInt(file, section, key, 77))
                    << section << "/" << key;
            }
        }
    }
    std::string Text(const std::string &file) {
        std::string text;
        EXPECT_TRUE(ini::DecodeUtf16(test::TempDir::Read(file), GetParam(), text));
        return text;
    }
    test::TempDir dir_;
};

TEST_P(IniCompatUtf16, HandWrittenFileReadsTheSameThroughBoth) {
    const std::string file = Write("[Camera 1]\r\n GrabTimeout = 700 \r\nDCF_FILE=C:\\dcf\\M\xC3\xBCller.dcf\r\n"
                                   "Width=0x20\r\n[Other]\r\nKey='quoted'\r\n");
    ExpectSameReads(file, {"Camera 1", "other", "Absent"});
}

TEST_P(IniCompatUtf16, WhatKestcamSavesReadsTheSameThroughWindowsAndStaysUtf16) {
    const std::string file = Write("[Other]\r\nKey=x\r\n");
    CameraSettings s;
    s.DCF_FILE.value = "C:\\dcf\\line scan.dcf";
    s.ShareName.value = "caf\xE9"; // 0xE9 of the ANSI code page the "A" functions speak
    s.LogLevel.value = 3;
    ASSERT_TRUE(s.SaveTo(file, "Camera 1"));
    ExpectSameReads(file, {"Camera 1", "Other"});
    EXPECT_EQ(WindowsString(file, "Camera 1", "ShareName"), ini::GetString(file, "Camera 1", "ShareName", ""));
    EXPECT_EQ(Text(file).rfind("\xEF\xBB\xBF[Other]\r\nKey=x\r\n\r\n[Camera 1]\r\nWidth=8160\r\n", 0), 0u);
}

TEST_P(IniCompatUtf16, WhatWindowsWritesIntoItReadsTheSameThroughKestcam) {
    const std::string file = Write("[Camera 1]\r\nWidth=1\r\n");
    ASSERT_TRUE(WritePrivateProfileStringA("Camera 1", "ShareName", "caf\xE9", file.c_str()));
    ASSERT_TRUE(WritePrivateProfileStringA("Camera 2", "GrabTimeout", "900", file.c_str()));
    ExpectSameReads(file, {"Camera 1", "Camera 2"});
    CameraSettings s;
    ASSERT_TRUE(s.LoadFrom(file, "Camera 2"));
    EXPECT_EQ(s.GrabTimeout.value, 900);
}

INSTANTIATE_TEST_SUITE_P(ByteOrder, IniCompatUtf16,
                         ::testing::Values(ini::FileEncoding::Utf16Le, ini::FileEncoding::Utf16Be),
                         [](const auto &info) {
                             return info.param == ini::FileEncoding::Utf16Le ? "LittleEndian" : "BigEndian";
                         });

} // namespace
} // namespace kestcam
