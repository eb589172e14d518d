// lut_csv_reader.h - lookup-table CSV files: the I/O-free parsing core and LutCsvReader over it.
//
// File format: ';'-separated text, lines ending in LF or CR LF. Line 1 is the header; its first field
// names the input column and is not a table, every further field names one table column. Each further
// line is a row: field 0 the input value, field k the output of column k. Fields are read the way atoi
// reads them. The text after a line's last separator is a field only when it is non-empty, so a trailing
// separator adds no field and an empty line is a row without fields.
#pragma once

#include <cstddef>
#include <functional>
#include <istream>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace kestcam {

constexpr char kLutCsvSeparator = ';';

// A line longer than this (without its line end) makes the file incorrect. It bounds the memory one
// line of a corrupt file (say, gigabytes without a line feed) can take; real tables have short lines.
constexpr std::size_t kLutCsvMaxLineLength = 1 << 20;

// Reads a field as atoi does: leading white space, an optional sign, decimal digits up to the first
// non-digit; no digits read as 0. A value beyond the range of int saturates at INT_MIN or INT_MAX (as
// strtol does), so an overlong number is a large value of the right sign, never undefined behaviour.
int LutCsvFieldValue(std::string_view field);

// The field at `position` (0 = the input field) of one line without its line end; false when the line
// has no field there.
bool LutCsvField(std::string_view line, std::size_t position, std::string_view *field);

enum class LutCsvLine {
    kLine,    // the next line, its line end removed
    kEnd,     // no more input
    kTooLong, // the line exceeds kLutCsvMaxLineLength; the input is not a table file
    kError,   // the stream failed while reading
};

// Splits a stream into lines. It reads the stream ahead in blocks, so once reading starts the stream's
// position belongs to it. Memory stays within one block plus the longest allowed line, and every byte is
// scanned once, however long the lines.
class LutCsvLineReader {
public:
    explicit LutCsvLineReader(std::istream &in) : in_(in) {}

    // The next line without its line end (LF, or CR LF); the view lasts until the next call. A final line
    // end does not start another line; an empty line before it does.
    LutCsvLine Next(std::string_view *line);

private:
    std::istream &in_;
    std::vector<char> buffer_;
    std::size_t begin_ = 0;   // start of the unread text in buffer_
    std::size_t scanned_ = 0; // text from begin_ to here holds no line feed
    std::size_t end_ = 0;     // end of the text in buffer_
    bool atEnd_ = false;
};

// Reads the header line and returns the table column names (header fields 1 to n, exactly as written).
// Empty input or an overlong header gives no names.
std::vector<std::string> ReadLutCsvHeader(LutCsvLineReader &lines);

// Position of the first column called `name` (exact, case-sensitive) as a field position (>= 1), or 0
// when there is none.
std::size_t FindLutCsvColumn(const std::vector<std::string> &names, std::string_view name);

// Reads every remaining row and calls row(input, output) with field 0 and the field at `position`.
// Returns false at the first row without that field, at an overlong line or a failed stream, or when
// row returns false (to stop); true at the end of the input. Rows before a failure have been delivered.
bool ReadLutCsvRows(LutCsvLineReader &lines, std::size_t position, const std::function<bool(int, int)> &row);

// A whole table file from the start: the header, then the rows of the first column called `column`.
// False when there is no such column, otherwise as ReadLutCsvRows.
bool ReadLutCsvColumn(std::istream &in, std::string_view column, const std::function<bool(int, int)> &row);

// Reads a table file's column names and, for one selected column, every row's input and output.
// The reader never throws: a file that cannot be read, or a column that cannot be read completely, is
// reported by an empty name list or a false SelectColumn.
class LutCsvReader {
public:
    // Opens the table's text each time it is read; nullptr means it cannot be opened.
    using StreamOpener = std::function<std::unique_ptr<std::istream>()>;

    // Reads the header of the file; a missing or unreadable file has no columns.
    explicit LutCsvReader(const std::string &fileName);
    // Reads the header from `open`; tests and the fuzzer hand in memory this way.
    LutCsvReader(std::string fileName, StreamOpener open);

    const std::string &GetFileName() const { return fileName_; }
    int GetColumnCount() const { return static_cast<int>(columnNames_.size()); }
    // Name i, or nullptr when i is outside 0 to GetColumnCount() - 1.
    const char *GetColumnName(int i) const;

    // Reads every row's input and the first column called `name`. False when there is no such column,
    // the text cannot be opened, a row lacks the column, a line is overlong or the rows do not fit in
    // memory; the lists then keep the complete rows read before the failure. Each call starts the lists
    // afresh, so selecting twice does not duplicate rows.
    bool SelectColumn(const char *name);

    // Number of rows read by the last SelectColumn; inputs and outputs always have this length.
    int GetCount() const { return static_cast<int>(outputs_.size()); }
    // The value of row i, or 0 when i is negative or not below GetCount().
    int GetInput(int i) const;
    int GetOutput(int i) const;

private:
    std::string fileName_;
    StreamOpener open_;
    std::vector<std::string> columnNames_;
    std::vector<int> outputs_;
    std::vector<int> inputs_;
};

} // namespace kestcam
