// SSE4.1 kernels of the sorting-network median: 8 pixels per step, 16-bit (pminuw/pmaxuw).
#include "median/network_kernels.hpp"

#if defined(__SSE4_1__)
#include <smmintrin.h>

namespace {

struct U16 {
    using T = uint16_t;
    using Vec = __m128i;
    static constexpr int32_t kLanes = 8;
    static Vec load(const T* p) { return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p)); }
    static void store(T* p, Vec v) { _mm_storeu_si128(reinterpret_cast<__m128i*>(p), v); }
    static Vec min(Vec a, Vec b) { return _mm_min_epu16(a, b); }
    static Vec max(Vec a, Vec b) { return _mm_max_epu16(a, b); }
    // Pixels 0, 2, 4, ... and 1, 3, 5, ... of a then b; and back.
    static void split(Vec a, Vec b, Vec& even, Vec& odd) {
        const Vec low = _mm_set1_epi32(0xffff);
        even = _mm_packus_epi32(_mm_and_si128(a, low), _mm_and_si128(b, low));
        odd = _mm_packus_epi32(_mm_srli_epi32(a, 16), _mm_srli_epi32(b, 16));
    }
    static void zip(Vec even, Vec odd, Vec& lo, Vec& hi) {
        lo = _mm_unpacklo_epi16(even, odd);
        hi = _mm_unpackhi_epi16(even, odd);
    }
};

}  // namespace

namespace kip::median {
const NetworkIsa kNetworkSse41 = {
    nullptr, &NetworkKernels<U16>::select,   nullptr, &NetworkKernels<U16>::median, 0, U16::kLanes,
    nullptr, &NetworkKernels<U16>::median3x3};
}

#else

namespace kip::median {
const NetworkIsa kNetworkSse41 = {nullptr, nullptr, nullptr, nullptr, 0, 0, nullptr, nullptr};
}

#endif
