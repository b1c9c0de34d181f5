// The SSE2 vector policy of the convolution kernels (divide_kernels.hpp, separable_kernels.hpp,
// the box and fast drivers). Only files built with -msse2 include it.
#pragma once

#include <cstdint>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>

namespace kip::convolve::sse2 {

struct Lanes {
    using I = __m128i;
    using F = __m128;
    static constexpr int32_t k32 = 4;  // 32-bit lanes
    static constexpr int32_t k16 = 8;  // 16-bit lanes

    static I zero() { return _mm_setzero_si128(); }
    static I set32(int32_t v) { return _mm_set1_epi32(v); }
    static I set16(int16_t v) { return _mm_set1_epi16(v); }
    static F setF(float v) { return _mm_set1_ps(v); }
    static __m128i count(uint32_t n) { return _mm_cvtsi32_si128(static_cast<int32_t>(n)); }
    static I add32(I a, I b) { return _mm_add_epi32(a, b); }
    static I sub32(I a, I b) { return _mm_sub_epi32(a, b); }
    static I add16(I a, I b) { return _mm_add_epi16(a, b); }
    static I mul16(I a, I b) { return _mm_mullo_epi16(a, b); }
    // The low halves of the 64-bit products of the even and of the odd lanes, put back in order.
    static I mul32(I a, I b) {
        const __m128i even = _mm_mul_epu32(a, b);
        const __m128i odd = _mm_mul_epu32(_mm_srli_epi64(a, 32), _mm_srli_epi64(b, 32));
        return _mm_unpacklo_epi32(_mm_shuffle_epi32(even, 0x08), _mm_shuffle_epi32(odd, 0x08));
    }
    static I bitAnd(I a, I b) { return _mm_and_si128(a, b); }
    static I bitOr(I a, I b) { return _mm_or_si128(a, b); }
    static I bitXor(I a, I b) { return _mm_xor_si128(a, b); }
    static I sign32(I a) { return _mm_srai_epi32(a, 31); }
    static I abs32(I a) { return _mm_sub_epi32(_mm_xor_si128(a, sign32(a)), sign32(a)); }
    // The high 32 bits of each unsigned 64-bit product a * m.
    static I mulHigh32(I a, I m) {
        const __m128i even = _mm_srli_epi64(_mm_mul_epu32(a, m), 32);
        const __m128i odd = _mm_mul_epu32(_mm_srli_epi64(a, 32), m);
        return _mm_or_si128(even, _mm_and_si128(odd, _mm_set_epi32(-1, 0, -1, 0)));
    }
    static I srl32(I a, __m128i n) { return _mm_srl_epi32(a, n); }
    static F toFloat(I a) { return _mm_cvtepi32_ps(a); }
    static I truncate(F a) { return _mm_cvttps_epi32(a); }
    static F asFloat(I a) { return _mm_castsi128_ps(a); }
    static I asInt(F a) { return _mm_castps_si128(a); }
    static F mulF(F a, F b) { return _mm_mul_ps(a, b); }
    static F addF(F a, F b) { return _mm_add_ps(a, b); }

    static I load(const void* p) { return _mm_loadu_si128(static_cast<const __m128i*>(p)); }
    static void store(void* p, I v) { _mm_storeu_si128(static_cast<__m128i*>(p), v); }
    // 2 * k16 bytes widened to 16 bits, in order.
    static void widen(const uint8_t* p, I& lo, I& hi) {
        const __m128i v = load(p);
        lo = _mm_unpacklo_epi8(v, _mm_setzero_si128());
        hi = _mm_unpackhi_epi8(v, _mm_setzero_si128());
    }
    // k32 bytes widened to 32 bits.
    static I widen32(const uint8_t* p) {
        int32_t bytes;
        std::memcpy(&bytes, p, sizeof bytes);
        const __m128i words = _mm_unpacklo_epi8(_mm_cvtsi32_si128(bytes), _mm_setzero_si128());
        return _mm_unpacklo_epi16(words, _mm_setzero_si128());
    }
    static I widenHalf(const uint8_t* p) {
        return _mm_unpacklo_epi8(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(p)), _mm_setzero_si128());
    }
    static I madd16(I a, I b) { return _mm_madd_epi16(a, b); }
    // The byte multiply-add is SSSE3: the vertical pass multiplies 16-bit lanes instead.
    static constexpr bool kBytePairs = false;

    // Quotients lie in -255..255, so the saturating packs are exact (below 0 clamps for 8 bits).
    static void storeConsecutive(I q0, I q1, int16_t* out) { store(out, _mm_packs_epi32(q0, q1)); }
    static void storeConsecutive(I q0, I q1, uint8_t* out) { storeWords(_mm_packs_epi32(q0, q1), out); }
    // 16-bit lanes of the even lanes' low halves and the odd lanes' low halves, alternately.
    static I words(I even, I odd) {
        return _mm_or_si128(_mm_and_si128(even, _mm_set1_epi32(0xFFFF)), _mm_slli_epi32(odd, 16));
    }
    static void storeWords(I w, int16_t* out) { store(out, w); }
    static void storeWords(I w, uint8_t* out) {
        _mm_storel_epi64(reinterpret_cast<__m128i*>(out), _mm_packus_epi16(w, w));
    }
};

}  // namespace kip::convolve::sse2

#endif
