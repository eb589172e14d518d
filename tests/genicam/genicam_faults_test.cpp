// genicam_faults_test.cpp - what goes wrong with GigE Vision cameras: a camera lost mid-sequence, a
// lossy network, DCFs the camera refuses, a library lacking a function and an empty network.
#include "genicam_fixture.h"

namespace kestcam::test {
namespace {

constexpr int kPort = 1;

TEST_F(GenicamTest, CameraLostMidSequenceFailsTheGrabAndReopensOnceBack) {
    ASSERT_TRUE(camera_.Start("127.0.0.1"));
    UseDcf("Camera 1", "Width=128\nHeight=16", "GrabTimeout=1000\nHeightMultiplier=10");
    ASSERT_EQ(Initialize(), 1);
    ASSERT_TRUE(Open("Camera 1", kPort));
    ASSERT_EQ(Driver().setProperty(0, kPort, "continuous", 1), 1);
    ASSERT_EQ(Driver().doCVLGrab(0, kPort), 1);
    ASSERT_TRUE(Calls().WaitFor(kPort, 1));
    camera_.Kill();
    // The time-out ends the grab that was running; the camera does not hang the driver.
    ASSERT_TRUE(Log().WaitFor("no frame from camera Aravis-Fake-GV01 within the time-out of 1000 ms"));
    ASSERT_EQ(Driver().setProperty(0, kPort, "continuous", 0), 1);
    Driver().closeCVLPort(0, kPort);

    ASSERT_TRUE(camera_.Start("127.0.0.1"));
    ASSERT_TRUE(Open("Camera 1", kPort));
    EXPECT_TRUE(GrabAndWait(kPort));
    Driver().closeCVLPort(0, kPort);
}

TEST_F(GenicamTest, LossyNetworkNeverDeliversAFrameWithHoles) {
    // One stream packet in a hundred lost, and no resends: most 512x128 frames have a hole.
    ASSERT_TRUE(camera_.Start("127.0.0.1", "GV01", {"-r", "10"}));
    UseDcf("Camera 1", "Width=512\nHeight=128", "GrabTimeout=2000");
    ASSERT_EQ(Initialize(), 1);
    ASSERT_TRUE(Open("Camera 1", kPort));
    int failed = 0;
    int deliveredAfterFailure = 0;
    for (int grab = 0; grab < 60 && deliveredAfterFailure < 2; ++grab) {
        const int completed = Calls().Count(kPort);
        ASSERT_EQ(Driver().doCVLGrab(0, kPort), 1);
        if (GrabOutcome(kPort, completed, static_cast<size_t>(failed))) {
            // Every frame delivered is whole: the ramp runs through every line.
            ExpectDiagonalRamp(kPort, 128, 1);
            if (failed > 0) ++deliveredAfterFailure;
        } else {
            ++failed;
        }
    }
    EXPECT_GT(failed, 0);
    EXPECT_EQ(deliveredAfterFailure, 2);
    EXPECT_TRUE(Log().Contains("incomplete: stream packets lost")) << "a failure says why";
    Driver().closeCVLPort(0, kPort);
}

struct DcfCase {
    const char *name;
    const char *features;
    const char *reason; // what the pending error says, before " in DCF <file>"
};

void PrintTo(const DcfCase &c, std::ostream *os) {
    *os << c.name;
}

class GenicamDcfTest : public GenicamTest, public ::testing::WithParamInterface<DcfCase> {};

TEST_P(GenicamDcfTest, RefusedDcfNamesFileFeatureAndValue) {
    ASSERT_TRUE(camera_.Start("127.0.0.1"));
    UseDcf("Camera 1", GetParam().features);
    ASSERT_EQ(Initialize(), 1);
    int geometry[2] = {0, 0};
    Driver().openCVLPort(0, kPort, "Camera 1", geometry);
    EXPECT_TRUE(Log().Contains(std::string(GetParam().reason) + " in DCF " + dir_.File("Camera 1.dcf")))
        << ::testing::PrintToString(Log().Messages());
}

INSTANTIATE_TEST_SUITE_P(
    Refusals, GenicamDcfTest,
    ::testing::Values(DcfCase{"UnknownFeature", "Width=256\nNoSuchFeature=7",
                              "unknown feature NoSuchFeature (value 7)"},
                      DcfCase{"ValueOutOfRange", "Width=99999", "feature Width refused the value 99999"},
                      DcfCase{"NotANumber", "Height=tall", "feature Height refused the value tall"}),
    [](const ::testing::TestParamInfo<DcfCase> &info) { return std::string(info.param.name); });

TEST_F(GenicamTest, UnsupportedPixelFormatIsRefusedAtAllocation) {
    ASSERT_TRUE(camera_.Start("127.0.0.1"));
    UseDcf("Camera 1", "PixelFormat=BayerRG8");
    ASSERT_EQ(Initialize(), 1);
    int geometry[2] = {0, 0};
    Driver().openCVLPort(0, kPort, "Camera 1", geometry);
    EXPECT_TRUE(Log().Contains("pixel format BayerRG8 is not supported"));
}

TEST_F(GenicamTest, LibraryLackingAFunctionTakesTheMappAllocFailedPath) {
    ScopedEnv partial("KESTCAM_MIL", KESTCAM_PARTIAL_MIL);
    EXPECT_EQ(Initialize(), 1);
    EXPECT_TRUE(CameraNames().empty());
    EXPECT_EQ(Log().Count("lacks the function(s) MbufGetColor2d\n"), 1u);
    EXPECT_TRUE(Log().Contains("MappAlloc failed"));
}

TEST_F(GenicamTest, EmptyNetworkIsTheNoBoardsPath) {
    EXPECT_EQ(Initialize(), 1);
    EXPECT_TRUE(CameraNames().empty());
    EXPECT_TRUE(Log().Contains("no boards could be initialized"));
}

} // namespace
} // namespace kestcam::test
