// What the viewer serves to a plain HTTP client: its page, JPEG frames of the camera's image, the
// status advancing while it grabs, start and stop, the camera controls within their ranges, and 404
// for every other path, however it is spelled.
#include <turbojpeg.h>

#include <cmath>
#include <cstdlib>
#include <vector>

#include "sim/camera/sim_camera_server.h"
#include "view/raw_http.h"
#include "view/view_fixture.h"

namespace kestcam::test {
namespace {

TEST_F(ViewTest, ThePageIsTheViewerWithItsStreamAndControls) {
    StartView();
    auto reply = Client()->Get("/");
    ASSERT_TRUE(reply);
    EXPECT_EQ(reply->status, 200);
    EXPECT_EQ(reply->get_header_value("Content-Type"), "text/html; charset=utf-8");
    EXPECT_NE(reply->body.find("<title>kestcam view</title>"), std::string::npos);
    EXPECT_NE(reply->body.find("src=\"/stream.mjpg\""), std::string::npos);
    EXPECT_NE(reply->get_header_value("Content-Security-Policy").find("default-src 'none'"), std::string::npos);
}

// Frame f of the simulator is (x + 3y + 7f) mod 256: a JPEG keeps it closely away from the wrap edges.
TEST_F(ViewTest, AFrameIsAJpegOfTheCamerasImage) {
    StartView();
    ASSERT_GT(StreamFrameAfter(0), 0);
    auto reply = Client()->Get("/frame.jpg");
    ASSERT_TRUE(reply);
    ASSERT_EQ(reply->status, 200);
    EXPECT_EQ(reply->get_header_value("Content-Type"), "image/jpeg");
    const long number = std::atol(reply->get_header_value("X-Frame-Number").c_str());
    ASSERT_GT(number, 0);

    tjhandle decoder = tjInitDecompress();
    ASSERT_NE(decoder, nullptr);
    int width = 0, height = 0, subsampling = 0, colorspace = 0;
    const auto *jpeg = reinterpret_cast<const unsigned char *>(reply->body.data());
    ASSERT_EQ(tjDecompressHeader3(decoder, jpeg, reply->body.size(), &width, &height, &subsampling, &colorspace),
              0);
    EXPECT_EQ(width, kViewWidth);
    EXPECT_EQ(height, kViewHeight);
    std::vector<unsigned char> grey(static_cast<size_t>(width) * height);
    ASSERT_EQ(tjDecompress2(decoder, jpeg, reply->body.size(), grey.data(), width, 0, height, TJPF_GRAY, 0), 0);
    tjDestroy(decoder);

    // The frame's index counts from 0 at the camera's first grab; the viewer's numbers from 1.
    const long f = number - 1;
    long close = 0, compared = 0;
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            const int expected = static_cast<int>((x + 3 * y + 7 * f) % 256);
            if (expected < 16 || expected > 239) continue; // ringing at the wrap from 255 to 0
            ++compared;
            if (std::abs(grey[static_cast<size_t>(y) * width + x] - expected) <= 6) ++close;
        }
    }
    EXPECT_GT(close, compared * 95 / 100) << "frame " << number << ": " << close << " of " << compared;
}

TEST_F(ViewTest, TheStatusCountsFramesWithTheirRateAndHistogram) {
    StartView();
    const long before = StreamFrameAfter(0);
    ASSERT_GT(before, 0);
    const long later = StreamFrameAfter(before + 5);
    ASSERT_GT(later, before + 5);
    const std::string status = Status();
    EXPECT_GE(JsonNumber(status, "frames"), later) << status;
    EXPECT_GT(JsonNumber(status, "fps"), 0.0) << status;
    EXPECT_EQ(JsonNumber(status, "width"), kViewWidth);
    EXPECT_EQ(JsonNumber(status, "height"), kViewHeight);
    EXPECT_NE(status.find("\"running\":true"), std::string::npos);
    std::smatch m;
    const std::string histogram =
        std::regex_search(status, m, std::regex("\"histogram\":\\[([0-9,]*)\\]")) ? m[1].str() : std::string();
    long sum = 0, bins = 0;
    const std::regex count("[0-9]+");
    for (std::sregex_iterator it(histogram.begin(), histogram.end(), count), end; it != end; ++it) {
        sum += std::stol(it->str());
        ++bins;
    }
    EXPECT_EQ(bins, 256);
    EXPECT_EQ(sum, static_cast<long>(kViewWidth) * kViewHeight);
}

