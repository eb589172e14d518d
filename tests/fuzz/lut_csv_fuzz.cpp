// lut_csv_fuzz.cpp - libFuzzer harness for the lookup-table file parser, fed from memory.
//
// Build with clang: clang++ -std=c++17 -g -O1 -fsanitize=fuzzer,address,undefined -I src
//   tests/fuzz/lut_csv_fuzz.cpp src/acquisition/lut_csv_reader.cpp src/acquisition/lut_table.cpp
// Besides memory errors it traps on any disagreement between the reader's lists and the table filled
// while streaming, which read the same text through the same core.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "acquisition/lut_csv_reader.h"
#include "acquisition/lut_table.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    using namespace kestcam;
    const std::string text(reinterpret_cast<const char *>(data), size);
    LutCsvReader reader("fuzz", [&text]() { return std::make_unique<std::istringstream>(text); });

    static std::vector<uint16_t> table(kLutTableSize);
    static std::vector<uint16_t> expected(kLutTableSize);
    // Every column would make the run quadratic in the header's size; a few exercise every path.
    for (int c = 0; c < reader.GetColumnCount() && c < 3; ++c) {
        const std::string name = reader.GetColumnName(c);
        const bool selected = reader.SelectColumn(name.c_str());
        std::istringstream in(text);
        if (FillLutTable(in, name, table.data()) != selected) std::abort();
        expected.assign(kLutTableSize, 0);
        if (selected) {
            for (int i = 0; i < reader.GetCount(); ++i) {
                const int x = reader.GetInput(i);
                if (x >= 0 && x < static_cast<int>(kLutTableSize))
                    expected[static_cast<std::size_t>(x)] = static_cast<uint16_t>(reader.GetOutput(i));
            }
        }
        if (table != expected) std::abort();
    }
    if (reader.GetColumnName(reader.GetColumnCount()) != nullptr) std::abort();
    if (reader.GetInput(reader.GetCount()) != 0 || reader.GetOutput(-1) != 0) std::abort();

    // Each line also as a field list, the way rows are read.
    std::istringstream in(text);
    LutCsvLineReader lines(in);
    std::string_view line;
    while (lines.Next(&line) == LutCsvLine::kLine) {
        std::string_view field;
        for (std::size_t position = 0; position < 4 && LutCsvField(line, position, &field); ++position) {
            (void)LutCsvFieldValue(field);
        }
    }
    return 0;
}
