// SSE2 kernels of the optimised mean and of the subtraction: four means, or sixteen 8-bit /
// eight 16-bit differences, per step.
#include "pelsub/rows_isa.hpp"

#if defined(__SSE2__)
#include <emmintrin.h>

#include <cstring>

namespace {

struct Sse2 {
    static constexpr int32_t kLanes = 4;
    static constexpr int32_t kBytes = 16;
    using I = __m128i;
    using F = __m128;
    using B = __m128i;

    static I loadI(const uint32_t* p) { return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p)); }
    static I subI(I a, I b) { return _mm_sub_epi32(a, b); }
    static I addI(I a, I b) { return _mm_add_epi32(a, b); }
    static I zeroI() { return _mm_setzero_si128(); }
    static void storeI(uint32_t* p, I v) { _mm_storeu_si128(reinterpret_cast<__m128i*>(p), v); }
    static I prefixWithin(I v) {
        v = _mm_add_epi32(v, _mm_slli_si128(v, 4));
        return _mm_add_epi32(v, _mm_slli_si128(v, 8));
    }
    static I broadcastLast(I v) { return _mm_shuffle_epi32(v, 0xFF); }
    static I andI(I a, I b) { return _mm_and_si128(a, b); }
    static I set1I(int32_t v) { return _mm_set1_epi32(v); }
    static F toFloat(I a) { return _mm_cvtepi32_ps(a); }
    static F set1F(float v) { return _mm_set1_ps(v); }
    static F divF(F a, F b) { return _mm_div_ps(a, b); }
    static F subF(F a, F b) { return _mm_sub_ps(a, b); }
    static I truncate(F a) { return _mm_cvttps_epi32(a); }
    static I halfUp(F fraction) { return _mm_castps_si128(_mm_cmpge_ps(fraction, _mm_set1_ps(0.5f))); }
    static I loadPixels8(const uint8_t* p) {
        int32_t bytes;
        std::memcpy(&bytes, p, 4);
        const __m128i zero = _mm_setzero_si128();
        return _mm_unpacklo_epi16(_mm_unpacklo_epi8(_mm_cvtsi32_si128(bytes), zero), zero);
    }
    static I loadPixels16(const uint16_t* p) {
        return _mm_unpacklo_epi16(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(p)), _mm_setzero_si128());
    }
    static I maskOff(const uint8_t* m) { return _mm_cmpeq_epi32(loadPixels8(m), _mm_setzero_si128()); }
    static I select(I m, I a, I b) { return _mm_or_si128(_mm_and_si128(m, a), _mm_andnot_si128(m, b)); }
    static void store8(uint8_t* p, I v) {
        const __m128i words = _mm_packs_epi32(v, v);
        const int32_t bytes = _mm_cvtsi128_si32(_mm_packus_epi16(words, words));
        std::memcpy(p, &bytes, 4);
    }
    static void store16(uint16_t* p, I v) {
        // No unsigned 32-to-16 pack before SSE4.1: shift into the signed range and back.
        const __m128i bias = _mm_set1_epi32(32768);
        const __m128i words = _mm_packs_epi32(_mm_sub_epi32(v, bias), _mm_sub_epi32(v, bias));
        _mm_storel_epi64(reinterpret_cast<__m128i*>(p), _mm_xor_si128(words, _mm_set1_epi16(-32768)));
    }

    static B loadB(const void* p) { return _mm_loadu_si128(static_cast<const __m128i*>(p)); }
    static void storeB(void* p, B v) { _mm_storeu_si128(static_cast<__m128i*>(p), v); }
    static B subsU8(B a, B b) { return _mm_subs_epu8(a, b); }
    static B addsU8(B a, B b) { return _mm_adds_epu8(a, b); }
    static B subsU16(B a, B b) { return _mm_subs_epu16(a, b); }
    static B addsU16(B a, B b) { return _mm_adds_epu16(a, b); }
    static B set1B8(int v) { return _mm_set1_epi8(static_cast<char>(v)); }
    static B set1B16(int v) { return _mm_set1_epi16(static_cast<short>(v)); }
};

#include "pelsub/rows_kernels.hpp"

}  // namespace

const kip::pelsub::RowIsa kip::pelsub::kRowIsaSse2 = makeRowIsa<Sse2>();

#else
const kip::pelsub::RowIsa kip::pelsub::kRowIsaSse2 = {};
#endif
