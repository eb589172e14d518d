// Bad input through the six port exports: null pointers, rows and column spans outside the image,
// unknown names, unknown, unbound and reused ports, and calls before initialize and after finalize.
// Each gives a clear failure value and log line, never a crash, and leaves the host's buffers alone.
#include <gtest/gtest.h>

#include <algorithm>
#include <climits>

#include "acquisition_fixture.h"

namespace kestcam::test {
namespace {

constexpr uint8_t kUntouched = 0xA5;

class PortExportsBadInput : public AcquisitionTest {
protected:
    void SetUp() override {
        AcquisitionTest::SetUp();
        PinLogLevel();
    }

    // The driver's log level follows the camera opened last, also one of an earlier test of this
    // process: open and close a camera whose settings give the level, then start from no registry
    // again.
    void PinLogLevel(int level = 3) {
        WriteSettings("Camera 1", "LogLevel=" + std::to_string(level) + "\n");
        ASSERT_EQ(Initialize(), 1);
        ASSERT_TRUE(OpenWithoutCallback("Camera 1", 19));
        Driver().closeCVLPort(0, 19);
        ASSERT_EQ(Driver().finalize(), 1);
        Log().Clear();
    }

    // Position of the first message containing text, or -1.
    int IndexOf(const std::string &text) {
        const std::vector<std::string> messages = Log().Messages();
        for (size_t i = 0; i < messages.size(); ++i)
            if (messages[i].find(text) != std::string::npos) return static_cast<int>(i);
        return -1;
    }

    // Every per-port export on a port without a camera: the lookup line, the export's own line,
    // the failure value, and the row target untouched.
    void ExpectNoCameraOnPort(int port) {
        const std::string lookup =
            "MilApp::GetByPort: ERROR: could not find camera on port " + std::to_string(port) + "\n";
        Log().Clear();
        EXPECT_EQ(Driver().doCVLGrab(0, port), 0);
        EXPECT_TRUE(Log().Contains(lookup));
        EXPECT_TRUE(
            Log().Contains("doCVLGrab: --EXCEPTION caught  grabberNo=0 portNo=" + std::to_string(port) + "\n"));

        Log().Clear();
        std::vector<uint8_t> target(16, kUntouched);
        EXPECT_EQ(Driver().getCVLGrabRow(0, port, target.data(), 0, 0, 15), 0);
        EXPECT_TRUE(Log().Contains(lookup));
        EXPECT_TRUE(Log().Contains("getCVLGrabRow: --EXCEPTION caught \n"));
        EXPECT_TRUE(std::all_of(target.begin(), target.end(), [](uint8_t b) { return b == kUntouched; }));

        Log().Clear();
        EXPECT_EQ(Driver().setCompleteCallback(0, port, &Completions::Proc), 0);
        EXPECT_TRUE(Log().Contains(lookup));
        EXPECT_TRUE(Log().Contains("setCompleteCallback: --EXCEPTION caught \n"));

        Log().Clear();
        Driver().closeCVLPort(0, port);
        const int lookupAt = IndexOf(lookup);
        const int exceptionAt =
            IndexOf("closeCVLPort: --EXCEPTION caught  grabberNo=0, portNo=" + std::to_string(port) + "\n");
        const int closingAt = IndexOf("closeCVLPort: grabberNo=0, portNo=" + std::to_string(port) + "\n");
        EXPECT_GE(lookupAt, 0);
        EXPECT_GT(exceptionAt, lookupAt);
        EXPECT_GT(closingAt, exceptionAt);
    }

