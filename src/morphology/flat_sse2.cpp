// SSE2 kernels of the separable engine: 16 bytes per instruction. SSE2 has no unsigned 16-bit
// maximum or minimum; saturating subtraction gives both exactly.
#include <array>
#include <utility>

#include "morphology/flat_isa.hpp"

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
    template <class T, bool Dilate>
    static Vec neutral() {
        return Dilate ? _mm_setzero_si128() : ones();
    }
    template <class T, bool Dilate>
    static Vec extreme(Vec a, Vec b) {
        if constexpr (sizeof(T) == 1) {
            return Dilate ? _mm_max_epu8(a, b) : _mm_min_epu8(a, b);
        } else {
            // max(a, b) = b + (a -sat b); min(a, b) = a - (a -sat b).
            const Vec d = _mm_subs_epu16(a, b);
            return Dilate ? _mm_add_epi16(b, d) : _mm_sub_epi16(a, d);
        }
    }
    template <class T>
    static Vec maskFor(const uint8_t* m) {
        if constexpr (sizeof(T) == 1) {
            return load(m);
        } else {
            const Vec bytes = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(m));
            return _mm_unpacklo_epi8(bytes, bytes);
        }
    }
};

#include "morphology/flat_simd.hpp"

}  // namespace

namespace kip::morphology {
const FlatIsa kFlatIsaSse2 = makeFlatIsa<Sse2>();
}

#else

namespace kip::morphology {
const FlatIsa kFlatIsaSse2 = {};
}

#endif
