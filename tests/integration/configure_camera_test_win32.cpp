// The real property sheet: configureCamera opens it for a simulated camera while a second thread
// plays the user through window messages (edit texts, check boxes, the status bar, OK and Cancel).
// Runs without a display where Wine has its null graphics driver; skipped where no window can be
// created at all.
#include <windows.h>

#include <commctrl.h>
#include <prsht.h>

#include <chrono>
#include <filesystem>
#include <future>
#include <thread>

#include "driver_fixture.h"

namespace kestcam::test {
namespace {

using namespace std::chrono_literals;

constexpr int kHeightMultiplier = 1021;
constexpr int kShareCamera = 1060;
constexpr int kShareName = 1061;
constexpr int kStatusBar = 1049;

bool WindowsCanBeCreated() {
    HWND probe = CreateWindowExA(0, "STATIC", "", WS_POPUP, 0, 0, 10, 10, nullptr, nullptr, nullptr, nullptr);
    if (probe == nullptr) return false;
    DestroyWindow(probe);
    return true;
}

// The sheet of this process: another test program (ctest runs several at once) may show a sheet of
// the same caption on the same desktop.
HWND FindOwnSheet() {
    for (HWND w = nullptr; (w = FindWindowExA(nullptr, w, nullptr, "Camera 1 properties")) != nullptr;) {
        DWORD pid = 0;
        GetWindowThreadProcessId(w, &pid);
        if (pid == GetCurrentProcessId()) return w;
    }
    return nullptr;
}

class RealSheet : public DriverTest {
protected:
    void SetUp() override {
        DriverTest::SetUp();
        if (!WindowsCanBeCreated()) GTEST_SKIP() << "no window can be created here (no display driver)";
        ASSERT_EQ(Initialize(), 1);
        result_ = std::async(std::launch::async, [] { return Driver().configureCamera(nullptr, "Camera 1"); });
        // The sheet appears on the driver's thread; a bounded wait for its window.
        const auto deadline = std::chrono::steady_clock::now() + 30s;
        while ((sheet_ = FindOwnSheet()) == nullptr &&
               std::chrono::steady_clock::now() < deadline)
            if (result_.wait_for(20ms) == std::future_status::ready) break;
        ASSERT_NE(sheet_, nullptr) << "the property sheet did not appear";
        // The window carries its caption from its creation on, before its pages and status bar are
        // made and filled: the user plays once the sheet shows, its page holds the stored values and
        // the status bar is there (a bounded wait; on a busy machine the sheet's thread runs late).
        const auto ready = [this] {
            page_ = reinterpret_cast<HWND>(SendMessageA(sheet_, PSM_GETCURRENTPAGEHWND, 0, 0));
            return page_ != nullptr && IsWindowVisible(sheet_) && GetDlgItem(sheet_, kStatusBar) != nullptr &&
                   GetWindowTextLengthA(GetDlgItem(page_, kHeightMultiplier)) > 0;
        };
        while (!ready() && std::chrono::steady_clock::now() < deadline)
            if (result_.wait_for(20ms) == std::future_status::ready) break;
        ASSERT_TRUE(ready()) << "the property sheet did not get ready";
    }
    void TearDown() override {
        if (result_.valid() && result_.wait_for(0s) != std::future_status::ready && sheet_ != nullptr)
            PostMessageA(sheet_, PSM_PRESSBUTTON, PSBTN_CANCEL, 0);
        if (result_.valid()) result_.wait_for(30s);
        DriverTest::TearDown();
    }

    void Type(int id, const char *text) {
        SendMessageA(GetDlgItem(page_, id), WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text));
    }
    void Click(int id) { SendMessageA(GetDlgItem(page_, id), BM_CLICK, 0, 0); }
    std::string Status() {
        char text[512] = {};
        SendMessageA(GetDlgItem(sheet_, kStatusBar), SB_GETTEXTA, 0, reinterpret_cast<LPARAM>(text));
        return text;
    }
    bool OkEnabled() { return IsWindowEnabled(GetDlgItem(sheet_, IDOK)) != FALSE; }
    int Close(int button) {
        PostMessageA(sheet_, PSM_PRESSBUTTON, button, 0);
        EXPECT_EQ(result_.wait_for(30s), std::future_status::ready);
        return result_.get();
    }

    std::future<int> result_;
    HWND sheet_ = nullptr;
    HWND page_ = nullptr;
};

TEST_F(RealSheet, AnOutOfRangeFrameCountBlocksOkAndTheFixedEditsAreSavedOnOk) {
    EXPECT_NE(GetDlgItem(sheet_, kStatusBar), nullptr);
    EXPECT_TRUE(OkEnabled());
    Type(kHeightMultiplier, "11");
    EXPECT_EQ(Status(), "FrameGrabber Settings: Frame count not in range");
    EXPECT_FALSE(OkEnabled());
    Type(kHeightMultiplier, "4");
    EXPECT_EQ(Status(), "");
    EXPECT_TRUE(OkEnabled());
    Click(kShareCamera);
    Type(kShareName, "kshare");
    EXPECT_EQ(Close(PSBTN_OK), 0);
    const std::string ini = TempDir::Read(dir_.File("Kest.ini"));
    EXPECT_NE(ini.find("HeightMultiplier=4"), std::string::npos) << ini;
    EXPECT_NE(ini.find("ShareCamera=1"), std::string::npos) << ini;
    EXPECT_NE(ini.find("ShareName=kshare"), std::string::npos) << ini;
}

TEST_F(RealSheet, CancelAnswersOneAndWritesNothing) {
    Type(kHeightMultiplier, "7");
    EXPECT_EQ(Close(PSBTN_CANCEL), 1);
    EXPECT_FALSE(std::filesystem::exists(dir_.File("Kest.ini")));
}

} // namespace
} // namespace kestcam::test
