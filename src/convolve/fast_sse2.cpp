// SSE2 kernels of the fast convolution: 8 destination pixels per block, two taps per multiply
// (vertically paired rows through pmaddwd), exact 32-bit sums and an exact division. The
// baseline for every x86-64 processor.
#include <cstring>

#include "convolve/fast_isa.hpp"

#if defined(__SSE2__)
#include <emmintrin.h>

namespace {

using kip::convolve::FastRow;

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

template <int KW, bool FloatDivision, class Out>
inline void block(const FastRow& row, int32_t x, Out* out) {
    const int32_t kw = KW > 0 ? KW : row.kw;
    __m128i acc0 = _mm_setzero_si128();
    __m128i acc1 = _mm_setzero_si128();
    for (int32_t k = 0; k < row.pairCount; ++k) {
        const int16_t* p = row.pairRows[k] + 2 * x;
        const int32_t* w = row.weights + k * kw;
        for (int32_t i = 0; i < kw; ++i) {
            const __m128i weight = _mm_set1_epi32(w[i]);
            const __m128i v0 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 2 * i));
            const __m128i v1 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 2 * i + 8));
            acc0 = _mm_add_epi32(acc0, _mm_madd_epi16(v0, weight));
            acc1 = _mm_add_epi32(acc1, _mm_madd_epi16(v1, weight));
        }
    }
    constexpr bool kSigned = sizeof(Out) == 2;
    __m128i q0, q1;
    if constexpr (FloatDivision) {
        const __m128 reciprocal = _mm_set1_ps(row.reciprocal);
        const __m128 half = _mm_mul_ps(reciprocal, _mm_set1_ps(0.5f));
        q0 = quotientFloat<kSigned>(acc0, reciprocal, half);
        q1 = quotientFloat<kSigned>(acc1, reciprocal, half);
    } else {
        const __m128i magic = _mm_set1_epi32(static_cast<int32_t>(row.magic));
        const __m128i shift = _mm_cvtsi32_si128(static_cast<int32_t>(row.shift));
        q0 = quotientExact<kSigned>(acc0, magic, shift);
        q1 = quotientExact<kSigned>(acc1, magic, shift);
    }
    // Quotients lie in -255..255, so the saturating packs are exact.
    const __m128i packed = _mm_packs_epi32(q0, q1);
    if constexpr (kSigned) {
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out), packed);
    } else {
        _mm_storel_epi64(reinterpret_cast<__m128i*>(out), _mm_packus_epi16(packed, packed));
    }
}

// The row's last block moves back to end at the row's end (its pixels are written twice, with
// the same values); a row narrower than a block goes through a small buffer.
template <int KW, bool FloatDivision, class Out>
void rowKernel(const FastRow& row, Out* out) {
    const int32_t width = row.width;
    int32_t x = 0;
    for (; x + 8 <= width; x += 8) block<KW, FloatDivision>(row, x, out + x);
    if (x == width) return;
    if (width >= 8) {
        block<KW, FloatDivision>(row, width - 8, out + width - 8);
        return;
    }
    Out tail[8];
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
const FastIsa kFastIsaSse2 = {&interleave, &row8, &row16};
}

#else

namespace kip::convolve {
// Not built for x86-64: no kernels; the driver never selects them.
const FastIsa kFastIsaSse2 = {nullptr, nullptr, nullptr};
}  // namespace kip::convolve

#endif
