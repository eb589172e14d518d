// row_conversion.cpp - the row conversions: portable loops, SSE2, AVX2 and AVX-512 forms, and the
// choice among them, made once from what the processor offers.
#include "acquisition/row_conversion.h"

#include <algorithm>
#include <cstring>

#include "acquisition/wide_vectors.h"

#if defined(__GNUC__) && (defined(__x86_64__) || defined(__i386__))
#define KC_ROW_X86 1
#include <immintrin.h>
#endif

#if defined(__GNUC__) || defined(__clang__)
#define KC_RESTRICT __restrict__
#else
#define KC_RESTRICT
#endif

namespace kestcam {

uint8_t SaturatingShift(uint16_t v, int n) {
    if (n >= 16) return 0;
    const unsigned shifted = n > 0 ? static_cast<unsigned>(v) >> n : v;
    return static_cast<uint8_t>(shifted < 255u ? shifted : 255u);
}

namespace {

// ---------------------------------------------------------------------------------------------
// Portable forms: the reference every other form is held to, and the tails of the vector forms.

void Shift8Portable(uint8_t *KC_RESTRICT row, size_t count, unsigned shift) {
    for (size_t i = 0; i < count; ++i)
        row[i] = static_cast<uint8_t>(row[i] >> shift);
}

void Shift16Portable(const uint16_t *KC_RESTRICT src, uint8_t *KC_RESTRICT dst, size_t count, unsigned shift) {
    for (size_t i = 0; i < count; ++i) {
        const unsigned v = static_cast<unsigned>(src[i]) >> shift;
        dst[i] = static_cast<uint8_t>(v < 255u ? v : 255u);
    }
}

void LowByte16Portable(const uint16_t *KC_RESTRICT src, uint8_t *KC_RESTRICT dst, size_t count) {
    for (size_t i = 0; i < count; ++i)
        dst[i] = static_cast<uint8_t>(src[i]);
}

// Eight look-ups per round with the results gathered in registers: the loads of one round do not
// wait for the stores of the last, which an in-place loop of single bytes would make them do.
void Table8Portable(uint8_t *KC_RESTRICT row, size_t count, const uint8_t *KC_RESTRICT table) {
    size_t i = 0;
    for (; i + 8 <= count; i += 8) {
        uint8_t out[8];
        for (size_t j = 0; j < 8; ++j)
            out[j] = table[row[i + j]];
        std::copy(out, out + 8, row + i);
    }
    for (; i < count; ++i)
        row[i] = table[row[i]];
}

void CopyPortable(uint8_t *KC_RESTRICT dst, const uint8_t *KC_RESTRICT src, size_t bytes) {
    std::memcpy(dst, src, bytes);
}

constexpr RowKernels kPortable = {"portable",        Shift8Portable, Shift16Portable,
                                  LowByte16Portable, Table8Portable, CopyPortable};

#if defined(KC_ROW_X86)

// ---------------------------------------------------------------------------------------------
// SSE2: every x86-64 processor, and every processor the 32-bit driver meets in practice (checked at
// run time there). 16 samples per step; the tails take the portable path.

__attribute__((target("sse2"))) void Shift8Sse2(uint8_t *row, size_t count, unsigned shift) {
    const __m128i bits = _mm_cvtsi32_si128(static_cast<int>(shift));
    // Shifting 16-bit lanes moves bits of the upper byte into the lower one; the mask drops them.
    const __m128i keep = _mm_set1_epi8(static_cast<char>(0xFFu >> shift));
    size_t i = 0;
    for (; i + 16 <= count; i += 16) {
        __m128i *p = reinterpret_cast<__m128i *>(row + i);
        _mm_storeu_si128(p, _mm_and_si128(_mm_srl_epi16(_mm_loadu_si128(p), bits), keep));
    }
    Shift8Portable(row + i, count - i, shift);
}

__attribute__((target("sse2"))) void Shift16Sse2(const uint16_t *src, uint8_t *dst, size_t count, unsigned shift) {
    const __m128i bits = _mm_cvtsi32_si128(static_cast<int>(shift));
    size_t i = 0;
    if (shift > 0) {
        // After a shift of at least one bit every value fits a signed 16-bit lane, so the signed
        // saturating pack is the clamp at 255.
        for (; i + 16 <= count; i += 16) {
            const __m128i a = _mm_srl_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i *>(src + i)), bits);
            const __m128i b = _mm_srl_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i *>(src + i + 8)), bits);
            _mm_storeu_si128(reinterpret_cast<__m128i *>(dst + i), _mm_packus_epi16(a, b));
        }
    } else {
        // Unshifted values may have the top bit set: clamp first, min(v, 255) = v - (v -sat 255).
        const __m128i top = _mm_set1_epi16(255);
        for (; i + 16 <= count; i += 16) {
            __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i *>(src + i));
            __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i *>(src + i + 8));
            a = _mm_sub_epi16(a, _mm_subs_epu16(a, top));
            b = _mm_sub_epi16(b, _mm_subs_epu16(b, top));
            _mm_storeu_si128(reinterpret_cast<__m128i *>(dst + i), _mm_packus_epi16(a, b));
        }
    }
    Shift16Portable(src + i, dst + i, count - i, shift);
}

