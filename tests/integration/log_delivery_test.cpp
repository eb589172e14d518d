// Log lines at the exports: in the order of cause and effect across threads, in the host's callback
// and in Kest.log alike; to the file as decided when each was written; and out before a wait that
// lasts, also when the wait is for a completion callback that does not return.
#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "acquisition_fixture.h"

namespace kestcam::test {
namespace {

// Index of the n-th (from 0) line containing fragment, or lines.size().
size_t NthIndex(const std::vector<std::string> &lines, const std::string &fragment, int n) {
    for (size_t i = 0; i < lines.size(); ++i)
        if (lines[i].find(fragment) != std::string::npos && n-- == 0) return i;
    return lines.size();
}

std::vector<std::string> FileLines(const std::string &path) {
    std::vector<std::string> lines;
    std::istringstream in(TempDir::Read(path));
    for (std::string line; std::getline(in, line);) {
        if (!line.empty() && line.back() == '\r') line.pop_back(); // text mode on Windows
        lines.push_back(line);
    }
    return lines;
}

class LogDelivery : public AcquisitionTest {
protected:
    std::string LogFile() const { return dir_.File("Kest.log"); }

    // LogIntoFile is no stored setting: set on the open camera, it takes effect at its next open.
    bool OpenLoggingIntoFile(const std::string &camera, int port) {
        if (!Open(camera, port) || Driver().setProperty(0, port, "LogIntoFile", 1) != 1) return false;
        Driver().closeCVLPort(0, port);
        return Open(camera, port);
    }

