// lut_generator.h - the logarithmic lookup-table generator: its formula, its input check and its writer.
//
// The table maps the input range [2^lsb - 1, 2^msb - 1] logarithmically onto 0..255:
//     y = (ln(v + s) - ln(s)) / (ln(span + s) - ln(s)) * 255 + 0.5, truncated,
// with v the input clamped to the range minus its start, span the range's width, s the steepness.
#pragma once

#include <string>

namespace kestcam {

constexpr int kLutGenBitMin = 0; // LSB and MSB are bit numbers of a 16-bit sample
constexpr int kLutGenBitMax = 15;
constexpr int kLutGenSteepnessMin = 1;
constexpr int kLutGenSteepnessMax = 10;
constexpr int kLutGenInputCount = 65536; // rows of a generated file: every 16-bit input

// The table's value at x. Arguments outside the ranges the check accepts are first brought into them
// (so the arithmetic is always defined), and a range without width (lsb >= msb) is a threshold at
// 2^lsb - 1: 0 up to it, 255 above; the check refuses such inputs, this only keeps callers that skip it
// safe. The result is always 0..255.
int LutGeneratorValue(int x, int lsb, int msb, int steepness);

// True when lsb and msb lie in kLutGenBitMin..kLutGenBitMax, steepness in
// kLutGenSteepnessMin..kLutGenSteepnessMax and lsb < msb. Otherwise false, and *reason (when given)
// says which rule failed.
bool LutGeneratorInputsValid(int lsb, int msb, int steepness, std::string *reason);

// Writes the generated table: header "LN;ln", then "%4d;%4d" for every x from 0 to 65535, in text mode
// (so with the platform's line ends), replacing the file. False, with nothing written, when the inputs
// fail the check or the file cannot be opened; false, with the partial file removed, when writing fails
// part-way, so a truncated table is never left to be loaded later.
bool WriteLutGeneratorFile(const std::string &path, int lsb, int msb, int steepness);

} // namespace kestcam
