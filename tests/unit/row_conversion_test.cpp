// The 16-bit to 8-bit row conversions, and the plain row copy, against a one-sample-at-a-time
// statement of each rule, over every 16-bit value, every shift, and spans whose lengths and starts
// leave vector tails; the same for every kernel set (portable and vector) this processor can run,
// not only the one in use.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <memory>
#include <numeric>
#include <string>
#include <vector>

#include "acquisition/mil_grab_buffers.h"
#include "acquisition/row_conversion.h"

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

// Lengths around every vector width (16, 32, 64 samples) and starts that leave the data unaligned.
const size_t kLengths[] = {0, 1, 2, 7, 15, 16, 17, 31, 32, 33, 63, 64, 65, 127, 129, 255, 256, 257, 1000, 8160};
const size_t kStarts[] = {0, 1, 3, 13};
constexpr uint8_t kGuard = 0xA5;

std::vector<uint16_t> Samples16(size_t count) {
    std::vector<uint16_t> values(count);
    for (size_t i = 0; i < count; ++i)
        values[i] = static_cast<uint16_t>(i * 40503u + (i >> 3));
    return values;
}

bool GuardIntact(const std::vector<uint8_t> &out, size_t from) {
    return std::all_of(out.begin() + static_cast<std::ptrdiff_t>(from), out.end(),
                       [](uint8_t b) { return b == kGuard; });
}

TEST(RowKernels, ThePortableSetComesFirstAndEverySetIsComplete) {
    const std::vector<RowKernels> sets = UsableRowKernels();
    ASSERT_FALSE(sets.empty());
    EXPECT_STREQ(sets.front().name, "portable");
    for (const RowKernels &k : sets) {
        EXPECT_NE(k.shift8, nullptr) << k.name;
        EXPECT_NE(k.shift16, nullptr) << k.name;
        EXPECT_NE(k.lowByte16, nullptr) << k.name;
        EXPECT_NE(k.table8, nullptr) << k.name;
        EXPECT_NE(k.copy, nullptr) << k.name;
    }
}

TEST(RowKernels, Shift16OfEveryValueAndShiftFollowsTheRule) {
    const std::vector<uint16_t> values = EverySixteenBitValue();
    std::vector<uint8_t> out(values.size());
    for (const RowKernels &k : UsableRowKernels())
        for (unsigned n = 0; n <= 15; ++n) {
            k.shift16(values.data(), out.data(), values.size(), n);
            for (size_t i = 0; i < values.size(); ++i)
                ASSERT_EQ(out[i], ReferenceShift(values[i], static_cast<int>(n)))
                    << k.name << ": " << i << " >> " << n;
        }
}

TEST(RowKernels, LowByte16OfEveryValueIsItsLowByte) {
    const std::vector<uint16_t> values = EverySixteenBitValue();
    std::vector<uint8_t> out(values.size());
    for (const RowKernels &k : UsableRowKernels()) {
        k.lowByte16(values.data(), out.data(), values.size());
        for (size_t i = 0; i < values.size(); ++i)
            ASSERT_EQ(out[i], values[i] & 0xFF) << k.name << ": " << i;
    }
}

TEST(RowKernels, Shift8OfEveryByteAndShiftFollowsTheRule) {
    std::vector<uint8_t> bytes(256 * 3);
    for (size_t i = 0; i < bytes.size(); ++i)
        bytes[i] = static_cast<uint8_t>(i);
    for (const RowKernels &k : UsableRowKernels())
        for (unsigned n = 1; n <= 7; ++n) {
            std::vector<uint8_t> row = bytes;
            k.shift8(row.data(), row.size(), n);
            for (size_t i = 0; i < row.size(); ++i)
                ASSERT_EQ(row[i], bytes[i] >> n) << k.name << ": " << i << " >> " << n;
        }
}

TEST(RowKernels, Table8MapsEveryByteThroughTheTable) {
    uint8_t table[256];
    for (int i = 0; i < 256; ++i)
        table[i] = static_cast<uint8_t>((i * 167 + 13) ^ (i >> 3));
    std::vector<uint8_t> bytes(256 * 3 + 5);
    for (size_t i = 0; i < bytes.size(); ++i)
        bytes[i] = static_cast<uint8_t>(i * 7);
    for (const RowKernels &k : UsableRowKernels()) {
        std::vector<uint8_t> row = bytes;
        k.table8(row.data(), row.size(), table);
        for (size_t i = 0; i < row.size(); ++i)
            ASSERT_EQ(row[i], table[bytes[i]]) << k.name << ": " << i;
    }
}