__attribute__((target("sse2"))) void LowByte16Sse2(const uint16_t *src, uint8_t *dst, size_t count) {
    const __m128i low = _mm_set1_epi16(0x00FF);
    size_t i = 0;
    for (; i + 16 <= count; i += 16) {
        const __m128i a = _mm_and_si128(_mm_loadu_si128(reinterpret_cast<const __m128i *>(src + i)), low);
        const __m128i b = _mm_and_si128(_mm_loadu_si128(reinterpret_cast<const __m128i *>(src + i + 8)), low);
        _mm_storeu_si128(reinterpret_cast<__m128i *>(dst + i), _mm_packus_epi16(a, b));
    }
    LowByte16Portable(src + i, dst + i, count - i);
}

constexpr RowKernels kSse2 = {"sse2", Shift8Sse2, Shift16Sse2, LowByte16Sse2, Table8Portable, CopyPortable};

// ---------------------------------------------------------------------------------------------
// AVX2: 32 samples per step. The 256-bit pack works within 128-bit halves, so its result leaves
// in the order 0-7, 16-23, 8-15, 24-31 and one cross-lane permutation puts it right. The upper
// register halves are cleared before the tail runs in the 16-byte form: SSE instructions after
// dirty upper halves pay a state transition on many processors, and the compiler leaves the
// clearing out before a tail call.

__attribute__((target("avx2"))) void Shift8Avx2(uint8_t *row, size_t count, unsigned shift) {
    const __m128i bits = _mm_cvtsi32_si128(static_cast<int>(shift));
    const __m256i keep = _mm256_set1_epi8(static_cast<char>(0xFFu >> shift));
    size_t i = 0;
    for (; i + 32 <= count; i += 32) {
        __m256i *p = reinterpret_cast<__m256i *>(row + i);
        _mm256_storeu_si256(p, _mm256_and_si256(_mm256_srl_epi16(_mm256_loadu_si256(p), bits), keep));
    }
    _mm256_zeroupper();
    Shift8Sse2(row + i, count - i, shift);
}

// As in the SSE2 form, the signed saturating pack is the clamp after a shift of at least one bit;
// unshifted values, which may have the top bit set, are clamped to 255 first.
template <bool kClampFirst>
__attribute__((target("avx2"))) inline size_t Shift16Avx2Loop(const uint16_t *src, uint8_t *dst, size_t count,
                                                                 __m128i bits) {
    const __m256i top = _mm256_set1_epi16(255);
    size_t i = 0;
    for (; i + 32 <= count; i += 32) {
        __m256i a = _mm256_srl_epi16(_mm256_loadu_si256(reinterpret_cast<const __m256i *>(src + i)), bits);
        __m256i b = _mm256_srl_epi16(_mm256_loadu_si256(reinterpret_cast<const __m256i *>(src + i + 16)), bits);
        if (kClampFirst) {
            a = _mm256_min_epu16(a, top);
            b = _mm256_min_epu16(b, top);
        }
        const __m256i packed = _mm256_permute4x64_epi64(_mm256_packus_epi16(a, b), 0xD8);
        _mm256_storeu_si256(reinterpret_cast<__m256i *>(dst + i), packed);
    }
    return i;
}

