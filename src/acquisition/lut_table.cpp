// lut_table.cpp - a table file's column streamed into a camera's lookup table.
#include "acquisition/lut_table.h"

#include <cstring>
#include <exception>
#include <fstream>

#include "acquisition/lut_csv_reader.h"

namespace kestcam {

namespace {

void ClearTable(uint16_t *table) {
    std::memset(table, 0, kLutTableSize * sizeof *table);
}

} // namespace

bool FillLutTable(std::istream &in, std::string_view column, uint16_t *table) {
    ClearTable(table);
    bool complete = false;
    try {
        complete = ReadLutCsvColumn(in, column, [table](int input, int output) {
            if (input >= 0 && static_cast<std::size_t>(input) < kLutTableSize) {
                table[input] = static_cast<uint16_t>(static_cast<unsigned>(output) & 0xFFFFu);
            }
            return true;
        });
    } catch (const std::exception &) {
        complete = false;
    }
    // A table that was not read completely is not used; leave no part of it behind.
    if (!complete) ClearTable(table);
    return complete;
}

bool LoadLutTable(const std::string &file, const std::string &column, uint16_t *table) {
    // Binary: the parser handles LF and CR LF alike on every platform.
    std::ifstream in(file, std::ios::in | std::ios::binary);
    if (!in.is_open()) {
        ClearTable(table);
        return false;
    }
    return FillLutTable(in, column, table);
}

} // namespace kestcam
