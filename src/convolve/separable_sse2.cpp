// SSE2 kernels of the separable convolution: the vertical pass in 16-bit lanes, the horizontal
// pass two neighbouring taps per multiply-add; 8 destination pixels per block.
#include <cstdint>
#include <cstring>

#include "convolve/separable_isa.hpp"

#if defined(__SSE2__)
#include <emmintrin.h>

namespace kip::convolve::sse2 {

#include "convolve/divide_sse2.hpp"

struct Ops {
    using Vec = __m128i;
    static constexpr int32_t kBlock = 8;
    static Vec broadcast(int32_t v) { return _mm_set1_epi32(v); }
    static Vec add(Vec a, Vec b) { return _mm_add_epi32(a, b); }
    // Unpacking v[x + i..] with v[x + i + 1..] gives the tap pairs of pixels x..x+3 and x+4..x+7.
    template <int P>
    static void taps(const SeparableRow& row, int32_t x, Vec& lo, Vec& hi) {
        const int32_t pairs = P > 0 ? P : row.pairCount;
        const int16_t* v = row.v + x;
        lo = _mm_setzero_si128();
        hi = _mm_setzero_si128();
        for (int32_t k = 0; k < pairs; ++k) {
            const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(v + 2 * k));
            const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(v + 2 * k + 1));
            const __m128i w = _mm_set1_epi32(row.weights[k]);
            lo = _mm_add_epi32(lo, _mm_madd_epi16(_mm_unpacklo_epi16(a, b), w));
            hi = _mm_add_epi32(hi, _mm_madd_epi16(_mm_unpackhi_epi16(a, b), w));
        }
    }
    // Quotients lie in -255..255, so the saturating packs are exact.
    static void store(Vec lo, Vec hi, int16_t* out) {
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out), _mm_packs_epi32(lo, hi));
    }
    static void store(Vec lo, Vec hi, uint8_t* out) {
        const __m128i packed = _mm_packs_epi32(lo, hi);
        _mm_storel_epi64(reinterpret_cast<__m128i*>(out), _mm_packus_epi16(packed, packed));
    }
};

#include "convolve/separable_driver.hpp"

// 16 columns per step in 16-bit lanes: the sums are wanted modulo 2^16 only.
void vertical(const uint8_t* const* rows, const int16_t* taps, int32_t count, int32_t symmetric, int16_t bias,
              int32_t n, int16_t* out) {
    if (n < 16) {
        verticalScalar(rows, taps, count, bias, 0, n, out);
        return;
    }
    const __m128i zero = _mm_setzero_si128();
    const int32_t folded = symmetric ? count / 2 : 0;
    verticalBlocks<16>(n, [&](int32_t c) {
        __m128i lo = _mm_set1_epi16(static_cast<int16_t>(-bias)), hi = lo;
        for (int32_t j = 0; j < folded; ++j) {
            const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(rows[j] + c));
            const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(rows[count - 1 - j] + c));
            const __m128i w = _mm_set1_epi16(taps[j]);
            lo = _mm_add_epi16(
                lo, _mm_mullo_epi16(_mm_add_epi16(_mm_unpacklo_epi8(a, zero), _mm_unpacklo_epi8(b, zero)), w));
            hi = _mm_add_epi16(
                hi, _mm_mullo_epi16(_mm_add_epi16(_mm_unpackhi_epi8(a, zero), _mm_unpackhi_epi8(b, zero)), w));
        }
        for (int32_t j = folded; j < count - folded; ++j) {
            const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(rows[j] + c));
            const __m128i w = _mm_set1_epi16(taps[j]);
            lo = _mm_add_epi16(lo, _mm_mullo_epi16(_mm_unpacklo_epi8(a, zero), w));
            hi = _mm_add_epi16(hi, _mm_mullo_epi16(_mm_unpackhi_epi8(a, zero), w));
        }
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + c), lo);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + c + 8), hi);
    });
}

}  // namespace kip::convolve::sse2

namespace kip::convolve {
const SeparableIsa kSeparableIsaSse2 = {&sse2::vertical, &sse2::separableRow8, &sse2::separableRow16};
}

#else

namespace kip::convolve {
// Not built for x86-64: no kernels; the driver never selects them.
const SeparableIsa kSeparableIsaSse2 = {nullptr, nullptr, nullptr};
}  // namespace kip::convolve

#endif
