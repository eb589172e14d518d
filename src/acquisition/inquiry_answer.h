// inquiry_answer.h - an imaging-library inquiry answered into the host's 32-bit int only when the
// answer fits one. The library writes as many bytes as the inquiry type has (4 for an integer, 8 for
// a double or a 64-bit value, more for a text); the caller inquires twice into a scratch area, once
// filled with 0x00 and once with 0xFF, and the bytes alike in both are the ones the library wrote.
#pragma once

#include <cstddef>
#include <cstdint>

namespace kestcam {

// Scratch room for one answer: far more than any numeric inquiry writes.
constexpr size_t kInquiryScratchSize = 4096;

// The answer as an int, from the two scratch areas of `size` bytes and the call's return value
// (used when nothing was written). Up to 4 bytes written: their little-endian value. 5 to 8 bytes:
// the 64-bit value, when it lies in int's range. False for anything wider or out of range.
bool InquiryAnswerAsInt(const uint8_t *zeroFilled, const uint8_t *oneFilled, size_t size, int32_t returned,
                        int &value);

} // namespace kestcam
