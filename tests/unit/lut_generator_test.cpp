// lut_generator_test.cpp - the logarithmic table: values, input check, and the file it writes.
#include <climits>
#include <cstdio>
#include <string>
#include <tuple>
#include <vector>

#include <gtest/gtest.h>

#include "acquisition/lut_csv_reader.h"
#include "acquisition/lut_generator.h"
#include "acquisition/lut_table.h"
#include "tests/support/temp_dir.h"

namespace kestcam {
namespace {

TEST(LutGenerator, FullRangeWithSteepnessOne) {
    // lo 0, hi 32767
    EXPECT_EQ(LutGeneratorValue(0, 0, 15, 1), 0);
    EXPECT_EQ(LutGeneratorValue(1, 0, 15, 1), 17);
    EXPECT_EQ(LutGeneratorValue(10, 0, 15, 1), 59);
    EXPECT_EQ(LutGeneratorValue(100, 0, 15, 1), 113);
    EXPECT_EQ(LutGeneratorValue(1000, 0, 15, 1), 169);
    EXPECT_EQ(LutGeneratorValue(4095, 0, 15, 1), 204);
    EXPECT_EQ(LutGeneratorValue(32766, 0, 15, 1), 255);
    EXPECT_EQ(LutGeneratorValue(32767, 0, 15, 1), 255);
    EXPECT_EQ(LutGeneratorValue(65535, 0, 15, 1), 255);
}

TEST(LutGenerator, NarrowRangeWithSteepnessTen) {
    // lo 15, hi 4095
    for (int x = 0; x <= 15; ++x)
        EXPECT_EQ(LutGeneratorValue(x, 4, 12, 10), 0) << x;
    EXPECT_GT(LutGeneratorValue(16, 4, 12, 10), 0);
    EXPECT_EQ(LutGeneratorValue(100, 4, 12, 10), 95);
    EXPECT_EQ(LutGeneratorValue(1000, 4, 12, 10), 195);
    EXPECT_EQ(LutGeneratorValue(4094, 4, 12, 10), 255);
    EXPECT_EQ(LutGeneratorValue(4095, 4, 12, 10), 255);
    EXPECT_EQ(LutGeneratorValue(4096, 4, 12, 10), 255);
    EXPECT_EQ(LutGeneratorValue(65535, 4, 12, 10), 255);
}

TEST(LutGenerator, EveryValidTableRisesFromZeroToFull) {
    for (int lsb = kLutGenBitMin; lsb <= kLutGenBitMax; ++lsb) {
        for (int msb = lsb + 1; msb <= kLutGenBitMax; ++msb) {
            for (int s = kLutGenSteepnessMin; s <= kLutGenSteepnessMax; s += 3) {
                const int lo = (1 << lsb) - 1;
                const int hi = (1 << msb) - 1;
                EXPECT_EQ(LutGeneratorValue(lo, lsb, msb, s), 0);
                EXPECT_EQ(LutGeneratorValue(hi, lsb, msb, s), 255);
                int previous = 0;
                for (int x = 0; x < kLutGenInputCount; x += 37) {
                    const int y = LutGeneratorValue(x, lsb, msb, s);
                    ASSERT_GE(y, previous) << lsb << " " << msb << " " << s << " x " << x;
                    ASSERT_LE(y, 255);
                    previous = y;
                }
            }
        }
    }
}

TEST(LutGenerator, RangeWithoutWidthIsAThresholdNotADivisionByZero) {
    // lo = hi = 7
    EXPECT_EQ(LutGeneratorValue(0, 3, 3, 1), 0);
    EXPECT_EQ(LutGeneratorValue(7, 3, 3, 1), 0);
    EXPECT_EQ(LutGeneratorValue(8, 3, 3, 1), 255);
    // lo 32767 above hi 7
    EXPECT_EQ(LutGeneratorValue(100, 15, 3, 1), 0);
    EXPECT_EQ(LutGeneratorValue(40000, 15, 3, 1), 255);
}

TEST(LutGenerator, ArgumentsOutsideTheirRangesStillGiveAByte) {
    const int kOdd[] = {INT_MIN, -100, -1, 16, 31, 32, 64, 1000, INT_MAX};
    for (int odd : kOdd) {
        for (int x : {INT_MIN, -1, 0, 1, 100, 65535, INT_MAX}) {
            for (const auto &[lsb, msb, s] :
                 {std::tuple{odd, 15, 1}, std::tuple{0, odd, 1}, std::tuple{0, 15, odd}}) {
                const int y = LutGeneratorValue(x, lsb, msb, s);
                ASSERT_GE(y, 0) << lsb << " " << msb << " " << s;
                ASSERT_LE(y, 255) << lsb << " " << msb << " " << s;
            }
        }
    }
    // Out-of-range values act as the nearest valid one.
    EXPECT_EQ(LutGeneratorValue(1, 0, 40, 0), LutGeneratorValue(1, 0, 15, 1));
    EXPECT_EQ(LutGeneratorValue(100, -3, 12, 50), LutGeneratorValue(100, 0, 12, 10));
}

TEST(LutGeneratorCheck, AcceptsValuesInRangeWithLsbBelowMsb) {
    std::string reason = "stale";
    EXPECT_TRUE(LutGeneratorInputsValid(0, 15, 1, &reason));
    EXPECT_TRUE(reason.empty());
    EXPECT_TRUE(LutGeneratorInputsValid(14, 15, 10, nullptr));
    EXPECT_TRUE(LutGeneratorInputsValid(0, 1, 5, nullptr));
}

TEST(LutGeneratorCheck, RefusesLsbNotBelowMsb) {
    std::string reason;
    EXPECT_FALSE(LutGeneratorInputsValid(3, 3, 1, &reason));
    EXPECT_NE(reason.find("LSB must be less than MSB"), std::string::npos) << reason;
    EXPECT_FALSE(LutGeneratorInputsValid(12, 4, 1, &reason));
    EXPECT_NE(reason.find("LSB must be less than MSB"), std::string::npos) << reason;
    EXPECT_FALSE(LutGeneratorInputsValid(3, 3, 1, nullptr));
}

TEST(LutGeneratorCheck, ReasonNamesTheValueOutOfRange) {
    struct Case {
        int lsb, msb, steepness;
        const char *rule;
    };
    const Case kCases[] = {
        {-1, 15, 1, "LSB must be between 0 and 15"},      {16, 15, 1, "LSB must be between 0 and 15"},
        {0, -1, 1, "MSB must be between 0 and 15"},       {0, 16, 1, "MSB must be between 0 and 15"},
        {0, 15, 0, "steepness must be between 1 and 10"}, {0, 15, 11, "steepness must be between 1 and 10"},
    };
    for (const Case &c : kCases) {
        std::string reason;
        EXPECT_FALSE(LutGeneratorInputsValid(c.lsb, c.msb, c.steepness, &reason));
        EXPECT_NE(reason.find(c.rule), std::string::npos) << reason;
    }
}

// The line end the platform's text mode writes for "\n", so the test holds on every platform.
std::string TextModeLineEnd(const test::TempDir &dir) {
    const std::string probe = dir.File("probe.txt");
    std::FILE *file = std::fopen(probe.c_str(), "w");
    if (file == nullptr) return "\n";
    std::fputs("\n", file);
    std::fclose(file);
    return test::TempDir::Read(probe);
}

std::vector<std::string> SplitLines(const std::string &text, const std::string &lineEnd) {
    std::vector<std::string> lines;
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t end = text.find(lineEnd, start);
        if (end == std::string::npos) {
            lines.push_back(text.substr(start) + "<no line end>");
            break;
        }
        lines.push_back(text.substr(start, end - start));
        start = end + lineEnd.size();
    }
    return lines;
}

TEST(LutGeneratorFile, HasTheHeaderAndOneFormattedLinePerInput) {
    test::TempDir dir;
    const std::string file = dir.File("LUT table.csv");
    ASSERT_TRUE(WriteLutGeneratorFile(file, 0, 15, 1));
    const std::vector<std::string> lines = SplitLines(test::TempDir::Read(file), TextModeLineEnd(dir));
    ASSERT_EQ(lines.size(), 65537u);
    EXPECT_EQ(lines[0], "LN;ln");
    EXPECT_EQ(lines[1], "   0;   0");
    EXPECT_EQ(lines[2], "   1;  17");
    EXPECT_EQ(lines[101], " 100; 113");
    EXPECT_EQ(lines[4096], "4095; 204");
    EXPECT_EQ(lines[10001], "10000; 226") << "wider numbers are not cut";
    EXPECT_EQ(lines[65536], "65535; 255");
}

TEST(LutGeneratorFile, LoadsWithColumnLnButNotLN) {
    test::TempDir dir;
    const std::string file = dir.File("t.csv");
    ASSERT_TRUE(WriteLutGeneratorFile(file, 4, 12, 10));
    std::vector<uint16_t> table(kLutTableSize, 0xFFFF);
    EXPECT_FALSE(LoadLutTable(file, "LN", table.data()));
    ASSERT_TRUE(LoadLutTable(file, "ln", table.data()));
    for (int x = 0; x < kLutGenInputCount; ++x) {
        ASSERT_EQ(table[static_cast<std::size_t>(x)], LutGeneratorValue(x, 4, 12, 10)) << "x " << x;
    }
    for (std::size_t x = kLutGenInputCount; x < kLutTableSize; ++x)
        ASSERT_EQ(table[x], 0) << "x " << x;

    LutCsvReader reader(file);
    ASSERT_EQ(reader.GetColumnCount(), 1);
    EXPECT_STREQ(reader.GetColumnName(0), "ln");
    ASSERT_TRUE(reader.SelectColumn("ln"));
    EXPECT_EQ(reader.GetCount(), kLutGenInputCount);
}

TEST(LutGeneratorFile, ReplacesAnOlderLongerFile) {
    test::TempDir dir;
    const std::string file = dir.Write("t.csv", std::string(2000000, 'z'));
    ASSERT_TRUE(WriteLutGeneratorFile(file, 0, 15, 1));
    const std::string text = test::TempDir::Read(file);
    EXPECT_EQ(text.find('z'), std::string::npos);
    EXPECT_EQ(text.compare(0, 5, "LN;ln"), 0);
}

TEST(LutGeneratorFile, InvalidInputsWriteNothing) {
    test::TempDir dir;
    const std::string file = dir.File("t.csv");
    EXPECT_FALSE(WriteLutGeneratorFile(file, 3, 3, 1));
    EXPECT_FALSE(WriteLutGeneratorFile(file, 0, 15, 0));
    std::FILE *probe = std::fopen(file.c_str(), "r");
    EXPECT_EQ(probe, nullptr);
    if (probe != nullptr) std::fclose(probe);
}

TEST(LutGeneratorFile, UnopenableFileFails) {
    test::TempDir dir;
    EXPECT_FALSE(WriteLutGeneratorFile(dir.File("no such dir/t.csv"), 0, 15, 1));
    EXPECT_FALSE(WriteLutGeneratorFile(dir.Str(), 0, 15, 1)); // a directory
}

} // namespace
} // namespace kestcam