TEST_F(ViewTest, StopHaltsGrabbingAndStartResumesIt) {
    StartView();
    ASSERT_GT(StreamFrameAfter(0), 0);
    httplib::Headers viewer{{"X-Kestcam-View", "1"}};
    auto stop = Client()->Post("/grab?run=0", viewer, "", "text/plain");
    ASSERT_TRUE(stop);
    EXPECT_EQ(stop->body, "{\"running\":false}");
    EXPECT_NE(Status().find("\"running\":false"), std::string::npos);
    // Stopped, the stream repeats its last frame every two seconds; only the grab under way when the
    // stop came may still add one.
    const std::vector<long> parts = StreamNumbers([](const std::vector<long> &n) { return n.size() == 3; });
    ASSERT_EQ(parts.size(), 3u);
    EXPECT_LE(parts.back() - parts.front(), 1);
    const long settled = static_cast<long>(JsonNumber(Status(), "frames"));
    EXPECT_LE(settled, parts.back());

    auto start = Client()->Post("/grab?run=1", viewer, "", "text/plain");
    ASSERT_TRUE(start);
    EXPECT_EQ(start->body, "{\"running\":true}");
    EXPECT_GT(StreamFrameAfter(settled), settled);
}

TEST_F(ViewTest, ChangesWithoutTheViewersHeaderAreRefused) {
    StartView();
    auto reply = Client()->Post("/grab?run=0", "", "application/x-www-form-urlencoded");
    ASSERT_TRUE(reply);
    EXPECT_EQ(reply->status, 403);
    EXPECT_NE(Status().find("\"running\":true"), std::string::npos);
}

TEST_F(ViewTest, AnotherHostNameIsRefused) {
    StartView();
    const RawReply reply = RawExchange(
        view_.Port(), "GET /status.json HTTP/1.1\r\nHost: attacker.example:" + std::to_string(view_.Port()) +
                          "\r\nConnection: close\r\n\r\n");
    EXPECT_EQ(reply.status, 403) << reply.text;
}

TEST_F(ViewTest, WithoutDirectCameraAccessThereAreNoControls) {
    StartView();
    auto reply = Client()->Get("/controls.json");
    ASSERT_TRUE(reply);
    EXPECT_EQ(reply->body, "{\"controls\":[]}");
    auto set = Client()->Post("/control?name=ExposureTime&value=100", {{"X-Kestcam-View", "1"}}, "", "text/plain");
    ASSERT_TRUE(set);
    EXPECT_EQ(set->status, 422);
}

class ViewWithSerialCamera : public ViewTest {
protected:
    void SetUp() override {
        ViewTest::SetUp();
        std::string why;
        if (!camera_.Start(why)) GTEST_SKIP() << why;
        StartView("BaslerPortAccessEnabled=1\nBaslerPort=" + camera_.DevicePath() + "\n");
    }
    int Set(const std::string &name, const std::string &value) {
        auto reply = Client()->Post("/control?name=" + name + "&value=" + value, {{"X-Kestcam-View", "1"}}, "",
                                    "text/plain");
        return reply ? reply->status : -1;
    }
    sim::SimCameraServer camera_;
};

TEST_F(ViewWithSerialCamera, TheControlsAreTheCamerasRanges) {
    auto reply = Client()->Get("/controls.json");
    ASSERT_TRUE(reply);
    EXPECT_NE(reply->body.find("{\"name\":\"ExposureTime\",\"label\":\"Exposure time\",\"unit\":\"\xC2\xB5s\","
                               "\"min\":10,\"max\":10000,"),
              std::string::npos)
        << reply->body;
    EXPECT_NE(reply->body.find("\"name\":\"LinePeriod\""), std::string::npos) << reply->body;
    EXPECT_NE(reply->body.find("{\"name\":\"Gain\",\"label\":\"Gain\",\"unit\":\"dB\",\"min\":0,\"max\":12"),
              std::string::npos)
        << reply->body;
}

