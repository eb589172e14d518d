// inquiry_answer.cpp - the width of an inquiry's answer, told from two differently filled areas.
#include "acquisition/inquiry_answer.h"

#include <climits>

namespace kestcam {

bool InquiryAnswerAsInt(const uint8_t *zeroFilled, const uint8_t *oneFilled, size_t size, int32_t returned,
                        int &value) {
    size_t written = 0;
    while (written < size && zeroFilled[written] == oneFilled[written])
        ++written;
    if (written == 0) {
        value = returned;
        return true;
    }
    if (written > 8) return false;
    // Bytes past the written ones are zero in the first area, so both widths read as zero-extended.
    uint64_t bits = 0;
    for (size_t i = 0; i < 8 && i < size; ++i)
        bits |= uint64_t{zeroFilled[i]} << (8 * i);
    if (written <= 4) {
        value = static_cast<int32_t>(static_cast<uint32_t>(bits));
        return true;
    }
    const int64_t wide = static_cast<int64_t>(bits);
    if (wide < INT_MIN || wide > INT_MAX) return false;
    value = static_cast<int>(wide);
    return true;
}

} // namespace kestcam
