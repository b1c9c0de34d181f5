// AVX2 kernels of the fast convolution: 16 destination pixels per block, two taps per multiply
// (vertically paired rows through vpmaddwd), exact 32-bit sums and an exact division.
#include <cstring>

#include "convolve/fast_isa.hpp"

#if defined(__AVX2__)
#include <immintrin.h>

namespace {

using kip::convolve::FastRow;

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

template <int KW, bool FloatDivision, class Out>
inline void block(const FastRow& row, int32_t x, Out* out) {
    const int32_t kw = KW > 0 ? KW : row.kw;
    __m256i acc0 = _mm256_setzero_si256();
    __m256i acc1 = _mm256_setzero_si256();
    for (int32_t k = 0; k < row.pairCount; ++k) {
        const int16_t* p = row.pairRows[k] + 2 * x;
        const int32_t* w = row.weights + k * kw;
        for (int32_t i = 0; i < kw; ++i) {
            const __m256i weight = _mm256_set1_epi32(w[i]);
            const __m256i v0 = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p + 2 * i));
            const __m256i v1 = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p + 2 * i + 16));
            acc0 = _mm256_add_epi32(acc0, _mm256_madd_epi16(v0, weight));
            acc1 = _mm256_add_epi32(acc1, _mm256_madd_epi16(v1, weight));
        }
    }
    constexpr bool kSigned = sizeof(Out) == 2;
    __m256i q0, q1;
    if constexpr (FloatDivision) {
        const __m256 reciprocal = _mm256_set1_ps(row.reciprocal);
        const __m256 half = _mm256_mul_ps(reciprocal, _mm256_set1_ps(0.5f));
        q0 = quotientFloat<kSigned>(acc0, reciprocal, half);
        q1 = quotientFloat<kSigned>(acc1, reciprocal, half);
    } else {
        const __m256i magic = _mm256_set1_epi32(static_cast<int32_t>(row.magic));
        const __m256i shiftHigh = _mm256_set1_epi32(static_cast<int32_t>(row.shift - 32));
        q0 = quotientExact<kSigned>(acc0, magic, shiftHigh);
        q1 = quotientExact<kSigned>(acc1, magic, shiftHigh);
    }
    // Quotients lie in -255..255, so the saturating packs are exact.
    const __m256i packed = _mm256_permute4x64_epi64(_mm256_packs_epi32(q0, q1), 0xD8);
    if constexpr (kSigned) {
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(out), packed);
    } else {
        const __m128i bytes = _mm_packus_epi16(_mm256_castsi256_si128(packed), _mm256_extracti128_si256(packed, 1));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out), bytes);
    }
}

// The row's last block moves back to end at the row's end (its pixels are written twice, with
// the same values); a row narrower than a block goes through a small buffer.
template <int KW, bool FloatDivision, class Out>
void rowKernel(const FastRow& row, Out* out) {
    const int32_t width = row.width;
    int32_t x = 0;
    for (; x + 16 <= width; x += 16) block<KW, FloatDivision>(row, x, out + x);
    if (x == width) return;
    if (width >= 16) {
        block<KW, FloatDivision>(row, width - 16, out + width - 16);
        return;
    }
    Out tail[16];
    block<KW, FloatDivision>(row, 0, tail);
    std::memcpy(out, tail, sizeof(Out) * static_cast<size_t>(width));
}

// Common kernel widths get fully unrolled tap loops.
template <bool F, class Out>
void rowFor(const FastRow& r, Out* out) {
    switch (r.kw) {
        case 1:
            return rowKernel<1, F>(r, out);
        case 3:
            return rowKernel<3, F>(r, out);
        case 5:
            return rowKernel<5, F>(r, out);
        case 7:
            return rowKernel<7, F>(r, out);
        case 9:
            return rowKernel<9, F>(r, out);
        case 11:
            return rowKernel<11, F>(r, out);
        case 13:
            return rowKernel<13, F>(r, out);
        case 15:
            return rowKernel<15, F>(r, out);
        default:
            return rowKernel<0, F>(r, out);
    }
}

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

template <class Out>
void row(const FastRow& r, Out* out) {
    if (r.floatDivision)
        rowFor<true>(r, out);
    else
        rowFor<false>(r, out);
}

void row8(const FastRow& r, uint8_t* out) { row(r, out); }
void row16(const FastRow& r, int16_t* out) { row(r, out); }

}  // namespace

namespace kip::convolve {
const FastIsa kFastIsaAvx2 = {&interleave, &row8, &row16};
}

#else

namespace kip::convolve {
// Not built for x86-64: no kernels; the driver never selects them.
const FastIsa kFastIsaAvx2 = {nullptr, nullptr, nullptr};
}  // namespace kip::convolve

#endif
