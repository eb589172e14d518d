// lut_table.h - fills a camera's 16-bit lookup table from one column of a table file.
#pragma once

#include <cstddef>
#include <cstdint>
#include <istream>
#include <string>
#include <string_view>

namespace kestcam {

// Entries of a camera's table: every 17-bit input value.
constexpr std::size_t kLutTableSize = 131072;

// Zeroes `table` (kLutTableSize entries), then for each row of the column sets table[input] to the
// output's low 16 bits; inputs outside 0 to kLutTableSize - 1 are skipped and a repeated input takes
// its last row's value. False when the file cannot be opened, has no such column, or holds a row
// without it (or an overlong line); the table is then all zeros. Rows are applied as they are read,
// so memory does not grow with the file.
bool LoadLutTable(const std::string &file, const std::string &column, uint16_t *table);

// The same from a stream positioned at the header line.
bool FillLutTable(std::istream &in, std::string_view column, uint16_t *table);

} // namespace kestcam
