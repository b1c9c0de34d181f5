// SSE2 kernels of the box convolution: column sums moved by whole vectors of entering and
// leaving pixels, window sums from a prefix row, 8 destination pixels per block.
#include <cstdint>
#include <cstring>

#include "convolve/box_isa.hpp"

#if defined(__SSE2__)
#include "convolve/box_driver.hpp"
#include "convolve/lanes_sse2.hpp"

namespace kip::convolve::sse2 {

using Rows = BoxRows<Lanes>;

// Adds 8 signed 16-bit differences to 8 column sums.
inline void addDiff(uint32_t* sums, __m128i diff) {
    const __m128i sign = _mm_srai_epi16(diff, 15);
    __m128i* s = reinterpret_cast<__m128i*>(sums);
    _mm_storeu_si128(s, _mm_add_epi32(_mm_loadu_si128(s), _mm_unpacklo_epi16(diff, sign)));
    _mm_storeu_si128(s + 1, _mm_add_epi32(_mm_loadu_si128(s + 1), _mm_unpackhi_epi16(diff, sign)));
}

void update(uint32_t* sums, const uint8_t* add, const uint8_t* sub, int32_t n) {
    const __m128i zero = _mm_setzero_si128();
    int32_t c = 0;
    for (; c + 16 <= n; c += 16) {
        Rows::prefetchAhead(add + c);
        const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(add + c));
        const __m128i s = sub != nullptr ? _mm_loadu_si128(reinterpret_cast<const __m128i*>(sub + c)) : zero;
        addDiff(sums + c, _mm_sub_epi16(_mm_unpacklo_epi8(a, zero), _mm_unpacklo_epi8(s, zero)));
        addDiff(sums + c + 8, _mm_sub_epi16(_mm_unpackhi_epi8(a, zero), _mm_unpackhi_epi8(s, zero)));
    }
    Rows::updateScalar(sums, add, sub, c, n);
}

// Prefix sums within each vector by two shifted adds, then the running total of the vectors before.
void scan(const uint32_t* sums, int32_t n, uint32_t* prefix) {
    prefix[0] = 0;
    __m128i carry = _mm_setzero_si128();
    int32_t c = 0;
    for (; c + 4 <= n; c += 4) {
        __m128i x = _mm_loadu_si128(reinterpret_cast<const __m128i*>(sums + c));
        x = _mm_add_epi32(x, _mm_slli_si128(x, 4));
        x = _mm_add_epi32(x, _mm_slli_si128(x, 8));
        x = _mm_add_epi32(x, carry);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(prefix + c + 1), x);
        carry = _mm_shuffle_epi32(x, 0xFF);
    }
    Rows::scanScalar(sums, c, n, prefix);
}

}  // namespace kip::convolve::sse2

namespace kip::convolve {
const BoxIsa kBoxIsaSse2 = {&sse2::update, &sse2::scan, &sse2::Rows::row8, &sse2::Rows::row16};
}

#else

namespace kip::convolve {
// Not built for x86-64: no kernels; the driver never selects them.
const BoxIsa kBoxIsaSse2 = {nullptr, nullptr, nullptr, nullptr};
}  // namespace kip::convolve

#endif
