// lut_csv_reader.cpp - lookup-table CSV parsing over streams, and LutCsvReader's thin file layer.
#include "acquisition/lut_csv_reader.h"

#include "settings/number_text.h"

#include <climits>
#include <cstring>
#include <exception>
#include <fstream>
#include <utility>

namespace kestcam {

namespace {

LutCsvReader::StreamOpener FileOpener(const std::string &fileName) {
    return [fileName]() -> std::unique_ptr<std::istream> {
        // Binary: line ends are handled by the parser the same way on every platform, and a stray
        // Ctrl-Z in a Windows text-mode read cannot end the table early.
        auto in = std::make_unique<std::ifstream>(fileName, std::ios::in | std::ios::binary);
        if (!in->is_open()) return nullptr;
        return in;
    };
}

} // namespace

int LutCsvFieldValue(std::string_view field) {
    return ParseIntPrefix(field);
}

bool LutCsvField(std::string_view line, std::size_t position, std::string_view *field) {
    const char *start = line.data();
    const char *const end = start + line.size();
    for (std::size_t k = 0; k < position; ++k) {
        const void *separator = std::memchr(start, kLutCsvSeparator, static_cast<std::size_t>(end - start));
        if (separator == nullptr) return false;
        start = static_cast<const char *>(separator) + 1;
    }
    const void *separator = std::memchr(start, kLutCsvSeparator, static_cast<std::size_t>(end - start));
    const char *stop = separator != nullptr ? static_cast<const char *>(separator) : end;
    if (separator == nullptr && start == end) return false; // nothing after the last separator: no field
    *field = std::string_view(start, static_cast<std::size_t>(stop - start));
    return true;
}

LutCsvLine LutCsvLineReader::Next(std::string_view *line) {
    constexpr std::size_t kBlock = 64 * 1024;
    for (;;) {
        const void *feed =
            scanned_ < end_ ? std::memchr(buffer_.data() + scanned_, '\n', end_ - scanned_) : nullptr;
        std::size_t length;
        if (feed != nullptr) {
            length = static_cast<std::size_t>(static_cast<const char *>(feed) - (buffer_.data() + begin_));
        } else if (atEnd_) {
            if (begin_ == end_) return LutCsvLine::kEnd;
            length = end_ - begin_;
        } else {
            // One more than the limit may be pending, so a line of exactly the limit plus its CR fits.
            if (end_ - begin_ > kLutCsvMaxLineLength + 1) return LutCsvLine::kTooLong;
            // Move the unfinished line to the front and append a block behind it.
            const std::size_t pending = end_ - begin_;
            if (begin_ > 0) std::memmove(buffer_.data(), buffer_.data() + begin_, pending);
            scanned_ = end_ = pending;
            begin_ = 0;
            if (buffer_.size() < end_ + kBlock) buffer_.resize(end_ + kBlock);
            in_.read(buffer_.data() + end_, static_cast<std::streamsize>(kBlock));
            if (in_.bad()) return LutCsvLine::kError;
            end_ += static_cast<std::size_t>(in_.gcount());
            if (in_.eof() || in_.fail()) atEnd_ = true;
            continue;
        }
        const char *text = buffer_.data() + begin_;
        begin_ = scanned_ = feed != nullptr ? begin_ + length + 1 : end_;
        if (length > 0 && text[length - 1] == '\r') --length;
        if (length > kLutCsvMaxLineLength) return LutCsvLine::kTooLong;
        *line = std::string_view(text, length);
        return LutCsvLine::kLine;
    }
}

std::vector<std::string> ReadLutCsvHeader(LutCsvLineReader &lines) {
    std::vector<std::string> names;
    std::string_view rest;
    if (lines.Next(&rest) != LutCsvLine::kLine) return names;
    const char *const end = rest.data() + rest.size();
    const void *separator = std::memchr(rest.data(), kLutCsvSeparator, rest.size());
    // The first field names the inputs and is no table; each separator starts one more name, except
    // that nothing after the last separator is no name.
    while (separator != nullptr) {
        const char *start = static_cast<const char *>(separator) + 1;
        separator = std::memchr(start, kLutCsvSeparator, static_cast<std::size_t>(end - start));
        const char *stop = separator != nullptr ? static_cast<const char *>(separator) : end;
        if (separator != nullptr || stop != start) names.emplace_back(start, stop);
    }
    return names;
}

std::size_t FindLutCsvColumn(const std::vector<std::string> &names, std::string_view name) {
    for (std::size_t i = 0; i < names.size(); ++i) {
        if (names[i] == name) return i + 1;
    }
    return 0;
}

bool ReadLutCsvRows(LutCsvLineReader &lines, std::size_t position, const std::function<bool(int, int)> &row) {
    std::string_view line;
    for (;;) {
        switch (lines.Next(&line)) {
        case LutCsvLine::kEnd:
            return true;
        case LutCsvLine::kTooLong:
        case LutCsvLine::kError:
            return false;
        case LutCsvLine::kLine:
            break;
        }
        std::string_view input;
        std::string_view output;
        if (!LutCsvField(line, 0, &input) || !LutCsvField(line, position, &output)) return false;
        if (!row(LutCsvFieldValue(input), LutCsvFieldValue(output))) return false;
    }
}

bool ReadLutCsvColumn(std::istream &in, std::string_view column, const std::function<bool(int, int)> &row) {
    LutCsvLineReader lines(in);
    const std::size_t position = FindLutCsvColumn(ReadLutCsvHeader(lines), column);
    if (position == 0) return false;
    return ReadLutCsvRows(lines, position, row);
}

LutCsvReader::LutCsvReader(const std::string &fileName) : LutCsvReader(fileName, FileOpener(fileName)) {}

LutCsvReader::LutCsvReader(std::string fileName, StreamOpener open)
    : fileName_(std::move(fileName)), open_(std::move(open)) {
    try {
        std::unique_ptr<std::istream> in = open_ ? open_() : nullptr;
        if (in) {
            LutCsvLineReader lines(*in);
            columnNames_ = ReadLutCsvHeader(lines);
        }
    } catch (const std::exception &) {
        // A header that cannot be read (or held) leaves the file without columns.
        columnNames_.clear();
    }
}

const char *LutCsvReader::GetColumnName(int i) const {
    if (i < 0 || i >= GetColumnCount()) return nullptr;
    return columnNames_[static_cast<std::size_t>(i)].c_str();
}

bool LutCsvReader::SelectColumn(const char *name) {
    inputs_.clear();
    outputs_.clear();
    if (name == nullptr) return false;
    if (FindLutCsvColumn(columnNames_, name) == 0) return false;
    try {
        std::unique_ptr<std::istream> in = open_ ? open_() : nullptr;
        if (!in) return false;
        // The header is read again with the rows, so a file changed since construction is read as it is
        // now, column position included.
        // GetCount answers in int, so a table longer than that cannot be described and is refused.
        return ReadLutCsvColumn(*in, name, [&](int input, int output) {
            if (outputs_.size() >= static_cast<std::size_t>(INT_MAX)) return false;
            // Both lists grow before either is appended to, so they stay the same length even when
            // memory runs out.
            if (inputs_.size() == inputs_.capacity()) inputs_.reserve(inputs_.size() * 2 + 1024);
            if (outputs_.size() == outputs_.capacity()) outputs_.reserve(outputs_.size() * 2 + 1024);
            inputs_.push_back(input);
            outputs_.push_back(output);
            return true;
        });
    } catch (const std::exception &) {
        // Typically bad_alloc for a table too large to hold: the file is refused like any incorrect one.
        return false;
    }
}

int LutCsvReader::GetInput(int i) const {
    if (i < 0 || static_cast<std::size_t>(i) >= inputs_.size()) return 0;
    return inputs_[static_cast<std::size_t>(i)];
}

int LutCsvReader::GetOutput(int i) const {
    if (i < 0 || static_cast<std::size_t>(i) >= outputs_.size()) return 0;
    return outputs_[static_cast<std::size_t>(i)];
}

} // namespace kestcam