    // A refused row request: false, the given line, and the target untouched.
    void ExpectRowRefused(int port, int row, int firstPix, int lastPix, const std::string &line) {
        Log().Clear();
        std::vector<uint8_t> target(4096, kUntouched);
        EXPECT_EQ(Driver().getCVLGrabRow(0, port, target.data(), row, firstPix, lastPix), 0)
            << "row " << row << " columns " << firstPix << ".." << lastPix;
        EXPECT_TRUE(Log().Contains(line)) << "expected: " << line;
        EXPECT_TRUE(std::all_of(target.begin(), target.end(), [](uint8_t b) { return b == kUntouched; }))
            << "row " << row << " columns " << firstPix << ".." << lastPix;
    }
};

TEST_F(PortExportsBadInput, EveryPortCallBeforeInitializeFailsCleanly) {
    int geometry[2] = {-1, -1};
    EXPECT_EQ(Driver().openCVLPort(0, 0, "Camera 1", geometry), 0);
    EXPECT_EQ(geometry[0], 0);
    EXPECT_EQ(geometry[1], 0);
    EXPECT_TRUE(Log().Contains("openCVLPort: ERROR: cannot find camera by name:Camera 1\n"));
    ExpectNoCameraOnPort(0);
    // Without cameras not even the unbound marker finds one.
    ExpectNoCameraOnPort(-1);
    EXPECT_EQ(Driver().setHWTrigger(), 1);
}

TEST_F(PortExportsBadInput, EveryPortCallAfterFinalizeFailsCleanly) {
    ASSERT_EQ(Initialize(), 1);
    ASSERT_TRUE(Open("Camera 1", 3));
    ASSERT_TRUE(GrabAndWait(3));
    ASSERT_EQ(Driver().finalize(), 1);
    int geometry[2] = {-1, -1};
    EXPECT_EQ(Driver().openCVLPort(0, 3, "Camera 1", geometry), 0);
    EXPECT_TRUE(Log().Contains("openCVLPort: ERROR: cannot find camera by name:Camera 1\n"));
    ExpectNoCameraOnPort(3);
}

TEST_F(PortExportsBadInput, UndefinedNamesAreRefusedWithZeroGeometry) {
    ASSERT_EQ(Initialize(), 1);
    for (const char *name : {static_cast<const char *>(nullptr), "", "Undefined", "UNDEFINED", "uNdEfInEd"}) {
        Log().Clear();
        int geometry[2] = {-1, -1};
        EXPECT_EQ(Driver().openCVLPort(0, 4, name, geometry), 0);
        EXPECT_EQ(geometry[0], 0);
        EXPECT_EQ(geometry[1], 0);
        const std::string shown = name == nullptr ? "(null)" : name;
        EXPECT_TRUE(Log().Contains(
            "openCVLPort: ERROR: undefined camera, grabberNo=0, portNo=4, cameraName=" + shown + "\n"))
            << shown;
    }
}

TEST_F(PortExportsBadInput, UnknownNamesAreRefused) {
    ASSERT_EQ(Initialize(), 1);
    for (const char *name : {"Camera 9", "camera 1", "Camera 1 ", "Undefined camera"}) {
        Log().Clear();
        int geometry[2] = {-1, -1};
        EXPECT_EQ(Driver().openCVLPort(0, 4, name, geometry), 0);
        EXPECT_EQ(geometry[0], 0);
        EXPECT_TRUE(Log().Contains(std::string("openCVLPort: ERROR: cannot find camera by name:") + name + "\n"))
            << name;
    }
}

TEST_F(PortExportsBadInput, AMissingGeometryArrayIsRefused) {
    ASSERT_EQ(Initialize(), 1);
    EXPECT_EQ(Driver().openCVLPort(0, 4, "Camera 1", nullptr), 0);
    EXPECT_TRUE(Log().Contains("openCVLPort: ERROR: no geometry array supplied, grabberNo=0, portNo=4, "
                               "cameraName=Camera 1\n"));
    ExpectNoCameraOnPort(4);
}

TEST_F(PortExportsBadInput, APortHeldByAnotherCameraIsRefused) {
    ASSERT_EQ(Initialize(), 1);
    ASSERT_TRUE(Open("Camera 1", 5));
    int geometry[2] = {-1, -1};
    EXPECT_EQ(Driver().openCVLPort(0, 5, "Camera 2", geometry), 0);
    EXPECT_EQ(geometry[0], 0);
    EXPECT_EQ(geometry[1], 0);
    EXPECT_TRUE(Log().Contains("openCVLPort: ERROR: port 5 already in use\n"));
    ASSERT_TRUE(GrabAndWait(5));
}

TEST_F(PortExportsBadInput, TheUnboundMarkerIsNeverAPortToOpenOn) {
    ASSERT_EQ(Initialize(), 1);
    int geometry[2];
    EXPECT_EQ(Driver().openCVLPort(0, -1, "Camera 1", geometry), 0);
    EXPECT_TRUE(Log().Contains("openCVLPort: ERROR: port -1 already in use\n"));

    ASSERT_TRUE(Open("Camera 1", 0));
    ASSERT_TRUE(Open("Camera 2", 1));
    ASSERT_TRUE(Open("Camera 3", 2));
    // Now every camera is bound, so no camera holds -1; it is refused all the same.
    Log().Clear();
    EXPECT_EQ(Driver().openCVLPort(0, -1, "Camera 3", geometry), 0);
    EXPECT_TRUE(Log().Contains("openCVLPort: ERROR: port -1 marks an unbound camera and cannot be opened\n"));
    ASSERT_TRUE(GrabAndWait(2));
}

TEST_F(PortExportsBadInput, PortCallsOnTheUnboundMarkerReachTheFirstUnboundCamera) {
    ASSERT_EQ(Initialize(), 1);
    ASSERT_TRUE(Open("Camera 1", 0));
    // Camera 2 is the first unbound camera: never opened, no buffers, no thread.
    EXPECT_EQ(Driver().doCVLGrab(0, -1), 0);
    EXPECT_TRUE(Log().Contains("MilDigitizer::Grab: ERROR: camera not opened, on port=-1\n"));
    ExpectRowRefused(-1, 0, 0, 15, "MilGrabBuffers::GetRow: ERROR: buffers not initialized");
    EXPECT_EQ(Driver().setCompleteCallback(0, -1, &Completions::Proc), 1);
    EXPECT_TRUE(Log().Contains("setCompleteCallback: grabberNo=0   portNo=-1\n"));
    // Camera 2 keeps the callback set through -1 once it is opened.
    ASSERT_TRUE(OpenWithoutCallback("Camera 2", 1));
    ASSERT_EQ(Driver().doCVLGrab(0, 1), 1);
    EXPECT_TRUE(Calls().WaitFor(1, 1));
}

// At level 1 a row read first takes the export's quiet path, which logs nothing: every refusal must
// still come back as 0 with its error line, from the guarded path behind it.
class RowRequestsAtLogLevel : public PortExportsBadInput, public ::testing::WithParamInterface<int> {
protected:
    void SetUp() override {
        AcquisitionTest::SetUp();
        PinLogLevel(GetParam());
    }
};

TEST_P(RowRequestsAtLogLevel, RowRequestsOutsideTheImageAreRefused) {
    ASSERT_EQ(Initialize(), 1);
    ASSERT_TRUE(Open("Camera 1", 0));
    ASSERT_TRUE(GrabAndWait(0));

    Log().Clear();
    EXPECT_EQ(Driver().getCVLGrabRow(0, 0, nullptr, 0, 0, 2047), 0);
    EXPECT_TRUE(Log().Contains("MilDigitizer::GetRow: ERROR: target buffer not supplied\n"));

    for (int row : {-1, 1000, 5000, INT_MAX, INT_MIN})
        ExpectRowRefused(0, row, 0, 2047,
                         "MilDigitizer::GetRow: ERROR: invalid row number=" + std::to_string(row) +
                             " height=1000 frames=1\n");

    const std::vector<std::pair<int, int>> spans = {
        {10, 5},      // reversed
        {5, 5},       // a single pixel
        {0, 2048},    // one past the last column
        {2000, 2100}, // starts inside, ends past the row
        {2047, 2048}, // the last column and one more
        {-1, 10},     // negative start
        {0, -1},      // negative end
        {INT_MIN, INT_MAX},
        {0, INT_MAX},
    };
    for (const auto &[first, last] : spans)
        ExpectRowRefused(0, 17, first, last,
                         "MilDigitizer::GetRow: ERROR: invalid column, lastPix=" + std::to_string(last) +
                             " firstPix=" + std::to_string(first) + " width=2048\n");

    // The edges themselves are fine.
    std::vector<uint8_t> target(2048);
    EXPECT_EQ(Driver().getCVLGrabRow(0, 0, target.data(), 999, 0, 2047), 1);
    EXPECT_EQ(Driver().getCVLGrabRow(0, 0, target.data(), 0, 2046, 2047), 1);
    EXPECT_EQ(target[0], Ramp(2046, 0, 0, 0, 8));
    EXPECT_EQ(target[1], Ramp(2047, 0, 0, 0, 8));

    ExpectRowRefused(1, 0, 0, 15, "MilApp::GetByPort: ERROR: could not find camera on port 1\n");
}
INSTANTIATE_TEST_SUITE_P(Levels, RowRequestsAtLogLevel, ::testing::Values(1, 3),
                         [](const ::testing::TestParamInfo<int> &info) {
                             return "LogLevel" + std::to_string(info.param);
                         });

TEST_F(PortExportsBadInput, AClosedPortIsUnknownAgain) {
    ASSERT_EQ(Initialize(), 1);
    ASSERT_TRUE(Open("Camera 2", 7));
    ASSERT_TRUE(GrabAndWait(7));
    Driver().closeCVLPort(0, 7);
    ExpectNoCameraOnPort(7);
}

TEST_F(PortExportsBadInput, ClosingAPortTwiceFailsTheSecondTimeInTheLookup) {
    ASSERT_EQ(Initialize(), 1);
    ASSERT_TRUE(Open("Camera 3", 12));
    Driver().closeCVLPort(0, 12);
    Log().Clear();
    Driver().closeCVLPort(0, 12);
    EXPECT_TRUE(Log().Contains("closeCVLPort: --EXCEPTION caught  grabberNo=0, portNo=12\n"));
}

} // namespace
} // namespace kestcam::test
