// BaslerCamera against the simulated camera: clamping in single precision with its log lines, the
// refusals while not initialized, valid exposure modes only, and the port given back on every path.
// (What the exports show of it, the limits at open and the order of the writes, is pinned there.)
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "driver/logger.h"
#include "serial/basler_camera.h"
#include "serial/serial_port.h"
#include "sim/camera/sim_camera_server.h"

namespace kestcam::test {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;

std::vector<std::string> g_log;
void KESTCAM_CDECL Capture(const char *text) {
    g_log.emplace_back(text);
}

class BaslerCameraTest : public ::testing::Test {
protected:
    void SetUp() override {
        std::string error;
        ASSERT_TRUE(server_.Start(error)) << error;
        settings_.BaslerPort.value = server_.DevicePath();
        g_log.clear();
        Logger::Instance().SetDebugMsgProc(&Capture);
        Logger::Instance().SetLogLevel(2);
    }
    void TearDown() override {
        Logger::Instance().SetDebugMsgProc(nullptr);
        Logger::Instance().SetLogLevel(3);
    }
    // Messages only: each comes after its time stamp.
    std::vector<std::string> Messages() const {
        std::vector<std::string> out;
        for (size_t i = 1; i < g_log.size(); i += 2)
            out.push_back(g_log[i]);
        return out;
    }
    void InitAndClear() {
        ASSERT_TRUE(camera_.Init());
        Camera().ClearFrames();
        g_log.clear();
    }
    sim::SimSerialCamera &Camera() { return server_.Camera(); }

    sim::SimCameraServer server_;
    CameraSettings settings_;
    BaslerCamera camera_{&settings_};
};

TEST_F(BaslerCameraTest, ValuesOutsideTheLimitsAreWrittenAsTheLimitOnceLogged) {
    InitAndClear();
    Param<double> p = settings_.Gain;
    for (double v : {-1.0, 0.0, 12.0, 99.5}) {
        p.value = v;
        EXPECT_TRUE(camera_.SetGain(p));
        EXPECT_EQ(p.value, v); // only the camera receives the clamped value
    }
    EXPECT_THAT(Camera().FrameLog(),
                ElementsAre("read 0x0e05 4", "read 0x0e09 4", "write 0x0e01 0", "read 0x0e05 4", "read 0x0e09 4",
                            "write 0x0e01 0", "read 0x0e05 4", "read 0x0e09 4", "write 0x0e01 12", "read 0x0e05 4",
                            "read 0x0e09 4", "write 0x0e01 12"));
    EXPECT_THAT(Messages(), ElementsAre("BaslerCamera::SetFloatParamValue: value modified to 0.000000, since "
                                        "boundary =[0.000000-12.000000], name=Gain,address=e00\n",
                                        "BaslerCamera::SetFloatParamValue: value modified to 12.000000, since "
                                        "boundary =[0.000000-12.000000], name=Gain,address=e00\n"));
}

TEST_F(BaslerCameraTest, ComparisonsAreInSinglePrecision) {
    InitAndClear();
    // 10000.0000001 is above the limit as a double but equal to it as a float: written, not logged.
    Param<double> p = settings_.ExposureTime;
    p.value = 10000.0000001;
    EXPECT_TRUE(camera_.SetExposureTime(p));
    EXPECT_THAT(Messages(), IsEmpty());
    EXPECT_EQ(Camera().Value("ExposureTime"), 10000.0f);
}

TEST_F(BaslerCameraTest, NothingIsDoneBeforeInitSucceeded) {
    Param<double> p = settings_.Gain;
    int mode = -1;
    EXPECT_FALSE(camera_.SetGain(p));
    EXPECT_FALSE(camera_.ReadGain(p));
    EXPECT_FALSE(camera_.ReadExposureMode(mode));
    EXPECT_FALSE(camera_.WriteExposureMode(4));
    EXPECT_FALSE(camera_.ApplyExposureMode());
    camera_.ApplyParameters();
    EXPECT_THAT(Camera().FrameLog(), IsEmpty());
    EXPECT_THAT(g_log, IsEmpty());
}

TEST_F(BaslerCameraTest, OnlyValidExposureModesReachTheCamera) {
    InitAndClear();
    for (int mode : {1, 3, 7, -1, 256})
        EXPECT_FALSE(camera_.WriteExposureMode(mode)) << mode;
    for (int mode : {0, 2, 4, 5, 6})
        EXPECT_TRUE(camera_.WriteExposureMode(mode)) << mode;
    EXPECT_THAT(Camera().FrameLog(), ElementsAre("write 0x1401 0", "write 0x1401 2", "write 0x1401 4",
                                                 "write 0x1401 5", "write 0x1401 6"));
    int mode = -1;
    EXPECT_TRUE(camera_.ReadExposureMode(mode));
    EXPECT_EQ(mode, 6);
}

TEST_F(BaslerCameraTest, AFailedLimitReadLogsAndGivesThePortBack) {
    InitAndClear();
    sim::SimCameraFaults refusing;
    refusing.ackByte = 0x15;
    Camera().SetFaults(refusing);
    Param<double> p = settings_.LinePeriod;
    EXPECT_FALSE(camera_.SetLinePeriod(p));
    EXPECT_FALSE(camera_.ReadLinePeriod(p));
    EXPECT_THAT(
        Messages(),
        ElementsAre("BaslerCamera::SetFloatParamValue: could not obtain boundary values while setting "
                    "parameter LinePeriod,address=1600\n",
                    "BaslerCamera::ReadFloatParamValue_: failed to read parameter LinePeriod,address=1600, "
                    "value=0.000000\n"));
    EXPECT_FALSE(camera_.IsPortOpen());
    EXPECT_EQ(SerialPortOpen(settings_.BaslerPort.value.c_str(), 9600, 100), 1);
    // While another holds the port, operations fail at the open with its line.
    g_log.clear();
    EXPECT_FALSE(camera_.SetLinePeriod(p));
    SerialPortClose();
    EXPECT_THAT(Messages(),
                ElementsAre("BaslerCamera::Open: cannot open basler camera port " + server_.DevicePath() + "\n",
                            "BaslerCamera::SetFloatParamValue: the port could not be open while setting "
                            "parameter LinePeriod,address=1600,value=0.000000\n"));
    // initialized is never cleared by a later failing Init.
    EXPECT_FALSE(camera_.Init());
    EXPECT_TRUE(camera_.IsInitialized());
}

} // namespace
} // namespace kestcam::test
