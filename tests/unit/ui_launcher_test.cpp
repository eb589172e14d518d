// Showing a camera's property sheet: the busy warning, Cancel and OK, the camera parameters
// written only with direct access on, the saved section and configureCamera's answers, with a
// scripted user in place of the platform's dialogs (unknown names and the headless answer are
// pinned at the export, in the integration tests).
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "acquisition/mil_digitizer.h"
#include "driver/export_guard.h"
#include "driver/logger.h"
#include "mil/mil_app.h"
#include "sim/sim_control.h"
#include "support/env.h"
#include "support/scripted_dialogs.h"
#include "support/temp_dir.h"
#include "support/test_camera.h"
#include "ui/configure_camera.h"
#include "ui/prop_camera_controls.h"
#include "ui/properties_launcher.h"

namespace kestcam {
namespace {

using test::ScriptedDialogService;
using test::ScriptedSheetRun;
using ui::CPropFrameGrabber;

class FakeCamera : public ui::PropertiesTarget {
public:
    std::string Name() const override { return "Camera 2"; }
    bool Busy() const override { return busy; }
    int BandCount() const override { return 1; }
    CameraSettings CopySettings() override { return settings; }
    void AssignSettings(const CameraSettings &s) override {
        settings = s;
        ++assigned;
        unlocked += exclusive ? 0 : 1;
    }
    void ApplyCameraParameters() override {
        ++applied;
        unlocked += exclusive ? 0 : 1;
    }
    bool SaveSettings() override {
        ++saved;
        unlocked += exclusive ? 0 : 1;
        return true;
    }
    bool Exclusively(const std::function<bool()> &steps) override {
        exclusive = true;
        const bool result = steps();
        exclusive = false;
        return result;
    }

    bool busy = false;
    CameraSettings settings;
    int assigned = 0, applied = 0, saved = 0;
    bool exclusive = false;
    int unlocked = 0; // steps of OK taken outside Exclusively
};

TEST(PropertiesLauncher, DecliningTheBusyWarningShowsNoSheet) {
    ScriptedDialogService service;
    FakeCamera camera;
    camera.busy = true;
    service.confirmAnswer = false;
    EXPECT_FALSE(ui::ShowCameraProperties(camera, nullptr, &service));
    ASSERT_EQ(service.confirms.size(), 1u);
    EXPECT_EQ(service.confirms[0], std::string("Camera 2 properties|") + ui::kBusyWarning);
    EXPECT_EQ(service.sheetsShown, 0);

    service.confirmAnswer = true;
    ui::ShowCameraProperties(camera, nullptr, &service);
    EXPECT_EQ(service.sheetsShown, 1);
    EXPECT_EQ(service.title, "Camera 2 properties");
}

class LauncherOk : public ::testing::TestWithParam<int> {};

TEST_P(LauncherOk, CopiesBackSavesAndWritesTheCameraOnlyWithDirectAccess) {
    ScriptedDialogService service;
    FakeCamera camera;
    camera.settings.BaslerPortAccessEnabled.value = GetParam();
    service.onSheet = [](ScriptedSheetRun &run) {
        run.TypeFg(CPropFrameGrabber::kHeightMultiplier, "7");
        return true;
    };
    EXPECT_TRUE(ui::ShowCameraProperties(camera, nullptr, &service));
    EXPECT_EQ(camera.settings.HeightMultiplier.value, 7);
    EXPECT_EQ(camera.saved, 1);
    EXPECT_EQ(camera.applied, GetParam() != 0 ? 1 : 0);
    EXPECT_EQ(camera.unlocked, 0);
}

INSTANTIATE_TEST_SUITE_P(Access, LauncherOk, ::testing::Values(0, 1, 2),
                         [](const auto &info) { return "BaslerPortAccessEnabled" + std::to_string(info.param); });

// configureCamera's body on a registry of simulated cameras.
class ConfigureCamera : public ::testing::Test {
protected:
    void SetUp() override {
        sim::ResetSimulator();
        config_ = std::make_unique<test::ScopedEnv>("KESTCAM_SIM_CONFIG", "");
        savedPath_ = Logger::Instance().SystemPath();
        Logger::Instance().SetSystemPath(dir_.Str());
        ASSERT_TRUE(MilApp::GetInstance().Init());
    }
    void TearDown() override {
        MilApp::DestroyInstance();
        sim::ResetSimulator();
        Logger::Instance().SetSystemPath(savedPath_);
    }
    std::string Ini() const { return test::TempDir::Read(dir_.File("Kest.ini")); }

