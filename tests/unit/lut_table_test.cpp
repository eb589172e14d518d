// lut_table_test.cpp - filling a camera's 131072-entry table from one column of a table file.
#include <algorithm>
#include <climits>
#include <cstdint>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "acquisition/lut_table.h"
#include "tests/support/generated_table_stream.h"
#include "tests/support/temp_dir.h"

namespace kestcam {
namespace {

constexpr uint16_t kGuard = 0xA5A5;
constexpr std::size_t kGuardEntries = 64;

// A table with guard entries on both sides, to see writes outside it.
class GuardedTable {
public:
    GuardedTable() : entries_(kLutTableSize + 2 * kGuardEntries, kGuard) {}
    uint16_t *Data() { return entries_.data() + kGuardEntries; }
    uint16_t operator[](std::size_t i) const { return entries_[kGuardEntries + i]; }
    bool GuardsIntact() const {
        return std::all_of(entries_.begin(), entries_.begin() + kGuardEntries,
                           [](uint16_t v) { return v == kGuard; }) &&
               std::all_of(entries_.end() - kGuardEntries, entries_.end(), [](uint16_t v) { return v == kGuard; });
    }
    // Entries other than those listed that are not 0.
    std::size_t NonZeroExcept(const std::vector<std::size_t> &set) const {
        std::size_t count = 0;
        for (std::size_t i = 0; i < kLutTableSize; ++i) {
            if ((*this)[i] != 0 && std::find(set.begin(), set.end(), i) == set.end()) ++count;
        }
        return count;
    }

private:
    std::vector<uint16_t> entries_;
};

bool Fill(const std::string &text, const std::string &column, GuardedTable *table) {
    std::istringstream in(text);
    return FillLutTable(in, column, table->Data());
}

TEST(LutTable, RowsSetTheirEntriesAndTheRestIsZero) {
    GuardedTable table; // every entry starts as the guard pattern, so zeroing is visible
    ASSERT_TRUE(Fill("x;a\n5;300\n0;1\n131071;2\n", "a", &table));
    EXPECT_EQ(table[5], 300);
    EXPECT_EQ(table[5] & 0xFF, 44); // what a row read delivers for pixel value 5
    EXPECT_EQ(table[0], 1);
    EXPECT_EQ(table[131071], 2);
    EXPECT_EQ(table.NonZeroExcept({0, 5, 131071}), 0u);
    EXPECT_TRUE(table.GuardsIntact());
}

TEST(LutTable, InputsOutsideTheTableAreSkipped) {
    GuardedTable table;
    ASSERT_TRUE(
        Fill("x;a\n131072;7\n-1;8\n-131072;9\n2147483647;10\n99999999999999999999;11\n1;12\n", "a", &table));
    EXPECT_EQ(table[1], 12);
    EXPECT_EQ(table.NonZeroExcept({1}), 0u);
    EXPECT_TRUE(table.GuardsIntact());
}

TEST(LutTable, OutputsAreStoredModulo65536) {
    GuardedTable table;
    ASSERT_TRUE(
        Fill("x;a\n1;70000\n2;-1\n3;65536\n4;99999999999999999999\n5;-99999999999999999999\n", "a", &table));
    EXPECT_EQ(table[1], 70000 - 65536);
    EXPECT_EQ(table[2], 0xFFFF);
    EXPECT_EQ(table[3], 0);
    EXPECT_EQ(table[4], 0xFFFF); // saturated at INT_MAX
    EXPECT_EQ(table[5], 0);      // saturated at INT_MIN
}

TEST(LutTable, RepeatedInputTakesTheLastRow) {
    GuardedTable table;
    ASSERT_TRUE(Fill("x;a\n9;1\n3;5\n9;2\n9;3\n", "a", &table));
    EXPECT_EQ(table[9], 3);
    EXPECT_EQ(table[3], 5);
}

TEST(LutTable, SelectedColumnIsTheOneFilled) {
    GuardedTable table;
    ASSERT_TRUE(Fill("x;a;b\n1;10;20\n", "b", &table));
    EXPECT_EQ(table[1], 20);
}

TEST(LutTable, FailureLeavesAnAllZeroTable) {
    const char *const kBadFiles[][2] = {
        {"x;a\n1;2\n", "b"},             // no such column
        {"x;a\n1;2\n", "x"},             // the input column is not a table
        {"x;a;b\n1;10;20\n2;11\n", "b"}, // a row lacks the column after rows were applied
        {"x;a\n1;2\n\n", "a"},           // blank line at the end
        {"", "a"},                       // empty file
    };
    for (const auto &bad : kBadFiles) {
        GuardedTable table;
        EXPECT_FALSE(Fill(bad[0], bad[1], &table)) << bad[0];
        EXPECT_EQ(table.NonZeroExcept({}), 0u) << bad[0];
        EXPECT_TRUE(table.GuardsIntact());
    }
}

TEST(LutTable, LoadsAFileAndRefusesAMissingOne) {
    test::TempDir dir;
    GuardedTable table;
    const std::string file = dir.Write("t.csv", "x;a\r\n5;300\r\n");
    ASSERT_TRUE(LoadLutTable(file, "a", table.Data()));
    EXPECT_EQ(table[5], 300);
    EXPECT_FALSE(LoadLutTable(dir.File("absent.csv"), "a", table.Data()));
    EXPECT_EQ(table.NonZeroExcept({}), 0u);
}

TEST(LutTable, RepeatedColumnNameFillsFromTheFirst) {
    GuardedTable table;
    ASSERT_TRUE(Fill("x;a;a\n1;10;20\n", "a", &table));
    EXPECT_EQ(table[1], 10);
}

// Ten million rows stream through without being held: inputs cycle through the table, so every entry
// is written about 76 times and must end with its last row's value.
TEST(LutTable, TenMillionRowsLeaveEachEntryWithItsLastValue) {
    constexpr long kRows = 10000000;
    constexpr long kSize = static_cast<long>(kLutTableSize);
    test::GeneratedTableStream in(kRows, kSize); // row i: input i % kSize, output i / kSize
    GuardedTable table;
    ASSERT_TRUE(FillLutTable(in, "a", table.Data()));
    const long lastBlock = (kRows - 1) / kSize;
    const long lastBlockEnd = (kRows - 1) % kSize;
    for (long x = 0; x < kSize; ++x) {
        const long expected = x <= lastBlockEnd ? lastBlock : lastBlock - 1;
        ASSERT_EQ(table[static_cast<std::size_t>(x)], expected) << "entry " << x;
    }
    EXPECT_TRUE(table.GuardsIntact());
}

} // namespace
} // namespace kestcam
