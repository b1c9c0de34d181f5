// AVX2 kernels of the box convolution: column sums moved by whole vectors of entering and
// leaving pixels, window sums from a prefix row, 16 destination pixels per block.
#include <cstdint>
#include <cstring>

#include "convolve/box_isa.hpp"

#if defined(__AVX2__)
#include "convolve/box_driver.hpp"
#include "convolve/lanes_avx2.hpp"

namespace kip::convolve::avx2 {

using Rows = BoxRows<Lanes>;

void update(uint32_t* sums, const uint8_t* add, const uint8_t* sub, int32_t n) {
    int32_t c = 0;
    for (; c + 16 <= n; c += 16) {
        Rows::prefetchAhead(add + c);
        const __m256i a = _mm256_cvtepu8_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(add + c)));
        const __m256i s = sub != nullptr
                              ? _mm256_cvtepu8_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(sub + c)))
                              : _mm256_setzero_si256();
        const __m256i diff = _mm256_sub_epi16(a, s);
        __m256i* p = reinterpret_cast<__m256i*>(sums + c);
        _mm256_storeu_si256(
            p, _mm256_add_epi32(_mm256_loadu_si256(p), _mm256_cvtepi16_epi32(_mm256_castsi256_si128(diff))));
        _mm256_storeu_si256(p + 1, _mm256_add_epi32(_mm256_loadu_si256(p + 1),
                                                    _mm256_cvtepi16_epi32(_mm256_extracti128_si256(diff, 1))));
    }
    Rows::updateScalar(sums, add, sub, c, n);
}

// Prefix sums within each 128-bit half by two shifted adds, the low half's total carried into the
// high half, then the running total of the vectors before.
void scan(const uint32_t* sums, int32_t n, uint32_t* prefix) {
    prefix[0] = 0;
    __m256i carry = _mm256_setzero_si256();
    const __m256i lastOfLow = _mm256_setr_epi32(0, 0, 0, 0, 3, 3, 3, 3);
    const __m256i last = _mm256_set1_epi32(7);
    int32_t c = 0;
    for (; c + 8 <= n; c += 8) {
        __m256i x = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(sums + c));
        x = _mm256_add_epi32(x, _mm256_slli_si256(x, 4));
        x = _mm256_add_epi32(x, _mm256_slli_si256(x, 8));
        const __m256i low = _mm256_blend_epi32(_mm256_setzero_si256(), _mm256_permutevar8x32_epi32(x, lastOfLow), 0xF0);
        x = _mm256_add_epi32(_mm256_add_epi32(x, low), carry);
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(prefix + c + 1), x);
        carry = _mm256_permutevar8x32_epi32(x, last);
    }
    Rows::scanScalar(sums, c, n, prefix);
}

}  // namespace kip::convolve::avx2

namespace kip::convolve {
const BoxIsa kBoxIsaAvx2 = {&avx2::update, &avx2::scan, &avx2::Rows::row8, &avx2::Rows::row16};
}

#else

namespace kip::convolve {
// Not built for x86-64: no kernels; the driver never selects them.
const BoxIsa kBoxIsaAvx2 = {nullptr, nullptr, nullptr, nullptr};
}  // namespace kip::convolve

#endif
