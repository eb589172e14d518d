// Opening and closing a camera through openCVLPort and closeCVLPort: geometry, the DCF choice and
// its fallback, the band/colour check, the settings read at open and stored at close, and the
// buffer ring kept from one open to the next.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

#include "acquisition_fixture.h"

namespace kestcam::test {
namespace {

class AcquisitionOpen : public AcquisitionTest {
protected:
    // The value of key in the camera's section of the settings file, or "" when absent.
    std::string StoredValue(const std::string &camera, const std::string &key) {
        const std::string text = ReadSettingsFile();
        size_t section = text.find("[" + camera + "]");
        if (section == std::string::npos) return "";
        size_t end = text.find("\n[", section + 1);
        const std::string body =
            text.substr(section, end == std::string::npos ? std::string::npos : end - section);
        const std::string prefix = "\n" + key + "=";
        size_t at = body.find(prefix);
        if (at == std::string::npos) return "";
        at += prefix.size();
        return body.substr(at, body.find_first_of("\r\n", at) - at);
    }
    std::string Dcf(const std::string &name, int width, int height) {
        std::filesystem::create_directories(dir_.Path() / "dcf");
        return dir_.Write("dcf/" + name, "[Digitizer]\nWidth = " + std::to_string(width) +
                                             "\nHeight = " + std::to_string(height) + "\n");
    }
};

TEST_F(AcquisitionOpen, GeometryIsTheDigitizerSizeTimesTheFramesPerGrab) {
    WriteSettings("Camera 1", "Width=100\nHeight=7\nHeightMultiplier=4\n");
    ASSERT_EQ(Initialize(), 1);
    int geometry[2] = {-1, -1};
    ASSERT_EQ(Driver().openCVLPort(0, 6, "Camera 1", geometry), 1);
    EXPECT_EQ(geometry[0], 2048);
    EXPECT_EQ(geometry[1], 4000);
    EXPECT_TRUE(Log().Contains("openCVLPort: -- Camera Camera 1 OPENED on port 6\n"));
    EXPECT_TRUE(Log().Contains("MilDigitizer::Init: From digitizer: ColorMode=0 SizeBand=1 SizeBit=8\n"));

    // The digitizer's own size replaced the stored one and reaches the file at close.
    Driver().closeCVLPort(0, 6);
    EXPECT_EQ(StoredValue("Camera 1", "Width"), "2048");
    EXPECT_EQ(StoredValue("Camera 1", "Height"), "1000");
    EXPECT_EQ(StoredValue("Camera 1", "HeightMultiplier"), "4");
    EXPECT_TRUE(Log().Contains("MilDigitizer::Close\n"));
    EXPECT_TRUE(Log().Contains("closeCVLPort: grabberNo=0, portNo=6\n"));
}

TEST_F(AcquisitionOpen, CloseStoresTheSettingsAndUnbindsThePort) {
    WriteSettings("Camera 2", "GrabTimeout=4321\nUse16bit=1\nShift16bit=3\n");
    ASSERT_EQ(Initialize(), 1);
    ASSERT_TRUE(Open("Camera 2", 8));
    dir_.Write("Kest.ini", ""); // whatever is in the file now comes from the close
    Driver().closeCVLPort(0, 8);
    EXPECT_EQ(StoredValue("Camera 2", "GrabTimeout"), "4321");
    EXPECT_EQ(StoredValue("Camera 2", "Use16bit"), "1");
    EXPECT_EQ(StoredValue("Camera 2", "Shift16bit"), "3");
    EXPECT_EQ(StoredValue("Camera 2", "Width"), "2048");

    // The port is free again: a grab on it finds no camera, and another camera may take it.
    EXPECT_EQ(Driver().doCVLGrab(0, 8), 0);
    EXPECT_TRUE(Log().Contains("MilApp::GetByPort: ERROR: could not find camera on port 8\n"));
    ASSERT_TRUE(Open("Camera 1", 8));
}

TEST_F(AcquisitionOpen, ClosingAnUnboundCameraDoesNotOverwriteItsStoredSettings) {
    WriteSettings("Camera 1", "GrabTimeout=1234\nDCF_FILE=dcf/mine.dcf\n");
    const std::string before = ReadSettingsFile();
    ASSERT_EQ(Initialize(), 1);
    // Port -1 reaches the first camera that is not bound: Camera 1, never opened.
    Driver().closeCVLPort(0, -1);
    EXPECT_EQ(ReadSettingsFile(), before);
}

TEST_F(AcquisitionOpen, TheLogLevelFollowsTheCameraOpenedLast) {
    WriteSettings("Camera 1", "LogLevel=1\n");
    WriteSettings("Camera 2", "LogLevel=2\n");
    ASSERT_EQ(Initialize(), 1);
    ASSERT_TRUE(Open("Camera 1", 1));
    EXPECT_FALSE(Log().Contains("openCVLPort: -- Camera Camera 1 OPENED on port 1\n"));
    ASSERT_TRUE(Open("Camera 2", 2));
    EXPECT_TRUE(Log().Contains("openCVLPort: -- Camera Camera 2 OPENED on port 2\n"));
}

TEST_F(AcquisitionOpen, ARelativeDcfIsFoundUnderTheSystemPath) {
    Dcf("small.dcf", 640, 48);
    WriteSettings("Camera 1", "DCF_FILE=dcf/small.dcf\n");
    ASSERT_EQ(Initialize(), 1);
    ASSERT_TRUE(Open("Camera 1", 0));
    EXPECT_EQ(width_, 640);
    EXPECT_EQ(rows_, 48);
    EXPECT_FALSE(Log().Contains("MdigAlloc failed"));
    ASSERT_TRUE(GrabAndWait(0));
    std::vector<uint8_t> expected;
    for (int x = 0; x < 640; ++x)
        expected.push_back(static_cast<uint8_t>(Ramp(x, 47, 0, 0, 8)));
    EXPECT_EQ(Row(0, 47), expected);
}

TEST_F(AcquisitionOpen, AnAbsoluteDcfIsUsedAsItIs) {
    const std::string dcf = Dcf("abs.dcf", 320, 20);
    WriteSettings("Camera 1", "DCF_FILE=" + dcf + "\n");
    ASSERT_EQ(Initialize(), 1);
    ASSERT_TRUE(Open("Camera 1", 0));
    EXPECT_EQ(width_, 320);
    EXPECT_EQ(rows_, 20);
}

TEST_F(AcquisitionOpen, UseDefaultDcfIgnoresTheNamedFile) {
    Dcf("small.dcf", 640, 48);
    WriteSettings("Camera 1", "DCF_FILE=dcf/small.dcf\nUseDefaultDCF=1\n");
    ASSERT_EQ(Initialize(), 1);
    ASSERT_TRUE(Open("Camera 1", 0));
    EXPECT_EQ(width_, 2048);
    EXPECT_EQ(rows_, 1000);
}

TEST_F(AcquisitionOpen, ARefusedDcfFallsBackToTheDefaultWithOneWarning) {
    WriteSettings("Camera 1", "DCF_FILE=dcf/missing.dcf\n");
    ASSERT_EQ(Initialize(), 1);
    ASSERT_TRUE(Open("Camera 1", 0));
    EXPECT_EQ(width_, 2048);
    EXPECT_EQ(rows_, 1000);
    const std::string path = dir_.File("dcf/missing.dcf");
    EXPECT_EQ(Log().Count("MilDigitizer::Init: WARNING: MdigAlloc failed with DCF file: " + path +
                          ", MIL Error message:'"),
              1u);
    EXPECT_EQ(Log().Count("MessageBox: WARNING: Digitizer #0: the supplied DCF file '" + path +
                          "' failed to open.\nThe camera is opened with default DCF instead."),
              1u);
    EXPECT_FALSE(Log().Contains("MessageBox: ERROR"));
    ASSERT_TRUE(GrabAndWait(0));
}

TEST_F(AcquisitionOpen, ADcfWithoutADigitizerSectionIsRefusedLikeAMissingOne) {
    dir_.Write("bad.dcf", "[Camera]\nWidth = 10\n");
    WriteSettings("Camera 3", "DCF_FILE=bad.dcf\n");
    ASSERT_EQ(Initialize(), 1);
    ASSERT_TRUE(Open("Camera 3", 0));
    EXPECT_EQ(width_, 1024);
    EXPECT_EQ(Log().Count("MessageBox: WARNING: Digitizer #2: the supplied DCF file '"), 1u);
}

TEST_F(AcquisitionOpen, ThreeBandsWithAMonochromeColourModeAreRefusedAndLeaveThePortFree) {
    UseOneDigitizer("Bands = 3\nColorMode = 1024");
    ASSERT_EQ(Initialize(), 1);
    int geometry[2] = {-1, -1};
    EXPECT_EQ(Driver().openCVLPort(0, 2, "Camera 1", geometry), 0);
    EXPECT_EQ(geometry[0], 0);
    EXPECT_EQ(geometry[1], 0);
    EXPECT_TRUE(Log().Contains("MilDigitizer::Open: ERROR: unrecognized sizeband(3)/colormode(1024)/bitsize(8) "
                               "combination\n"));
    EXPECT_TRUE(
        Log().Contains("openCVLPort: ERROR: camera not opened, grabberNo=0, portNo=2, cameraName=Camera 1\n"));

    // Nothing stays bound or allocated: the next attempt meets the same refusal, not a held digitizer.
    Log().Clear();
    EXPECT_EQ(Driver().openCVLPort(0, 2, "Camera 1", geometry), 0);
    EXPECT_FALSE(Log().Contains("already in use"));
    EXPECT_FALSE(Log().Contains("MdigAlloc failed"));
    EXPECT_TRUE(Log().Contains("unrecognized sizeband(3)/colormode(1024)/bitsize(8)"));
}

TEST_F(AcquisitionOpen, OneBandWithAColourModeIsRefused) {
    UseOneDigitizer("Bands = 1\nColorMode = 8");
    ASSERT_EQ(Initialize(), 1);
    int geometry[2];
    EXPECT_EQ(Driver().openCVLPort(0, 2, "Camera 1", geometry), 0);
    EXPECT_TRUE(Log().Contains("unrecognized sizeband(1)/colormode(8)/bitsize(8) combination"));
}

TEST_F(AcquisitionOpen, OneBandWithColourMode1024CountsAsMonochrome) {
    UseOneDigitizer("Width = 64\nHeight = 4\nBands = 1\nColorMode = 1024");
    ASSERT_EQ(Initialize(), 1);
    ASSERT_TRUE(Open("Camera 1", 2));
    EXPECT_EQ(width_, 64);
}

TEST_F(AcquisitionOpen, AnOpenCameraCannotBeOpenedOnASecondPort) {
    ASSERT_EQ(Initialize(), 1);
    ASSERT_TRUE(Open("Camera 1", 1));
    int geometry[2] = {-1, -1};
    EXPECT_EQ(Driver().openCVLPort(0, 2, "Camera 1", geometry), 0);
    EXPECT_EQ(geometry[0], 0);
    EXPECT_TRUE(
        Log().Contains("openCVLPort: ERROR: camera not opened, grabberNo=0, portNo=2, cameraName=Camera 1\n"));
    EXPECT_TRUE(GrabAndWait(1));
    EXPECT_EQ(Driver().doCVLGrab(0, 2), 0);
}

TEST_F(AcquisitionOpen, ReopeningWithTheSameGeometryKeepsTheBuffersAndTheirImage) {
    ASSERT_EQ(Initialize(), 1);
    ASSERT_TRUE(Open("Camera 1", 0));
    ASSERT_TRUE(GrabAndWait(0));
    ASSERT_TRUE(GrabAndWait(0));
    Driver().closeCVLPort(0, 0);
    ASSERT_TRUE(Open("Camera 1", 0));

    // No new allocation, a new thread, and the last image (frame 1) still readable.
    EXPECT_EQ(Log().Count("MilGrabBuffers::Init: leaving\n"), 1u);
    EXPECT_EQ(Log().Count("GrabThread::Init: leaving on port="), 2u);
    std::vector<uint8_t> expected;
    for (int x = 0; x < 2048; ++x)
        expected.push_back(static_cast<uint8_t>(Ramp(x, 5, 1, 0, 8)));
    EXPECT_EQ(Row(0, 5), expected);

    // The reopened digitizer counts its frames from 0 again.
    ASSERT_TRUE(GrabAndWait(0));
    expected.clear();
    for (int x = 0; x < 2048; ++x)
        expected.push_back(static_cast<uint8_t>(Ramp(x, 5, 0, 0, 8)));
    EXPECT_EQ(Row(0, 5), expected);
}

TEST_F(AcquisitionOpen, ChangingTheSampleDepthBetweenOpensAllocatesNewBuffers) {
    ASSERT_EQ(Initialize(), 1);
    ASSERT_TRUE(Open("Camera 2", 0));
    ASSERT_TRUE(GrabAndWait(0));
    Driver().closeCVLPort(0, 0);
    WriteSettings("Camera 2", "Use16bit=1\n");
    ASSERT_TRUE(Open("Camera 2", 0));
    EXPECT_EQ(Log().Count("MilGrabBuffers::Init: leaving\n"), 2u);
    // Fresh buffers: the image grabbed into the old ones is gone.
    EXPECT_EQ(Row(0, 5), std::vector<uint8_t>(2048, 0));
}

TEST_F(AcquisitionOpen, TheCallbackSurvivesCloseAndReopen) {
    ASSERT_EQ(Initialize(), 1);
    ASSERT_TRUE(Open("Camera 1", 0));
    Driver().closeCVLPort(0, 0);
    ASSERT_TRUE(OpenWithoutCallback("Camera 1", 0));
    ASSERT_EQ(Driver().doCVLGrab(0, 0), 1);
    EXPECT_TRUE(Calls().WaitFor(0, 1));
}

TEST_F(AcquisitionOpen, ClosingAWaitingCameraEndsItsThreadBeforeReportingItClosed) {
    ASSERT_EQ(Initialize(), 1);
    ASSERT_TRUE(Open("Camera 1", 3));
    Driver().closeCVLPort(0, 3);
    const std::vector<std::string> messages = Log().Messages();
    auto find = [&](const std::string &text) {
        return std::find_if(messages.begin(), messages.end(),
                            [&](const std::string &m) { return m.find(text) != std::string::npos; });
    };
    const auto leaving = find("GrabThread::ThreadMain: leavingon port=3");
    const auto closed = find("GrabThread::Destroy: thread closed on port=3");
    const auto close = find("MilDigitizer::Close\n");
    ASSERT_NE(leaving, messages.end());
    ASSERT_NE(closed, messages.end());
    ASSERT_NE(close, messages.end());
    EXPECT_LT(leaving, closed);
    EXPECT_LT(closed, close);
}

} // namespace
} // namespace kestcam::test
