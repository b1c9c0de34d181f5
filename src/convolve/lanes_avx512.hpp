// The AVX-512BW vector policy of the convolution kernels (see lanes_sse2.hpp). Only files built
// with -mavx512bw -mavx512vl include it.
#pragma once

#include <cstdint>

#if defined(__AVX512BW__)
#include <immintrin.h>

#if defined(__GNUC__) && !defined(__clang__)
// GCC 12's AVX-512 intrinsics start from a deliberately undefined register and then warn about
// it once inlined (its bug 105593), as maybe or as certainly uninitialized depending on the
// inlining; the files that include this policy hold nothing else.
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#pragma GCC diagnostic ignored "-Wuninitialized"
#endif

namespace kip::convolve::avx512 {

struct Lanes {
    using I = __m512i;
    using F = __m512;
    static constexpr int32_t k32 = 16;
    static constexpr int32_t k16 = 32;

    static I zero() { return _mm512_setzero_si512(); }
    static I set32(int32_t v) { return _mm512_set1_epi32(v); }
    static I set16(int16_t v) { return _mm512_set1_epi16(v); }
    static F setF(float v) { return _mm512_set1_ps(v); }
    static __m128i count(uint32_t n) { return _mm_cvtsi32_si128(static_cast<int32_t>(n)); }
    static I add32(I a, I b) { return _mm512_add_epi32(a, b); }
    static I sub32(I a, I b) { return _mm512_sub_epi32(a, b); }
    static I add16(I a, I b) { return _mm512_add_epi16(a, b); }
    static I mul16(I a, I b) { return _mm512_mullo_epi16(a, b); }
    static I mul32(I a, I b) { return _mm512_mullo_epi32(a, b); }
    static I bitAnd(I a, I b) { return _mm512_and_si512(a, b); }
    static I bitOr(I a, I b) { return _mm512_or_si512(a, b); }
    static I bitXor(I a, I b) { return _mm512_xor_si512(a, b); }
    static I sign32(I a) { return _mm512_srai_epi32(a, 31); }
    static I abs32(I a) { return _mm512_abs_epi32(a); }
    static I mulHigh32(I a, I m) {
        const __m512i even = _mm512_srli_epi64(_mm512_mul_epu32(a, m), 32);
        const __m512i odd = _mm512_mul_epu32(_mm512_srli_epi64(a, 32), m);
        return _mm512_mask_blend_epi32(0xAAAA, even, odd);
    }
    static I srl32(I a, __m128i n) { return _mm512_srl_epi32(a, n); }
    static F toFloat(I a) { return _mm512_cvtepi32_ps(a); }
    static I truncate(F a) { return _mm512_cvttps_epi32(a); }
    static F asFloat(I a) { return _mm512_castsi512_ps(a); }
    static I asInt(F a) { return _mm512_castps_si512(a); }
    static F mulF(F a, F b) { return _mm512_mul_ps(a, b); }
    static F addF(F a, F b) { return _mm512_add_ps(a, b); }

    static I load(const void* p) { return _mm512_loadu_si512(p); }
    static void store(void* p, I v) { _mm512_storeu_si512(p, v); }
    static I widen32(const uint8_t* p) {
        return _mm512_cvtepu8_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p)));
    }
    static I widenHalf(const uint8_t* p) {
        return _mm512_cvtepu8_epi16(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(p)));
    }
    static void widen(const uint8_t* p, I& lo, I& hi) {
        lo = widenHalf(p);
        hi = widenHalf(p + 32);
    }
    static I madd16(I a, I b) { return _mm512_madd_epi16(a, b); }

    // As the AVX2 policy's, over four 128-bit quarters: lo holds the first eight columns of each.
    static constexpr bool kBytePairs = true;
    static void maddBytePairs(const uint8_t* a, const uint8_t* b, I w, I& lo, I& hi) {
        const I x = load(a), y = load(b);
        lo = _mm512_maddubs_epi16(_mm512_unpacklo_epi8(x, y), w);
        hi = _mm512_maddubs_epi16(_mm512_unpackhi_epi8(x, y), w);
    }
    static void storeBytePairs(int16_t* out, I lo, I hi) {
        store(out, _mm512_permutex2var_epi64(lo, _mm512_setr_epi64(0, 1, 8, 9, 2, 3, 10, 11), hi));
        store(out + k16, _mm512_permutex2var_epi64(lo, _mm512_setr_epi64(4, 5, 12, 13, 6, 7, 14, 15), hi));
    }

    // Quotients lie in -255..255, so the saturating packs are exact; the permute undoes the
    // packs' per-lane order.
    static void storeConsecutive(I q0, I q1, int16_t* out) { store(out, consecutive(q0, q1)); }
    static void storeConsecutive(I q0, I q1, uint8_t* out) { storeWords(consecutive(q0, q1), out); }
    static I consecutive(I q0, I q1) {
        return _mm512_permutexvar_epi64(_mm512_setr_epi64(0, 2, 4, 6, 1, 3, 5, 7), _mm512_packs_epi32(q0, q1));
    }
    static I words(I even, I odd) {
        return _mm512_or_si512(_mm512_and_si512(even, _mm512_set1_epi32(0xFFFF)), _mm512_slli_epi32(odd, 16));
    }
    static void storeWords(I w, int16_t* out) { store(out, w); }
    // Negative quotients clamp to 0 as the narrower sets' unsigned packs do.
    static void storeWords(I w, uint8_t* out) {
        const __m256i bytes = _mm512_cvtusepi16_epi8(_mm512_max_epi16(w, _mm512_setzero_si512()));
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(out), bytes);
    }
};

}  // namespace kip::convolve::avx512

#endif
