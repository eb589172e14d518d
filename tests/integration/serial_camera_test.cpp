// The serial camera through the exports, with BaslerPort naming the simulated camera: limits read at
// open become the ranges, parameters and modes written at open and by setProperty, the values read
// back at close, a camera that falls silent, two cameras on one line, and port names that are no
// device. The tests that need no camera configuration of their own also run under Wine, where the
// Win32 serial backend reaches the camera through a COM port of the Wine prefix.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <regex>
#include <thread>

#include "acquisition_fixture.h"
#include "serial/serial_port.h"
#include "support/test_camera.h"

namespace kestcam::test {
namespace {

using ::testing::ElementsAre;
using ::testing::internal::CaptureStderr;
using ::testing::internal::GetCapturedStderr;
using Clock = std::chrono::steady_clock;

// One read waits at most 2000 ms; the bound only turns a hang into a failure on a loaded machine.
constexpr auto kOneTimeOutBound = std::chrono::seconds(12);

const std::vector<std::string> kLimitReads = {"read 0x1505 4", "read 0x1509 4", "read 0x1605 4", "read 0x1609 4",
                                              "read 0x0e05 4", "read 0x0e09 4", "read 0x0e25 4", "read 0x0e29 4",
                                              "read 0x0f05 4", "read 0x0f09 4", "read 0x0f25 4", "read 0x0f29 4"};

#define KC_START_CAMERA(...)                                                                                      \
    do {                                                                                                          \
        std::string why;                                                                                          \
        if (!camera_.Start(__VA_ARGS__)) GTEST_SKIP() << why;                                                     \
    } while (0)

class SerialCameraExports : public AcquisitionTest {
protected:
    void WriteCameraSettings(const std::string &camera, const std::string &lines = "") {
        WriteSettings(camera, "BaslerPortAccessEnabled=1\nBaslerPort=" + camera_.Port() + "\n" + lines);
    }
    std::string Stored(const std::string &key) {
        const std::string text = ReadSettingsFile();
        const size_t at = text.find("\n" + key + "=");
        if (at == std::string::npos) return "";
        const size_t begin = at + key.size() + 2;
        return text.substr(begin, text.find_first_of("\r\n", begin) - begin);
    }
    int Get(const char *name, int port = 1) {
        int value = -99;
        EXPECT_EQ(Driver().getProperty(0, port, name, &value), 1) << name;
        return value;
    }