TEST(RowKernels, EveryLengthAndStartIsConvertedExactlyAndNothingBeyond) {
    const std::vector<uint16_t> src16 = Samples16(8160 + 16);
    std::vector<uint8_t> src8(src16.size());
    for (size_t i = 0; i < src8.size(); ++i)
        src8[i] = static_cast<uint8_t>(src16[i] ^ (src16[i] >> 8));
    uint8_t table[256];
    for (int i = 0; i < 256; ++i)
        table[i] = static_cast<uint8_t>(255 - i);

    for (const RowKernels &k : UsableRowKernels())
        for (size_t start : kStarts)
            for (size_t count : kLengths) {
                const std::string where =
                    std::string(k.name) + " start " + std::to_string(start) + " count " + std::to_string(count);
                for (unsigned n : {0u, 1u, 4u, 9u}) {
                    std::vector<uint8_t> out(count + 70, kGuard);
                    k.shift16(src16.data() + start, out.data(), count, n);
                    for (size_t i = 0; i < count; ++i)
                        ASSERT_EQ(out[i], ReferenceShift(src16[start + i], static_cast<int>(n))) << where;
                    ASSERT_TRUE(GuardIntact(out, count)) << where << " shift16 " << n;
                }
                {
                    std::vector<uint8_t> out(count + 70, kGuard);
                    k.lowByte16(src16.data() + start, out.data(), count);
                    for (size_t i = 0; i < count; ++i)
                        ASSERT_EQ(out[i], src16[start + i] & 0xFF) << where;
                    ASSERT_TRUE(GuardIntact(out, count)) << where << " lowByte16";
                }
                // The in-place kernels work on a row inside a larger buffer: the bytes after it stay.
                for (unsigned n : {1u, 3u, 7u}) {
                    std::vector<uint8_t> buf(start + count + 70, kGuard);
                    std::copy(src8.begin(), src8.begin() + static_cast<std::ptrdiff_t>(count),
                              buf.begin() + start);
                    k.shift8(buf.data() + start, count, n);
                    for (size_t i = 0; i < count; ++i)
                        ASSERT_EQ(buf[start + i], src8[i] >> n) << where;
                    ASSERT_TRUE(GuardIntact(buf, start + count)) << where << " shift8 " << n;
                }
                {
                    std::vector<uint8_t> buf(start + count + 70, kGuard);
                    std::copy(src8.begin(), src8.begin() + static_cast<std::ptrdiff_t>(count),
                              buf.begin() + start);
                    k.table8(buf.data() + start, count, table);
                    for (size_t i = 0; i < count; ++i)
                        ASSERT_EQ(buf[start + i], table[src8[i]]) << where;
                    ASSERT_TRUE(GuardIntact(buf, start + count)) << where << " table8";
                }
                {
                    std::vector<uint8_t> out(count + 70, kGuard);
                    k.copy(out.data(), src8.data() + start, count);
                    ASSERT_TRUE(std::equal(out.begin(), out.begin() + static_cast<std::ptrdiff_t>(count),
                                           src8.begin() + static_cast<std::ptrdiff_t>(start)))
                        << where << " copy";
                    ASSERT_TRUE(GuardIntact(out, count)) << where << " copy";
                }
            }
}

TEST(RowConversion, EightBitTablesGiveTheSameRowsShortAndLong) {
    // Short rows look the 16-bit entries up directly, long ones through a gathered byte table.
    std::vector<uint16_t> table(131072);
    for (size_t i = 0; i < table.size(); ++i)
        table[i] = static_cast<uint16_t>(0xAB00 + ((i * 31) & 0xFF));
    for (size_t count : {1u, 2u, 255u, 256u, 257u, 8160u}) {
        std::vector<uint8_t> row(count + 8, kGuard);
        for (size_t i = 0; i < count; ++i)
            row[i] = static_cast<uint8_t>(i * 13);
        LutRow8(row.data(), count, table.data());
        for (size_t i = 0; i < count; ++i)
            ASSERT_EQ(row[i], table[static_cast<uint8_t>(i * 13)] & 0xFF) << "count " << count << " at " << i;
        ASSERT_TRUE(GuardIntact(row, count)) << "count " << count;
    }
}

TEST(RowConversion, ShiftsOutsideTheKernelRangeFollowTheRule) {
    std::vector<uint8_t> row(100, 0xF0);
    ShiftRow8(row.data(), row.size(), 0); // no shift: the row stays
    EXPECT_EQ(row[99], 0xF0);
    ShiftRow8(row.data(), row.size(), -3);
    EXPECT_EQ(row[0], 0xF0);
    ShiftRow8(row.data(), row.size(), 8);
    EXPECT_TRUE(std::all_of(row.begin(), row.end(), [](uint8_t b) { return b == 0; }));

    const std::vector<uint16_t> src(100, 0x0FFF);
    std::vector<uint8_t> out(100);
    ShiftRow16(src.data(), out.data(), out.size(), -2); // a negative shift shifts nothing, then clamps
    EXPECT_EQ(out[50], 255);
    ShiftRow16(src.data(), out.data(), out.size(), 16);
    EXPECT_EQ(out[50], 0);
}

TEST(RowStorage, StartsOnACacheLineWhateverTheHeapHoldsBefore) {
    std::vector<std::unique_ptr<uint8_t[]>> clutter; // small blocks that leave the heap at odd places
    for (size_t n : {1u, 24u, 8160u, 16320u, 1u << 20, 16320000u}) {
        clutter.emplace_back(new uint8_t[n % 97 + 1]);
        RowVector<uint16_t> wide(n, 7);
        RowVector<uint8_t> narrow(n);
        EXPECT_EQ(reinterpret_cast<uintptr_t>(wide.data()) % kRowAlignment, 0u) << n << " samples";
        EXPECT_EQ(reinterpret_cast<uintptr_t>(narrow.data()) % kRowAlignment, 0u) << n << " bytes";
        EXPECT_EQ(wide[n - 1], 7);
    }
    // A count whose size in bytes does not fit is refused, never wrapped round to a small block.
    EXPECT_THROW(RowAllocator<uint16_t>().allocate(static_cast<size_t>(-1) / 2 + 1), std::bad_array_new_length);
}

} // namespace
} // namespace kestcam::test
