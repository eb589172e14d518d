// Grabs and opens that meet failures of the imaging library: failing sequence grabs and the
// process-wide fallback to single grabs, failing single grabs, grab time-outs, too few buffers,
// and a close during a sequence.
#include <gtest/gtest.h>

#include "acquisition_fixture.h"

namespace kestcam::test {
namespace {

class AcquisitionFaults : public AcquisitionTest {
protected:
    std::vector<uint8_t> RampRow(int width, int y, int64_t f) {
        std::vector<uint8_t> out;
        for (int x = 0; x < width; ++x)
            out.push_back(static_cast<uint8_t>(Ramp(x, y, f, 0, 8)));
        return out;
    }
};

TEST_F(AcquisitionFaults, AFailedSequenceGrabIsCompletedBufferByBufferForThatSameRequest) {
    UseOneDigitizer("Width = 128\nHeight = 10\nProcessFails = 1");
    WriteSettings("Camera 1", "HeightMultiplier=2\n");
    ASSERT_EQ(Initialize(), 1);
    ASSERT_TRUE(Open("Camera 1", 0));
    ASSERT_TRUE(GrabAndWait(0));
    EXPECT_EQ(Log().Count("GrabThread::Grab_MdigProcess: ERROR: grab failed, MIL Error message:'"), 1u);
    EXPECT_EQ(Row(0, 3), RampRow(128, 3, 0));
    EXPECT_EQ(Row(0, 13), RampRow(128, 3, 1));

    // From now on every grab goes buffer by buffer, without trying the sequence again.
    ASSERT_TRUE(GrabAndWait(0));
    EXPECT_EQ(Log().Count("GrabThread::Grab_MdigProcess: ERROR"), 1u);
    EXPECT_EQ(Row(0, 19), RampRow(128, 9, 3));
    EXPECT_EQ(Calls().Count(0), 2);
}

TEST_F(AcquisitionFaults, TheFallbackHoldsForEveryCameraOfTheProcess) {
    // Camera 2's first single-frame grab fails: it is only reached once Camera 1 has switched
    // every camera to single grabs.
    UseSimConfig("[System 0]\nDescriptor = M_SYSTEM_SOLIOS\nDigitizers = 2\n"
                 "[System 0 Digitizer 0]\nWidth = 64\nHeight = 4\nProcessFails = 1\n"
                 "[System 0 Digitizer 1]\nWidth = 64\nHeight = 4\nGrabFailsAt = 1\n");
    ASSERT_EQ(Initialize(), 1);
    ASSERT_TRUE(Open("Camera 1", 1));
    ASSERT_TRUE(Open("Camera 2", 2));
    ASSERT_TRUE(GrabAndWait(1));
    ASSERT_EQ(Driver().doCVLGrab(0, 2), 1);
    ASSERT_TRUE(Log().WaitFor("GrabThread::ThreadMain: grab failed, no completion on port=2\n"));
    EXPECT_TRUE(
        Log().Contains("MilDigitizer::Grab_MdigGrab: ERROR: grab failed for buffer=1 out of 1, MIL Error"));
    ASSERT_TRUE(GrabAndWait(2));
    EXPECT_EQ(Calls().Count(2), 1);
}

TEST_F(AcquisitionFaults, AFailedGrabGivesNoCallbackAndTheNextRequestIsAccepted) {
    UseOneDigitizer("Width = 96\nHeight = 6\nProcessFails = 1\nGrabFailsAt = 3");
    WriteSettings("Camera 1", "HeightMultiplier=3\n");
    ASSERT_EQ(Initialize(), 1);
    ASSERT_TRUE(Open("Camera 1", 0));
    // The third single grab is the third buffer of the first request.
    ASSERT_EQ(Driver().doCVLGrab(0, 0), 1);
    ASSERT_TRUE(Log().WaitFor("GrabThread::ThreadMain: grab failed, no completion on port=0\n"));
    EXPECT_TRUE(Log().Contains("MilDigitizer::Grab_MdigGrab: ERROR: grab failed for buffer=3 out of 3, "));
    ASSERT_TRUE(GrabAndWait(0));
    // One callback only: the failed request had none. Frames 0 and 1 went to the failed request.
    EXPECT_EQ(Calls().Count(0), 1);
    EXPECT_EQ(Row(0, 2), RampRow(96, 2, 2));
    EXPECT_EQ(Row(0, 17), RampRow(96, 5, 4));
}

TEST_F(AcquisitionFaults, AGrabSlowerThanTheTimeOutFailsWithoutCallback) {
    UseOneDigitizer("Width = 64\nHeight = 4\nFrameTimeMs = 5000");
    WriteSettings("Camera 1", "GrabTimeout=100\n");
    ASSERT_EQ(Initialize(), 1);
    ASSERT_TRUE(Open("Camera 1", 0));
    ASSERT_EQ(Driver().doCVLGrab(0, 0), 1);
    // Both the sequence and the single grab that follows it hit the time-out.
    ASSERT_TRUE(Log().WaitFor("GrabThread::ThreadMain: grab failed, no completion on port=0\n"));
    EXPECT_TRUE(Log().Contains("MilDigitizer::Grab_MdigGrab: ERROR: grab failed for buffer=1 out of 1, "));
    EXPECT_TRUE(Log().Contains("time-out"));
    ASSERT_EQ(Driver().doCVLGrab(0, 0), 1);
    Driver().closeCVLPort(0, 0);
    EXPECT_EQ(Calls().Count(0), 0);
}

TEST_F(AcquisitionFaults, TooFewBuffersLeaveThePortBoundUntilClosed) {
    UseOneDigitizer("Width = 64\nHeight = 4", "BufferLimit = 2");
    WriteSettings("Camera 1", "HeightMultiplier=3\n");
    ASSERT_EQ(Initialize(), 1);
    int geometry[2] = {-1, -1};
    EXPECT_EQ(Driver().openCVLPort(0, 5, "Camera 1", geometry), 0);
    EXPECT_TRUE(
        Log().Contains("MilGrabBuffers::Init: ERROR: MbufAlloc2d failed for buffer 2 out of 3, image:64x4, "
                       "pixelsize=8, MIL Error message:'"));
    EXPECT_TRUE(Log().Contains("MilDigitizer::Init: ERROR: Could not initialize grab buffers, port=5\n"));
    EXPECT_TRUE(
        Log().Contains("openCVLPort: ERROR: camera not opened, grabberNo=0, portNo=5, cameraName=Camera 1\n"));

    EXPECT_EQ(Driver().openCVLPort(0, 5, "Camera 1", geometry), 0);
    EXPECT_TRUE(Log().Contains("openCVLPort: ERROR: port 5 already in use\n"));
    EXPECT_EQ(Driver().doCVLGrab(0, 5), 0);
    EXPECT_TRUE(Log().Contains("MilDigitizer::Grab: ERROR: camera not opened, on port=5\n"));

    Driver().closeCVLPort(0, 5);
    EXPECT_FALSE(Log().Contains("closeCVLPort: --EXCEPTION"));
    // Within the limit the camera opens on the same port; the partial ring was given back.
    WriteSettings("Camera 1", "HeightMultiplier=2\n");
    ASSERT_TRUE(Open("Camera 1", 5));
    EXPECT_EQ(rows_, 8);
    ASSERT_TRUE(GrabAndWait(5));
    EXPECT_EQ(Row(5, 7), RampRow(64, 3, 1));
}

TEST_F(AcquisitionFaults, MoreThanFiftyFramesPerGrabAreRefused) {
    UseOneDigitizer("Width = 16\nHeight = 2");
    WriteSettings("Camera 1", "HeightMultiplier=51\n");
    ASSERT_EQ(Initialize(), 1);
    int geometry[2];
    EXPECT_EQ(Driver().openCVLPort(0, 1, "Camera 1", geometry), 0);
    EXPECT_TRUE(Log().Contains("MilGrabBuffers::Init: ERROR: frameCount=51 exceeds maxBufferCount=50\n"));
    Driver().closeCVLPort(0, 1);

    WriteSettings("Camera 1", "HeightMultiplier=50\n");
    ASSERT_TRUE(Open("Camera 1", 1));
    EXPECT_EQ(rows_, 100);
    ASSERT_TRUE(GrabAndWait(1));
    EXPECT_EQ(Row(1, 99), RampRow(16, 1, 49));
}

TEST_F(AcquisitionFaults, AFailedRingAfterAWorkingOneDoesNotServeTheNewGeometry) {
    UseOneDigitizer("Width = 16\nHeight = 2");
    ASSERT_EQ(Initialize(), 1);
    ASSERT_TRUE(Open("Camera 1", 1));
    ASSERT_TRUE(GrabAndWait(1));
    Driver().closeCVLPort(0, 1);
    // The old one-frame ring cannot serve 60 frames: the open fails instead of announcing rows
    // that no buffer holds.
    WriteSettings("Camera 1", "HeightMultiplier=60\n");
    int geometry[2];
    EXPECT_EQ(Driver().openCVLPort(0, 1, "Camera 1", geometry), 0);
    EXPECT_EQ(Driver().doCVLGrab(0, 1), 0);
    std::vector<uint8_t> row(16);
    EXPECT_EQ(Driver().getCVLGrabRow(0, 1, row.data(), 0, 0, 15), 0);
}

TEST_F(AcquisitionFaults, ClosingDuringASequenceEndsItWithoutSwitchingToSingleGrabs) {
    // Were the stopped sequence taken for a failure, the fallback would send the next grab
    // through single grabs, whose first one fails here.
    UseOneDigitizer("Width = 64\nHeight = 4\nFrameTimeMs = 1000\nGrabFailsAt = 1");
    WriteSettings("Camera 1", "HeightMultiplier=5\n");
    ASSERT_EQ(Initialize(), 1);
    ASSERT_TRUE(Open("Camera 1", 0));
    ASSERT_EQ(Driver().doCVLGrab(0, 0), 1);
    ASSERT_TRUE(Log().WaitFor("GrabThread::ThreadMain: grabbing starts in synch mode on port=0\n"));
    Driver().closeCVLPort(0, 0);
    // The stop request ended the five-second sequence before the join warning was due.
    EXPECT_FALSE(Log().Contains("GrabThread::Destroy: WARNING"));
    EXPECT_FALSE(Log().Contains("Grab_MdigProcess: ERROR"));
    EXPECT_EQ(Calls().Count(0), 0);

    WriteSettings("Camera 1", "HeightMultiplier=1\n");
    ASSERT_TRUE(Open("Camera 1", 0));
    ASSERT_TRUE(GrabAndWait(0));
}

} // namespace
} // namespace kestcam::test
