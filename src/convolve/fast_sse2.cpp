// SSE2 kernels of the fast convolution: 8 destination pixels per block, two taps per multiply
// (vertically paired rows through pmaddwd), exact 32-bit sums and an exact division. The
// baseline for every x86-64 processor.
#include <cstdint>
#include <cstring>

#include "convolve/fast_isa.hpp"

#if defined(__SSE2__)
#include <emmintrin.h>

namespace kip::convolve::sse2 {

// floor(a / d) for 0 <= a < 2^31 in each lane: (a * magic) >> shift, 64-bit products of the even
// and the odd lanes put back together.
inline __m128i divideExact(__m128i a, __m128i magic, __m128i shift) {
    const __m128i even = _mm_srl_epi64(_mm_mul_epu32(a, magic), shift);
    const __m128i oddProduct = _mm_mul_epu32(_mm_srli_epi64(a, 32), magic);
    const __m128i odd = _mm_slli_epi64(_mm_srl_epi64(oddProduct, shift), 32);
    return _mm_or_si128(even, odd);
}

// Truncation toward zero: divide the magnitude, give back the sign. The accumulator never
// reaches -2^31 on this path, so the magnitude fits.
template <bool Signed>
inline __m128i quotientExact(__m128i acc, __m128i magic, __m128i shift) {
    if constexpr (Signed) {
        const __m128i sign = _mm_srai_epi32(acc, 31);
        const __m128i magnitude = _mm_sub_epi32(_mm_xor_si128(acc, sign), sign);
        const __m128i q = divideExact(magnitude, magic, shift);
        return _mm_sub_epi32(_mm_xor_si128(q, sign), sign);
    } else {
        return divideExact(acc, magic, shift);
    }
}

// The same through single precision: acc * (1/d) pushed half a step away from zero, truncated.
template <bool Signed>
inline __m128i quotientFloat(__m128i acc, __m128 reciprocal, __m128 half) {
    const __m128 x = _mm_cvtepi32_ps(acc);
    __m128 bias = half;
    if constexpr (Signed) bias = _mm_or_ps(half, _mm_and_ps(x, _mm_set1_ps(-0.0f)));
    return _mm_cvttps_epi32(_mm_add_ps(_mm_mul_ps(x, reciprocal), bias));
}

struct Ops {
    using Vec = __m128i;
    static constexpr int32_t kLanes = 4;
    struct Divisor {
        __m128i magic, shift;
        __m128 reciprocal, half;
    };
    static Vec zero() { return _mm_setzero_si128(); }
    static Vec broadcast(int32_t v) { return _mm_set1_epi32(v); }
    static Vec loadPairs(const int16_t* p) { return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p)); }
    static Vec maddAdd(Vec acc, Vec pairs, Vec weights) { return _mm_add_epi32(acc, _mm_madd_epi16(pairs, weights)); }
    static Divisor divisor(const FastRow& row) {
        const __m128 reciprocal = _mm_set1_ps(row.reciprocal);
        return Divisor{_mm_set1_epi32(static_cast<int32_t>(row.magic)),
                       _mm_cvtsi32_si128(static_cast<int32_t>(row.shift)), reciprocal,
                       _mm_mul_ps(reciprocal, _mm_set1_ps(0.5f))};
    }
    template <bool Signed, bool Float>
    static Vec quotient(Vec acc, const Divisor& d) {
        if constexpr (Float)
            return quotientFloat<Signed>(acc, d.reciprocal, d.half);
        else
            return quotientExact<Signed>(acc, d.magic, d.shift);
    }
    // Quotients lie in -255..255, so the saturating packs are exact.
    static void store(Vec q0, Vec q1, int16_t* out) {
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out), _mm_packs_epi32(q0, q1));
    }
    static void store(Vec q0, Vec q1, uint8_t* out) {
        const __m128i packed = _mm_packs_epi32(q0, q1);
        _mm_storel_epi64(reinterpret_cast<__m128i*>(out), _mm_packus_epi16(packed, packed));
    }
};

// The row driver over Ops.
#include "convolve/fast_driver.hpp"

void interleave(const uint8_t* a, const uint8_t* b, int32_t n, int16_t* out) {
    const __m128i zero = _mm_setzero_si128();
    int32_t c = 0;
    for (; c + 16 <= n; c += 16) {
        const __m128i va = _mm_loadu_si128(reinterpret_cast<const __m128i*>(a + c));
        const __m128i vb = _mm_loadu_si128(reinterpret_cast<const __m128i*>(b + c));
        const __m128i lo = _mm_unpacklo_epi8(va, vb);
        const __m128i hi = _mm_unpackhi_epi8(va, vb);
        __m128i* o = reinterpret_cast<__m128i*>(out + 2 * c);
        _mm_storeu_si128(o + 0, _mm_unpacklo_epi8(lo, zero));
        _mm_storeu_si128(o + 1, _mm_unpackhi_epi8(lo, zero));
        _mm_storeu_si128(o + 2, _mm_unpacklo_epi8(hi, zero));
        _mm_storeu_si128(o + 3, _mm_unpackhi_epi8(hi, zero));
    }
    for (; c < n; ++c) {
        out[2 * c] = a[c];
        out[2 * c + 1] = b[c];
    }
}

}  // namespace kip::convolve::sse2

namespace kip::convolve {
const FastIsa kFastIsaSse2 = {&sse2::interleave, &sse2::row8, &sse2::row16};
}

#else

namespace kip::convolve {
// Not built for x86-64: no kernels; the driver never selects them.
const FastIsa kFastIsaSse2 = {nullptr, nullptr, nullptr};
}  // namespace kip::convolve

#endif
