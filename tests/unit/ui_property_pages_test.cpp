// The property sheet's pages and the generator dialog over scripted views: what the user sees when
// a page opens, the status bar and OK while fields are edited, the reset notice, the DCF and table
// choices, the camera page's ranges and enabling, and the generator's check and file.
#include <gtest/gtest.h>

#include <filesystem>
#include <ostream>
#include <string>

#include "driver/logger.h"
#include "support/scripted_dialogs.h"
#include "support/temp_dir.h"

namespace kestcam {
namespace {

using test::ScriptedSheetRun;
using ui::CPropCameraControls;
using ui::CPropFrameGrabber;
using ui::CSheet1;
using ui::DlgGenerateLUT;
using FG = CPropFrameGrabber;
using Cam = CPropCameraControls;

// A sheet on a working copy, opened with both pages as the launcher builds it.
struct Sheet {
    explicit Sheet(CameraSettings initial = CameraSettings(), int bandCount = 1)
        : working(std::move(initial)), fg(working, bandCount, sheet), cam(working, sheet) {
        sheet.AddPage(fg);
        sheet.AddPage(cam);
        run = std::make_unique<ScriptedSheetRun>(sheet);
    }
    const test::ScriptedItem &Fg(int id) { return run->fgView.At(id); }
    const test::ScriptedItem &CamItem(int id) { return run->camView.At(id); }

