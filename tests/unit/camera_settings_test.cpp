// Camera settings and their file: defaults, the stored keys and their order, the reading rules
// (no clamp, "%g" doubles, 255-character texts, the integer read), ranges, and sections of
// several cameras in one file.
#include <gtest/gtest.h>

#include <climits>
#include <clocale>
#include <filesystem>
#include <random>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "driver/logger.h"
#include "os/file_replace.h"
#include "settings/camera_settings.h"
#include "settings/ini_store.h"
#include "settings/profile_archive.h"
#include "support/temp_dir.h"

namespace kestcam {
namespace {

namespace fs = std::filesystem;

// The 34 parameters by type.
struct Members {
    std::vector<Param<int> *> ints;
    std::vector<Param<double> *> doubles;
    std::vector<Param<std::string> *> texts;
};

Members All(CameraSettings &s) {
    // clang-format off
    return {{&s.Width, &s.Height, &s.HeightMultiplier, &s.GrabTimeout, &s.UseLUT, &s.LUTGEN_minpix,
             &s.LUTGEN_maxpix, &s.LUTGEN_steepness, &s.Use16bit, &s.Shift16bit, &s.UseExposureTime,
             &s.UseLinePeriod, &s.UseExposureMode, &s.UseGain, &s.UseGainBalance, &s.UseDigitalOffset,
             &s.UseDigitalOffsetBalance, &s.UseDefaultDCF, &s.BaslerPortAccessEnabled, &s.LogLevel,
             &s.LogIntoFile, &s.ShareCamera},
            {&s.ExposureTime, &s.LinePeriod, &s.Gain, &s.GainBalance, &s.DigitalOffset, &s.DigitalOffsetBalance},
            {&s.DCF_FILE, &s.LUT_FILE, &s.lutcolumn, &s.BaslerPort, &s.ExposureMode, &s.ShareName}};
    // clang-format on
}

// Every parameter as "name=value", doubles with all their digits: equal dumps mean equal sets.
std::string Dump(CameraSettings s) {
    std::ostringstream out;
    out.precision(17);
    Members m = All(s);
    for (auto *p : m.ints)
        p->Print(out);
    for (auto *p : m.doubles)
        p->Print(out);
    for (auto *p : m.texts)
        p->Print(out);
    return out.str();
}

// The section a fresh set writes, in the documented key order.
std::string DefaultSection(const std::string &name) {
    std::string text = "[" + name +
                       "]\n"
                       "Width=8160\nHeight=1000\nHeightMultiplier=1\nGrabTimeout=6000\nDCF_FILE=M_DEFAULT\n"
                       "UseDefaultDCF=0\nUseLUT=0\nLUT_FILE=\nlutcolumn=\nUse16bit=0\nShift16bit=0\n"
                       "LUTGEN_minpix=0\nLUTGEN_maxpix=15\nLUTGEN_steepness=1\nExposureTime=0\nLinePeriod=0\n"
                       "ExposureMode=Free run programmable\nGain=0\nGainBalance=0\nDigitalOffset=0\n"
                       "DigitalOffsetBalance=0\nBaslerPort=COM1\nUseExposureTime=0\nUseLinePeriod=0\n"
                       "UseExposureMode=0\nUseGain=0\nUseGainBalance=0\nUseDigitalOffset=0\n"
                       "UseDigitalOffsetBalance=0\nBaslerPortAccessEnabled=0\nLogLevel=1\nShareCamera=0\n"
                       "ShareName=\n";
    std::string native;
    for (char c : text)
        native += c == '\n' ? std::string(os::NativeLineEnd()) : std::string(1, c);
    return native;
}

class CameraSettingsTest : public ::testing::Test {
protected:
    std::string File() const { return dir_.File("Kest.ini"); }
    test::TempDir dir_;
};

// ---- defaults ------------------------------------------------------------------------------

TEST_F(CameraSettingsTest, FreshSetWritesTheDocumentedSectionInFileOrder) {
    CameraSettings s;
    ASSERT_TRUE(s.SaveTo(File(), "Camera 1"));
    EXPECT_EQ(test::TempDir::Read(File()), DefaultSection("Camera 1"));
}

TEST_F(CameraSettingsTest, SetDefaultsRestoresValuesBoundsAndEntries) {
    CameraSettings s;
    std::string fresh = Dump(s);
    s.Gain.min = -12;
    s.Gain.value = 3;
    s.GrabTimeout.value = 1;
    s.ExposureMode.AddEntry("Extra", 9);
    s.ShareName.value = "x";
    s.SetDefaults();
    EXPECT_EQ(Dump(s), fresh);
    EXPECT_EQ(s.Gain.min, 0.0);
    EXPECT_EQ(s.ExposureMode.EntryCount(), 5);
}

TEST_F(CameraSettingsTest, CopyAndAssignmentCarryEveryFieldAndStayIndependent) {
    CameraSettings s;
    s.Gain.min = -12.5;
    s.Gain.max = 36.0;
    s.Gain.value = 20.25;
    s.ExposureMode.value = "ExSync edge controlled";
    s.ShareName.value = "line1";
    CameraSettings copy(s);
    EXPECT_EQ(Dump(copy), Dump(s));
    EXPECT_EQ(copy.Gain.min, -12.5);
    CameraSettings assigned;
    assigned = s;
    EXPECT_EQ(Dump(assigned), Dump(s));
    assigned.Gain.value = 1;
    assigned.ExposureMode.ClearEntries();
    EXPECT_EQ(s.Gain.value, 20.25);
    EXPECT_EQ(s.ExposureMode.EntryCount(), 5);
}

// ---- loading -------------------------------------------------------------------------------

TEST_F(CameraSettingsTest, AbsentFileLeavesTheDefaultsAndCreatesNothing) {
    CameraSettings s;
    std::string fresh = Dump(s);
    EXPECT_TRUE(s.LoadFrom(File(), "Camera 1"));
    EXPECT_EQ(Dump(s), fresh);
    EXPECT_EQ(s.BaslerPort.value, "COM1");
    EXPECT_FALSE(fs::exists(File()));
}

TEST_F(CameraSettingsTest, LogIntoFileIsNeverReadNorWritten) {
    dir_.Write("Kest.ini", "[Camera 1]\nLogIntoFile=1\nLogLevel=3\n");
    CameraSettings s;
    ASSERT_TRUE(s.LoadFrom(File(), "Camera 1"));
    EXPECT_EQ(s.LogIntoFile.value, 0);
    EXPECT_EQ(s.LogLevel.value, 3);
    ASSERT_TRUE(s.SaveTo(File(), "Camera 1")); // the line put there by hand stays as it was
    EXPECT_EQ(ini::GetString(File(), "Camera 1", "LogIntoFile", ""), "1");
    s.LogIntoFile.value = 1;
    ASSERT_TRUE(s.SaveTo(File(), "Camera 2"));
    EXPECT_FALSE(ini::IniDocument::Parse(test::TempDir::Read(File())).Get("Camera 2", "LogIntoFile"));
}

TEST_F(CameraSettingsTest, ValuesOutsideTheirBoundsAreLoadedUnclamped) {
    dir_.Write("Kest.ini", "[Camera 1]\nGrabTimeout=100\nHeightMultiplier=99\nLogLevel=-4\nGain=-7.5\n");
    CameraSettings s;
    ASSERT_TRUE(s.LoadFrom(File(), "Camera 1"));
    EXPECT_EQ(s.GrabTimeout.value, 100);
    EXPECT_EQ(s.HeightMultiplier.value, 99);
    EXPECT_EQ(s.LogLevel.value, -4);
    EXPECT_EQ(s.Gain.value, -7.5);
}

TEST_F(CameraSettingsTest, DoubleIsWrittenBackWithSixSignificantDigits) {
    dir_.Write("Kest.ini", "[Camera 1]\nExposureTime=1234.5678\nLinePeriod=12345678\n");
    CameraSettings s;
    ASSERT_TRUE(s.LoadFrom(File(), "Camera 1"));
    EXPECT_EQ(s.ExposureTime.value, 1234.5678);
    ASSERT_TRUE(s.SaveTo(File(), "Camera 1"));
    EXPECT_EQ(ini::GetString(File(), "Camera 1", "ExposureTime", ""), "1234.57");
    EXPECT_EQ(ini::GetString(File(), "Camera 1", "LinePeriod", ""), "1.23457e+07");

    // A missing key answers the value's own "%g" text.
    dir_.Write("Kest.ini", "[Camera 1]\nGain=0.5\n");
    ASSERT_TRUE(s.LoadFrom(File(), "Camera 1"));
    EXPECT_EQ(s.ExposureTime.value, 1234.57);
}

TEST_F(CameraSettingsTest, EmptyDoubleKeyKeepsTheValue) {
    dir_.Write("Kest.ini", "[Camera 1]\nExposureTime=\nGain=\"\"\nLinePeriod=   \n");
    CameraSettings s;
    s.ExposureTime.value = 1234.5678;
    s.Gain.value = 2.0 / 3.0;
    s.LinePeriod.value = 0.125;
    ASSERT_TRUE(s.LoadFrom(File(), "Camera 1"));
    EXPECT_EQ(s.ExposureTime.value, 1234.5678);
    EXPECT_EQ(s.Gain.value, 2.0 / 3.0);
    EXPECT_EQ(s.LinePeriod.value, 0.125);
    dir_.Write("Kest.ini", "[Camera 1]\nGain=fast\nGainBalance=2.5dB\n");
    ASSERT_TRUE(s.LoadFrom(File(), "Camera 1"));
    EXPECT_EQ(s.Gain.value, 0.0);
    EXPECT_EQ(s.GainBalance.value, 2.5);
}

TEST_F(CameraSettingsTest, IntegersAreReadWithTheProfileIntegerRules) {
    dir_.Write("Kest.ini", "[Camera 1]\nGrabTimeout=abc\nHeight=12px\nWidth=\nHeightMultiplier=0x5\n"
                           "LogLevel= -2 \nShift16bit=99999999999\n");
    CameraSettings s;
    ASSERT_TRUE(s.LoadFrom(File(), "Camera 1"));
    EXPECT_EQ(s.GrabTimeout.value, 0);
    EXPECT_EQ(s.Height.value, 12);
    EXPECT_EQ(s.Width.value, 8160);
    EXPECT_EQ(s.HeightMultiplier.value, 5);
    EXPECT_EQ(s.LogLevel.value, -2);
    EXPECT_EQ(s.Shift16bit.value, INT_MAX);
}

TEST_F(CameraSettingsTest, UnknownExposureModeIsKeptWithCodeZero) {
    dir_.Write("Kest.ini", "[Camera 1]\nExposureMode=Turbo mode\nBaslerPort=com2\n");
    CameraSettings s;
    ASSERT_TRUE(s.LoadFrom(File(), "Camera 1"));
    EXPECT_EQ(s.ExposureMode.value, "Turbo mode");
    EXPECT_EQ(s.ExposureMode.CurrentCode(), 0);
    EXPECT_EQ(s.BaslerPort.value, "com2");
    EXPECT_EQ(s.BaslerPort.CurrentCode(), 0);
    ASSERT_TRUE(s.SaveTo(File(), "Camera 1"));
    EXPECT_EQ(ini::GetString(File(), "Camera 1", "ExposureMode", ""), "Turbo mode");
}

TEST_F(CameraSettingsTest, OverlongTextIsCutAt255Characters) {
    std::string path(300, 'p');
    dir_.Write("Kest.ini", "[Camera 1]\nDCF_FILE=" + path + "\nShareName=" + std::string(255, 's') +
                               "\n[Camera 2]\nLUT_FILE=" + path + "\n");
    CameraSettings s;
    ASSERT_TRUE(s.LoadFrom(File(), "Camera 1"));
    EXPECT_EQ(s.DCF_FILE.value, path.substr(0, 255));
    EXPECT_EQ(s.ShareName.value, std::string(255, 's'));
    ASSERT_TRUE(s.SaveTo(File(), "Camera 1"));
    EXPECT_EQ(ini::GetString(File(), "Camera 2", "LUT_FILE", ""), path);
}

TEST_F(CameraSettingsTest, SectionAndKeysAreFoundWithoutRegardToCase) {
    dir_.Write("Kest.ini", "[CAMERA 1]\ngrabtimeout=700\ndcf_file=a.dcf\n");
    CameraSettings s;
    ASSERT_TRUE(s.LoadFrom(File(), "Camera 1"));
    EXPECT_EQ(s.GrabTimeout.value, 700);
    EXPECT_EQ(s.DCF_FILE.value, "a.dcf");
    ASSERT_TRUE(s.SaveTo(File(), "Camera 1"));
    EXPECT_EQ(ini::IniDocument::Parse(test::TempDir::Read(File())).SectionNames(),
              std::vector<std::string>{"CAMERA 1"});
}

TEST_F(CameraSettingsTest, GarbageFileLoadsNothingAndKeepsItsBytesOnSave) {
    std::mt19937 rng(11);
    std::string garbage;
    for (int i = 0; i < 2048; ++i)
        garbage += static_cast<char>(rng() & 0xff);
    std::string longLine(1 << 20, 'L');
    dir_.Write("Kest.ini", garbage + "\n" + longLine + "\n[Camera 2]\nWidth=640\n");
    CameraSettings s;
    std::string fresh = Dump(s);
    EXPECT_TRUE(s.LoadFrom(File(), "Camera 1"));
    EXPECT_EQ(Dump(s), fresh);
    ASSERT_TRUE(s.SaveTo(File(), "Camera 1"));
    std::string after = test::TempDir::Read(File());
    EXPECT_NE(after.find(longLine), std::string::npos);
    EXPECT_EQ(ini::GetInt(File(), "Camera 2", "Width", 0), 640);
    CameraSettings reread;
    ASSERT_TRUE(reread.LoadFrom(File(), "Camera 1"));
    EXPECT_EQ(Dump(reread), fresh);
}

TEST_F(CameraSettingsTest, NullSectionIsRefused) {
    CameraSettings s;
    EXPECT_FALSE(s.LoadFrom(File(), nullptr));
    EXPECT_FALSE(s.SaveTo(File(), nullptr));
    EXPECT_FALSE(s.Load(nullptr));
    EXPECT_FALSE(s.Save(nullptr));
    EXPECT_FALSE(fs::exists(File()));
}

// ---- saving --------------------------------------------------------------------------------

// Non-default values for every stored key, chosen to survive "%g".
void SetEveryStoredKey(CameraSettings &s) {
    int n = 2;
    Members m = All(s);
    for (Param<int> *p : m.ints)
        if (p != &s.LogIntoFile) p->value = 100 + n++;
    for (Param<double> *p : m.doubles)
        p->value = -0.5 - n++;
    for (Param<std::string> *p : m.texts)
        p->value = "text " + std::to_string(n++) + " C:\\x y\\z.dcf";
}

TEST_F(CameraSettingsTest, EveryStoredKeySurvivesARoundTrip) {
    CameraSettings s;
    SetEveryStoredKey(s);
    ASSERT_TRUE(s.SaveTo(File(), "Camera 1"));
    CameraSettings reread;
    ASSERT_TRUE(reread.LoadFrom(File(), "Camera 1"));
    EXPECT_EQ(Dump(reread), Dump(s));
}

TEST_F(CameraSettingsTest, DocumentInMemoryReadsAndWritesLikeTheFile) {
    CameraSettings s;
    SetEveryStoredKey(s);
    ASSERT_TRUE(s.SaveTo(File(), "Camera 1"));
    ini::IniDocument doc;
    ASSERT_TRUE(s.SaveTo(doc, "Camera 1"));
    EXPECT_EQ(doc.Serialize(), test::TempDir::Read(File()));
    CameraSettings reread;
    reread.LoadFrom(ini::IniDocument::Parse(doc.Serialize()), "Camera 1");
    EXPECT_EQ(Dump(reread), Dump(s));
}

TEST_F(CameraSettingsTest, SaveUpdatesKeysInPlaceAndKeepsEverythingElse) {
    dir_.Write("Kest.ini", "; site settings\n[Camera 2]\nGrabTimeout=7000\nVendorKey=keep\n\n"
                           "[Camera 1]\n; tuned by hand\nGrabTimeout=100\nVendorKey=mine\n");
    CameraSettings s;
    ASSERT_TRUE(s.LoadFrom(File(), "Camera 1"));
    ASSERT_TRUE(s.SaveTo(File(), "Camera 1"));
    std::string after = test::TempDir::Read(File());
    EXPECT_EQ(after.find("; site settings\n[Camera 2]\nGrabTimeout=7000\nVendorKey=keep\n\n[Camera 1]\n"
                         "; tuned by hand\nGrabTimeout=100\nVendorKey=mine\nWidth=8160\n"),
              0u)
        << after;
    ini::IniDocument doc = ini::IniDocument::Parse(after);
    EXPECT_EQ(doc.KeyNames("Camera 1").size(), 34u); // 33 stored keys and the unknown one
    EXPECT_EQ(doc.Get("Camera 1", "VendorKey"), "mine");
}

TEST_F(CameraSettingsTest, TwoCamerasShareOneFileWithoutDisturbingEachOther) {
    CameraSettings one;
    CameraSettings two;
    one.GrabTimeout.value = 1111;
    one.ShareName.value = "first";
    two.GrabTimeout.value = 2222;
    two.ExposureMode.value = "ExSync edge controlled";
    ASSERT_TRUE(one.SaveTo(File(), "Camera 1"));
    ASSERT_TRUE(two.SaveTo(File(), "Camera 1-0-2"));
    one.Gain.value = 0.75;
    ASSERT_TRUE(one.SaveTo(File(), "Camera 1"));

    CameraSettings readOne;
    CameraSettings readTwo;
    ASSERT_TRUE(readOne.LoadFrom(File(), "Camera 1"));
    ASSERT_TRUE(readTwo.LoadFrom(File(), "Camera 1-0-2"));
    EXPECT_EQ(Dump(readOne), Dump(one));
    EXPECT_EQ(Dump(readTwo), Dump(two));
}

TEST_F(CameraSettingsTest, CamerasSavingAtOnceLoseNoSection) {
    const int kRounds = 50;
    auto saver = [this](const char *section, int base) {
        CameraSettings s;
        for (int i = 0; i < kRounds; ++i) {
            s.GrabTimeout.value = base + i;
            EXPECT_TRUE(s.SaveTo(File(), section));
        }
    };
    std::thread a(saver, "Camera 1", 1000);
    std::thread b(saver, "Camera 2", 5000);
    a.join();
    b.join();
    EXPECT_EQ(ini::GetInt(File(), "Camera 1", "GrabTimeout", 0), 1000 + kRounds - 1);
    EXPECT_EQ(ini::GetInt(File(), "Camera 2", "GrabTimeout", 0), 5000 + kRounds - 1);
}

TEST_F(CameraSettingsTest, FileThatCannotBeReadOrWrittenIsReportedAndKeepsEverything) {
    std::string parent = dir_.Write("plain-file", "untouched");
    CameraSettings s;
    s.GrabTimeout.value = 1234;
    EXPECT_FALSE(s.SaveTo((fs::path(parent) / "Kest.ini").string(), "Camera 1"));
    EXPECT_EQ(test::TempDir::Read(parent), "untouched");

    fs::create_directory(File());
    EXPECT_FALSE(s.SaveTo(File(), "Camera 1"));
    EXPECT_FALSE(s.LoadFrom(File(), "Camera 1"));
    EXPECT_TRUE(fs::is_directory(File()));
    EXPECT_EQ(s.GrabTimeout.value, 1234);
}

TEST_F(CameraSettingsTest, SaveAndLoadUseTheSettingsFileOfTheSystemPath) {
    Logger &log = Logger::Instance();
    std::string savedPath = log.SystemPath();
    log.SetSystemPath(dir_.Str());
    CameraSettings s;
    s.GrabTimeout.value = 4321;
    bool saved = s.Save("Camera 3");
    CameraSettings reread;
    bool loaded = reread.Load("Camera 3");
    std::string expectedFile = log.GetSettingsFilePath();
    log.SetSystemPath(savedPath);

    ASSERT_TRUE(saved);
    ASSERT_TRUE(loaded);
    EXPECT_EQ(fs::path(expectedFile).filename(), "Kest.ini");
    EXPECT_EQ(ini::GetInt(expectedFile, "Camera 3", "GrabTimeout", 0), 4321);
    EXPECT_EQ(reread.GrabTimeout.value, 4321);
}

TEST_F(CameraSettingsTest, DoublesAreWrittenWithAPointWhateverTheLocale) {
    const char *names[] = {"de_DE.UTF-8", "de_DE.utf8", "de_DE", "German_Germany.1252", "fr_FR.UTF-8"};
    std::string saved = std::setlocale(LC_NUMERIC, nullptr);
    const char *found = nullptr;
    for (const char *name : names)
        if ((found = std::setlocale(LC_NUMERIC, name)) != nullptr) break;
    if (found == nullptr) GTEST_SKIP() << "no locale with a decimal comma installed";
    CameraSettings s;
    s.Gain.value = 2.5;
    bool savedOk = s.SaveTo(File(), "Camera 1");
    CameraSettings reread;
    bool loadedOk = reread.LoadFrom(File(), "Camera 1");
    std::setlocale(LC_NUMERIC, saved.c_str());
    ASSERT_TRUE(savedOk);
    ASSERT_TRUE(loadedOk);
    EXPECT_EQ(ini::GetString(File(), "Camera 1", "Gain", ""), "2.5");
    EXPECT_EQ(reread.Gain.value, 2.5);
}

// ---- ranges --------------------------------------------------------------------------------

TEST_F(CameraSettingsTest, GetRangeMatchesKeysWithoutRegardToCase) {
    CameraSettings s;
    int min = -1;
    int max = -1;
    ASSERT_TRUE(s.GetRange("grabtimeout", min, max));
    EXPECT_EQ(min, 500);
    EXPECT_EQ(max, 60000);
    ASSERT_TRUE(s.GetRange("HEIGHTMULTIPLIER", min, max));
    EXPECT_EQ(min, 1);
    EXPECT_EQ(max, 10);
    ASSERT_TRUE(s.GetRange("Shift16bit", min, max));
    EXPECT_EQ(min, 0);
    EXPECT_EQ(max, 8);
    for (const char *key : {"Width", "LogLevel", "GrabTimeout2", "Grab", ""})
        EXPECT_FALSE(s.GetRange(key, min, max));
    EXPECT_FALSE(s.GetRange(nullptr, min, max));
    EXPECT_EQ(min, 0); // untouched by the failed calls
    EXPECT_EQ(max, 8);
}

TEST_F(CameraSettingsTest, GetRangeOfCameraDoublesTruncatesTowardZero) {
    CameraSettings s;
    int min = -1;
    int max = -1;
    ASSERT_TRUE(s.GetRange("Gain", min, max)); // placeholders until the camera reports its own
    EXPECT_EQ(min, 0);
    EXPECT_EQ(max, 1);
    s.DigitalOffsetBalance.min = -12.9;
    s.DigitalOffsetBalance.max = 36.9;
    ASSERT_TRUE(s.GetRange("digitaloffsetbalance", min, max));
    EXPECT_EQ(min, -12);
    EXPECT_EQ(max, 36);
    s.ExposureTime.min = 3.5;
    s.ExposureTime.max = 1e12; // beyond int: the nearest bound, not an undefined conversion
    ASSERT_TRUE(s.GetRange("ExposureTime", min, max));
    EXPECT_EQ(min, 3);
    EXPECT_EQ(max, INT_MAX);
}

// ---- ProfileArchive ------------------------------------------------------------------------

class ProfileArchiveTest : public CameraSettingsTest {};

TEST_F(ProfileArchiveTest, StoringTouchesTheFileOnlyAtFlushInOneWrite) {
    dir_.Write("Kest.ini", "[Camera 1]\nWidth=1\n");
    ProfileArchive archive(File(), "Camera 1");
    archive.SetStoring();
    Param<int> width("Width", 2048, 0, 8160);
    Param<double> gain("Gain", 0.5, 0, 1);
    Param<std::string> name("ShareName", "cam");
    archive.Exchange(width);
    archive.Exchange(gain);
    archive.Exchange(name);
    EXPECT_EQ(test::TempDir::Read(File()), "[Camera 1]\nWidth=1\n");
    ASSERT_TRUE(archive.Flush());
    EXPECT_EQ(test::TempDir::Read(File()), "[Camera 1]\nWidth=2048\nGain=0.5\nShareName=cam\n");
}

TEST_F(ProfileArchiveTest, UnstoredKeyIsIgnoredWhateverItsCase) {
    dir_.Write("Kest.ini", "[Camera 1]\nLogIntoFile=1\n");
    ProfileArchive archive(File(), "Camera 1");
    Param<int> lower("logintofile", 0, 0, 1);
    archive.Exchange(lower);
    EXPECT_EQ(lower.value, 0);
    archive.SetStoring();
    archive.Exchange(lower);
    ASSERT_TRUE(archive.Flush());
    EXPECT_EQ(test::TempDir::Read(File()), "[Camera 1]\nLogIntoFile=1\n");
}

} // namespace
} // namespace kestcam
