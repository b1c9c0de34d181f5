// AVX2 kernels of the fast convolution: 16 destination pixels per block, two taps per multiply
// (vertically paired rows through vpmaddwd), exact 32-bit sums and an exact division.
#include <cstdint>
#include <cstring>

#include "convolve/fast_isa.hpp"

#if defined(__AVX2__)
#include <immintrin.h>

namespace kip::convolve::avx2 {

// floor(a / d) for 0 <= a < 2^31 in each lane: the high halves of the 64-bit products a * magic
// of the even and the odd lanes, gathered and shifted right by shift - 32.
inline __m256i divideExact(__m256i a, __m256i magic, __m256i shiftHigh) {
    const __m256i even = _mm256_srli_epi64(_mm256_mul_epu32(a, magic), 32);
    const __m256i odd = _mm256_mul_epu32(_mm256_srli_epi64(a, 32), magic);
    return _mm256_srlv_epi32(_mm256_blend_epi32(even, odd, 0xAA), shiftHigh);
}

// The quotient truncated toward zero: divide the magnitude, give back the sign. The accumulator
// never reaches -2^31 on this path, so the magnitude fits.
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

struct Ops {
    using Vec = __m256i;
    static constexpr int32_t kLanes = 8;
    struct Divisor {
        __m256i magic, shiftHigh;
        __m256 reciprocal, half;
    };
    static Vec zero() { return _mm256_setzero_si256(); }
    static Vec broadcast(int32_t v) { return _mm256_set1_epi32(v); }
    static Vec loadPairs(const int16_t* p) { return _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p)); }
    static Vec maddAdd(Vec acc, Vec pairs, Vec weights) {
        return _mm256_add_epi32(acc, _mm256_madd_epi16(pairs, weights));
    }
    static Divisor divisor(const FastRow& row) {
        const __m256 reciprocal = _mm256_set1_ps(row.reciprocal);
        return Divisor{_mm256_set1_epi32(static_cast<int32_t>(row.magic)),
                       _mm256_set1_epi32(static_cast<int32_t>(row.shift - 32)), reciprocal,
                       _mm256_mul_ps(reciprocal, _mm256_set1_ps(0.5f))};
    }
    template <bool Signed, bool Float>
    static Vec quotient(Vec acc, const Divisor& d) {
        if constexpr (Float)
            return quotientFloat<Signed>(acc, d.reciprocal, d.half);
        else
            return quotientExact<Signed>(acc, d.magic, d.shiftHigh);
    }
    // Quotients lie in -255..255, so the saturating packs are exact; the permute undoes the
    // packs' per-lane order.
    static __m256i pack(Vec q0, Vec q1) { return _mm256_permute4x64_epi64(_mm256_packs_epi32(q0, q1), 0xD8); }
    static void store(Vec q0, Vec q1, int16_t* out) {
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(out), pack(q0, q1));
    }
    static void store(Vec q0, Vec q1, uint8_t* out) {
        const __m256i packed = pack(q0, q1);
        const __m128i bytes = _mm_packus_epi16(_mm256_castsi256_si128(packed), _mm256_extracti128_si256(packed, 1));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out), bytes);
    }
};

// The row driver over Ops.
#include "convolve/fast_driver.hpp"

void interleave(const uint8_t* a, const uint8_t* b, int32_t n, int16_t* out) {
    int32_t c = 0;
    for (; c + 16 <= n; c += 16) {
        const __m128i va = _mm_loadu_si128(reinterpret_cast<const __m128i*>(a + c));
        const __m128i vb = _mm_loadu_si128(reinterpret_cast<const __m128i*>(b + c));
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + 2 * c), _mm256_cvtepu8_epi16(_mm_unpacklo_epi8(va, vb)));
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + 2 * c + 16),
                            _mm256_cvtepu8_epi16(_mm_unpackhi_epi8(va, vb)));
    }
    for (; c < n; ++c) {
        out[2 * c] = a[c];
        out[2 * c + 1] = b[c];
    }
}

}  // namespace kip::convolve::avx2

namespace kip::convolve {
const FastIsa kFastIsaAvx2 = {&avx2::interleave, &avx2::row8, &avx2::row16};
}

#else

namespace kip::convolve {
// Not built for x86-64: no kernels; the driver never selects them.
const FastIsa kFastIsaAvx2 = {nullptr, nullptr, nullptr};
}  // namespace kip::convolve

#endif
