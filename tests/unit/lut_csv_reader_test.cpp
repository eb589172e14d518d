// lut_csv_reader_test.cpp - the table file rules as LutCsvReader and the parsing core apply them.
#include <climits>
#include <cstdio>
#include <memory>
#include <random>
#include <sstream>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "acquisition/lut_csv_reader.h"
#include "acquisition/lut_table.h"
#include "tests/support/generated_table_stream.h"
#include "tests/support/temp_dir.h"

namespace kestcam {
namespace {

LutCsvReader MemoryReader(const std::string &text) {
    return LutCsvReader("memory", [text]() { return std::make_unique<std::istringstream>(text); });
}

std::vector<std::string> Names(const LutCsvReader &reader) {
    std::vector<std::string> names;
    for (int i = 0; i < reader.GetColumnCount(); ++i)
        names.emplace_back(reader.GetColumnName(i));
    return names;
}

std::vector<std::pair<int, int>> Rows(const LutCsvReader &reader) {
    std::vector<std::pair<int, int>> rows;
    for (int i = 0; i < reader.GetCount(); ++i)
        rows.emplace_back(reader.GetInput(i), reader.GetOutput(i));
    return rows;
}

using RowList = std::vector<std::pair<int, int>>;

TEST(LutCsvFieldValue, ReadsLikeAtoi) {
    EXPECT_EQ(LutCsvFieldValue("42"), 42);
    EXPECT_EQ(LutCsvFieldValue("   1"), 1);
    EXPECT_EQ(LutCsvFieldValue(" \t\v\f\r\n17"), 17);
    EXPECT_EQ(LutCsvFieldValue("-7"), -7);
    EXPECT_EQ(LutCsvFieldValue("+5"), 5);
    EXPECT_EQ(LutCsvFieldValue("12abc"), 12);
    EXPECT_EQ(LutCsvFieldValue("3 4"), 3);
    EXPECT_EQ(LutCsvFieldValue("007"), 7);
}

TEST(LutCsvFieldValue, FieldWithoutDigitsIsZero) {
    EXPECT_EQ(LutCsvFieldValue(""), 0);
    EXPECT_EQ(LutCsvFieldValue("abc"), 0);
    EXPECT_EQ(LutCsvFieldValue("-"), 0);
    EXPECT_EQ(LutCsvFieldValue("- 5"), 0);
    EXPECT_EQ(LutCsvFieldValue("+-5"), 0);
    EXPECT_EQ(LutCsvFieldValue("x12"), 0);
}

TEST(LutCsvFieldValue, ValuesBeyondIntSaturate) {
    EXPECT_EQ(LutCsvFieldValue("2147483647"), INT_MAX);
    EXPECT_EQ(LutCsvFieldValue("-2147483648"), INT_MIN);
    EXPECT_EQ(LutCsvFieldValue("2147483648"), INT_MAX);
    EXPECT_EQ(LutCsvFieldValue("-2147483649"), INT_MIN);
    EXPECT_EQ(LutCsvFieldValue("99999999999999999999"), INT_MAX);
    EXPECT_EQ(LutCsvFieldValue("-99999999999999999999"), INT_MIN);
    EXPECT_EQ(LutCsvFieldValue(std::string(5000, '9')), INT_MAX);
}

TEST(LutCsvReader, HeaderFieldsAfterTheFirstAreColumnNames) {
    const LutCsvReader reader = MemoryReader("x;a;b\n1;2;3\n");
    EXPECT_EQ(Names(reader), (std::vector<std::string>{"a", "b"}));
}

TEST(LutCsvReader, ColumnNameOutsideRangeIsNull) {
    const LutCsvReader reader = MemoryReader("x;a;b\n");
    EXPECT_EQ(reader.GetColumnName(-1), nullptr);
    EXPECT_EQ(reader.GetColumnName(2), nullptr);
    EXPECT_EQ(reader.GetColumnName(INT_MIN), nullptr);
    ASSERT_NE(reader.GetColumnName(1), nullptr);
    EXPECT_STREQ(reader.GetColumnName(1), "b");
}

TEST(LutCsvReader, TrailingSeparatorAddsNoEmptyName) {
    EXPECT_EQ(Names(MemoryReader("x;a;b;\n")), (std::vector<std::string>{"a", "b"}));
}

TEST(LutCsvReader, EmptyNameBetweenSeparatorsKeepsLaterColumnsInPlace) {
    const LutCsvReader reader = MemoryReader("x;a;;b\n");
    EXPECT_EQ(Names(reader), (std::vector<std::string>{"a", "", "b"}));
}

TEST(LutCsvReader, NamesKeepTheirSpacesButNotTheLineEnd) {
    EXPECT_EQ(Names(MemoryReader("x; a ;b\r\n")), (std::vector<std::string>{" a ", "b"}));
}

TEST(LutCsvReader, FileWithoutTableColumnsHasNoNames) {
    EXPECT_EQ(MemoryReader("").GetColumnCount(), 0);
    EXPECT_EQ(MemoryReader("\n1;2\n").GetColumnCount(), 0);
    EXPECT_EQ(MemoryReader("x\n1;2\n").GetColumnCount(), 0);
    EXPECT_EQ(MemoryReader("x;\n1;2\n").GetColumnCount(), 0);
}

TEST(LutCsvReader, MissingFileHasNoColumnsAndSelectsNothing) {
    test::TempDir dir;
    LutCsvReader reader(dir.File("absent.csv"));
    EXPECT_EQ(reader.GetColumnCount(), 0);
    EXPECT_FALSE(reader.SelectColumn("ln"));
    EXPECT_EQ(reader.GetCount(), 0);
}

TEST(LutCsvReader, FileThatVanishesAfterTheHeaderFailsToSelect) {
    test::TempDir dir;
    const std::string file = dir.Write("t.csv", "x;a\n1;2\n");
    LutCsvReader reader(file);
    ASSERT_EQ(reader.GetColumnCount(), 1);
    ASSERT_EQ(std::remove(file.c_str()), 0);
    EXPECT_FALSE(reader.SelectColumn("a"));
}

TEST(LutCsvReader, ReadsAFileOnDisk) {
    test::TempDir dir;
    LutCsvReader reader(dir.Write("t.csv", "x;a;b\n1;10;20\n2;11;21\n"));
    ASSERT_TRUE(reader.SelectColumn("a"));
    EXPECT_EQ(Rows(reader), (RowList{{1, 10}, {2, 11}}));
}

TEST(LutCsvReader, ReadsCrLfFiles) {
    test::TempDir dir;
    LutCsvReader reader(dir.Write("t.csv", "LN;ln\r\n   1;  17\r\n   2;  27\r\n"));
    EXPECT_EQ(Names(reader), (std::vector<std::string>{"ln"}));
    ASSERT_TRUE(reader.SelectColumn("ln"));
    EXPECT_EQ(Rows(reader), (RowList{{1, 17}, {2, 27}}));
}

TEST(LutCsvReader, ColumnNamesAreExactAndCaseSensitive) {
    LutCsvReader reader = MemoryReader("LN;ln\n   1;  17\n");
    EXPECT_FALSE(reader.SelectColumn("LN"));
    EXPECT_FALSE(reader.SelectColumn("Ln"));
    EXPECT_FALSE(reader.SelectColumn("ln "));
    EXPECT_FALSE(reader.SelectColumn(""));
    EXPECT_FALSE(reader.SelectColumn(nullptr));
    EXPECT_TRUE(reader.SelectColumn("ln"));
}

TEST(LutCsvReader, SelectedColumnTakesItsFieldOfEachRow) {
    LutCsvReader reader = MemoryReader("x;a;b\n1;10;20\n2;11;21\n");
    ASSERT_TRUE(reader.SelectColumn("b"));
    EXPECT_EQ(Rows(reader), (RowList{{1, 20}, {2, 21}}));
}

TEST(LutCsvReader, RepeatedColumnNameSelectsTheFirst) {
    LutCsvReader reader = MemoryReader("x;a;a\n1;10;20\n");
    ASSERT_TRUE(reader.SelectColumn("a"));
    EXPECT_EQ(Rows(reader), (RowList{{1, 10}}));
}

TEST(LutCsvReader, LaterFieldsMayBeMissing) {
    LutCsvReader reader = MemoryReader("x;a;b\n1;10\n2;11;21\n");
    ASSERT_TRUE(reader.SelectColumn("a"));
    EXPECT_EQ(Rows(reader), (RowList{{1, 10}, {2, 11}}));
}

TEST(LutCsvReader, RowWithoutTheColumnFailsAndKeepsTheRowsBefore) {
    LutCsvReader reader = MemoryReader("x;a;b\n1;10;20\n2;11\n3;12;22\n");
    EXPECT_FALSE(reader.SelectColumn("b"));
    EXPECT_EQ(Rows(reader), (RowList{{1, 20}}));
}

TEST(LutCsvReader, TrailingSeparatorInARowStartsNoField) {
    LutCsvReader reader = MemoryReader("x;a;b\n1;10;\n");
    EXPECT_FALSE(reader.SelectColumn("b"));
    EXPECT_TRUE(reader.SelectColumn("a"));
}

TEST(LutCsvReader, EmptyFieldBetweenSeparatorsReadsAsZero) {
    LutCsvReader reader = MemoryReader("x;a;b\n1;;20\n");
    ASSERT_TRUE(reader.SelectColumn("a"));
    EXPECT_EQ(Rows(reader), (RowList{{1, 0}}));
}

TEST(LutCsvReader, SingleFinalLineEndIsFine) {
    LutCsvReader withEnd = MemoryReader("x;a\n1;2\n");
    ASSERT_TRUE(withEnd.SelectColumn("a"));
    EXPECT_EQ(withEnd.GetCount(), 1);
    LutCsvReader withoutEnd = MemoryReader("x;a\n1;2");
    ASSERT_TRUE(withoutEnd.SelectColumn("a"));
    EXPECT_EQ(Rows(withoutEnd), (RowList{{1, 2}}));
}

TEST(LutCsvReader, BlankLineAtTheEndMakesTheFileIncorrect) {
    LutCsvReader lf = MemoryReader("x;a\n1;2\n\n");
    EXPECT_FALSE(lf.SelectColumn("a"));
    EXPECT_EQ(Rows(lf), (RowList{{1, 2}}));
    LutCsvReader crlf = MemoryReader("x;a\r\n1;2\r\n\r\n");
    EXPECT_FALSE(crlf.SelectColumn("a"));
}

TEST(LutCsvReader, BlankLineInsideTheTableMakesTheFileIncorrect) {
    LutCsvReader reader = MemoryReader("x;a\n1;2\n\n3;4\n");
    EXPECT_FALSE(reader.SelectColumn("a"));
}

TEST(LutCsvReader, HeaderOnlyFileSelectsAnEmptyTable) {
    LutCsvReader reader = MemoryReader("x;a\n");
    EXPECT_TRUE(reader.SelectColumn("a"));
    EXPECT_EQ(reader.GetCount(), 0);
}

TEST(LutCsvReader, ValuesOutsideTheListsReadAsZero) {
    LutCsvReader reader = MemoryReader("x;a\n7;9\n");
    ASSERT_TRUE(reader.SelectColumn("a"));
    EXPECT_EQ(reader.GetInput(0), 7);
    EXPECT_EQ(reader.GetOutput(0), 9);
    EXPECT_EQ(reader.GetInput(-1), 0);
    EXPECT_EQ(reader.GetOutput(-1), 0);
    EXPECT_EQ(reader.GetInput(1), 0);
    EXPECT_EQ(reader.GetOutput(1), 0);
    EXPECT_EQ(reader.GetInput(INT_MAX), 0);
    EXPECT_EQ(reader.GetOutput(INT_MIN), 0);
}

TEST(LutCsvReader, SelectingAgainStartsTheListsAfresh) {
    LutCsvReader reader = MemoryReader("x;a;b\n1;10;20\n2;11;21\n");
    ASSERT_TRUE(reader.SelectColumn("a"));
    ASSERT_TRUE(reader.SelectColumn("b"));
    EXPECT_EQ(Rows(reader), (RowList{{1, 20}, {2, 21}}));
    EXPECT_FALSE(reader.SelectColumn("c"));
    EXPECT_EQ(reader.GetCount(), 0);
}

TEST(LutCsvReader, HugeNumbersSaturate) {
    LutCsvReader reader =
        MemoryReader("x;a\n99999999999999999999;99999999999999999999\n5;-99999999999999999999\n");
    ASSERT_TRUE(reader.SelectColumn("a"));
    EXPECT_EQ(Rows(reader), (RowList{{INT_MAX, INT_MAX}, {5, INT_MIN}}));
}

TEST(LutCsvReader, OverlongHeaderLeavesNoColumns) {
    const std::string header = "x;" + std::string(kLutCsvMaxLineLength, 'a') + "\n1;2\n";
    EXPECT_EQ(MemoryReader(header).GetColumnCount(), 0);
}

TEST(LutCsvReader, LineOfExactlyTheLimitIsRead) {
    const std::string name(kLutCsvMaxLineLength - 2, 'b');
    LutCsvReader reader = MemoryReader("x;" + name + "\r\n1;2\r\n");
    ASSERT_EQ(reader.GetColumnCount(), 1);
    EXPECT_EQ(std::string(reader.GetColumnName(0)).size(), kLutCsvMaxLineLength - 2);
}

TEST(LutCsvReader, OverlongRowMakesTheFileIncorrect) {
    LutCsvReader reader = MemoryReader("x;a\n1;2\n3;" + std::string(kLutCsvMaxLineLength, '4') + "\n5;6\n");
    EXPECT_FALSE(reader.SelectColumn("a"));
    EXPECT_EQ(Rows(reader), (RowList{{1, 2}}));
}

// Serves its text, then fails the way a broken device does: the read throws.
class FailingBuf : public std::streambuf {
public:
    explicit FailingBuf(std::string text) : text_(std::move(text)) {}

protected:
    int_type underflow() override {
        if (served_) throw std::runtime_error("read failed");
        served_ = true;
        setg(&text_[0], &text_[0], &text_[0] + text_.size());
        return traits_type::to_int_type(text_[0]);
    }

private:
    std::string text_;
    bool served_ = false;
};

struct FailingStream : std::istream {
    explicit FailingStream(const std::string &text) : std::istream(nullptr), buf(text) { rdbuf(&buf); }
    FailingBuf buf;
};

// A table longer than one read-ahead block, whose stream breaks after most of it has been read: what
// was read must not pass for the whole table.
TEST(LutCsvReader, StreamFailingPartWayIsNotACompleteTable) {
    std::string text = "x;a\n";
    for (int i = 0; i < 30000; ++i)
        text += std::to_string(i) + ";" + std::to_string(i) + "\n";
    int opened = 0;
    LutCsvReader reader("failing", [&]() -> std::unique_ptr<std::istream> {
        // The header is read intact; the rows then meet the failure.
        if (opened++ == 0) return std::make_unique<std::istringstream>(text);
        return std::make_unique<FailingStream>(text);
    });
    ASSERT_EQ(reader.GetColumnCount(), 1);
    EXPECT_FALSE(reader.SelectColumn("a"));
    EXPECT_EQ(opened, 2);

    FailingStream in(text);
    std::vector<uint16_t> table(kLutTableSize, 1);
    EXPECT_FALSE(FillLutTable(in, "a", table.data()));
}

// Random table-like text: mostly rows of numeric-looking fields (signs, spaces, huge and odd digits,
// stray bytes), some lines of arbitrary bytes, blank lines and CR LF line ends.
std::string Garbage(std::mt19937 *random) {
    auto roll = [random](int n) { return std::uniform_int_distribution<int>(0, n - 1)(*random); };
    auto field = [&]() {
        static const char kPieces[] = "0123456789-+ \t";
        std::string text;
        for (int n = roll(6); n > 0; --n)
            text.push_back(kPieces[roll(sizeof kPieces - 1)]);
        if (roll(10) == 0) text += "99999999999999999999";
        if (roll(10) == 0) text.push_back(static_cast<char>(roll(256)));
        return text;
    };
    std::string text;
    for (int lines = roll(40); lines > 0; --lines) {
        const int kind = roll(20);
        if (kind == 0) {
            for (int n = roll(30); n > 0; --n)
                text.push_back(static_cast<char>(roll(256)));
        } else if (kind > 1) { // kind 1: a blank line
            for (int fields = 1 + roll(5); fields > 0; --fields)
                text += field() + (fields > 1 ? ";" : "");
        }
        text += roll(3) == 0 ? "\r\n" : "\n";
    }
    if (roll(4) == 0 && !text.empty()) text.pop_back(); // no final line end
    return text;
}

// Garbage must neither crash nor disagree between the two consumers of the parser: the reader's lists
// and the table filled while streaming.
TEST(LutCsvReader, GarbageIsReadConsistentlyByReaderAndTable) {
    std::mt19937 random(20240611);
    std::vector<uint16_t> table(kLutTableSize);
    std::vector<uint16_t> expected(kLutTableSize);
    int selected = 0;
    for (int round = 0; round < 500; ++round) {
        const std::string text = (round % 4 ? "x;a;b;c\n" : "") + Garbage(&random);
        LutCsvReader reader = MemoryReader(text);
        for (int c = 0; c < reader.GetColumnCount() && c < 4; ++c) {
            const std::string name = reader.GetColumnName(c);
            const bool ok = reader.SelectColumn(name.c_str());
            std::istringstream in(text);
            ASSERT_EQ(FillLutTable(in, name, table.data()), ok) << "round " << round << " column " << c;
            expected.assign(kLutTableSize, 0);
            if (ok) {
                ++selected;
                for (int i = 0; i < reader.GetCount(); ++i) {
                    const int x = reader.GetInput(i);
                    if (x >= 0 && x < static_cast<int>(kLutTableSize))
                        expected[static_cast<std::size_t>(x)] = static_cast<uint16_t>(reader.GetOutput(i));
                }
            }
            ASSERT_EQ(table, expected) << "round " << round << " column " << c;
        }
    }
    // The text must often be a valid table, or the comparison above proves little.
    EXPECT_GT(selected, 50);
}

TEST(LutCsvReader, BinaryGarbageFileDoesNotCrash) {
    test::TempDir dir;
    std::mt19937 random(7);
    std::uniform_int_distribution<int> byte(0, 255);
    std::string bytes;
    for (int i = 0; i < 1 << 16; ++i)
        bytes.push_back(static_cast<char>(byte(random)));
    bytes[10] = ';'; // at least one column name
    LutCsvReader reader(dir.Write("garbage.csv", bytes));
    ASSERT_GE(reader.GetColumnCount(), 1);
    for (int c = 0; c < reader.GetColumnCount(); ++c) {
        reader.SelectColumn(reader.GetColumnName(c));
        EXPECT_EQ(reader.GetInput(reader.GetCount()), 0);
    }
}

constexpr long kRows = 10000000;
constexpr long kPeriod = 131072;

// Ten million rows, each kept in the lists: inputs cycle through 0..131071, outputs count the cycles.
TEST(LutCsvReader, TenMillionRowsAreReadCompletely) {
    LutCsvReader reader("generated",
                        []() { return std::make_unique<test::GeneratedTableStream>(kRows, kPeriod); });
    ASSERT_TRUE(reader.SelectColumn("a"));
    ASSERT_EQ(reader.GetCount(), kRows);
    for (long i : {0L, 1L, kPeriod - 1, kPeriod, 1234567L, kRows - 2, kRows - 1}) {
        EXPECT_EQ(reader.GetInput(static_cast<int>(i)), i % kPeriod) << "row " << i;
        EXPECT_EQ(reader.GetOutput(static_cast<int>(i)), i / kPeriod) << "row " << i;
    }
    EXPECT_EQ(reader.GetInput(static_cast<int>(kRows)), 0);
}

} // namespace
} // namespace kestcam
