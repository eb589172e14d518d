// Grab requests and completion callbacks through doCVLGrab and setCompleteCallback: what the
// callback receives, when a request is refused, and the messages of a callback change.
#include <gtest/gtest.h>

#include <atomic>

#include "acquisition_fixture.h"

namespace kestcam::test {
namespace {

class AcquisitionGrab : public AcquisitionTest {};

void KESTCAM_CDECL OtherCallback(int, int) {}

TEST_F(AcquisitionGrab, TheCallbackReceivesGrabberZeroAndThePortAfterEachGrab) {
    ASSERT_EQ(Initialize(), 1);
    ASSERT_TRUE(Open("Camera 1", 7));
    ASSERT_TRUE(Open("Camera 2", 12));
    ASSERT_TRUE(GrabAndWait(7));
    ASSERT_TRUE(GrabAndWait(12));
    ASSERT_TRUE(GrabAndWait(7));
    EXPECT_EQ(Calls().Count(7), 2);
    EXPECT_EQ(Calls().Count(12), 1);
    EXPECT_EQ(Calls().GrabberNumbers(), std::vector<int>({0, 0, 0}));
    EXPECT_TRUE(Log().Contains("doCVLGrab: grabberNo=0 portNo=7\n"));
    EXPECT_TRUE(Log().Contains("MilDigitizer::Grab: port=7\n"));
    EXPECT_TRUE(Log().Contains("GrabThread::ThreadMain: grabbing completed on port=12\n"));
}

TEST_F(AcquisitionGrab, ARequestWhileAGrabRunsIsIgnoredAndTheNextOneAccepted) {
    UseOneDigitizer("Width = 64\nHeight = 8\nFrameTimeMs = 300");
    ASSERT_EQ(Initialize(), 1);
    ASSERT_TRUE(Open("Camera 1", 0));
    ASSERT_EQ(Driver().doCVLGrab(0, 0), 1);
    EXPECT_EQ(Driver().doCVLGrab(0, 0), 0);
    EXPECT_TRUE(Log().Contains(
        "MilDigitizer::Grab: WARNING: grab ignored, since another grab is in progress on port=0\n"));
    ASSERT_TRUE(Calls().WaitFor(0, 1));
    ASSERT_TRUE(GrabAndWait(0));
    EXPECT_EQ(Calls().Count(0), 2);
}

TEST_F(AcquisitionGrab, TheCallbackMayRequestTheNextGrab) {
    UseOneDigitizer("Width = 64\nHeight = 8");
    ASSERT_EQ(Initialize(), 1);
    ASSERT_TRUE(Open("Camera 1", 0));
    std::atomic<int> refused{0};
    Calls().SetHook([&](int port) {
        if (Calls().Count(port) < 20 && Driver().doCVLGrab(0, port) != 1) ++refused;
    });
    ASSERT_EQ(Driver().doCVLGrab(0, 0), 1);
    ASSERT_TRUE(Calls().WaitFor(0, 20));
    EXPECT_EQ(refused.load(), 0);
    Calls().SetHook(nullptr);
    // The last image is the twentieth frame.
    ASSERT_TRUE(GrabAndWait(0));
    std::vector<uint8_t> expected;
    for (int x = 0; x < 64; ++x)
        expected.push_back(static_cast<uint8_t>(Ramp(x, 3, 20, 0, 8)));
    EXPECT_EQ(Row(0, 3), expected);
}

TEST_F(AcquisitionGrab, WithoutACallbackTheGrabStillCompletes) {
    ASSERT_EQ(Initialize(), 1);
    ASSERT_TRUE(OpenWithoutCallback("Camera 1", 0));
    ASSERT_EQ(Driver().doCVLGrab(0, 0), 1);
    ASSERT_TRUE(Log().WaitFor("GrabThread::ThreadMain: grabbing completed on port=0\n"));
    ASSERT_EQ(Driver().doCVLGrab(0, 0), 1);
    EXPECT_EQ(Calls().Count(0), 0);
}

TEST_F(AcquisitionGrab, ANullCallbackRemovesTheCallback) {
    ASSERT_EQ(Initialize(), 1);
    ASSERT_TRUE(Open("Camera 1", 0));
    ASSERT_TRUE(GrabAndWait(0));
    ASSERT_EQ(Driver().setCompleteCallback(0, 0, nullptr), 1);
    Log().Clear();
    ASSERT_EQ(Driver().doCVLGrab(0, 0), 1);
    ASSERT_TRUE(Log().WaitFor("GrabThread::ThreadMain: grabbing completed on port=0\n"));
    // A callback of the grab above would come before the thread takes the next request.
    ASSERT_EQ(Driver().setCompleteCallback(0, 0, &Completions::Proc), 1);
    ASSERT_TRUE(GrabAndWait(0));
    EXPECT_EQ(Calls().Count(0), 2);
}

TEST_F(AcquisitionGrab, ChangingTheCallbackLogsWhatWasReplaced) {
    ASSERT_EQ(Initialize(), 1);
    ASSERT_TRUE(OpenWithoutCallback("Camera 1", 4));
    auto set = [&](CompleteCallback callback) {
        Log().Clear();
        EXPECT_EQ(Driver().setCompleteCallback(0, 4, callback), 1);
        EXPECT_TRUE(Log().Contains("setCompleteCallback: grabberNo=0   portNo=4\n"));
        std::vector<std::string> lines;
        for (const std::string &m : Log().Messages())
            if (m.rfind("MilCamera::SetCompleteCB: ", 0) == 0) lines.push_back(m);
        return lines;
    };
    using Lines = std::vector<std::string>;
    EXPECT_EQ(set(nullptr), Lines({"MilCamera::SetCompleteCB: Resetting CB to null. \n"}));
    EXPECT_EQ(set(&Completions::Proc), Lines({"MilCamera::SetCompleteCB: \n"}));
    EXPECT_EQ(set(&Completions::Proc),
              Lines({"MilCamera::SetCompleteCB: CB was already assigned. The new CB is the same function. \n"}));
    EXPECT_EQ(set(&OtherCallback), Lines({"MilCamera::SetCompleteCB: CB was already assigned. \n"}));
    EXPECT_EQ(set(nullptr),
              Lines({"MilCamera::SetCompleteCB: CB was already assigned. Resetting CB to null. \n"}));
}

TEST_F(AcquisitionGrab, SetHWTriggerOnlyLogs) {
    ASSERT_EQ(Initialize(), 1);
    ASSERT_TRUE(Open("Camera 1", 0));
    EXPECT_EQ(Driver().setHWTrigger(), 1);
    EXPECT_TRUE(Log().Contains("setHWTrigger: \n"));
    ASSERT_TRUE(GrabAndWait(0));
}

} // namespace
} // namespace kestcam::test