__attribute__((target("avx2"))) void Shift16Avx2(const uint16_t *src, uint8_t *dst, size_t count, unsigned shift) {
    const __m128i bits = _mm_cvtsi32_si128(static_cast<int>(shift));
    const size_t i = shift > 0 ? Shift16Avx2Loop<false>(src, dst, count, bits)
                               : Shift16Avx2Loop<true>(src, dst, count, bits);
    _mm256_zeroupper();
    Shift16Sse2(src + i, dst + i, count - i, shift);
}

__attribute__((target("avx2"))) void LowByte16Avx2(const uint16_t *src, uint8_t *dst, size_t count) {
    const __m256i low = _mm256_set1_epi16(0x00FF);
    size_t i = 0;
    for (; i + 32 <= count; i += 32) {
        const __m256i a = _mm256_and_si256(_mm256_loadu_si256(reinterpret_cast<const __m256i *>(src + i)), low);
        const __m256i b =
            _mm256_and_si256(_mm256_loadu_si256(reinterpret_cast<const __m256i *>(src + i + 16)), low);
        const __m256i packed = _mm256_permute4x64_epi64(_mm256_packus_epi16(a, b), 0xD8);
        _mm256_storeu_si256(reinterpret_cast<__m256i *>(dst + i), packed);
    }
    _mm256_zeroupper();
    LowByte16Sse2(src + i, dst + i, count - i);
}

// Four vectors a step, and the row's last four vectors once more for the tail: stores that overlap
// bytes already written cost less than a loop over the rest.
__attribute__((target("avx2"))) inline void CopyStepAvx2(uint8_t *dst, const uint8_t *src) {
    const __m256i *from = reinterpret_cast<const __m256i *>(src);
    __m256i *to = reinterpret_cast<__m256i *>(dst);
    const __m256i a = _mm256_loadu_si256(from), b = _mm256_loadu_si256(from + 1);
    const __m256i c = _mm256_loadu_si256(from + 2), d = _mm256_loadu_si256(from + 3);
    _mm256_storeu_si256(to, a);
    _mm256_storeu_si256(to + 1, b);
    _mm256_storeu_si256(to + 2, c);
    _mm256_storeu_si256(to + 3, d);
}

__attribute__((target("avx2"))) void CopyAvx2(uint8_t *KC_RESTRICT dst, const uint8_t *KC_RESTRICT src,
                                              size_t bytes) {
    constexpr size_t kStep = 4 * sizeof(__m256i);
    if (bytes < kStep) {
        std::memcpy(dst, src, bytes);
        return;
    }
    for (size_t i = 0; i + kStep <= bytes; i += kStep)
        CopyStepAvx2(dst + i, src + i);
    if (bytes % kStep != 0) CopyStepAvx2(dst + bytes - kStep, src + bytes - kStep);
    _mm256_zeroupper();
}

constexpr RowKernels kAvx2 = {"avx2", Shift8Avx2, Shift16Avx2, LowByte16Avx2, Table8Portable, CopyAvx2};

// ---------------------------------------------------------------------------------------------
// AVX-512: 64 samples per step. The pack works within 128-bit quarters, as in the AVX2 form, and
// one permutation of 64-bit pieces restores the order. The table look-up uses byte permutations:
// the whole 256-entry table sits in four registers, and one two-register permutation looks up 64
// samples in each half of it. Tails go to the AVX2 forms, or for the table to a masked step, so no
// byte outside the row is read or written.

#define KC_AVX512 __attribute__((target("avx512f,avx512bw,avx512vbmi")))

KC_AVX512 inline __m512i PackInOrder(__m512i a, __m512i b) {
    return _mm512_maskz_permutexvar_epi64(0xFF, _mm512_set_epi64(7, 5, 3, 1, 6, 4, 2, 0),
                                          _mm512_packus_epi16(a, b));
}