    TestSerialCamera camera_;
};

TEST_F(SerialCameraExports, TheLimitsReadAtOpenAreTheRangesTruncatedTowardZero) {
    KC_START_CAMERA("standard", why);
    WriteCameraSettings("Camera 1");
    ASSERT_EQ(Initialize(), 1);
    ASSERT_TRUE(Open("Camera 1", 1));
    EXPECT_EQ(camera_.Frames(), kLimitReads);
    int min = 0;
    int max = 0;
    ASSERT_EQ(Driver().getPropertyRange(0, 1, "Gain", &min, &max), 1);
    EXPECT_EQ(min, -3);
    EXPECT_EQ(max, 12);
    ASSERT_EQ(Driver().getPropertyRange(0, 1, "exposuretime", &min, &max), 1);
    EXPECT_EQ(min, 10);
    EXPECT_EQ(max, 10000);
}

TEST_F(SerialCameraExports, ExposureTimeAboveTheMaximumWritesTheMaximumAndKeepsTheSetting) {
    KC_START_CAMERA("standard", why);
    WriteCameraSettings("Camera 1", "ExposureTime=500\n");
    ASSERT_EQ(Initialize(), 1);
    ASSERT_TRUE(Open("Camera 1", 1));
    camera_.ClearFrames();
    EXPECT_EQ(Driver().setProperty(0, 1, "ExposureTime", 25000), 1);
    EXPECT_EQ(Driver().setProperty(0, 1, "Gain", 5), 1);
    EXPECT_THAT(camera_.Frames(), ElementsAre("read 0x1505 4", "read 0x1509 4", "write 0x1501 10000",
                                              "read 0x0e05 4", "read 0x0e09 4", "write 0x0e01 5"));
    EXPECT_EQ(Get("ExposureTime"), 500);
    EXPECT_TRUE(Log().Contains("BaslerCamera::SetFloatParamValue: value modified to 10000.000000, since boundary "
                               "=[10.500000-10000.000000], name=ExposureTime,address=1500\n"));
}

TEST_F(SerialCameraExports, ExposureModeWritesOnlyValidCodes) {
    KC_START_CAMERA("standard", why);
    WriteCameraSettings("Camera 1");
    ASSERT_EQ(Initialize(), 1);
    ASSERT_TRUE(Open("Camera 1", 1));
    camera_.ClearFrames();
    EXPECT_EQ(Driver().setProperty(0, 1, "ExposureMode", 3), 0);
    EXPECT_EQ(Driver().setProperty(0, 1, "ExposureMode", 7), 0);
    EXPECT_EQ(Driver().setProperty(0, 1, "exposuremode", 5), 1);
    EXPECT_THAT(camera_.Frames(), ElementsAre("write 0x1401 5"));
}

TEST_F(SerialCameraExports, OpenWritesTheModeThenTheLinePeriodBeforeTheExposureTime) {
    KC_START_CAMERA("standard", why);
    WriteCameraSettings("Camera 1", "UseExposureMode=1\nExposureMode=ExSync edge controlled\nUseExposureTime=1\n"
                                    "ExposureTime=120\nUseLinePeriod=1\nLinePeriod=300\n");
    ASSERT_EQ(Initialize(), 1);
    ASSERT_TRUE(Open("Camera 1", 1));
    std::vector<std::string> expected = kLimitReads;
    for (const char *frame : {"write 0x1401 6", "read 0x1605 4", "read 0x1609 4", "write 0x1601 300",
                              "read 0x1505 4", "read 0x1509 4", "write 0x1501 120"})
        expected.push_back(frame);
    EXPECT_EQ(camera_.Frames(), expected);
}

TEST_F(SerialCameraExports, CloseStoresTheCamerasValuesAndMode) {
    KC_START_CAMERA("standard", why);
    WriteCameraSettings("Camera 1", "ExposureTime=1\nGain=1\nGainBalance=1\n");
    ASSERT_EQ(Initialize(), 1);
    ASSERT_TRUE(Open("Camera 1", 1));
    // An external camera keeps what earlier tests wrote: the values checked are written here, or
    // never written by any test.
    ASSERT_EQ(Driver().setProperty(0, 1, "ExposureTime", 4321), 1);
    ASSERT_EQ(Driver().setProperty(0, 1, "ExposureMode", 4), 1);
    camera_.ClearFrames();
    Driver().closeCVLPort(0, 1);
    EXPECT_THAT(camera_.Frames(), ElementsAre("read 0x1401 1", "read 0x1501 4", "read 0x0e01 4", "read 0x0e21 4",
                                              "read 0x1601 4", "read 0x0f01 4", "read 0x0f21 4"));
    EXPECT_EQ(Stored("ExposureTime"), "4321");
    EXPECT_EQ(Stored("GainBalance"), "0.3"); // the camera's float 0.300000012, in the file's six digits
    EXPECT_EQ(Stored("DigitalOffsetBalance"), "-1.25");
    EXPECT_EQ(Stored("ExposureMode"), "ExSync level controlled");
}

TEST_F(SerialCameraExports, AModeTheSettingsDoNotListLeavesTheStoredMode) {
    KC_START_CAMERA("standard", why, "[Camera]\nExposureMode = 3\n");
    WriteCameraSettings("Camera 1", "ExposureMode=ExSync edge controlled\n");
    ASSERT_EQ(Initialize(), 1);
    ASSERT_TRUE(Open("Camera 1", 1));
    Driver().closeCVLPort(0, 1);
    EXPECT_EQ(Stored("ExposureMode"), "ExSync edge controlled");
}

TEST_F(SerialCameraExports, ASilentCameraCostsOneReadTimeOutAndTheOpenSucceeds) {
    KC_START_CAMERA("silent", why);
    WriteCameraSettings("Camera 1", "UseExposureTime=1\n");
    ASSERT_EQ(Initialize(), 1);
    CaptureStderr();
    const Clock::time_point start = Clock::now();
    const bool opened = Open("Camera 1", 1);
    const Clock::duration elapsed = Clock::now() - start;
    EXPECT_EQ(GetCapturedStderr(), "ERROR: Unexpected bytes read in receive frame\n"
                                   "ERROR: Camera's ACK receive failed\n");
    ASSERT_TRUE(opened);
    EXPECT_LT(elapsed, kOneTimeOutBound);
    EXPECT_TRUE(
        Log().Contains("BaslerCamera::Init: ERROR: cannot obtain min/max values from the basler camera\n"));
    EXPECT_TRUE(Log().Contains(
        "MilDigitizer::Open: WARNING: direct connection to basler camera could not be opened, port=1\n"));
    // One frame reached the camera; without limits nothing more is tried, now or at close.
    EXPECT_EQ(Driver().setProperty(0, 1, "ExposureTime", 100), 0);
    Driver().closeCVLPort(0, 1);
    EXPECT_EQ(camera_.Frames(), std::vector<std::string>{"read 0x1505 4"});
}

TEST_F(SerialCameraExports, ACameraFallingSilentCostsOneTimeOutAndFreesThePort) {
    KC_START_CAMERA("standard", why, "[Faults]\nSilentAfterFrames = 12\n");
    WriteCameraSettings("Camera 1");
    ASSERT_EQ(Initialize(), 1);
    ASSERT_TRUE(Open("Camera 1", 1));
    CaptureStderr();
    const Clock::time_point start = Clock::now();
    EXPECT_EQ(Driver().setProperty(0, 1, "LinePeriod", 100), 0);
    EXPECT_LT(Clock::now() - start, kOneTimeOutBound);
    EXPECT_EQ(GetCapturedStderr(), "ERROR: Unexpected bytes read in receive frame\n"
                                   "ERROR: Camera's ACK receive failed\n");
    EXPECT_TRUE(Log().Contains("BaslerCamera::SetFloatParamValue: could not obtain boundary values while setting "
                               "parameter LinePeriod,address=1600\n"));
    ASSERT_EQ(SerialPortOpen(camera_.Port().c_str(), 9600, 100), 1);
    SerialPortClose();
    // Without direct access the close reads nothing back.
    EXPECT_EQ(Driver().setProperty(0, 1, "BaslerPortAccessEnabled", 0), 1);
}

TEST_F(SerialCameraExports, TwoCamerasOnOneLineTakeTurns) {
    KC_START_CAMERA("standard", why);
    WriteCameraSettings("Camera 1");
    WriteCameraSettings("Camera 2");
    ASSERT_EQ(Initialize(), 1);
    ASSERT_TRUE(Open("Camera 1", 1));
    ASSERT_TRUE(Open("Camera 2", 2));
    camera_.ClearFrames();
    EXPECT_EQ(Driver().setProperty(0, 1, "Gain", 1), 1);
    EXPECT_EQ(Driver().setProperty(0, 2, "Gain", 2), 1);
    EXPECT_THAT(camera_.Frames(), ElementsAre("read 0x0e05 4", "read 0x0e09 4", "write 0x0e01 1", "read 0x0e05 4",
                                              "read 0x0e09 4", "write 0x0e01 2"));

    // At the same time: each operation has the line to itself or fails at its open.
    camera_.ClearFrames();
    Log().Clear();
    std::atomic<int> done{0};
    auto hammer = [&](int port) {
        for (int i = 0; i < 10; ++i)
            done += Driver().setProperty(0, port, "DigitalOffset", port);
    };
    std::thread a(hammer, 1), b(hammer, 2);
    a.join();
    b.join();
    const std::vector<std::string> frames = camera_.Frames();
    EXPECT_EQ(frames.size(), 3u * static_cast<size_t>(done.load()));
    const std::regex whole("^(read 0x0f0[59] 4|write 0x0f01 [12])$");
    for (const std::string &f : frames)
        EXPECT_TRUE(std::regex_match(f, whole)) << f;
    EXPECT_EQ(Log().Count("BaslerCamera::Open: cannot open basler camera port"), 20u - done.load());
}

// The frames the camera had received when a line reached the host: a line written before an
// exchange, or before the next read of one, goes out before that read is sent (and so before its
// read time-out), not when the open or close returns.
struct LineBeforeExchange {
    const char *name;
    const char *faults;
    const char *settings;
    bool atClose;
    const char *line;
    size_t framesBefore;
};

void PrintTo(const LineBeforeExchange &c, std::ostream *out) {
    *out << c.name;
}

class LineTiming : public SerialCameraExports, public ::testing::WithParamInterface<LineBeforeExchange> {
protected:
    static void KESTCAM_CDECL Proc(const char *text) {
        LogCapture::Proc(text);
        if (watched_ != nullptr && text != nullptr && std::string(text).find(watched_->line) != std::string::npos &&
            framesAtLine_ == kNone)
            framesAtLine_ = watched_->atCamera->Frames().size();
    }
    struct Watch {
        const char *line;
        const TestSerialCamera *atCamera;
    };
    static constexpr size_t kNone = static_cast<size_t>(-1);
    static inline const Watch *watched_ = nullptr;
    static inline std::atomic<size_t> framesAtLine_{kNone};
};

TEST_P(LineTiming, ALineWrittenBeforeASerialReadReachesTheHostBeforeTheReadIsSent) {
    const LineBeforeExchange &c = GetParam();
    KC_START_CAMERA("standard", why, c.faults);
    WriteCameraSettings("Camera 1", c.settings);
    ASSERT_EQ(Driver().initialize(dir_.Str().c_str(), &Proc), 1);
    const Watch watch{c.line, &camera_};
    framesAtLine_ = kNone;
    if (!c.atClose) watched_ = &watch;
    CaptureStderr(); // the failed reads' own reports
    ASSERT_TRUE(Open("Camera 1", 1));
    watched_ = &watch;
    Driver().closeCVLPort(0, 1);
    watched_ = nullptr;
    GetCapturedStderr();
    EXPECT_EQ(framesAtLine_.load(), c.framesBefore);
}

// The open reads the twelve limits, then writes the parameters the settings enable (each after
// reading its limits again); the close reads the mode and the six values back.
INSTANTIATE_TEST_SUITE_P(
    Steps, LineTiming,
    ::testing::Values(LineBeforeExchange{"OpensOwnLine", "[Faults]\nBadChecksum = 1\n", "LogLevel=2\n", false,
                                         "MilDigitizer::Open: port=1", 0},
                      LineBeforeExchange{"FailedParameterWriteAtOpen", "[Faults]\nBadChecksumAfterFrames = 12\n",
                                         "UseExposureTime=1\nUseGain=1\n", false,
                                         "could not obtain boundary values while setting parameter ExposureTime", 13},
                      LineBeforeExchange{"FailedReadBackAtClose", "[Faults]\nBadChecksumAfterFrames = 13\n", "",
                                         true, "failed to read parameter ExposureTime", 14}),
    [](const auto &info) { return std::string(info.param.name); });

TEST_F(SerialCameraExports, PortNamesThatAreNoDeviceFailAtOnceAndTheCameraOpens) {
    for (const std::string &port : {dir_.File("no-such-device"), dir_.Str()}) {
        SCOPED_TRACE(port);
        WriteSettings("Camera 1", "BaslerPortAccessEnabled=1\nBaslerPort=" + port + "\n");
        ASSERT_EQ(Initialize(), 1);
        CaptureStderr();
        ASSERT_TRUE(Open("Camera 1", 1));
        EXPECT_EQ(GetCapturedStderr(), "ERROR: Com-Port initialization failed\n");
        EXPECT_TRUE(Log().Contains("BaslerCamera::Open: cannot open basler camera port " + port + "\n"));
        EXPECT_TRUE(Log().Contains("BaslerCamera::Init: ERROR: cannot open camera port\n"));
        EXPECT_EQ(Driver().setProperty(0, 1, "Gain", 1), 0);
        Driver().finalize();
    }
}

} // namespace
} // namespace kestcam::test
