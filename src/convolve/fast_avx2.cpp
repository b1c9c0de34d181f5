// AVX2 kernels of the fast convolution: 16 destination pixels per block, two taps per multiply
// (vertically paired rows through vpmaddwd), exact 32-bit sums and an exact division.
#include <cstdint>
#include <cstring>

#include "convolve/fast_isa.hpp"

#if defined(__AVX2__)
#include "convolve/divide_kernels.hpp"
#include "convolve/lanes_avx2.hpp"

namespace kip::convolve::avx2 {

struct Ops {
    using Vec = __m256i;
    static constexpr int32_t kLanes = 8;
    using Divisor = Divide<Lanes>::Divisor;
    static Vec zero() { return _mm256_setzero_si256(); }
    static Vec broadcast(int32_t v) { return _mm256_set1_epi32(v); }
    static Vec loadPairs(const int16_t* p) { return _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p)); }
    static Vec maddAdd(Vec acc, Vec pairs, Vec weights) {
        return _mm256_add_epi32(acc, _mm256_madd_epi16(pairs, weights));
    }
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
