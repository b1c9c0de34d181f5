// SSE2 kernels of the fast convolution: 8 destination pixels per block, two taps per multiply
// (vertically paired rows through pmaddwd), exact 32-bit sums and an exact division. The
// baseline for every x86-64 processor.
#include <cstdint>
#include <cstring>

#include "convolve/fast_isa.hpp"

#if defined(__SSE2__)
#include "convolve/divide_kernels.hpp"
#include "convolve/lanes_sse2.hpp"

namespace kip::convolve::sse2 {

struct Ops {
    using Vec = __m128i;
    static constexpr int32_t kLanes = 4;
    using Divisor = Divide<Lanes>::Divisor;
    static Vec zero() { return _mm_setzero_si128(); }
    static Vec broadcast(int32_t v) { return _mm_set1_epi32(v); }
    static Vec loadPairs(const int16_t* p) { return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p)); }
    static Vec maddAdd(Vec acc, Vec pairs, Vec weights) { return _mm_add_epi32(acc, _mm_madd_epi16(pairs, weights)); }
    static Divisor divisor(const FastRow& row) { return Divide<Lanes>::make(row.reciprocal, row.magic, row.shift); }
    template <bool Signed, bool Float>
    static Vec quotient(Vec acc, const Divisor& d) {
        return Divide<Lanes>::quotient<Signed, Float>(acc, d);
    }
    static void store(Vec q0, Vec q1, int16_t* out) { Lanes::storeConsecutive(q0, q1, out); }
    static void store(Vec q0, Vec q1, uint8_t* out) { Lanes::storeConsecutive(q0, q1, out); }
};

// The row driver over Ops.
#include "convolve/fast_driver.hpp"

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

}  // namespace kip::convolve::sse2

namespace kip::convolve {
const FastIsa kFastIsaSse2 = {&sse2::interleave, &sse2::row8, &sse2::row16};
}

#else

namespace kip::convolve {
// Not built for x86-64: no kernels; the driver never selects them.
const FastIsa kFastIsaSse2 = {nullptr, nullptr, nullptr};
}  // namespace kip::convolve

#endif
