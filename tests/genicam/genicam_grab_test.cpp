// genicam_grab_test.cpp - GigE Vision cameras through the exports: the list, grabs of each pixel
// format, GenICam feature properties, sharing and the command-line host, against Aravis's fake
// camera process.
#include <unistd.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <thread>

#include "genicam_fixture.h"
#include "view/raw_http.h"
#include "view/view_process.h"

namespace kestcam::test {
namespace {

constexpr int kPort = 1;

struct GrabCase {
    const char *name;
    const char *features; // the DCF's [Features] lines
    const char *settings; // more camera settings
    int frames;           // frames a grab (HeightMultiplier)
    int bytes;            // bytes a pixel in a delivered row
};

void PrintTo(const GrabCase &c, std::ostream *os) {
    *os << c.name;
}

class GenicamGrabTest : public GenicamTest, public ::testing::WithParamInterface<GrabCase> {};

TEST_P(GenicamGrabTest, RowsFollowTheFakeCamerasDiagonalRamp) {
    ASSERT_TRUE(camera_.Start("127.0.0.1"));
    const GrabCase &c = GetParam();
    UseDcf("Camera 1", std::string("Width=256\nHeight=24\n") + c.features,
           std::string(c.settings) + "\nHeightMultiplier=" + std::to_string(c.frames));
    ASSERT_EQ(Initialize(), 1);
    ASSERT_TRUE(Open("Camera 1", kPort));
    EXPECT_EQ(width_, 256);
    EXPECT_EQ(rows_, 24 * c.frames);
    ASSERT_TRUE(GrabAndWait(kPort));
    ExpectDiagonalRamp(kPort, 24, c.bytes);
    // The next grab brings new frames the same way.
    ASSERT_TRUE(GrabAndWait(kPort));
    ExpectDiagonalRamp(kPort, 24, c.bytes);
    Driver().closeCVLPort(0, kPort);
}

INSTANTIATE_TEST_SUITE_P(
    Formats, GenicamGrabTest,
    ::testing::Values(GrabCase{"Mono8Single", "PixelFormat=Mono8", "", 1, 1},
                      GrabCase{"Mono8StackOfTen", "PixelFormat=Mono8", "", 10, 1},
                      GrabCase{"Mono16ShiftedTo8", "PixelFormat=Mono16", "Use16bit=1\nShift16bit=8", 1, 1},
                      GrabCase{"Rgb8AsBgrRowsStackOfTen", "PixelFormat=RGB8", "", 10, 3}),
    [](const ::testing::TestParamInfo<GrabCase> &info) { return std::string(info.param.name); });

// What a second, independent reader of the camera sees of a feature.
std::string ReadWithArvTool(const FakeCamera &camera, const std::string &feature) {
    std::string output;
    RunProgram({"arv-tool-0.8", "-n", camera.Name(), "control", feature}, output);
    return output;
}

TEST_F(GenicamTest, TwoCamerasAreTwoDigitizersInDeviceIdOrder) {
    // Started in the other order: the names follow the device ids, not who answered camera_.
    ASSERT_TRUE(second_.Start("127.0.0.2", "GV02"));
    ASSERT_TRUE(camera_.Start("127.0.0.1", "GV01"));
    ASSERT_EQ(Initialize(), 1);
    ASSERT_EQ(CameraNames(), (std::vector<std::string>{"Camera 1", "Camera 2"}));
    ASSERT_TRUE(Open("Camera 2", kPort));
    ASSERT_EQ(Driver().setProperty(0, kPort, "GenICam:ExposureTimeAbs", 3000), 1);
    EXPECT_NE(ReadWithArvTool(second_, "ExposureTimeAbs").find("ExposureTimeAbs = 3000"), std::string::npos);
    EXPECT_NE(ReadWithArvTool(camera_, "ExposureTimeAbs").find("ExposureTimeAbs = 10000"), std::string::npos);
}

TEST_F(GenicamTest, FeaturePropertiesReadWriteAndBoundTheCamerasFeatures) {
    ASSERT_TRUE(camera_.Start("127.0.0.1"));
    ASSERT_EQ(Initialize(), 1);
    int value = 0;
    // Not before the camera is open.
    EXPECT_EQ(Driver().getProperty(0, kPort, "GenICam:ExposureTimeAbs", &value), 0);
    ASSERT_TRUE(Open("Camera 1", kPort));

    ASSERT_EQ(Driver().setProperty(0, kPort, "GenICam:ExposureTimeAbs", 2500), 1);
    ASSERT_EQ(Driver().getProperty(0, kPort, "genicam:ExposureTimeAbs", &value), 1);
    EXPECT_EQ(value, 2500);
    EXPECT_NE(ReadWithArvTool(camera_, "ExposureTimeAbs").find("ExposureTimeAbs = 2500"), std::string::npos);

    int min = 0, max = 0;
    ASSERT_EQ(Driver().getPropertyRange(0, kPort, "GenICam:GainRaw", &min, &max), 1);
    EXPECT_EQ(min, 0);
    EXPECT_EQ(max, 10);
    ASSERT_EQ(Driver().getPropertyRange(0, kPort, "GenICam:ExposureTimeAbs", &min, &max), 1);
    EXPECT_EQ(min, 10);
    EXPECT_EQ(max, 10000000);
    // An enumeration answers its entry's value.
    ASSERT_EQ(Driver().getProperty(0, kPort, "GenICam:PixelFormat", &value), 1);
    EXPECT_EQ(value, 0x01080001); // Mono8

    // A refused value changes nothing and says so once, at level 2.
    Log().Clear();
    EXPECT_EQ(Driver().setProperty(0, kPort, "GenICam:ExposureTimeAbs", 5), 0);
    EXPECT_EQ(Log().Count("GenICam:ExposureTimeAbs=5 refused"), 1u);
    ASSERT_EQ(Driver().getProperty(0, kPort, "GenICam:ExposureTimeAbs", &value), 1);
    EXPECT_EQ(value, 2500);
    EXPECT_EQ(Driver().getProperty(0, kPort, "GenICam:NoSuchFeature", &value), 0);
    // The driver's own names keep their meaning.
    ASSERT_EQ(Driver().getProperty(0, kPort, "Width", &value), 1);
    EXPECT_EQ(value, 512);
}

TEST_F(GenicamTest, SharedCameraIsWatchedByTheCommandLineHost) {
    ASSERT_TRUE(camera_.Start("127.0.0.1"));
    const std::string share = "kcgenicam-" + std::to_string(getpid());
    UseDcf("Camera 1", "Width=128\nHeight=16", "ShareCamera=1\nShareName=" + share);
    ASSERT_EQ(Initialize(), 1);
    ASSERT_TRUE(Open("Camera 1", kPort));
    const std::string out = dir_.Str() + "/frames";
    std::filesystem::create_directory(out);
    std::string output;
    std::atomic<int> code{-2};
    std::thread watcher([&] {
        code = RunProgram({KESTCAM_CLI_PATH, "share", "watch", share, "--frames", "2", "--out", out}, output);
    });
    // Grabs go on until the watcher has its two frames.
    for (int grab = 0; grab < 100 && code == -2;) {
        if (!GrabAndWait(kPort)) break;
        ++grab;
    }
    watcher.join();
    EXPECT_EQ(code, 0) << output;
    EXPECT_NE(output.find("frames received: 2"), std::string::npos) << output;
}

TEST_F(GenicamTest, CommandLineHostListsGrabsAndSetsFeatures) {
    ASSERT_TRUE(camera_.Start("127.0.0.1"));
    UseDcf("Camera 1", "Width=128\nHeight=16");
    std::string output;
    ASSERT_EQ(RunProgram({KESTCAM_CLI_PATH, "--system-path", dir_.Str(), "list"}, output), 0);
    EXPECT_EQ(output, "Camera 1\n");
    const std::string image = dir_.Str() + "/grab.pgm";
    ASSERT_EQ(RunProgram({KESTCAM_CLI_PATH, "--system-path", dir_.Str(), "grab", "--camera", "Camera 1", "--grabs",
                          "3", "--out", image},
                         output),
              0)
        << output;
    std::ifstream pgm(image, std::ios::binary);
    std::string magic;
    int width = 0, height = 0;
    pgm >> magic >> width >> height;
    EXPECT_EQ(magic, "P5");
    EXPECT_EQ(width, 128);
    EXPECT_EQ(height, 16);
    // Features through `kestcam props`, each run a host of its own.
    const std::vector<std::string> props{KESTCAM_CLI_PATH, "--system-path", dir_.Str(), "props"};
    auto run = [&](std::vector<std::string> args) {
        args.insert(args.begin(), props.begin(), props.end());
        return RunProgram(args, output);
    };
    ASSERT_EQ(run({"set", "--camera", "Camera 1", "GenICam:GainRaw", "7"}), 0) << output;
    ASSERT_EQ(run({"get", "--camera", "Camera 1", "GenICam:GainRaw"}), 0) << output;
    EXPECT_EQ(output, "7\n");
}

TEST_F(GenicamTest, LiveViewSlidersAreTheCamerasExposureAndGain) {
#if !defined(KESTCAM_GENICAM_VIEW)
    GTEST_SKIP() << "the live view is not part of this build";
#endif
    ASSERT_TRUE(camera_.Start("127.0.0.1"));
    UseDcf("Camera 1", "Width=128\nHeight=16");
    ViewProcess view;
    std::string why;
    ASSERT_TRUE(
        view.Start({"--system-path", dir_.Str(), "view", "--camera", "Camera 1", "--listen", "127.0.0.1:0"},
                   std::chrono::seconds(60), why))
        << why;
    // The viewer answers requests for its own address only.
    const std::string host = "Host: 127.0.0.1:" + std::to_string(view.Port()) + "\r\n";
    const RawReply controls =
        RawExchange(view.Port(), "GET /controls.json HTTP/1.1\r\n" + host + "Connection: close\r\n\r\n");
    // The fake camera has only the older names.
    EXPECT_NE(controls.text.find("\"GenICam:ExposureTimeAbs\""), std::string::npos) << controls.text;
    EXPECT_NE(controls.text.find("\"GenICam:GainRaw\""), std::string::npos) << controls.text;
    const RawReply set =
        RawExchange(view.Port(), "POST /control?name=GenICam:ExposureTimeAbs&value=4000 HTTP/1.1\r\n" + host +
                                     "X-Kestcam-View: 1\r\nContent-Length: 0\r\n"
                                     "Connection: close\r\n\r\n");
    EXPECT_EQ(set.status, 200) << set.text;
    EXPECT_NE(ReadWithArvTool(camera_, "ExposureTimeAbs").find("ExposureTimeAbs = 4000"), std::string::npos);
    EXPECT_EQ(view.Stop(std::chrono::seconds(30)), 0);
}

} // namespace
} // namespace kestcam::test
