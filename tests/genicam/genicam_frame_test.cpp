// genicam_frame_test.cpp - the backend's camera-free parts: the DCF's feature list and the frame
// copy of each pixel format into a buffer's planes.
#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "genicam_frame.h"

namespace kestcam::genicam {
namespace {

TEST(GenicamFeatureList, KeepsFileOrderOfTheFeaturesSectionOnly) {
    std::vector<std::pair<std::string, std::string>> features;
    std::string reason;
    ASSERT_TRUE(ParseFeatureList("[Other]\nWidth=1\n[features]\n; comment\n PixelFormat = Mono16 \r\nWidth=1024\n"
                                 "[Next]\nHeight=2\n",
                                 features, reason));
    EXPECT_EQ(features,
              (std::vector<std::pair<std::string, std::string>>{{"PixelFormat", "Mono16"}, {"Width", "1024"}}));
    EXPECT_FALSE(ParseFeatureList("[Features]\nWidth 1024\n", features, reason));
    EXPECT_EQ(reason, "line 2 of [Features] is not Name=Value: Width 1024");
}

struct CopyCase {
    const char *format;
    std::vector<uint8_t> frame; // two pixels
    int bufferBits;
    std::vector<uint16_t> planes; // band after band
};

void PrintTo(const CopyCase &c, std::ostream *os) {
    *os << c.format << " into " << c.bufferBits << " bits";
}

class GenicamFrameCopy : public ::testing::TestWithParam<CopyCase> {};

TEST_P(GenicamFrameCopy, FillsThePlanes) {
    const CopyCase &c = GetParam();
    PixelLayout layout;
    ASSERT_TRUE(LayoutOf(c.format, layout));
    std::vector<uint8_t> planes(c.planes.size() * (c.bufferBits / 8), 0xEE);
    CopyFrame(c.frame.data(), layout, 2, 1, c.bufferBits, planes.data());
    for (size_t i = 0; i < c.planes.size(); ++i) {
        const uint16_t got =
            c.bufferBits == 8 ? planes[i] : static_cast<uint16_t>(planes[2 * i] | planes[2 * i + 1] << 8);
        EXPECT_EQ(got, c.planes[i]) << "sample " << i;
    }
}

INSTANTIATE_TEST_SUITE_P(Formats, GenicamFrameCopy,
                         ::testing::Values(CopyCase{"Mono8", {7, 9}, 8, {7, 9}},
                                           CopyCase{"Mono8", {7, 9}, 16, {7, 9}},
                                           CopyCase{"Mono16", {0x34, 0x12, 0xFF, 0xAB}, 16, {0x1234, 0xABFF}},
                                           CopyCase{"Mono16", {0x34, 0x12, 0xFF, 0xAB}, 8, {0x12, 0xAB}},
                                           CopyCase{"Mono12", {0x34, 0x0A, 0xFF, 0x0F}, 8, {0xA3, 0xFF}},
                                           CopyCase{"RGB8", {1, 2, 3, 4, 5, 6}, 8, {1, 4, 2, 5, 3, 6}},
                                           CopyCase{"BGR8", {1, 2, 3, 4, 5, 6}, 8, {3, 6, 2, 5, 1, 4}}),
                         [](const ::testing::TestParamInfo<CopyCase> &info) {
                             return std::string(info.param.format) + "Into" +
                                    std::to_string(info.param.bufferBits) + "Bits";
                         });

TEST(GenicamPixelFormat, PackedAndBayerFormatsAreNotTaken) {
    PixelLayout layout;
    for (const char *format : {"Mono12Packed", "Mono10p", "BayerRG8", "YUV422_8", ""})
        EXPECT_FALSE(LayoutOf(format, layout)) << format;
}

} // namespace
} // namespace kestcam::genicam
