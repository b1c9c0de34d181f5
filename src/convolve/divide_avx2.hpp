// AVX2 forms of the exact division of exact_divider.hpp, shared by the convolution kernels built
// for AVX2. Include inside the file's own namespace after <immintrin.h>; no include guard, so that
// every instruction-set namespace gets its own copy (see frame/simd_rows.hpp).

// floor(a / d) for 0 <= a < 2^31 in each lane: the high halves of the 64-bit products a * magic
// of the even and the odd lanes, gathered and shifted right by shift - 32.
inline __m256i divideExact(__m256i a, __m256i magic, __m256i shiftHigh) {
    const __m256i even = _mm256_srli_epi64(_mm256_mul_epu32(a, magic), 32);
    const __m256i odd = _mm256_mul_epu32(_mm256_srli_epi64(a, 32), magic);
    return _mm256_srlv_epi32(_mm256_blend_epi32(even, odd, 0xAA), shiftHigh);
}

// The quotient truncated toward zero: divide the magnitude, give back the sign. The accumulator
// never reaches -2^31 on these paths, so the magnitude fits.
template <bool Signed>
inline __m256i quotientExact(__m256i acc, __m256i magic, __m256i shiftHigh) {
    if constexpr (Signed) {
        const __m256i sign = _mm256_srai_epi32(acc, 31);
        const __m256i q = divideExact(_mm256_abs_epi32(acc), magic, shiftHigh);
        return _mm256_sub_epi32(_mm256_xor_si256(q, sign), sign);
    } else {
        return divideExact(acc, magic, shiftHigh);
    }
}

// The same through single precision: acc * (1/d) pushed half a step away from zero, truncated.
template <bool Signed>
inline __m256i quotientFloat(__m256i acc, __m256 reciprocal, __m256 half) {
    const __m256 x = _mm256_cvtepi32_ps(acc);
    __m256 bias = half;
    if constexpr (Signed) bias = _mm256_or_ps(half, _mm256_and_ps(x, _mm256_set1_ps(-0.0f)));
    return _mm256_cvttps_epi32(_mm256_add_ps(_mm256_mul_ps(x, reciprocal), bias));
}

// The division constants of one call in vector form.
struct Divisor {
    __m256i magic, shiftHigh;
    __m256 reciprocal, half;
};

inline Divisor makeDivisor(float reciprocal, uint32_t magic, uint32_t shift) {
    const __m256 r = _mm256_set1_ps(reciprocal);
    return Divisor{_mm256_set1_epi32(static_cast<int32_t>(magic)), _mm256_set1_epi32(static_cast<int32_t>(shift - 32)),
                   r, _mm256_mul_ps(r, _mm256_set1_ps(0.5f))};
}

template <bool Signed, bool Float>
inline __m256i quotient(__m256i acc, const Divisor& d) {
    if constexpr (Float)
        return quotientFloat<Signed>(acc, d.reciprocal, d.half);
    else
        return quotientExact<Signed>(acc, d.magic, d.shiftHigh);
}
