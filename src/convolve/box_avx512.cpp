// AVX-512BW kernels of the box convolution: column sums moved by whole vectors of entering and
// leaving pixels, window sums from a prefix row, 32 destination pixels per block.
#include <cstdint>
#include <cstring>

#include "convolve/box_isa.hpp"

#if defined(__AVX512BW__)
#include "convolve/box_driver.hpp"
#include "convolve/lanes_avx512.hpp"

namespace kip::convolve::avx512 {

using Rows = BoxRows<Lanes>;

void update(uint32_t* sums, const uint8_t* add, const uint8_t* sub, int32_t n) {
    int32_t c = 0;
    for (; c + 32 <= n; c += 32) {
        Rows::prefetchAhead(add + c);
        const __m512i a = Lanes::widenHalf(add + c);
        const __m512i diff = sub != nullptr ? _mm512_sub_epi16(a, Lanes::widenHalf(sub + c)) : a;
        uint32_t* p = sums + c;
        _mm512_storeu_si512(
            p, _mm512_add_epi32(_mm512_loadu_si512(p), _mm512_cvtepi16_epi32(_mm512_castsi512_si256(diff))));
        _mm512_storeu_si512(p + 16, _mm512_add_epi32(_mm512_loadu_si512(p + 16),
                                                     _mm512_cvtepi16_epi32(_mm512_extracti64x4_epi64(diff, 1))));
    }
    Rows::updateScalar(sums, add, sub, c, n);
}

// Prefix sums within each 128-bit quarter by two shifted adds, the quarters' totals carried up in
// two steps, then the running total of the vectors before.
void scan(const uint32_t* sums, int32_t n, uint32_t* prefix) {
    prefix[0] = 0;
    __m512i carry = _mm512_setzero_si512();
    const __m512i previousQuarter = _mm512_setr_epi32(0, 0, 0, 0, 3, 3, 3, 3, 7, 7, 7, 7, 11, 11, 11, 11);
    const __m512i twoQuartersBack = _mm512_setr_epi32(0, 0, 0, 0, 0, 0, 0, 0, 3, 3, 3, 3, 7, 7, 7, 7);
    const __m512i last = _mm512_set1_epi32(15);
    int32_t c = 0;
    for (; c + 16 <= n; c += 16) {
        __m512i x = _mm512_loadu_si512(sums + c);
        x = _mm512_add_epi32(x, _mm512_bslli_epi128(x, 4));
        x = _mm512_add_epi32(x, _mm512_bslli_epi128(x, 8));
        x = _mm512_add_epi32(x, _mm512_maskz_permutexvar_epi32(0xFFF0, previousQuarter, x));
        x = _mm512_add_epi32(x, _mm512_maskz_permutexvar_epi32(0xFF00, twoQuartersBack, x));
        x = _mm512_add_epi32(x, carry);
        _mm512_storeu_si512(prefix + c + 1, x);
        carry = _mm512_permutexvar_epi32(last, x);
    }
    Rows::scanScalar(sums, c, n, prefix);
}

}  // namespace kip::convolve::avx512

namespace kip::convolve {
const BoxIsa kBoxIsaAvx512 = {&avx512::update, &avx512::scan, &avx512::Rows::row8, &avx512::Rows::row16};
}

#else

namespace kip::convolve {
// Not built for x86-64: no kernels; the driver never selects them.
const BoxIsa kBoxIsaAvx512 = {nullptr, nullptr, nullptr, nullptr};
}  // namespace kip::convolve

#endif
