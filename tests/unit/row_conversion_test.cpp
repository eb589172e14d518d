// The 16-bit to 8-bit row conversions against a one-sample-at-a-time statement of each rule, over
// every 16-bit value, every shift, and spans whose lengths and starts leave vector tails.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <numeric>
#include <vector>

#include "acquisition/mil_grab_buffers.h"

namespace kestcam::test {
namespace {

// v >> n clamped to 255; nothing is left of a 16-bit value after 16 shifts.
uint8_t ReferenceShift(uint32_t v, int n) {
    if (n >= 16) return 0;
    if (n > 0) v >>= n;
    return static_cast<uint8_t>(v > 255 ? 255 : v);
}

std::vector<uint16_t> EverySixteenBitValue() {
    std::vector<uint16_t> values(65536);
    std::iota(values.begin(), values.end(), uint16_t{0});
    return values;
}

TEST(SaturatingShift, DocumentedExamples) {
    EXPECT_EQ(SaturatingShift(0x1234, 4), 255);
    EXPECT_EQ(SaturatingShift(0x0FF0, 4), 255);
    EXPECT_EQ(SaturatingShift(0x0ABC, 4), 171);
    EXPECT_EQ(SaturatingShift(200, 0), 200);
    EXPECT_EQ(SaturatingShift(4000, 4), 250);
    EXPECT_EQ(SaturatingShift(4096, 4), 255);
    EXPECT_EQ(SaturatingShift(0xFFFF, 16), 0);
    EXPECT_EQ(SaturatingShift(0xFFFF, 40), 0);
}

TEST(SaturatingShift, EveryValueAndShift) {
    for (int n = 0; n <= 17; ++n)
        for (uint32_t v = 0; v <= 0xFFFF; ++v)
            ASSERT_EQ(SaturatingShift(static_cast<uint16_t>(v), n), ReferenceShift(v, n)) << v << " >> " << n;
}

TEST(RowConversion, ShiftRow16MatchesTheRuleForEveryValueAndShift) {
    const std::vector<uint16_t> values = EverySixteenBitValue();
    std::vector<uint8_t> out(values.size());
    for (int n = 0; n <= 17; ++n) {
        ShiftRow16(values.data(), out.data(), values.size(), n);
        for (size_t i = 0; i < values.size(); ++i)
            ASSERT_EQ(out[i], ReferenceShift(values[i], n)) << i << " >> " << n;
    }
}

TEST(RowConversion, LowByteRow16KeepsTheLowByteWithoutClamping) {
    const std::vector<uint16_t> values = EverySixteenBitValue();
    std::vector<uint8_t> out(values.size());
    LowByteRow16(values.data(), out.data(), values.size());
    for (size_t i = 0; i < values.size(); ++i)
        ASSERT_EQ(out[i], values[i] & 0xFF) << i;
    EXPECT_EQ(out[0x0123], 0x23);
}

TEST(RowConversion, ShiftRow8ShiftsEveryByteInPlace) {
    std::vector<uint8_t> values(256);
    std::iota(values.begin(), values.end(), uint8_t{0});
    for (int n = 1; n <= 9; ++n) {
        std::vector<uint8_t> row = values;
        ShiftRow8(row.data(), row.size(), n);
        for (size_t i = 0; i < row.size(); ++i)
            ASSERT_EQ(row[i], n >= 8 ? 0 : (i >> n)) << i << " >> " << n;
    }
    std::vector<uint8_t> row = {200};
    ShiftRow8(row.data(), 1, 2);
    EXPECT_EQ(row[0], 50);
}

TEST(RowConversion, TablesDeliverTheLowByteOfTheEntry) {
    std::vector<uint16_t> table(131072);
    for (size_t i = 0; i < table.size(); ++i)
        table[i] = static_cast<uint16_t>(i * 2654435761u >> 7);
    table[5] = 300;

    const std::vector<uint16_t> values = EverySixteenBitValue();
    std::vector<uint8_t> out(values.size());
    LutRow16(values.data(), out.data(), values.size(), table.data());
    for (size_t i = 0; i < values.size(); ++i)
        ASSERT_EQ(out[i], table[values[i]] & 0xFF) << i;
    EXPECT_EQ(out[5], 44);

    std::vector<uint8_t> row(256);
    std::iota(row.begin(), row.end(), uint8_t{0});
    LutRow8(row.data(), row.size(), table.data());
    for (size_t i = 0; i < row.size(); ++i)
        ASSERT_EQ(row[i], table[i] & 0xFF) << i;
}

TEST(RowConversion, OddSpansAreConvertedExactlyAndNothingBeyond) {
    std::vector<uint16_t> src(300);
    for (size_t i = 0; i < src.size(); ++i)
        src[i] = static_cast<uint16_t>(i * 977);
    for (size_t start : {0u, 1u, 3u, 13u})
        for (size_t count : {1u, 7u, 15u, 16u, 17u, 33u, 250u}) {
            std::vector<uint8_t> out(count + 8, 0xA5);
            ShiftRow16(src.data() + start, out.data(), count, 3);
            for (size_t i = 0; i < count; ++i)
                ASSERT_EQ(out[i], ReferenceShift(src[start + i], 3));
            ASSERT_TRUE(std::all_of(out.begin() + count, out.end(), [](uint8_t b) { return b == 0xA5; }))
                << "start " << start << " count " << count;
        }
}

} // namespace
} // namespace kestcam::test
