// Rows delivered through getCVLGrabRow compared byte for byte with the simulator's ramp: 8-bit
// mono, 12- and 16-bit cameras through 16-bit and 8-bit rings with and without a shift, colour as
// blue-green-red, and several frames stacked into one image.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>

#include "acquisition_fixture.h"

namespace kestcam::test {
namespace {

class AcquisitionRows : public AcquisitionTest {
protected:
    // The expected row: `value` of each pixel x of image row `row`.
    std::vector<uint8_t> Expected(int first, int last, const std::function<uint8_t(int x)> &value) {
        std::vector<uint8_t> out;
        for (int x = first; x <= last; ++x)
            out.push_back(value(x));
        return out;
    }
};

uint8_t Saturated(uint32_t v, int shift) {
    return static_cast<uint8_t>(std::min<uint32_t>(v >> shift, 255));
}

TEST_F(AcquisitionRows, EightBitMonoRowsAreTheRampOfTheFrameJustGrabbed) {
    ASSERT_EQ(Initialize(), 1);
    ASSERT_TRUE(Open("Camera 1", 3));
    EXPECT_EQ(width_, 2048);
    EXPECT_EQ(rows_, 1000);

    for (int64_t f = 0; f < 3; ++f) {
        ASSERT_TRUE(GrabAndWait(3));
        for (int y : {0, 1, 517, 999}) {
            EXPECT_EQ(Row(3, y),
                      Expected(0, 2047, [&](int x) { return static_cast<uint8_t>(Ramp(x, y, f, 0, 8)); }))
                << "frame " << f << " row " << y;
        }
    }
}

TEST_F(AcquisitionRows, ASpanDeliversOnlyItsColumnsAndLeavesTheRestOfTheTargetAlone) {
    ASSERT_EQ(Initialize(), 1);
    ASSERT_TRUE(Open("Camera 1", 0));
    ASSERT_TRUE(GrabAndWait(0));

    std::vector<uint8_t> target(120, 0xEE);
    ASSERT_EQ(Driver().getCVLGrabRow(0, 0, target.data(), 42, 1940, 2039), 1);
    const auto expected = Expected(1940, 2039, [](int x) { return static_cast<uint8_t>(Ramp(x, 42, 0, 0, 8)); });
    EXPECT_TRUE(std::equal(expected.begin(), expected.end(), target.begin()));
    EXPECT_TRUE(std::all_of(target.begin() + 100, target.end(), [](uint8_t b) { return b == 0xEE; }));
}

TEST_F(AcquisitionRows, TwelveBitCameraThroughSixteenBitRingShiftedByFour) {
    WriteSettings("Camera 2", "Use16bit=1\nShift16bit=4\n");
    ASSERT_EQ(Initialize(), 1);
    ASSERT_TRUE(Open("Camera 2", 1));
    ASSERT_TRUE(GrabAndWait(1));
    ASSERT_TRUE(GrabAndWait(1));
    for (int y : {0, 333, 999})
        EXPECT_EQ(Row(1, y), Expected(0, 2047, [&](int x) { return Saturated(Ramp(x, y, 1, 0, 12), 4); }))
            << "row " << y;
}

TEST_F(AcquisitionRows, SixteenBitShiftSaturatesAt255) {
    WriteSettings("Camera 2", "Use16bit=1\nShift16bit=2\n");
    ASSERT_EQ(Initialize(), 1);
    ASSERT_TRUE(Open("Camera 2", 1));
    ASSERT_TRUE(GrabAndWait(1));
    const std::vector<uint8_t> row = Row(1, 10);
    EXPECT_EQ(row, Expected(0, 2047, [&](int x) { return Saturated(Ramp(x, 10, 0, 0, 12), 2); }));
    // The row holds both clamped and unclamped values, so both halves of the rule are checked.
    EXPECT_GT(std::count(row.begin(), row.end(), 255), 0);
    EXPECT_GT(std::count_if(row.begin(), row.end(), [](uint8_t b) { return b < 255; }), 0);
}

TEST_F(AcquisitionRows, SixteenBitCameraShiftedByFourSaturates) {
    UseOneDigitizer("Width = 640\nHeight = 24\nBits = 16");
    WriteSettings("Camera 1", "Use16bit=1\nShift16bit=4\n");
    ASSERT_EQ(Initialize(), 1);
    ASSERT_TRUE(Open("Camera 1", 2));
    ASSERT_TRUE(GrabAndWait(2));
    for (int y = 0; y < 24; ++y)
        ASSERT_EQ(Row(2, y), Expected(0, 639, [&](int x) { return Saturated(Ramp(x, y, 0, 0, 16), 4); }))
            << "row " << y;
}

TEST_F(AcquisitionRows, SixteenBitRingWithoutShiftDeliversTheLowByte) {
    WriteSettings("Camera 2", "Use16bit=1\nShift16bit=0\n");
    ASSERT_EQ(Initialize(), 1);
    ASSERT_TRUE(Open("Camera 2", 1));
    ASSERT_TRUE(GrabAndWait(1));
    for (int y : {0, 300, 998})
        EXPECT_EQ(Row(1, y), Expected(0, 2047, [&](int x) { return static_cast<uint8_t>(Ramp(x, y, 0, 0, 12)); }))
            << "row " << y;
}

TEST_F(AcquisitionRows, TwelveBitCameraThroughEightBitRingKeepsTheHighBitsAndMayShiftThemFurther) {
    WriteSettings("Camera 2", "Use16bit=0\nShift16bit=2\n");
    ASSERT_EQ(Initialize(), 1);
    ASSERT_TRUE(Open("Camera 2", 1));
    ASSERT_TRUE(GrabAndWait(1));
    // The 8-bit buffer receives the top eight of the twelve bits; the row shift then applies to them.
    EXPECT_EQ(Row(1, 77),
              Expected(0, 2047, [&](int x) { return static_cast<uint8_t>((Ramp(x, 77, 0, 0, 12) >> 4) >> 2); }));
}

TEST_F(AcquisitionRows, ColourRowsAreBlueGreenRedPerPixel) {
    ASSERT_EQ(Initialize(), 1);
    ASSERT_TRUE(Open("Camera 3", 5));
    EXPECT_EQ(width_, 1024);
    EXPECT_EQ(rows_, 768);
    ASSERT_TRUE(GrabAndWait(5));
    ASSERT_TRUE(GrabAndWait(5));
    for (int y : {0, 400, 767}) {
        const std::vector<uint8_t> row = Row(5, y, 3);
        ASSERT_EQ(row.size(), 3u * 1024);
        for (int x = 0; x < 1024; ++x) {
            ASSERT_EQ(row[3 * x + 0], Ramp(x, y, 1, 2, 8)) << "blue of x=" << x << " y=" << y;
            ASSERT_EQ(row[3 * x + 1], Ramp(x, y, 1, 1, 8)) << "green of x=" << x << " y=" << y;
            ASSERT_EQ(row[3 * x + 2], Ramp(x, y, 1, 0, 8)) << "red of x=" << x << " y=" << y;
        }
    }
}

TEST_F(AcquisitionRows, ColourShiftAppliesToEveryBandOfAPixel) {
    WriteSettings("Camera 3", "Shift16bit=3\n");
    ASSERT_EQ(Initialize(), 1);
    ASSERT_TRUE(Open("Camera 3", 5));
    ASSERT_TRUE(GrabAndWait(5));
    std::vector<uint8_t> row(3 * 10);
    ASSERT_EQ(Driver().getCVLGrabRow(0, 5, row.data(), 9, 500, 509), 1);
    for (int i = 0; i < 10; ++i)
        for (int c = 0; c < 3; ++c)
            EXPECT_EQ(row[3 * i + c], Ramp(500 + i, 9, 0, 2 - c, 8) >> 3) << "pixel " << i << " byte " << c;
}

TEST_F(AcquisitionRows, HeightMultiplierStacksConsecutiveFramesIntoOneImage) {
    WriteSettings("Camera 1", "HeightMultiplier=3\n");
    ASSERT_EQ(Initialize(), 1);
    ASSERT_TRUE(Open("Camera 1", 4));
    EXPECT_EQ(width_, 2048);
    EXPECT_EQ(rows_, 3000);

    for (int grab = 0; grab < 2; ++grab) {
        ASSERT_TRUE(GrabAndWait(4));
        for (int r : {0, 999, 1000, 1500, 2000, 2999}) {
            const int64_t f = 3 * grab + r / 1000;
            const int y = r % 1000;
            EXPECT_EQ(Row(4, r),
                      Expected(0, 2047, [&](int x) { return static_cast<uint8_t>(Ramp(x, y, f, 0, 8)); }))
                << "grab " << grab << " image row " << r;
        }
    }
    EXPECT_TRUE(Log().Contains("MilDigitizer::GetRow: the last row being fetched, port==4\n"));
    std::vector<uint8_t> target(2048);
    // The last row with columns refused: the refusal only.
    Log().Clear();
    EXPECT_EQ(Driver().getCVLGrabRow(0, 4, target.data(), 2999, 5, 5), 0);
    EXPECT_TRUE(Log().Contains("MilDigitizer::GetRow: ERROR: invalid column, lastPix=5 firstPix=5 width=2048\n"));
    EXPECT_FALSE(Log().Contains("the last row being fetched"));
    EXPECT_EQ(Driver().getCVLGrabRow(0, 4, target.data(), 3000, 0, 2047), 0);
    EXPECT_TRUE(Log().Contains("MilDigitizer::GetRow: ERROR: invalid row number=3000 height=1000 frames=3\n"));
}

TEST_F(AcquisitionRows, EveryPixelOfEveryRowOfASmallImageMatches) {
    UseOneDigitizer("Width = 257\nHeight = 31\nBits = 10");
    WriteSettings("Camera 1", "Use16bit=1\nShift16bit=1\nHeightMultiplier=2\n");
    ASSERT_EQ(Initialize(), 1);
    ASSERT_TRUE(Open("Camera 1", 9));
    ASSERT_EQ(rows_, 62);
    ASSERT_TRUE(GrabAndWait(9));
    for (int r = 0; r < rows_; ++r)
        ASSERT_EQ(Row(9, r), Expected(0, 256, [&](int x) { return Saturated(Ramp(x, r % 31, r / 31, 0, 10), 1); }))
            << "image row " << r;
}

} // namespace
} // namespace kestcam::test
