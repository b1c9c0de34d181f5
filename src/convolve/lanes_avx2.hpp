// The AVX2 vector policy of the convolution kernels (see lanes_sse2.hpp). Only files built with
// -mavx2 include it.
#pragma once

#include <cstdint>

#if defined(__AVX2__)
#include <immintrin.h>

namespace kip::convolve::avx2 {

struct Lanes {
    using I = __m256i;
    using F = __m256;
    static constexpr int32_t k32 = 8;
    static constexpr int32_t k16 = 16;

    static I zero() { return _mm256_setzero_si256(); }
    static I set32(int32_t v) { return _mm256_set1_epi32(v); }
    static I set16(int16_t v) { return _mm256_set1_epi16(v); }
    static F setF(float v) { return _mm256_set1_ps(v); }
    static __m128i count(uint32_t n) { return _mm_cvtsi32_si128(static_cast<int32_t>(n)); }
    static I add32(I a, I b) { return _mm256_add_epi32(a, b); }
    static I sub32(I a, I b) { return _mm256_sub_epi32(a, b); }
    static I add16(I a, I b) { return _mm256_add_epi16(a, b); }
    static I mul16(I a, I b) { return _mm256_mullo_epi16(a, b); }
    static I mul32(I a, I b) { return _mm256_mullo_epi32(a, b); }
    static I bitAnd(I a, I b) { return _mm256_and_si256(a, b); }
    static I bitOr(I a, I b) { return _mm256_or_si256(a, b); }
    static I bitXor(I a, I b) { return _mm256_xor_si256(a, b); }
    static I sign32(I a) { return _mm256_srai_epi32(a, 31); }
    static I abs32(I a) { return _mm256_abs_epi32(a); }
    static I mulHigh32(I a, I m) {
        const __m256i even = _mm256_srli_epi64(_mm256_mul_epu32(a, m), 32);
        const __m256i odd = _mm256_mul_epu32(_mm256_srli_epi64(a, 32), m);
        return _mm256_blend_epi32(even, odd, 0xAA);
    }
    static I srl32(I a, __m128i n) { return _mm256_srl_epi32(a, n); }
    static F toFloat(I a) { return _mm256_cvtepi32_ps(a); }
    static I truncate(F a) { return _mm256_cvttps_epi32(a); }
    static F asFloat(I a) { return _mm256_castsi256_ps(a); }
    static I asInt(F a) { return _mm256_castps_si256(a); }
    static F mulF(F a, F b) { return _mm256_mul_ps(a, b); }
    static F addF(F a, F b) { return _mm256_add_ps(a, b); }

    static I load(const void* p) { return _mm256_loadu_si256(static_cast<const __m256i*>(p)); }
    static void store(void* p, I v) { _mm256_storeu_si256(static_cast<__m256i*>(p), v); }
    static I widen32(const uint8_t* p) {
        return _mm256_cvtepu8_epi32(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(p)));
    }
    static I widenHalf(const uint8_t* p) {
        return _mm256_cvtepu8_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p)));
    }
    static void widen(const uint8_t* p, I& lo, I& hi) {
        lo = widenHalf(p);
        hi = widenHalf(p + 16);
    }
    static I madd16(I a, I b) { return _mm256_madd_epi16(a, b); }

    // Columns of rows a and b side by side, times the signed byte pair w, summed to int16: columns
    // 0-7 and 16-23 in lo, 8-15 and 24-31 in hi (the unpacks stay within 128-bit halves).
    static constexpr bool kBytePairs = true;
    static void maddBytePairs(const uint8_t* a, const uint8_t* b, I w, I& lo, I& hi) {
        const I x = load(a), y = load(b);
        lo = _mm256_maddubs_epi16(_mm256_unpacklo_epi8(x, y), w);
        hi = _mm256_maddubs_epi16(_mm256_unpackhi_epi8(x, y), w);
    }
    static void storeBytePairs(int16_t* out, I lo, I hi) {
        store(out, _mm256_permute2x128_si256(lo, hi, 0x20));
        store(out + k16, _mm256_permute2x128_si256(lo, hi, 0x31));
    }

    // Quotients lie in -255..255, so the saturating packs are exact (below 0 clamps for 8 bits);
    // the permute undoes the packs' per-lane order.
    static void storeConsecutive(I q0, I q1, int16_t* out) { store(out, consecutive(q0, q1)); }
    static void storeConsecutive(I q0, I q1, uint8_t* out) { storeWords(consecutive(q0, q1), out); }
    static I consecutive(I q0, I q1) { return _mm256_permute4x64_epi64(_mm256_packs_epi32(q0, q1), 0xD8); }
    static I words(I even, I odd) {
        return _mm256_or_si256(_mm256_and_si256(even, _mm256_set1_epi32(0xFFFF)), _mm256_slli_epi32(odd, 16));
    }
    static void storeWords(I w, int16_t* out) { store(out, w); }
    static void storeWords(I w, uint8_t* out) {
        const __m128i bytes = _mm_packus_epi16(_mm256_castsi256_si128(w), _mm256_extracti128_si256(w, 1));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out), bytes);
    }
};

}  // namespace kip::convolve::avx2

#endif
