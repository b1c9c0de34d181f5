// SSE2 kernel of the vector weighted pass: 16 pixels per instruction.
#include "morphology/weighted_isa.hpp"

#if defined(__SSE2__)
#include <emmintrin.h>

namespace {

struct Sse2 {
    using Vec = __m128i;
    static constexpr int32_t kBytes = 16;
    static Vec load(const void* p) { return _mm_loadu_si128(static_cast<const __m128i*>(p)); }
    static void store(void* p, Vec v) { _mm_storeu_si128(static_cast<__m128i*>(p), v); }
    static Vec and8(Vec a, Vec b) { return _mm_and_si128(a, b); }
    static Vec or8(Vec a, Vec b) { return _mm_or_si128(a, b); }
    static Vec andnot(Vec a, Vec b) { return _mm_andnot_si128(a, b); }
    static Vec ones() { return _mm_set1_epi32(-1); }
    static Vec zero() { return _mm_setzero_si128(); }
    static Vec adds(Vec a, Vec b) { return _mm_adds_epu8(a, b); }
    static Vec subs(Vec a, Vec b) { return _mm_subs_epu8(a, b); }
    static Vec max(Vec a, Vec b) { return _mm_max_epu8(a, b); }
    static Vec min(Vec a, Vec b) { return _mm_min_epu8(a, b); }
};

#include "morphology/weighted_simd.hpp"

}  // namespace

namespace kip::morphology {
const WeightedIsa kWeightedIsaSse2 = makeWeightedIsa<Sse2>();
}

#else

namespace kip::morphology {
const WeightedIsa kWeightedIsaSse2 = {};
}

#endif