    CameraSettings working;
    CSheet1 sheet{"Camera 1 properties", nullptr};
    CPropFrameGrabber fg;
    CPropCameraControls cam;
    std::unique_ptr<ScriptedSheetRun> run;
};

std::string FgError(const std::string &message) {
    return std::string("FrameGrabber Settings: ") + message;
}
std::string CamError(const std::string &message) {
    return std::string("Camera Settings: ") + message;
}

TEST(FrameGrabberPage, OpeningClampsFrameCountAndTimeoutButValidatesNothing) {
    CameraSettings s;
    s.HeightMultiplier.value = 0;
    s.GrabTimeout.value = 100;
    s.LogLevel.value = 7;
    Sheet sheet(s);
    EXPECT_EQ(sheet.Fg(FG::kHeightMultiplier).text, "1");
    EXPECT_EQ(sheet.Fg(FG::kGrabTimeout).text, "500");
    EXPECT_EQ(sheet.Fg(FG::kLogLevel).text, "7");
    EXPECT_EQ(sheet.Fg(FG::kHeightMultiplierRange).text, "[1 ... 10]");
    EXPECT_TRUE(sheet.run->okEnabled);
    EXPECT_EQ(sheet.run->status, "");
}

struct FieldCase {
    const char *name;
    int field;
    const char *text;
    bool use16bit;
    const char *message; // empty: accepted
    const char *fixed;   // a text that clears the message
};

void PrintTo(const FieldCase &c, std::ostream *out) {
    *out << c.name;
}

class FrameGrabberField : public ::testing::TestWithParam<FieldCase> {};

TEST_P(FrameGrabberField, ReportsInTheStatusBarAndHoldsOkUntilFixed) {
    const FieldCase &c = GetParam();
    CameraSettings s;
    s.Use16bit.value = c.use16bit ? 1 : 0;
    Sheet sheet(s);
    sheet.run->TypeFg(c.field, c.text);
    if (c.message[0] == '\0') {
        EXPECT_TRUE(sheet.run->okEnabled);
        EXPECT_EQ(sheet.run->status, "");
        return;
    }
    EXPECT_FALSE(sheet.run->okEnabled);
    EXPECT_EQ(sheet.run->status, FgError(c.message));
    sheet.run->TypeFg(c.field, c.fixed);
    EXPECT_TRUE(sheet.run->okEnabled);
    EXPECT_EQ(sheet.run->status, "");
}

INSTANTIATE_TEST_SUITE_P(
    Fields, FrameGrabberField,
    ::testing::Values(
        FieldCase{"HeightMultiplier11", FG::kHeightMultiplier, "11", false, "Frame count not in range", "10"},
        FieldCase{"LettersInHeightMultiplier", FG::kHeightMultiplier, "abc", false, "Frame count not in range",
                  "2x"},
        FieldCase{"GrabTimeout499", FG::kGrabTimeout, "499", false, "Image timeout not in range", "500"},
        FieldCase{"LogLevel4", FG::kLogLevel, "4", false, "Log level not in range", "3"},
        FieldCase{"Shift9With16bit", FG::kShift16bit, "9", true, "Shift value not in range", "8"},
        FieldCase{"Shift9Without16bit", FG::kShift16bit, "9", false, "", ""}),
    [](const auto &info) { return std::string(info.param.name); });

TEST(FrameGrabberPage, AnInvalidCameraPageKeepsOkDisabledWhenThisPageIsFixed) {
    CameraSettings s;
    s.BaslerPortAccessEnabled.value = 1;
    s.UseGain.value = 1;
    s.MarkLimitsReported(s.Gain);
    Sheet sheet(s);
    sheet.run->TypeCam(Cam::kGain, "5");
    sheet.run->TypeFg(FG::kHeightMultiplier, "11");
    sheet.run->TypeFg(FG::kHeightMultiplier, "4");
    // Every page re-validates once this one is valid: the camera page's report shows.
    EXPECT_FALSE(sheet.run->okEnabled);
    EXPECT_EQ(sheet.run->status, CamError("Gain not in range"));
}

TEST(FrameGrabberPage, DefaultDcfTickedAndUntickedLeavesNoResetNoticeAnotherDcfShowsIt) {
    Sheet sheet;
    sheet.run->ClickFg(FG::kDefaultDcf);
    EXPECT_EQ(sheet.run->status, CSheet1::kResetNotice);
    EXPECT_FALSE(sheet.Fg(FG::kDcfFile).enabled);
    sheet.run->ClickFg(FG::kDefaultDcf);
    EXPECT_EQ(sheet.run->status, "");

    sheet.run->fgView.chooseFile = [](const ui::FileDialogRequest &) { return std::string("/x/other.dcf"); };
    sheet.run->ClickFg(FG::kDcfBrowse);
    EXPECT_EQ(sheet.run->status, CSheet1::kResetNotice);
    EXPECT_TRUE(sheet.run->okEnabled); // the notice never disables OK
    const ui::FileDialogRequest &request = sheet.run->fgView.fileRequests.at(0);
    EXPECT_EQ(request.title, "Select DCF file");
    EXPECT_EQ(request.filter, "DCF (*.dcf)|*.dcf||");
    EXPECT_EQ(request.fileName, ""); // M_DEFAULT gives no start name
    EXPECT_TRUE(request.fileMustExist);
}

#if defined(_WIN32)
constexpr char kSep = '\\';
const std::string kRoot = "C:";
#else
constexpr char kSep = '/';
const std::string kRoot;
#endif
// A path with this platform's separator.
std::string S(std::string path) {
    for (char &c : path)
        if (c == '/') c = kSep;
    return path;
}

// What the page stores when the user picks `chosen` with DCF_FILE `stored` before (system path
// /a/b); status receives the status bar's text.
std::string StoreDcfChoice(const std::string &stored, const std::string &chosen, std::string *status) {
    const std::string saved = Logger::Instance().SystemPath();
    Logger::Instance().SetSystemPath(kRoot + S("/a/b"));
    CameraSettings s;
    s.DCF_FILE.value = stored;
    Sheet sheet(s);
    std::string startName;
    sheet.run->fgView.chooseFile = [&](const ui::FileDialogRequest &r) {
        startName = r.fileName;
        return kRoot + S(chosen);
    };
    sheet.run->ClickFg(FG::kDcfBrowse);
    Logger::Instance().SetSystemPath(saved);
    // The dialog starts at the stored file made absolute.
    EXPECT_EQ(startName, stored == "M_DEFAULT" ? "" : kRoot + S("/a/b/cam.dcf"));
    EXPECT_EQ(sheet.Fg(FG::kDcfFile).text, sheet.working.DCF_FILE.value);
    *status = sheet.run->status;
    return sheet.working.DCF_FILE.value;
}

TEST(FrameGrabberPage, DcfStoredRelativeOnlyWithinOneLevelAboveTheSystemPath) {
    std::string status;
    EXPECT_EQ(StoreDcfChoice("M_DEFAULT", "/a/b/cam.dcf", &status), S("./cam.dcf"));
    EXPECT_EQ(StoreDcfChoice("M_DEFAULT", "/a/c/cam.dcf", &status), S("../c/cam.dcf"));
    EXPECT_EQ(StoreDcfChoice("M_DEFAULT", "/cam.dcf", &status), kRoot + S("/cam.dcf"));
}

TEST(FrameGrabberPage, ChoosingTheStoredDcfAgainCountsAsAChangeWhenItWasStoredRelative) {
    std::string status;
    StoreDcfChoice(kRoot + S("/a/b/cam.dcf"), "/a/b/cam.dcf", &status);
    EXPECT_EQ(status, "");
    StoreDcfChoice(S("cam.dcf"), "/a/b/cam.dcf", &status);
    EXPECT_EQ(status, CSheet1::kResetNotice);
}

class LutColumns : public ::testing::Test {
protected:
    CameraSettings WithTable(const std::string &header, const std::string &column) {
        CameraSettings s;
        s.UseLUT.value = 1;
        s.LUT_FILE.value = dir_.Write("t.csv", header + "\n1;2;3\n");
        s.lutcolumn.value = column;
        return s;
    }
    test::TempDir dir_;
};

TEST_F(LutColumns, ListTheFileColumnsAndSelectTheStoredOne) {
    Sheet sheet(WithTable("x;a;b", "b"));
    const test::ScriptedItem &combo = sheet.Fg(FG::kLutColumn);
    EXPECT_EQ(combo.list, (std::vector<std::string>{"a", "b"}));
    EXPECT_EQ(combo.selection, 1);
    EXPECT_TRUE(combo.readOnly);
    EXPECT_FALSE(sheet.Fg(FG::kShift16bit).enabled);
    ASSERT_TRUE(sheet.run->PressOk());
    EXPECT_EQ(sheet.working.lutcolumn.value, "b");
}

TEST_F(LutColumns, AnUnreadableTableLeavesTheListEmptyAndOkStoresNone) {
    CameraSettings s = WithTable("x;a", "a");
    s.LUT_FILE.value = dir_.File("missing.csv");
    Sheet sheet(s);
    EXPECT_TRUE(sheet.Fg(FG::kLutColumn).list.empty());
    ASSERT_TRUE(sheet.run->PressOk());
    EXPECT_EQ(sheet.working.lutcolumn.value, "None");
}

TEST_F(LutColumns, BrowsingToAFileWithoutColumnsShowsAnErrorAndChangesNothing) {
    Sheet sheet(WithTable("x;a;b", "zz"));
    EXPECT_EQ(sheet.Fg(FG::kLutColumn).selection, 0); // no match: the first column
    const std::string before = sheet.working.LUT_FILE.value;
    const std::string empty = dir_.Write("empty.csv", "");
    const std::string good = dir_.Write("good.csv", "LN;ln\n0;0\n");
    sheet.run->fgView.chooseFile = [&](const ui::FileDialogRequest &r) {
        EXPECT_EQ(r.initialDir, "c:");
        return empty;
    };
    sheet.run->ClickFg(FG::kLutBrowse);
    EXPECT_EQ(sheet.run->fgView.errors, (std::vector<std::string>{"Could not read column names"}));
    EXPECT_EQ(sheet.working.LUT_FILE.value, before);

    sheet.run->fgView.chooseFile = [&](const ui::FileDialogRequest &) { return good; };
    sheet.run->ClickFg(FG::kLutBrowse);
    EXPECT_EQ(sheet.working.LUT_FILE.value, good); // the full path, not made relative
    EXPECT_EQ(sheet.Fg(FG::kLutColumn).list, (std::vector<std::string>{"ln"}));
}

TEST(FrameGrabberPage, SixteenBitSourceOnlyForAMonochromeCamera) {
    for (int bands : {1, 3, -1}) {
        Sheet sheet(CameraSettings(), bands);
        EXPECT_EQ(sheet.Fg(FG::kUse16bit).enabled, bands == 1) << bands << " bands";
    }
}

TEST(CameraPage, RangeLabelsShowTheCameraLimitsWithTwoDecimalsMinimumFirst) {
    CameraSettings s;
    s.Gain.min = -3.5;
    s.Gain.max = 12.25;
    s.LinePeriod.min = 14.2857;
    s.LinePeriod.max = 20000;
    Sheet sheet(s);
    EXPECT_EQ(sheet.CamItem(Cam::kGainRange).text, "[-3.50 ... 12.25]");
    EXPECT_EQ(sheet.CamItem(Cam::kLinePeriodRange).text, "[14.29 ... 20000.00]");
    EXPECT_EQ(sheet.CamItem(Cam::kExposureTimeRange).text, "[0.00 ... 1.00]");
}

TEST(CameraPage, DirectAccessOffDisablesTheGroupWhateverTheUseFlags) {
    CameraSettings s;
    s.UseGain.value = 1;
    Sheet sheet(s);
    for (int id : {Cam::kGain, Cam::kUseGain, Cam::kPort, Cam::kPortLabel, Cam::kExposureMode, Cam::kLinePeriod})
        EXPECT_FALSE(sheet.CamItem(id).enabled) << id;
    sheet.run->ClickCam(Cam::kAccessEnabled);
    EXPECT_TRUE(sheet.CamItem(Cam::kGain).enabled);
    EXPECT_TRUE(sheet.CamItem(Cam::kUseGainBalance).enabled);
    EXPECT_FALSE(sheet.CamItem(Cam::kGainBalance).enabled); // its Use flag is off
    EXPECT_FALSE(sheet.CamItem(Cam::kExposureMode).enabled);
}

struct CameraCase {
    const char *name;
    const char *gain;
    int useGain;
    const char *offset;
    const char *exposure;
    const char *message; // empty: OK stays enabled
};

void PrintTo(const CameraCase &c, std::ostream *out) {
    *out << c.name;
}

class CameraPageValues : public ::testing::TestWithParam<CameraCase> {};

TEST_P(CameraPageValues, CheckOnlyEnabledGainAndOffsetAgainstTheCameraLimits) {
    const CameraCase &c = GetParam();
    CameraSettings s;
    s.BaslerPortAccessEnabled.value = 1;
    s.UseGain.value = c.useGain;
    s.UseDigitalOffset.value = 1;
    s.UseExposureTime.value = 1;
    s.Gain.min = 0;
    s.Gain.max = 12;
    s.DigitalOffset.min = -10;
    s.DigitalOffset.max = 10;
    s.ExposureTime.min = 2;
    s.ExposureTime.max = 100;
    for (const Param<double> *p : {&s.Gain, &s.DigitalOffset, &s.ExposureTime})
        s.MarkLimitsReported(*p);
    Sheet sheet(s);
    sheet.run->camView.items[Cam::kGain].text = c.gain;
    sheet.run->camView.items[Cam::kDigitalOffset].text = c.offset;
    sheet.run->TypeCam(Cam::kExposureTime, c.exposure);
    EXPECT_EQ(sheet.run->okEnabled, c.message[0] == '\0');
    EXPECT_EQ(sheet.run->status, c.message[0] == '\0' ? "" : CamError(c.message));
}

INSTANTIATE_TEST_SUITE_P(
    Values, CameraPageValues,
    ::testing::Values(CameraCase{"GainAtMinimum", "0", 1, "0", "50", ""},
                      CameraCase{"GainAtMaximum", "12", 1, "0", "50", ""},
                      CameraCase{"GainJustAbove", "12.001", 1, "0", "50", "Gain not in range"},
                      CameraCase{"GainOffButOutOfRange", "99", 0, "0", "50", ""},
                      CameraCase{"GainAndOffsetOutShowGain", "-1", 1, "11", "50", "Gain not in range"},
                      CameraCase{"OffsetOut", "1", 1, "-10.5", "50", "Digital Offset not in range"},
                      CameraCase{"ExposureTimeOutOfRange", "1", 1, "0", "5000", ""}),
    [](const auto &info) { return std::string(info.param.name); });

TEST(CameraPage, AnotherPortShowsTheResetNoticeAndOkReadsBothLists) {
    CameraSettings s;
    s.BaslerPortAccessEnabled.value = 1;
    Sheet sheet(s);
    EXPECT_EQ(sheet.CamItem(Cam::kPort).list.size(), 4u);
    EXPECT_EQ(sheet.CamItem(Cam::kExposureMode).selection, 0);
    sheet.run->SelectPort(2);
    EXPECT_EQ(sheet.run->status, CSheet1::kResetNotice);
    sheet.run->camView.items[Cam::kExposureMode].selection = 4;
    ASSERT_TRUE(sheet.run->PressOk());
    EXPECT_EQ(sheet.working.BaslerPort.value, "COM3");
    EXPECT_EQ(sheet.working.ExposureMode.value, "ExSync edge controlled");
}

TEST(CameraPage, OkKeepsAStoredPortTheListDoesNotHold) {
    CameraSettings s;
    s.BaslerPort.value = "/dev/pts/7";
    Sheet sheet(s);
    EXPECT_EQ(sheet.CamItem(Cam::kPort).selection, -1);
    ASSERT_TRUE(sheet.run->PressOk());
    EXPECT_EQ(sheet.working.BaslerPort.value, "/dev/pts/7");
}

TEST(CameraPage, OnlyLimitsTheCameraReportedAndOnlyWithDirectAccessOnBlockOk) {
    CameraSettings s;
    s.BaslerPortAccessEnabled.value = 1;
    s.UseGain.value = 1;
    s.UseGainBalance.value = 1;
    s.Gain.value = 5; // bounds 0..1 both, but only the balance's came from the camera
    s.GainBalance.value = 5;
    s.MarkLimitsReported(s.GainBalance);
    Sheet sheet(s);
    sheet.run->TypeCam(Cam::kGain, "5"); // not checked: its limits never came from a camera
    EXPECT_FALSE(sheet.run->okEnabled);
    EXPECT_EQ(sheet.run->status, CamError("Gain L/R Balance not in range"));
    sheet.run->ClickCam(Cam::kAccessEnabled); // off: the field is disabled, and so is its check
    EXPECT_TRUE(sheet.run->okEnabled);
    EXPECT_EQ(sheet.run->status, "");
}

// The page is refilled from the working copy after a file choice; what the user typed or ticked in
// items without a handler of their own must be in it by then.
class FileChoice : public ::testing::TestWithParam<int> {};

TEST_P(FileChoice, KeepsTypedShareNameAndTickedLogIntoFile) {
    test::TempDir dir;
    const std::string chosen = GetParam() == FG::kLutBrowse ? dir.Write("t.csv", "x;a\n0;0\n") : "/x/other.dcf";
    CameraSettings s;
    s.UseLUT.value = 1;
    s.ShareCamera.value = 1;
    Sheet sheet(s);
    sheet.run->fgView.items[FG::kShareName].text = "line1";
    sheet.run->fgView.items[FG::kLogIntoFile].check = 1;
    sheet.run->fgView.chooseFile = [&](const ui::FileDialogRequest &) { return chosen; };
    sheet.run->ClickFg(GetParam());
    EXPECT_EQ(sheet.Fg(FG::kShareName).text, "line1");
    EXPECT_EQ(sheet.Fg(FG::kLogIntoFile).check, 1);
    ASSERT_TRUE(sheet.run->PressOk());
    EXPECT_EQ(sheet.working.ShareName.value, "line1");
    EXPECT_EQ(sheet.working.LogIntoFile.value, 1);
}

INSTANTIATE_TEST_SUITE_P(Buttons, FileChoice, ::testing::Values(FG::kDcfBrowse, FG::kLutBrowse),
                         [](const auto &info) { return info.param == FG::kLutBrowse ? "LutBrowse" : "DcfBrowse"; });

TEST(FrameGrabberPage, OkWithTheTableOffKeepsTheStoredColumn) {
    CameraSettings s;
    s.lutcolumn.value = "gamma";
    Sheet sheet(s);
    ASSERT_TRUE(sheet.run->PressOk());
    EXPECT_EQ(sheet.working.lutcolumn.value, "gamma");
}

TEST(PropertySheet, APortChangeKeepsTheResetNoticeWhateverTheDcfChoiceSays) {
    CameraSettings s;
    s.BaslerPortAccessEnabled.value = 1;
    s.DCF_FILE.value = "/x/cam.dcf";
    Sheet sheet(s);
    sheet.run->SelectPort(1);
    ASSERT_EQ(sheet.run->status, CSheet1::kResetNotice);
    sheet.run->ClickFg(FG::kDefaultDcf);
    sheet.run->ClickFg(FG::kDefaultDcf); // back as it was: the DCF needs no reset
    EXPECT_EQ(sheet.run->status, CSheet1::kResetNotice);
    sheet.run->fgView.chooseFile = [](const ui::FileDialogRequest &) { return std::string("/x/cam.dcf"); };
    sheet.run->ClickFg(FG::kDcfBrowse); // the same DCF again
    EXPECT_EQ(sheet.run->status, CSheet1::kResetNotice);
    EXPECT_EQ(sheet.sheet.NeedsReset(), 1);
}

TEST(PropertySheet, StatusTextIsCutAt254Characters) {
    Sheet sheet;
    sheet.sheet.ReportError(std::string(300, 'c'), "m");
    EXPECT_EQ(sheet.run->status, std::string(254, 'c'));
}

TEST(PropertySheet, ButtonsMoveIntoAColumnBesideThePages) {
    // OK 75x23 at (200, 300) in a 400x350 sheet window at (10, 20).
    const ui::SheetButtonLayout l = CSheet1::LayOutButtons({200, 300, 275, 323}, {10, 20, 410, 370});
    EXPECT_EQ(l.sheet.Width(), 400 + 75 + 15);
    EXPECT_EQ(l.sheet.Height(), 350 - 23 - 5);
    EXPECT_EQ(l.ok.left, 490 - 75 - 17);
    EXPECT_EQ(l.ok.top, 15);
    EXPECT_EQ(l.cancel.left, l.ok.left);
    EXPECT_EQ(l.cancel.top, 23 + 20);
    EXPECT_EQ(l.cancel.Width(), 75);
}

struct GeneratorRun {
    explicit GeneratorRun(CameraSettings initial = CameraSettings()) : settings(std::move(initial)) {
        dialog.Attach(&view);
        dialog.OnInitDialog();
    }
    void Type(int id, const std::string &text) {
        view.items[id].text = text;
        dialog.OnEditChange(id);
    }
    CameraSettings settings;
    test::ScriptedDialog view{DlgGenerateLUT::kCaption};
    DlgGenerateLUT dialog{settings, nullptr};
};

TEST(GeneratorDialog, OkOnlyForInputsInRangeWithLsbBelowMsb) {
    GeneratorRun g;
    EXPECT_EQ(g.view.At(DlgGenerateLUT::kMsb).text, "15");
    EXPECT_EQ(g.view.At(DlgGenerateLUT::kLsbRange).text, "[0..15]");
    EXPECT_EQ(g.view.At(DlgGenerateLUT::kSteepnessRange).text, "[1..10]");
    EXPECT_TRUE(g.view.At(DlgGenerateLUT::kOk).enabled);
    struct {
        const char *lsb, *msb, *steep;
        bool ok;
    } cases[] = {{"3", "3", "1", false},   {"4", "3", "1", false}, {"0", "16", "1", false},
                 {"0", "15", "11", false}, {"x", "15", "1", true}, {"4", "12", "10", true}};
    for (const auto &c : cases) {
        g.Type(DlgGenerateLUT::kLsb, c.lsb);
        g.Type(DlgGenerateLUT::kMsb, c.msb);
        g.Type(DlgGenerateLUT::kSteepness, c.steep);
        EXPECT_EQ(g.view.At(DlgGenerateLUT::kOk).enabled, c.ok) << c.lsb << " " << c.msb << " " << c.steep;
    }
    EXPECT_EQ(g.settings.LUTGEN_minpix.value, 4);
    EXPECT_EQ(g.settings.LUTGEN_steepness.value, 10);
}

TEST(GeneratorDialog, OkWritesTheChosenFileAndEndsAlsoWhenTheChoiceIsCancelled) {
    test::TempDir dir;
    GeneratorRun g;
    EXPECT_TRUE(g.dialog.OnOk()); // no file chosen: nothing written, the dialog still ends
    const ui::FileDialogRequest &r = g.view.fileRequests.at(0);
    EXPECT_TRUE(r.save && r.overwritePrompt);
    EXPECT_EQ(r.fileName, "LUT table");
    const std::string file = dir.File("lut.csv");
    g.view.chooseFile = [&](const ui::FileDialogRequest &) { return file; };
    EXPECT_TRUE(g.dialog.OnOk());
    EXPECT_EQ(test::TempDir::Read(file).substr(0, 5), "LN;ln");
}

} // namespace
} // namespace kestcam