    test::TempDir dir_;
    std::unique_ptr<test::ScopedEnv> config_;
    std::string savedPath_;
};

TEST_F(ConfigureCamera, CancelAfterEditsAnswersOneAndChangesNeitherSettingsNorFile) {
    ScriptedDialogService service;
    service.onSheet = [](ScriptedSheetRun &run) {
        run.TypeFg(CPropFrameGrabber::kHeightMultiplier, "3");
        return false;
    };
    const std::string before = dir_.Write("Kest.ini", "[Camera 1]\nLogLevel=2\n");
    EXPECT_EQ(ui::ConfigureCamera(nullptr, "Camera 1"), 1);
    EXPECT_EQ(test::TempDir::Read(before), "[Camera 1]\nLogLevel=2\n");
    EXPECT_EQ(MilApp::GetInstance().GetByName("Camera 1").WithSettings([](CameraSettings &s) {
        return s.HeightMultiplier.value;
    }),
              1);
}

std::vector<std::string> g_sheetLog;
void KESTCAM_CDECL CaptureSheetLog(const char *text) { g_sheetLog.emplace_back(text); }

// The host's message handlers run inside the sheet's modal loop, on the thread of configureCamera:
// what the exports they call log reaches the host then, not when the sheet closes.
TEST_F(ConfigureCamera, LinesOfExportsCalledWhileTheSheetIsOpenReachTheHostAtOnce) {
    g_sheetLog.clear();
    Logger::Instance().SetDebugMsgProc(&CaptureSheetLog);
    ScriptedDialogService service;
    bool seenInside = false;
    service.onSheet = [&](ScriptedSheetRun &) {
        // An export's body, as a timer of the host calls setProperty(..., "continuous", 1).
        Guarded(0, [] { return MilApp::GetInstance().GetByName("Camera 1").SetProperty("continuous", 1); }, [] {});
        seenInside = std::find(g_sheetLog.begin(), g_sheetLog.end(),
                               "MilDigitizer::SetContinuousGrab: entering, mode=on\n") != g_sheetLog.end();
        return false;
    };
    EXPECT_EQ(Guarded(1, [] { return ui::ConfigureCamera(nullptr, "Camera 1"); }, [] {}), 1);
    Logger::Instance().SetDebugMsgProc(nullptr);
    EXPECT_TRUE(seenInside);
}

TEST_F(ConfigureCamera, OkAnswersZeroAndSavesTheWholeSection) {
    ScriptedDialogService service;
    bool sixteenBitEnabled = true;
    service.onSheet = [&](ScriptedSheetRun &run) {
        sixteenBitEnabled = run.fgView.At(CPropFrameGrabber::kUse16bit).enabled;
        run.TypeFg(CPropFrameGrabber::kHeightMultiplier, "3");
        return true;
    };
    EXPECT_EQ(ui::ConfigureCamera(nullptr, "Camera 2"), 0);
    EXPECT_FALSE(sixteenBitEnabled); // never opened: no band count yet
    const std::string ini = Ini();
    EXPECT_NE(ini.find("[Camera 2]"), std::string::npos);
    EXPECT_NE(ini.find("HeightMultiplier=3"), std::string::npos);
    EXPECT_NE(ini.find("ShareName="), std::string::npos); // the last of the stored keys
    EXPECT_EQ(MilApp::GetInstance().GetByName("Camera 2").WithSettings([](CameraSettings &s) {
        return s.HeightMultiplier.value;
    }),
              3);
}

// The sheet of an open camera with direct access: the camera page shows the limits the camera
// reported, and OK writes the enabled parameters (never the exposure mode) to the camera itself.
class ConfigureSerialCamera : public ConfigureCamera, public ::testing::WithParamInterface<int> {};

TEST_P(ConfigureSerialCamera, OkWritesTheEnabledParametersToTheCameraOnlyWithDirectAccess) {
    test::TestSerialCamera camera;
    std::string why;
    if (!camera.Start("standard", why)) GTEST_SKIP() << why;
    const int access = GetParam();
    dir_.Write("Kest.ini", "[Camera 1]\nBaslerPort=" + camera.Port() + "\nBaslerPortAccessEnabled=" +
                               std::to_string(access) + "\nUseGain=1\nUseExposureMode=1\n");
    MilDigitizer &digitizer = MilApp::GetInstance().GetByName("Camera 1");
    int geometry[2] = {0, 0};
    ASSERT_TRUE(digitizer.Open(1, geometry));
    camera.ClearFrames();

    ScriptedDialogService service;
    std::string gainRange;
    service.onSheet = [&](ScriptedSheetRun &run) {
        gainRange = run.camView.At(ui::CPropCameraControls::kGainRange).text;
        // Within the camera's limits; without access the limits are the placeholders.
        run.TypeCam(ui::CPropCameraControls::kGain, access != 0 ? "5.5" : "0.5");
        return true;
    };
    EXPECT_EQ(ui::ConfigureCamera(nullptr, "Camera 1"), 0);
    if (access != 0) {
        EXPECT_EQ(gainRange, "[-3.70 ... 12.90]");
        // The limits are refreshed before the value goes out; nothing touches the mode register.
        EXPECT_EQ(camera.Frames(),
                  (std::vector<std::string>{"read 0x0e05 4", "read 0x0e09 4", "write 0x0e01 5.5"}));
    } else {
        EXPECT_EQ(gainRange, "[0.00 ... 1.00]");
        EXPECT_TRUE(camera.Frames().empty());
    }
    digitizer.Close();
}

// OK assigns the whole set and writes the serial camera while other host threads open and close
// the camera and get and set its properties: all of it one at a time under the camera's lifecycle
// lock (run under TSan, which reports any access outside it). The sheet waits for its user without
// the lock, or the other threads would stall for as long as the sheet is shown.
TEST_F(ConfigureCamera, OkRunsOneAtATimeWithOpenCloseAndPropertyCallsOfOtherThreads) {
    test::TestSerialCamera serial;
    std::string why;
    const bool direct = serial.Start("standard", why);
    dir_.Write("Kest.ini", "[Camera 1]\nUseGain=1\nBaslerPortAccessEnabled=" + std::string(direct ? "1" : "0") +
                               "\nBaslerPort=" + (direct ? serial.Port() : std::string("COM1")) + "\n");
    MilDigitizer &camera = MilApp::GetInstance().GetByName("Camera 1");
    constexpr int kRounds = 12;
    std::atomic<int> sheetsAccepted{0}, opens{0}, stalledSheets{0};
    std::atomic<bool> sheetsDone{false};
    std::mutex progressMutex;
    std::condition_variable progress;
    int propertyRounds = 0;

    ScriptedDialogService service;
    int round = 0;
    service.onSheet = [&](ScriptedSheetRun &run) {
        // Property calls go on while the sheet is shown: nothing is held while the user edits.
        std::unique_lock<std::mutex> lock(progressMutex);
        const int before = propertyRounds;
        if (!progress.wait_for(lock, std::chrono::seconds(60), [&] { return propertyRounds > before; }))
            ++stalledSheets;
        lock.unlock();
        run.TypeFg(CPropFrameGrabber::kHeightMultiplier, std::to_string(1 + round % 10));
        run.TypeCam(ui::CPropCameraControls::kGain, "0.5");
        return true;
    };
    std::thread sheets([&] {
        for (round = 0; round < kRounds; ++round)
            sheetsAccepted += ui::ConfigureCamera(nullptr, "Camera 1") == 0 ? 1 : 0;
        sheetsDone = true;
    });
    std::thread lifecycle([&] {
        for (int i = 0; i < kRounds; ++i) {
            int geometry[2] = {0, 0};
            opens += camera.Open(1, geometry) ? 1 : 0;
            camera.Close();
        }
    });
    std::thread properties([&] {
        for (int i = 0; !sheetsDone || i < kRounds; ++i) {
            int value = 0;
            camera.SetProperty("Shift16bit", i % 9);
            camera.SetProperty("Gain", 1);
            camera.GetProperty("Gain", &value);
            camera.GetProperty("HeightMultiplier", &value);
            camera.SetProperty("GrabTimeout", 1000 + i);
            {
                std::lock_guard<std::mutex> lock(progressMutex);
                ++propertyRounds;
            }
            progress.notify_all();
        }
    });
    sheets.join();
    lifecycle.join();
    properties.join();

    EXPECT_EQ(sheetsAccepted, kRounds);
    EXPECT_EQ(stalledSheets, 0);
    EXPECT_EQ(opens, kRounds);
    // The last OK's frame count is what every later save and load carried on.
    const int last = 1 + (kRounds - 1) % 10;
    EXPECT_EQ(camera.WithSettings([](CameraSettings &s) { return s.HeightMultiplier.value; }), last);
    EXPECT_NE(Ini().find("HeightMultiplier=" + std::to_string(last)), std::string::npos);
}

INSTANTIATE_TEST_SUITE_P(Access, ConfigureSerialCamera, ::testing::Values(0, 1),
                         [](const auto &info) { return info.param != 0 ? "DirectAccessOn" : "DirectAccessOff"; });

} // namespace
} // namespace kestcam
