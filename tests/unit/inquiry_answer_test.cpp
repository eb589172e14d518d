// An imaging-library answer reaches the host's int only when it fits: the width is told from what
// the library wrote into two differently filled scratch areas.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "acquisition/inquiry_answer.h"

namespace kestcam {
namespace {

// What the library leaves in both scratch areas when it writes `bytes`.
bool Answer(const void *bytes, size_t count, int &value, int32_t returned = 0) {
    std::vector<uint8_t> zero(64, 0x00), one(64, 0xFF);
    if (count > 0) {
        std::memcpy(zero.data(), bytes, count);
        std::memcpy(one.data(), bytes, count);
    }
    return InquiryAnswerAsInt(zero.data(), one.data(), zero.size(), returned, value);
}

TEST(InquiryAnswer, IntegerAnswersPassWhateverTheirSign) {
    int value = 0;
    const int32_t negative = -5;
    ASSERT_TRUE(Answer(&negative, 4, value));
    EXPECT_EQ(value, -5);
    const int64_t wideButSmall = -7;
    ASSERT_TRUE(Answer(&wideButSmall, 8, value));
    EXPECT_EQ(value, -7);
    const uint8_t oneByte = 0xF0;
    ASSERT_TRUE(Answer(&oneByte, 1, value));
    EXPECT_EQ(value, 0xF0);
}

TEST(InquiryAnswer, WideValuesDoublesAndTextsAreRefused) {
    int value = 42;
    const int64_t big = int64_t{1} << 40;
    EXPECT_FALSE(Answer(&big, 8, value));
    const int64_t justAbove = int64_t{2147483647} + 1;
    EXPECT_FALSE(Answer(&justAbove, 8, value));
    const double ten = 10.0;
    EXPECT_FALSE(Answer(&ten, 8, value));
    const char text[] = "M_SYSTEM_SOLIOS";
    EXPECT_FALSE(Answer(text, sizeof text, value));
    EXPECT_EQ(value, 42);
}

TEST(InquiryAnswer, NothingWrittenGivesTheReturnedValue) {
    int value = 0;
    ASSERT_TRUE(Answer(nullptr, 0, value, 1234));
    EXPECT_EQ(value, 1234);
}

} // namespace
} // namespace kestcam