KC_AVX512 void Shift8Avx512(uint8_t *row, size_t count, unsigned shift) {
    const __m128i bits = _mm_cvtsi32_si128(static_cast<int>(shift));
    const __m512i keep = _mm512_set1_epi8(static_cast<char>(0xFFu >> shift));
    size_t i = 0;
    for (; i + 64 <= count; i += 64) {
        const __m512i x = _mm512_loadu_si512(row + i);
        _mm512_storeu_si512(row + i, _mm512_and_si512(_mm512_srl_epi16(x, bits), keep));
    }
    Shift8Avx2(row + i, count - i, shift);
}

template <bool kClampFirst>
KC_AVX512 inline size_t Shift16Avx512Loop(const uint16_t *src, uint8_t *dst, size_t count, __m128i bits) {
    const __m512i top = _mm512_set1_epi16(255);
    size_t i = 0;
    for (; i + 64 <= count; i += 64) {
        __m512i a = _mm512_srl_epi16(_mm512_loadu_si512(src + i), bits);
        __m512i b = _mm512_srl_epi16(_mm512_loadu_si512(src + i + 32), bits);
        if (kClampFirst) {
            a = _mm512_min_epu16(a, top);
            b = _mm512_min_epu16(b, top);
        }
        _mm512_storeu_si512(dst + i, PackInOrder(a, b));
    }
    return i;
}

// The clamp as in the AVX2 form; the staging row is converted from the first level of cache, where
// the vector arithmetic, not memory, sets the pace.
KC_AVX512 void Shift16Avx512(const uint16_t *src, uint8_t *dst, size_t count, unsigned shift) {
    const __m128i bits = _mm_cvtsi32_si128(static_cast<int>(shift));
    const size_t i = shift > 0 ? Shift16Avx512Loop<false>(src, dst, count, bits)
                               : Shift16Avx512Loop<true>(src, dst, count, bits);
    Shift16Avx2(src + i, dst + i, count - i, shift);
}

KC_AVX512 void LowByte16Avx512(const uint16_t *src, uint8_t *dst, size_t count) {
    const __m512i low = _mm512_set1_epi16(0x00FF);
    size_t i = 0;
    for (; i + 64 <= count; i += 64) {
        const __m512i a = _mm512_and_si512(_mm512_loadu_si512(src + i), low);
        const __m512i b = _mm512_and_si512(_mm512_loadu_si512(src + i + 32), low);
        _mm512_storeu_si512(dst + i, PackInOrder(a, b));
    }
    LowByte16Avx2(src + i, dst + i, count - i);
}

KC_AVX512 inline __m512i Lookup64(__m512i x, __m512i t0, __m512i t1, __m512i t2, __m512i t3) {
    const __m512i low = _mm512_permutex2var_epi8(t0, x, t1);  // entries 0..127, by the low 7 bits
    const __m512i high = _mm512_permutex2var_epi8(t2, x, t3); // entries 128..255
    return _mm512_mask_blend_epi8(_mm512_movepi8_mask(x), low, high);
}

KC_AVX512 void Table8Avx512(uint8_t *row, size_t count, const uint8_t *table) {
    const __m512i t0 = _mm512_loadu_si512(table);
    const __m512i t1 = _mm512_loadu_si512(table + 64);
    const __m512i t2 = _mm512_loadu_si512(table + 128);
    const __m512i t3 = _mm512_loadu_si512(table + 192);
    size_t i = 0;
    for (; i + 64 <= count; i += 64) {
        const __m512i x = _mm512_loadu_si512(row + i);
        _mm512_storeu_si512(row + i, Lookup64(x, t0, t1, t2, t3));
    }
    if (i < count) {
        const __mmask64 rest = ~__mmask64{0} >> (64 - (count - i));
        const __m512i x = _mm512_maskz_loadu_epi8(rest, row + i);
        _mm512_mask_storeu_epi8(row + i, rest, Lookup64(x, t0, t1, t2, t3));
    }
}

// As the AVX2 form, with vectors twice as wide; shorter rows go to it.
KC_AVX512 inline void CopyStepAvx512(uint8_t *dst, const uint8_t *src) {
    const __m512i a = _mm512_loadu_si512(src), b = _mm512_loadu_si512(src + 64);
    const __m512i c = _mm512_loadu_si512(src + 128), d = _mm512_loadu_si512(src + 192);
    _mm512_storeu_si512(dst, a);
    _mm512_storeu_si512(dst + 64, b);
    _mm512_storeu_si512(dst + 128, c);
    _mm512_storeu_si512(dst + 192, d);
}