TEST_F(ViewWithSerialCamera, AControlSetReachesTheCamerasRegister) {
    EXPECT_EQ(Set("ExposureTime", "250"), 200);
    EXPECT_FLOAT_EQ(camera_.Camera().Value("ExposureTime"), 250.0f);
    EXPECT_EQ(Set("Gain", "7"), 200);
    EXPECT_FLOAT_EQ(camera_.Camera().Value("Gain"), 7.0f);
    auto reply = Client()->Get("/controls.json");
    ASSERT_TRUE(reply);
    EXPECT_NE(reply->body.find("\"min\":10,\"max\":10000,\"value\":250}"), std::string::npos) << reply->body;
}

struct BadControl {
    const char *label;
    const char *name;
    const char *value;
};

void PrintTo(const BadControl &c, std::ostream *os) {
    *os << c.label;
}

class ViewRefusesAControl : public ViewWithSerialCamera, public ::testing::WithParamInterface<BadControl> {};

TEST_P(ViewRefusesAControl, AndTheCameraKeepsItsValue) {
    const int status = Set(GetParam().name, GetParam().value);
    EXPECT_TRUE(status == 400 || status == 422) << status;
    EXPECT_FLOAT_EQ(camera_.Camera().Value("ExposureTime"), 100.0f);
}

INSTANTIATE_TEST_SUITE_P(Controls, ViewRefusesAControl,
                         ::testing::Values(BadControl{"BelowTheMinimum", "ExposureTime", "9"},
                                           BadControl{"AboveTheMaximum", "ExposureTime", "10001"},
                                           BadControl{"NotANumber", "ExposureTime", "12abc"},
                                           BadControl{"BeyondInt", "ExposureTime", "99999999999"},
                                           BadControl{"NoValue", "ExposureTime", ""},
                                           BadControl{"AnotherProperty", "GrabTimeout", "1000"},
                                           BadControl{"Unknown", "Nope", "1"}),
                         [](const ::testing::TestParamInfo<BadControl> &info) { return info.param.label; });

struct OtherPath {
    const char *label;
    const char *target; // sent as it is, without any normalisation
};

void PrintTo(const OtherPath &p, std::ostream *os) {
    *os << p.label;
}

class ViewAnswersOtherPaths : public ViewTest, public ::testing::WithParamInterface<OtherPath> {};

TEST_P(ViewAnswersOtherPaths, WithNotFound) {
    StartView();
    const RawReply reply =
        RawExchange(view_.Port(), std::string("GET ") + GetParam().target + " HTTP/1.1\r\nHost: 127.0.0.1:" +
                                      std::to_string(view_.Port()) + "\r\nConnection: close\r\n\r\n");
    EXPECT_EQ(reply.status, 404) << reply.text;
    EXPECT_EQ(reply.text.find("root:"), std::string::npos);
}

INSTANTIATE_TEST_SUITE_P(
    Paths, ViewAnswersOtherPaths,
    ::testing::Values(OtherPath{"IndexFile", "/index.html"}, OtherPath{"ThePagesSource", "/view_page.html"},
                      OtherPath{"SystemFile", "/etc/passwd"}, OtherPath{"DotDot", "/../../../../etc/passwd"},
                      OtherPath{"EncodedDotDot", "/%2e%2e/%2e%2e/%2e%2e/etc/passwd"},
                      OtherPath{"EncodedSlashes", "/..%2f..%2f..%2fetc%2fpasswd"},
                      OtherPath{"BelowTheStream", "/stream.mjpg/../../../etc/passwd"},
                      OtherPath{"DoubleSlash", "//etc/passwd"}, OtherPath{"BelowAFrame", "/frame.jpg/x"},
                      OtherPath{"BackslashDotDot", "/..\\..\\etc\\passwd"},
                      OtherPath{"NulByte", "/status.json%00.html"}),
    [](const ::testing::TestParamInfo<OtherPath> &info) { return info.param.label; });

} // namespace
} // namespace kestcam::test
