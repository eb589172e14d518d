// A camera's acquisition thread driven through MilDigitizer on the simulated library: continuous
// mode switched on and off, the wait for the first request, one accepted request among many, and
// a close that must wait for a grab the stop request cannot end.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <future>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "acquisition/grab_thread.h"
#include "acquisition/mil_digitizer.h"
#include "driver/logger.h"
#include "mil/mil_app.h"
#include "sim/sim_control.h"
#include "support/env.h"
#include "support/temp_dir.h"

namespace kestcam::test {
namespace {

using namespace std::chrono_literals;

// Generous bounds: they only turn a hang into a failure on a slow, loaded machine.
constexpr auto kBound = 30s;
// How long a thread that should be idle is watched for a grab it should not start.
constexpr auto kIdleWatch = 300ms;

// Completion callbacks and log lines of the process, with waits for them.
class Events {
public:
    static Events &Instance() {
        static Events *events = new Events();
        return *events;
    }
    static void KESTCAM_CDECL OnComplete(int, int) {
        Events &e = Instance();
        {
            std::lock_guard<std::mutex> lock(e.mutex_);
            ++e.completions_;
        }
        e.changed_.notify_all();
    }
    static void KESTCAM_CDECL OnLog(const char *text) {
        Events &e = Instance();
        std::lock_guard<std::mutex> lock(e.mutex_);
        e.log_.emplace_back(text != nullptr ? text : "");
    }

    void Reset() {
        std::lock_guard<std::mutex> lock(mutex_);
        completions_ = 0;
        log_.clear();
    }
    int Completions() {
        std::lock_guard<std::mutex> lock(mutex_);
        return completions_;
    }
    bool WaitForCompletions(int n) {
        std::unique_lock<std::mutex> lock(mutex_);
        return changed_.wait_for(lock, kBound, [&] { return completions_ >= n; });
    }
    size_t LogCount(const std::string &fragment) {
        std::lock_guard<std::mutex> lock(mutex_);
        return static_cast<size_t>(std::count_if(log_.begin(), log_.end(), [&](const std::string &t) {
            return t.find(fragment) != std::string::npos;
        }));
    }

private:
    std::mutex mutex_;
    std::condition_variable changed_;
    int completions_ = 0;
    std::vector<std::string> log_;
};

class GrabThreadTest : public ::testing::Test {
protected:
    void SetUp() override {
        sim::ResetSimulator();
        Events::Instance().Reset();
        Logger::Instance().SetSystemPath(dir_.Str());
        Logger::Instance().SetDebugMsgProc(&Events::OnLog);
    }
    void TearDown() override {
        MilApp::DestroyInstance();
        sim::ResetSimulator();
        Logger::Instance().SetDebugMsgProc(nullptr);
        config_.reset();
    }

    // One board, one digitizer with the given keys; the camera's settings lines; the registry built.
    MilDigitizer &Camera(const std::string &digitizerKeys, const std::string &settings = "") {
        config_ = std::make_unique<ScopedEnv>("KESTCAM_SIM_CONFIG",
                                              dir_.Write("sim.ini", "[System 0]\nDescriptor = M_SYSTEM_SOLIOS\n"
                                                                    "[System 0 Digitizer 0]\n" +
                                                                        digitizerKeys + "\n"));
        dir_.Write("Kest.ini", "[Camera 1]\nLogLevel=3\n" + settings);
        MilApp &app = MilApp::GetInstance();
        EXPECT_TRUE(app.Init());
        return app.GetByName("Camera 1");
    }

    bool Open(MilDigitizer &camera, int port) {
        int geometry[2] = {0, 0};
        if (!camera.Open(port, geometry)) return false;
        camera.SetCompleteCB(&Events::OnComplete);
        return true;
    }

    // True when no grab starts on the digitizer within the watch: the thread waits for a request.
    // A grab already running is waited for first, at most `running` times.
    bool SettlesIdle(MilId digitizer, int running) {
        for (int i = 0; i <= running; ++i) {
            if (!sim::WaitUntilGrabbing(digitizer, kIdleWatch)) return true;
            if (!Events::Instance().WaitForCompletions(Events::Instance().Completions() + 1)) return false;
        }
        return false;
    }

    Events &E() { return Events::Instance(); }

