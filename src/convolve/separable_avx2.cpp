// AVX2 kernels of the separable convolution: the vertical pass in 16-bit lanes, the horizontal
// pass two neighbouring taps per multiply-add; 16 destination pixels per block.
#include <cstdint>
#include <cstring>

#include "convolve/separable_isa.hpp"

#if defined(__AVX2__)
#include <immintrin.h>

namespace kip::convolve::avx2 {

#include "convolve/divide_avx2.hpp"

struct Ops {
    using Vec = __m256i;
    static constexpr int32_t kBlock = 16;
    static Vec broadcast(int32_t v) { return _mm256_set1_epi32(v); }
    static Vec add(Vec a, Vec b) { return _mm256_add_epi32(a, b); }
    // The unpacks work within 128-bit halves: lo holds pixels x..x+3 and x+8..x+11, hi the others,
    // which is the order the packs of store put back together.
    template <int P>
    static void taps(const SeparableRow& row, int32_t x, Vec& lo, Vec& hi) {
        const int32_t pairs = P > 0 ? P : row.pairCount;
        const int16_t* v = row.v + x;
        lo = _mm256_setzero_si256();
        hi = _mm256_setzero_si256();
        for (int32_t k = 0; k < pairs; ++k) {
            const __m256i a = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(v + 2 * k));
            const __m256i b = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(v + 2 * k + 1));
            const __m256i w = _mm256_set1_epi32(row.weights[k]);
            lo = _mm256_add_epi32(lo, _mm256_madd_epi16(_mm256_unpacklo_epi16(a, b), w));
            hi = _mm256_add_epi32(hi, _mm256_madd_epi16(_mm256_unpackhi_epi16(a, b), w));
        }
    }
    // Quotients lie in -255..255, so the saturating packs are exact.
    static void store(Vec lo, Vec hi, int16_t* out) {
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(out), _mm256_packs_epi32(lo, hi));
    }
    static void store(Vec lo, Vec hi, uint8_t* out) {
        const __m256i packed = _mm256_packs_epi32(lo, hi);
        const __m128i bytes = _mm_packus_epi16(_mm256_castsi256_si128(packed), _mm256_extracti128_si256(packed, 1));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out), bytes);
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
    auto load = [&](int32_t j, int32_t c) {
        return _mm256_cvtepu8_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(rows[j] + c)));
    };
    const int32_t folded = symmetric ? count / 2 : 0;
    verticalBlocks<16>(n, [&](int32_t c) {
        __m256i acc = _mm256_set1_epi16(static_cast<int16_t>(-bias));
        for (int32_t j = 0; j < folded; ++j)
            acc = _mm256_add_epi16(acc, _mm256_mullo_epi16(_mm256_add_epi16(load(j, c), load(count - 1 - j, c)),
                                                           _mm256_set1_epi16(taps[j])));
        for (int32_t j = folded; j < count - folded; ++j)
            acc = _mm256_add_epi16(acc, _mm256_mullo_epi16(load(j, c), _mm256_set1_epi16(taps[j])));
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + c), acc);
    });
}

}  // namespace kip::convolve::avx2

namespace kip::convolve {
const SeparableIsa kSeparableIsaAvx2 = {&avx2::vertical, &avx2::separableRow8, &avx2::separableRow16};
}

#else

namespace kip::convolve {
// Not built for x86-64: no kernels; the driver never selects them.
const SeparableIsa kSeparableIsaAvx2 = {nullptr, nullptr, nullptr};
}  // namespace kip::convolve

#endif