KC_AVX512 void CopyAvx512(uint8_t *KC_RESTRICT dst, const uint8_t *KC_RESTRICT src, size_t bytes) {
    constexpr size_t kStep = 4 * sizeof(__m512i);
    if (bytes < kStep) {
        CopyAvx2(dst, src, bytes);
        return;
    }
    for (size_t i = 0; i + kStep <= bytes; i += kStep)
        CopyStepAvx512(dst + i, src + i);
    if (bytes % kStep != 0) CopyStepAvx512(dst + bytes - kStep, src + bytes - kStep);
    _mm256_zeroupper();
}

constexpr RowKernels kAvx512 = {"avx512vbmi",    Shift8Avx512, Shift16Avx512,
                                LowByte16Avx512, Table8Avx512, CopyAvx512};

#undef KC_AVX512

#endif // KC_ROW_X86

std::vector<RowKernels> DetectRowKernels() {
    std::vector<RowKernels> usable{kPortable};
#if defined(KC_ROW_X86)
    __builtin_cpu_init();
    if (!__builtin_cpu_supports("sse2")) return usable;
    usable.push_back(kSse2);
    if (!WideVectorsAllowed()) return usable;
    if (__builtin_cpu_supports("avx2")) usable.push_back(kAvx2);
    if (__builtin_cpu_supports("avx2") && __builtin_cpu_supports("avx512f") &&
        __builtin_cpu_supports("avx512bw") && __builtin_cpu_supports("avx512vbmi"))
        usable.push_back(kAvx512);
#endif
    return usable;
}

// The set in use, chosen on first use; every later call is one load of a pointer.
const RowKernels &Kernels() {
    static const RowKernels chosen = DetectRowKernels().back();
    return chosen;
}

} // namespace

std::vector<RowKernels> UsableRowKernels() {
    return DetectRowKernels();
}

void ShiftRow8(uint8_t *row, size_t count, int shift) {
    // An 8-bit sample shifted right never exceeds 255: no saturation needed.
    if (shift <= 0) return;
    if (shift >= 8) {
        std::fill(row, row + count, uint8_t{0});
        return;
    }
    Kernels().shift8(row, count, static_cast<unsigned>(shift));
}

void ShiftRow16(const uint16_t *src, uint8_t *dst, size_t count, int shift) {
    if (shift >= 16) {
        std::fill(dst, dst + count, uint8_t{0});
        return;
    }
    Kernels().shift16(src, dst, count, shift > 0 ? static_cast<unsigned>(shift) : 0u);
}

void LowByteRow16(const uint16_t *src, uint8_t *dst, size_t count) {
    Kernels().lowByte16(src, dst, count);
}

void TableRow8(uint8_t *row, size_t count, const uint8_t *table) {
    Kernels().table8(row, count, table);
}

void CopyRow(uint8_t *dst, const uint8_t *src, size_t bytes) {
    Kernels().copy(dst, src, bytes);
}

void LutRow8(uint8_t *row, size_t count, const uint16_t *lut) {
    // Gathering the byte table is a fixed cost that a row shorter than the table does not repay.
    if (count < 256) {
        for (size_t i = 0; i < count; ++i)
            row[i] = static_cast<uint8_t>(lut[row[i]]);
        return;
    }
    uint8_t table[256];
    LowByteRow16(lut, table, 256);
    TableRow8(row, count, table);
}

// A 16-bit table has 65536 reachable entries: a gather from memory. Vector gathers, and a byte copy
// of the low bytes, measured no faster than this loop.
void LutRow16(const uint16_t *KC_RESTRICT src, uint8_t *KC_RESTRICT dst, size_t count,
              const uint16_t *KC_RESTRICT lut) {
    for (size_t i = 0; i < count; ++i)
        dst[i] = static_cast<uint8_t>(lut[src[i]]);
}

} // namespace kestcam