    TempDir dir_;
    std::unique_ptr<ScopedEnv> config_;
};

TEST_F(GrabThreadTest, ContinuousModeWaitsForARequestThenGrabsUntilSwitchedOff) {
    MilDigitizer &camera = Camera("Width = 32\nHeight = 4\nFrameTimeMs = 5");
    ASSERT_TRUE(Open(camera, 0));
    const MilId id = camera.DigitizerId();

    camera.SetContinuousGrab(true);
    EXPECT_EQ(E().LogCount("MilDigitizer::SetContinuousGrab: entering, mode=on\n"), 1u);
    EXPECT_EQ(E().LogCount("MilDigitizer::SetContinuousGrab: leaving\n"), 1u);
    // Switching the mode does not wake the thread.
    EXPECT_FALSE(sim::WaitUntilGrabbing(id, kIdleWatch));
    EXPECT_EQ(E().Completions(), 0);

    ASSERT_TRUE(camera.Grab());
    ASSERT_TRUE(E().WaitForCompletions(5));

    camera.SetContinuousGrab(false);
    // The running sequence ends with its callback; then the thread waits again.
    ASSERT_TRUE(SettlesIdle(id, 1));
    EXPECT_EQ(sim::InspectDigitizer(id)->framesGrabbed, E().Completions());

    // One request, one sequence, one callback.
    const int before = E().Completions();
    ASSERT_TRUE(camera.Grab());
    ASSERT_TRUE(E().WaitForCompletions(before + 1));
    EXPECT_TRUE(SettlesIdle(id, 0));
    EXPECT_EQ(E().Completions(), before + 1);
    EXPECT_EQ(sim::InspectDigitizer(id)->framesGrabbed, before + 1);
    camera.Close();
}

TEST_F(GrabThreadTest, SettingTheSameModeAgainHasNoEffect) {
    MilDigitizer &camera = Camera("Width = 32\nHeight = 4");
    camera.SetContinuousGrab(true);
    camera.SetContinuousGrab(true);
    EXPECT_EQ(E().LogCount("MilDigitizer::SetContinuousGrab has no effect -- the same mode is already active\n"),
              1u);
    EXPECT_TRUE(camera.IsContinuous());
    camera.SetContinuousGrab(false);
    EXPECT_FALSE(camera.IsContinuous());
    EXPECT_EQ(E().LogCount("MilDigitizer::SetContinuousGrab: entering, mode=off\n"), 1u);
}

TEST_F(GrabThreadTest, AContinuousCameraReopenedWaitsForItsFirstRequest) {
    MilDigitizer &camera = Camera("Width = 32\nHeight = 4\nFrameTimeMs = 2");
    ASSERT_TRUE(Open(camera, 0));
    camera.SetContinuousGrab(true);
    ASSERT_TRUE(camera.Grab());
    ASSERT_TRUE(E().WaitForCompletions(3));
    camera.Close();
    EXPECT_TRUE(camera.IsContinuous()); // the mode survives close

    ASSERT_TRUE(Open(camera, 0));
    const MilId id = camera.DigitizerId();
    EXPECT_FALSE(sim::WaitUntilGrabbing(id, kIdleWatch));
    const int before = E().Completions();
    ASSERT_TRUE(camera.Grab());
    ASSERT_TRUE(E().WaitForCompletions(before + 3));
    camera.SetContinuousGrab(false);
    camera.Close();
    EXPECT_EQ(sim::HeldDigitizerCount(), 0);
}

TEST_F(GrabThreadTest, OfManySimultaneousRequestsOneIsAccepted) {
    // A grab that never ends by itself: every later request meets the first one in progress.
    MilDigitizer &camera = Camera("Width = 32\nHeight = 4\nFrameTimeMs = 600000", "GrabTimeout=60000\n");
    for (int round = 0; round < 20; ++round) {
        ASSERT_TRUE(Open(camera, 0));
        std::promise<void> start;
        std::shared_future<void> go = start.get_future().share();
        std::atomic<int> accepted{0};
        std::vector<std::thread> threads;
        for (int t = 0; t < 6; ++t)
            threads.emplace_back([&camera, &accepted, go] {
                go.wait();
                if (camera.Grab()) ++accepted;
            });
        start.set_value();
        for (auto &thread : threads)
            thread.join();
        EXPECT_EQ(accepted.load(), 1) << "round " << round;
        camera.Close();
    }
    EXPECT_EQ(E().Completions(), 0);
}

TEST_F(GrabThreadTest, CloseWaitsForAGrabThatOutlivesTheJoinWarning) {
    // With sequence grabs failing, each frame is a single grab, which the stop request does not
    // end. The close must wait for it rather than free the digitizer and buffers under it.
    MilDigitizer &camera =
        Camera("Width = 32\nHeight = 4\nProcessFails = 1\nFrameTimeMs = 3400", "GrabTimeout=60000\n");
    ASSERT_TRUE(Open(camera, 0));
    ASSERT_TRUE(camera.Grab());
    ASSERT_TRUE(sim::WaitUntilGrabbing(camera.DigitizerId(), kBound));
    camera.Close();
    EXPECT_EQ(E().LogCount("GrabThread::Destroy: WARNING: thread still grabbing after 3000 ms on port=0, waiting "
                           "for the grab to end\n"),
              1u);
    EXPECT_EQ(E().Completions(), 1);
    EXPECT_EQ(E().LogCount("freed during the grab"), 0u);
    EXPECT_EQ(E().LogCount("Grab_MdigGrab: ERROR"), 0u);
    EXPECT_EQ(sim::HeldDigitizerCount(), 0);
}

TEST_F(GrabThreadTest, DestroyingTheCameraWhileItGrabsStopsTheThreadFirst) {
    MilDigitizer &camera = Camera("Width = 32\nHeight = 4\nFrameTimeMs = 600000", "GrabTimeout=60000\n");
    ASSERT_TRUE(Open(camera, 0));
    ASSERT_TRUE(camera.Grab());
    ASSERT_TRUE(sim::WaitUntilGrabbing(camera.DigitizerId(), kBound));
    MilApp::DestroyInstance();
    EXPECT_EQ(sim::HeldDigitizerCount(), 0);
    EXPECT_EQ(sim::HeldBufferCount(), 0);
    EXPECT_EQ(E().LogCount("GrabThread::Destroy: thread closed on port=0\n"), 1u);
    EXPECT_EQ(E().LogCount("freed during the grab"), 0u);
}

TEST_F(GrabThreadTest, ANullThreadParameterEndsWithMinusOne) {
    EXPECT_EQ(GrabThread::static_ThreadMain(nullptr), -1);
}

} // namespace
} // namespace kestcam::test
