// The sharing pipe's messages on the wire: 12 bytes, 32-bit little-endian, the magic's bytes as
// outside clients compare them; only whole messages decode.
#include <gtest/gtest.h>

#include "share/share_protocol.h"

namespace kestcam {
namespace {

TEST(ShareProtocol, AFrameNoticeIsTheMagicTypeThreeAndSizeZeroLittleEndian) {
    const ShareMessage m = EncodeShareHeader(ShareHeader{kShareMagic, kShareTypeFrame, 0});
    const ShareMessage expected = {0x52, 0x44, 0x48, 0x53, 3, 0, 0, 0, 0, 0, 0, 0};
    EXPECT_EQ(m, expected);
}

TEST(ShareProtocol, DimensionsRoundTripAndPartialMessagesAreRefused) {
    const ShareMessage m = EncodeShareDimensions(ShareDimensions{1024, 768 * 50, kShareFormatBgr});
    ShareDimensions d;
    ASSERT_TRUE(DecodeShareDimensions(m.data(), m.size(), d));
    EXPECT_EQ(d.width, 1024);
    EXPECT_EQ(d.height, 38400);
    EXPECT_EQ(d.format, 3);
    EXPECT_EQ(m[4], 0x00);
    EXPECT_EQ(m[5], 0x96); // 38400 = 0x9600
    EXPECT_FALSE(DecodeShareDimensions(m.data(), 11, d));
    EXPECT_FALSE(DecodeShareDimensions(m.data(), 13, d));
    EXPECT_EQ(ShareBytesPerPixel(kShareFormatMono), 1);
    EXPECT_EQ(ShareBytesPerPixel(kShareFormatBgr), 3);
    EXPECT_EQ(ShareBytesPerPixel(2), 0);
}

} // namespace
} // namespace kestcam
