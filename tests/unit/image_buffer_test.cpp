// The frame buffer of the sharing server: refused sizes keep what was there, an unchanged byte
// size keeps the allocation, line addresses and their bounds.
#include <gtest/gtest.h>

#include <climits>

#include "share/image_buffer.h"

namespace kestcam {
namespace {

TEST(ImageBuffer, RefusedSizesKeepThePreviousAllocation) {
    ImageBuffer image;
    ASSERT_TRUE(image.Allocate(false, 200, 10));
    const uint8_t *data = image.Data();
    EXPECT_FALSE(image.Allocate(false, 0, 10));
    EXPECT_FALSE(image.Allocate(true, 100, 0));
    // A product beyond the int range is refused, not wrapped into a small buffer.
    EXPECT_FALSE(image.Allocate(true, 70000, 70000));
    EXPECT_FALSE(image.Allocate(false, INT_MAX, 2));
    EXPECT_EQ(image.Data(), data);
    EXPECT_EQ(image.Size(), 2000);
    EXPECT_EQ(image.Width(), 200);
}

TEST(ImageBuffer, TheSameByteSizeKeepsTheAllocationAndTakesTheNewDimensions) {
    ImageBuffer image;
    ASSERT_TRUE(image.Allocate(false, 200, 10));
    uint8_t *data = image.Data();
    data[1999] = 42;
    ASSERT_TRUE(image.Allocate(false, 100, 20));
    EXPECT_EQ(image.Data(), data);
    EXPECT_EQ(image.Data()[1999], 42);
    EXPECT_EQ(image.GetLine(19), data + 19 * 100);
}

TEST(ImageBuffer, ColourLinesAreThreeBytesAPixelApartAndIndicesOutsideAreRefused) {
    ImageBuffer image;
    EXPECT_EQ(image.GetLine(0), nullptr); // never allocated: height 0
    ASSERT_TRUE(image.Allocate(true, 64, 8));
    EXPECT_EQ(image.Size(), 64 * 8 * 3);
    EXPECT_EQ(image.GetLine(7), image.Data() + 7 * 64 * 3);
    EXPECT_EQ(image.GetLine(8), nullptr);
    EXPECT_EQ(image.GetLine(-1), nullptr);
}

} // namespace
} // namespace kestcam
