// SSE2 forms of the exact division of exact_divider.hpp, shared by the convolution kernels built
// for SSE2. Include inside the file's own namespace after <emmintrin.h>; no include guard, so that
// every instruction-set namespace gets its own copy (see frame/simd_rows.hpp).

// floor(a / d) for 0 <= a < 2^31 in each lane: (a * magic) >> shift, 64-bit products of the even
// and the odd lanes put back together.
inline __m128i divideExact(__m128i a, __m128i magic, __m128i shift) {
    const __m128i even = _mm_srl_epi64(_mm_mul_epu32(a, magic), shift);
    const __m128i oddProduct = _mm_mul_epu32(_mm_srli_epi64(a, 32), magic);
    const __m128i odd = _mm_slli_epi64(_mm_srl_epi64(oddProduct, shift), 32);
    return _mm_or_si128(even, odd);
}

// Truncation toward zero: divide the magnitude, give back the sign. The accumulator never
// reaches -2^31 on these paths, so the magnitude fits.
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

// The division constants of one call in vector form.
struct Divisor {
    __m128i magic, shift;
    __m128 reciprocal, half;
};

inline Divisor makeDivisor(float reciprocal, uint32_t magic, uint32_t shift) {
    const __m128 r = _mm_set1_ps(reciprocal);
    return Divisor{_mm_set1_epi32(static_cast<int32_t>(magic)), _mm_cvtsi32_si128(static_cast<int32_t>(shift)), r,
                   _mm_mul_ps(r, _mm_set1_ps(0.5f))};
}

template <bool Signed, bool Float>
inline __m128i quotient(__m128i acc, const Divisor& d) {
    if constexpr (Float)
        return quotientFloat<Signed>(acc, d.reciprocal, d.half);
    else
        return quotientExact<Signed>(acc, d.magic, d.shift);
}
