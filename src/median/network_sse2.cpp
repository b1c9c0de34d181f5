// SSE2 kernels of the sorting-network median: 16 pixels per step, 8-bit only (SSE2 has no
// unsigned 16-bit min/max). The baseline for every x86-64 processor.
#include "median/network_kernels.hpp"

#if defined(__SSE2__)
#include <emmintrin.h>

namespace {

struct U8 {
    using T = uint8_t;
    using Vec = __m128i;
    static constexpr int32_t kLanes = 16;
    static Vec load(const T* p) { return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p)); }
    static void store(T* p, Vec v) { _mm_storeu_si128(reinterpret_cast<__m128i*>(p), v); }
    static Vec min(Vec a, Vec b) { return _mm_min_epu8(a, b); }
    static Vec max(Vec a, Vec b) { return _mm_max_epu8(a, b); }
    // Pixels 0, 2, 4, ... and 1, 3, 5, ... of a then b; and back.
    static void split(Vec a, Vec b, Vec& even, Vec& odd) {
        const Vec low = _mm_set1_epi16(0xff);
        even = _mm_packus_epi16(_mm_and_si128(a, low), _mm_and_si128(b, low));
        odd = _mm_packus_epi16(_mm_srli_epi16(a, 8), _mm_srli_epi16(b, 8));
    }
    static void zip(Vec even, Vec odd, Vec& lo, Vec& hi) {
        lo = _mm_unpacklo_epi8(even, odd);
        hi = _mm_unpackhi_epi8(even, odd);
    }
};

}  // namespace

namespace kip::median {
const NetworkIsa kNetworkSse2 = {
    &NetworkKernels<U8>::select,    nullptr, &NetworkKernels<U8>::median, nullptr, U8::kLanes, 0,
    &NetworkKernels<U8>::median3x3, nullptr};
}

#else

namespace kip::median {
// Not built for x86-64: no kernels; the driver never selects them.
const NetworkIsa kNetworkSse2 = {nullptr, nullptr, nullptr, nullptr, 0, 0, nullptr, nullptr};
}  // namespace kip::median

#endif
