// row_conversion.h - the per-row conversions to 8 bits per sample (saturating shift, low byte, table
// look-up), each in a portable form and, where the processor offers them, in vector forms.
#pragma once

#include <cstddef>
#include <cstdint>
#include <new>
#include <vector>

namespace kestcam {

// The 16-bit to 8-bit conversion of one sample: v >> n, saturated at 255 (n of 16 or more gives 0,
// n of 0 or less shifts nothing).
uint8_t SaturatingShift(uint16_t v, int n);

// Row conversions of `count` samples: no allocation, any length, any alignment. They are what every
// delivered row costs beyond the copy out of the imaging library.
void ShiftRow8(uint8_t *row, size_t count, int shift);                               // in place, shift > 0
void ShiftRow16(const uint16_t *src, uint8_t *dst, size_t count, int shift);         // SaturatingShift each
void LowByteRow16(const uint16_t *src, uint8_t *dst, size_t count);                  // no clamping
void LutRow8(uint8_t *row, size_t count, const uint16_t *lut);                       // in place, low byte
void LutRow16(const uint16_t *src, uint8_t *dst, size_t count, const uint16_t *lut); // low byte
// A row of bytes copied as it stands (the simulated imaging library's copy of a row). On the
// processors measured, the vector forms beat the C library's copy for rows of a few kilobytes,
// which it makes with a string instruction.
void CopyRow(uint8_t *dst, const uint8_t *src, size_t bytes);
// In place through a 256-entry byte table: the form an 8-bit row takes once the low bytes of a 16-bit
// table's first 256 entries are gathered.
void TableRow8(uint8_t *row, size_t count, const uint8_t *table);

// Storage for rows that starts on a cache line. A wide load or store that straddles two lines costs
// about two, so a frame or staging row placed where the heap happens to put it (16 bytes past a
// line, typically) slows every copy and conversion of it, by up to a fifth.
constexpr size_t kRowAlignment = 64;
template <class T> struct RowAllocator {
    using value_type = T;
    RowAllocator() = default;
    template <class U> RowAllocator(const RowAllocator<U> &) {}
    T *allocate(size_t n) {
        if (n > static_cast<size_t>(-1) / sizeof(T)) throw std::bad_array_new_length();
        return static_cast<T *>(::operator new(n * sizeof(T), std::align_val_t{kRowAlignment}));
    }
    void deallocate(T *p, size_t) { ::operator delete(p, std::align_val_t{kRowAlignment}); }
    friend bool operator==(const RowAllocator &, const RowAllocator &) { return true; }
    friend bool operator!=(const RowAllocator &, const RowAllocator &) { return false; }
};
template <class T> using RowVector = std::vector<T, RowAllocator<T>>;

// One complete set of the kernels behind the functions above. The shift kernels take shifts of
// 1..7 (8-bit) and 0..15 (16-bit); the public functions deal with the rest.
struct RowKernels {
    const char *name;
    void (*shift8)(uint8_t *row, size_t count, unsigned shift);
    void (*shift16)(const uint16_t *src, uint8_t *dst, size_t count, unsigned shift);
    void (*lowByte16)(const uint16_t *src, uint8_t *dst, size_t count);
    void (*table8)(uint8_t *row, size_t count, const uint8_t *table);
    void (*copy)(uint8_t *dst, const uint8_t *src, size_t bytes); // source and destination apart
};

// Every kernel set this processor can run, the portable one first and the one in use last; tests
// check each against the one-sample rules.
std::vector<RowKernels> UsableRowKernels();

} // namespace kestcam
