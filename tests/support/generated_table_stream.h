// generated_table_stream.h - a table file of any length produced on the fly, so very long tables can be
// read without holding their text in memory or on disk.
#pragma once

#include <cstddef>
#include <istream>
#include <streambuf>
#include <string>
#include <vector>

namespace kestcam::test {

// Serves the header "x;a" and then `rows` rows; row i reads "i % period;i / period" (the output as
// three digits, zero-padded). One period of rows is rendered once and replayed with only the pass
// number rewritten, so tens of millions of rows cost little more than their parsing.
class GeneratedTableBuf : public std::streambuf {
public:
    GeneratedTableBuf(long rows, long period) : rows_(rows), period_(period) {
        for (long x = 0; x < period_; ++x) {
            block_ += std::to_string(x);
            block_ += ';';
            passOffsets_.push_back(block_.size());
            block_ += "000\n";
            lineEnds_.push_back(block_.size());
        }
        header_ = "x;a\n";
        setg(&header_[0], &header_[0], &header_[0] + header_.size());
    }

protected:
    int_type underflow() override {
        if (gptr() < egptr()) return traits_type::to_int_type(*gptr());
        if (served_ >= rows_) return traits_type::eof();
        const long pass = served_ / period_;
        for (std::size_t offset : passOffsets_) {
            block_[offset] = static_cast<char>('0' + pass / 100 % 10);
            block_[offset + 1] = static_cast<char>('0' + pass / 10 % 10);
            block_[offset + 2] = static_cast<char>('0' + pass % 10);
        }
        const long count = rows_ - served_ < period_ ? rows_ - served_ : period_;
        served_ += count;
        char *begin = &block_[0];
        setg(begin, begin, begin + lineEnds_[static_cast<std::size_t>(count - 1)]);
        return traits_type::to_int_type(*gptr());
    }

private:
    long rows_;
    long period_;
    long served_ = 0;
    std::string header_;
    std::string block_;
    std::vector<std::size_t> passOffsets_;
    std::vector<std::size_t> lineEnds_;
};

class GeneratedTableStream : public std::istream {
public:
    GeneratedTableStream(long rows, long period) : std::istream(nullptr), buf_(rows, period) { rdbuf(&buf_); }

private:
    GeneratedTableBuf buf_;
};

} // namespace kestcam::test