    // Each cause comes before its effect, the n-th time as the first, in the callback and the file.
    void ExpectInOrder(const std::vector<std::string> &fragments, int times) {
        const std::vector<std::string> sources[] = {Log().Messages(), FileLines(LogFile())};
        for (const std::vector<std::string> &lines : sources) {
            for (int n = 0; n < times; ++n) {
                size_t previous = 0;
                for (size_t f = 0; f < fragments.size(); ++f) {
                    // The file's lines are read without their line ends.
                    const std::string text = fragments[f].substr(0, fragments[f].find('\n'));
                    const size_t at = NthIndex(lines, text, n);
                    ASSERT_LT(at, lines.size()) << "missing occurrence " << n << " of " << fragments[f];
                    if (f > 0) {
                        EXPECT_LT(previous, at) << fragments[f - 1] << " after " << fragments[f] << ", " << n;
                    }
                    previous = at;
                }
            }
        }
    }
};

TEST_F(LogDelivery, AGrabsOwnLinesComeBeforeTheAcquisitionThreadsLinesAboutIt) {
    UseOneDigitizer("Width = 64\nHeight = 8");
    ASSERT_EQ(Initialize(), 1);
    ASSERT_TRUE(OpenLoggingIntoFile("Camera 1", 3));
    constexpr int kGrabs = 30;
    for (int n = 0; n < kGrabs; ++n) ASSERT_TRUE(GrabAndWait(3)) << n;
    ExpectInOrder({"doCVLGrab: grabberNo=0 portNo=3\n", "MilDigitizer::Grab: port=3\n",
                   "GrabThread::ThreadMain: grabbing starts in synch mode on port=3\n",
                   "GrabThread::ThreadMain: grabbing completed on port=3\n"},
                  kGrabs);
}

TEST_F(LogDelivery, AShareStartComesBeforeTheSharingThreadsFirstLines) {
    UseOneDigitizer("Width = 64\nHeight = 8");
    const std::string name = "kclog-" + std::to_string(std::chrono::steady_clock::now().time_since_epoch().count());
    WriteSettings("Camera 1", "ShareCamera=1\nShareName=" + name + "\n");
    ASSERT_EQ(Initialize(), 1);
    ASSERT_TRUE(OpenLoggingIntoFile("Camera 1", 5));
    Driver().closeCVLPort(0, 5);
    constexpr int kStarts = 10;
    for (int n = 0; n < kStarts; ++n) {
        ASSERT_TRUE(Open("Camera 1", 5)) << n;
        ASSERT_TRUE(Log().WaitForCount("CCameraShare::ThreadMain: entering", static_cast<size_t>(n + 3)));
        Driver().closeCVLPort(0, 5);
    }
    ExpectInOrder({"Starting share '" + name + "' for Camera 1", "CCameraShare::static_ThreadMain",
                   "CCameraShare::ThreadMain: entering"},
                  kStarts);
}

// Open writes its first line before it applies the camera's LogIntoFile, its export's last line after.
TEST_F(LogDelivery, FileOutputIsDecidedWhenALineIsWrittenAcrossTwoCameras) {
    UseSimConfig("[System 0]\nDigitizers = 2\n[System 0 Digitizer 0]\nWidth = 64\nHeight = 4\n"
                 "[System 0 Digitizer 1]\nWidth = 64\nHeight = 4\n");
    ASSERT_EQ(Initialize(), 1);
    ASSERT_TRUE(Open("Camera 2", 2));                // off, whatever was on before
    ASSERT_TRUE(OpenLoggingIntoFile("Camera 1", 1)); // on
    Driver().closeCVLPort(0, 2);
    ASSERT_TRUE(Open("Camera 2", 3)); // off
    Driver().closeCVLPort(0, 1);
    ASSERT_TRUE(Open("Camera 1", 1)); // on
    const std::vector<std::string> file = FileLines(LogFile());
    const auto count = [&](const std::string &line) { return std::count(file.begin(), file.end(), line); };
    // Each open's lines after its own switch as it set it; Camera 2's open also those before, while
    // Camera 1's setting held; the close of Camera 1 while Camera 2's held: nothing.
    EXPECT_EQ(count("openCVLPort: -- Camera Camera 1 OPENED on port 1"), 2);
    EXPECT_EQ(count("MilDigitizer::Open: port=1, id=0"), 0);
    EXPECT_EQ(count("MilDigitizer::Open: port=3, id=0"), 1);
    EXPECT_EQ(count("openCVLPort: -- Camera Camera 2 OPENED on port 3"), 0);
    EXPECT_EQ(count("closeCVLPort: grabberNo=0, portNo=1"), 0);
    // The callback had every line.
    EXPECT_EQ(Log().Count("MilDigitizer::Open: port=1, id=0\n"), 3u);
}

// A single-frame grab outlasts the close's 3000 ms; its warning comes while the grab still runs,
// before the thread's own lines about the grab's end.
TEST_F(LogDelivery, TheWarningOfAHangingCloseComesBeforeTheWaitEnds) {
    UseOneDigitizer("Width = 64\nHeight = 4\nProcessFails = 1\nFrameTimeMs = 600000");
    WriteSettings("Camera 1", "GrabTimeout=8000\n");
    ASSERT_EQ(Initialize(), 1);
    ASSERT_TRUE(Open("Camera 1", 7));
    ASSERT_EQ(Driver().doCVLGrab(0, 7), 1);
    ASSERT_TRUE(Log().WaitFor("GrabThread::Grab_MdigProcess: ERROR: grab failed"));
    Driver().closeCVLPort(0, 7);
    const std::vector<std::string> lines = Log().Messages();
    const size_t warning = NthIndex(lines, "GrabThread::Destroy: WARNING: thread still grabbing after 3000 ms on "
                                           "port=7, waiting for the grab to end\n",
                                    0);
    const size_t grabEnd = NthIndex(lines, "MilDigitizer::Grab_MdigGrab: ERROR: grab failed for buffer=1", 0);
    ASSERT_LT(warning, lines.size());
    ASSERT_LT(grabEnd, lines.size());
    EXPECT_LT(warning, grabEnd);
    EXPECT_LT(grabEnd, NthIndex(lines, "GrabThread::Destroy: thread closed on port=7\n", 0));
}

// The host's callback waits for something the closing thread would give it only after the close.
TEST_F(LogDelivery, ACloseLetsGoOfAThreadStuckInTheCompletionCallback) {
    UseOneDigitizer("Width = 64\nHeight = 4");
    ASSERT_EQ(Initialize(), 1);
    ASSERT_TRUE(Open("Camera 1", 4));
    std::mutex mutex;
    std::condition_variable changed;
    bool entered = false, released = false, left = false;
    Calls().SetHook([&](int) {
        std::unique_lock<std::mutex> lock(mutex);
        entered = true;
        changed.notify_all();
        changed.wait(lock, [&] { return released; });
        left = true;
        changed.notify_all();
    });
    ASSERT_EQ(Driver().doCVLGrab(0, 4), 1);
    {
        std::unique_lock<std::mutex> lock(mutex);
        ASSERT_TRUE(changed.wait_for(lock, kCallbackBound, [&] { return entered; }));
    }
    const auto start = std::chrono::steady_clock::now();
    Driver().closeCVLPort(0, 4);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(10));
    EXPECT_TRUE(Log().Contains("GrabThread::Destroy: WARNING: thread still in the completion callback after 3000 "
                               "ms on port=4, the thread is let go and ends when the callback returns\n"));
    EXPECT_EQ(Driver().doCVLGrab(0, 4), 0);
    {
        std::unique_lock<std::mutex> lock(mutex);
        EXPECT_FALSE(left);
        released = true;
        changed.notify_all();
        ASSERT_TRUE(changed.wait_for(lock, kCallbackBound, [&] { return left; }));
    }
    Calls().SetHook(nullptr);
    // The thread let go ends without a word about the camera; the camera opens and grabs anew.
    ASSERT_TRUE(Open("Camera 1", 4));
    ASSERT_TRUE(GrabAndWait(4));
    Driver().closeCVLPort(0, 4);
    EXPECT_EQ(Log().Count("GrabThread::ThreadMain: leavingon port=4"), 1u);
}

// The thread a close let go is still in the host's callback, which may call into the driver:
// finalize frees the cameras only once the callback has returned.
TEST_F(LogDelivery, FinalizeWaitsForAThreadACloseLetGoUntilItsCallbackReturns) {
    UseOneDigitizer("Width = 64\nHeight = 4");
    WriteSettings("Camera 1", "LogLevel=2\n");
    ASSERT_EQ(Initialize(), 1);
    ASSERT_TRUE(Open("Camera 1", 4));
    std::mutex mutex;
    std::condition_variable changed;
    bool entered = false, released = false;
    std::atomic<bool> freedWhileInCallback{false};
    Calls().SetHook([&](int port) {
        {
            std::unique_lock<std::mutex> lock(mutex);
            entered = true;
            changed.notify_all();
            changed.wait(lock, [&] { return released; });
        }
        int value = 0;
        (void)Driver().getProperty(0, port, "continuous", &value);
        freedWhileInCallback = Log().Contains("MilApp::DestroySolios");
    });
    ASSERT_EQ(Driver().doCVLGrab(0, 4), 1);
    {
        std::unique_lock<std::mutex> lock(mutex);
        ASSERT_TRUE(changed.wait_for(lock, kCallbackBound, [&] { return entered; }));
    }
    Driver().closeCVLPort(0, 4);
    ASSERT_TRUE(Log().Contains("the thread is let go and ends when the callback returns"));
    std::thread finalizing([] { Driver().finalize(); });
    EXPECT_FALSE(Log().WaitFor("MilApp::DestroySolios", std::chrono::milliseconds(500)));
    {
        std::lock_guard<std::mutex> lock(mutex);
        released = true;
    }
    changed.notify_all();
    finalizing.join();
    EXPECT_FALSE(freedWhileInCallback.load());
    EXPECT_TRUE(Log().Contains("MilApp::DestroySolios"));
    Calls().SetHook(nullptr);
}

} // namespace
} // namespace kestcam::test
