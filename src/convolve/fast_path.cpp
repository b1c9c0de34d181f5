// The optimised convolution slots. The engine keeps, for every source row v of the current
// footprints, a row of int16 pairs (pixel of row v, pixel of row v + 1), so that one multiply-add
// instruction applies two taps of the turned kernel; sums are exact in 32 bits and the quotient
// is exact too (exact_divider.hpp), which makes the results those of the general loop.
#include <cstring>

#include "convolve/convolve_internal.hpp"
#include "convolve/exact_divider.hpp"
#include "convolve/fast_isa.hpp"
#include "convolve/isa_choice.hpp"
#include "frame/cleanup.hpp"
#include "frame/isa.hpp"
#include "kip/platform/pixel.h"
#include "platform/assert.hpp"

using kip::Cleanup;
using kip::failed;
using kip::Isa;
using namespace kip::convolve;
using kip::containsRect;
using kip::mutablePixelAt;
using kip::pixelAt;
using kip::reflect;

namespace {

// The cap is about memory, not speed: a 3 x kh kernel over a 4096-wide row still runs about 5
// times faster here than in the general loop with 250 MiB of scratch (convolve_bench's
// kip_tall_kernel case), but the clipped general loop needs no memory at all, so past this a
// slow answer beats a huge allocation that could fail.
constexpr uint64_t kMaxScratchBytes = uint64_t{256} << 20;

template <class Weight>
Weight weightAt(const kimg_windowConst& kernel, int64_t column, int64_t row) {
    return pixelAt<Weight>(kernel, int64_t{kernel.rect.x} + column, int64_t{kernel.rect.y} + row)[0];
}

// Builds the pair rows over the span of columns the destination row's footprints cover: straight
// from the source where the span lies inside it, through the reflection outside (mirrored mode).
class PairBuilder {
public:
    PairBuilder(const kimg_windowConst& source, const FastIsa& isa, int64_t spanStart, int64_t span, bool mirror)
        : source_(source), isa_(isa), start_(spanStart - source.rect.x), span_(span), mirror_(mirror) {
        const int64_t width = source.rect.width;
        inBegin_ = start_ < 0 ? (-start_ < span ? -start_ : span) : 0;
        inEnd_ = width - start_ < span ? width - start_ : span;
        if (inEnd_ < inBegin_) inEnd_ = inBegin_;
    }

    // out[2c], out[2c + 1] := span column c of source rows v and partner.
    void build(int64_t v, int64_t partner, int16_t* out) const {
        const uint8_t* a = row(v);
        const uint8_t* b = row(partner);
        const int64_t width = source_.rect.width;
        for (int64_t c = 0; c < inBegin_; ++c) {
            out[2 * c] = a[reflect(start_ + c, width)];
            out[2 * c + 1] = b[reflect(start_ + c, width)];
        }
        if (inEnd_ > inBegin_)
            isa_.interleave(a + start_ + inBegin_, b + start_ + inBegin_, static_cast<int32_t>(inEnd_ - inBegin_),
                            out + 2 * inBegin_);
        for (int64_t c = inEnd_; c < span_; ++c) {
            out[2 * c] = a[reflect(start_ + c, width)];
            out[2 * c + 1] = b[reflect(start_ + c, width)];
        }
    }

private:
    const uint8_t* row(int64_t v) const {
        const kstd_rect32& s = source_.rect;
        const int64_t y = mirror_ ? s.y + reflect(v - s.y, s.height) : v;
        return pixelAt<uint8_t>(source_, s.x, y);
    }

    const kimg_windowConst& source_;
    const FastIsa& isa_;
    int64_t start_;  // span start relative to the source's left edge
    int64_t span_;
    int64_t inBegin_;  // span columns [inBegin_, inEnd_) lie inside the source
    int64_t inEnd_;
    bool mirror_;
};

// A call the fast path accepted: its kernels, the kernel's shape and the division.
struct Plan {
    const FastIsa* isa;
    int32_t kw, kh;
    int64_t hx, hy;
    Division division;
};

template <class Weight, class Out>
kip_status plan(const kimg_windowConst& source, const kimg_windowConst& kernel, int32_t divisor,
                const kimg_window& destination, bool mirror, Plan* out) {
    Plan p{};
    kip_status s = admitExact(source, kernel, divisor, destination, mirror, sizeof(Weight), sizeof(Out), &p.division);
    if (failed(s)) return s;
    s = selectFastIsa(&p.isa);
    if (failed(s)) return s;
    if (p.isa == nullptr) return kip_errNotAvailable;
    p.kw = kernel.rect.width;
    p.kh = kernel.rect.height;
    p.hx = (p.kw - 1) / 2;
    p.hy = (p.kh - 1) / 2;
    *out = p;
    return 0;
}

// Scratch: kh pair rows (64-byte aligned, each a multiple of 64 bytes), the pair-row pointers and
// the packed weights, in one block.
struct Scratch {
    int64_t slotPairs;  // pairs per row slot
    int32_t pairCount;  // footprint rows taken two at a time
    uint64_t ringBytes, pointerBytes, weightBytes;
    int16_t* ring = nullptr;
    const int16_t** pairRows = nullptr;
    int32_t* weights = nullptr;

    Scratch(const Plan& p, int32_t width)
        : slotPairs(((width > kFastBlock ? width : kFastBlock) + int64_t{p.kw} - 1 + 15) / 16 * 16),
          pairCount(static_cast<int32_t>(p.hy + 1)),
          ringBytes(uint64_t(p.kh) * uint64_t(slotPairs) * 4),
          pointerBytes(uint64_t(pairCount) * sizeof(const int16_t*)),
          weightBytes(uint64_t(pairCount) * uint64_t(p.kw) * 4) {}

    uint64_t bytes() const { return 64 + ringBytes + pointerBytes + weightBytes; }

    // Lays the parts out in a block of bytes() bytes.
    void carve(void* block) {
        uint8_t* base = static_cast<uint8_t*>(block);
        base += (64 - reinterpret_cast<uintptr_t>(base) % 64) % 64;
        ring = reinterpret_cast<int16_t*>(base);
        pairRows = reinterpret_cast<const int16_t**>(base + ringBytes);
        weights = reinterpret_cast<int32_t*>(base + ringBytes + pointerBytes);
        // Columns past the span are read by the last block of a row but never used; keep them defined.
        std::memset(ring, 0, static_cast<size_t>(ringBytes));
    }
};

// Footprint row j meets kernel row kh - 1 - j, column i meets kw - 1 - i; a missing partner row
// (the last of an odd height) gets weight 0.
template <class Weight>
void packWeights(const kimg_windowConst& kernel, const Plan& p, const Scratch& scratch) {
    for (int32_t k = 0; k < scratch.pairCount; ++k) {
        for (int32_t i = 0; i < p.kw; ++i) {
            const int32_t j = 2 * k;
            const uint32_t w0 = static_cast<uint16_t>(weightAt<Weight>(kernel, p.kw - 1 - i, p.kh - 1 - j));
            const uint32_t w1 =
                j + 1 < p.kh ? static_cast<uint16_t>(weightAt<Weight>(kernel, p.kw - 1 - i, p.kh - 2 - j)) : 0u;
            scratch.weights[k * p.kw + i] = static_cast<int32_t>(w0 | (w1 << 16));
        }
    }
}

// Destination rows top to bottom, each pair row built once as the footprints move down.
template <class Out>
void convolveRows(const kimg_windowConst& source, const kimg_window& destination, bool mirror, const Plan& p,
                  const Scratch& scratch) {
    const kstd_rect32 r = destination.rect;
    const int64_t span = int64_t{r.width} + p.kw - 1;
    const PairBuilder builder(source, *p.isa, r.x - p.hx, span, mirror);
    auto slot = [&](int64_t v) { return scratch.ring + ((v - (r.y - p.hy)) % p.kh) * scratch.slotPairs * 2; };
    const int64_t lastV = int64_t{r.y} + r.height - 1 + p.hy;
    int64_t next = r.y - p.hy;
    const FastRow row{scratch.pairRows,      scratch.weights,  scratch.pairCount, p.kw, r.width, p.division.useFloat,
                      p.division.reciprocal, p.division.magic, p.division.shift};
    for (int64_t y = r.y; y < int64_t{r.y} + r.height; ++y) {
        // Pair row v holds rows v and v + 1; for the last row its partner is never weighted.
        for (; next <= y + p.hy; ++next) builder.build(next, next < lastV ? next + 1 : next, slot(next));
        for (int32_t k = 0; k < scratch.pairCount; ++k) scratch.pairRows[k] = slot(y - p.hy + 2 * k);
        Out* out = mutablePixelAt<Out>(destination, r.x, y);
        if constexpr (sizeof(Out) == 1)
            p.isa->row8(row, out);
        else
            p.isa->row16(row, reinterpret_cast<int16_t*>(out));
    }
}

template <class Weight, class Out>
kip_status fastConvolve(const kimg_windowConst* source, const kimg_windowConst* kernel, int32_t divisor,
                        const kimg_window* destination, bool mirror) {
    KIP_REQUIRE(source);
    KIP_REQUIRE(kernel);
    KIP_REQUIRE(destination);
    Plan p;
    kip_status s = plan<Weight, Out>(*source, *kernel, divisor, *destination, mirror, &p);
    if (failed(s)) return s;
    Scratch scratch(p, destination->rect.width);
    if (scratch.bytes() > kMaxScratchBytes) return kip_errNotAvailable;
    void* block = nullptr;
    s = ksys_memory_alloc_internal(static_cast<size_t>(scratch.bytes()), &block);
    if (failed(s)) return s;
    Cleanup<1> c;
    c.addBlock<void>(ksys_cleanupFreeAlways, &block);
    scratch.carve(block);
    packWeights<Weight>(*kernel, p, scratch);
    convolveRows<Out>(*source, *destination, mirror, p, scratch);
    return c.finish(0);
}

}  // namespace

namespace kip::convolve {

bool makeDivision(uint32_t divisor, Division* out) {
    Division d{};
    d.useFloat = divisor <= kFloatDivisorLimit ? 1 : 0;
    d.reciprocal = floatReciprocal(divisor);
    ExactDivider exact{};
    if (!d.useFloat && !makeExactDivider(divisor, &exact)) return false;
    d.magic = exact.magic;
    d.shift = exact.shift;
    *out = d;
    return true;
}

// Anything unusual is left to the general loop, which defines the outcome.
kip_status admitExact(const kimg_windowConst& source, const kimg_windowConst& kernel, int32_t divisor,
                      const kimg_window& destination, bool mirror, int32_t weightBytes, int32_t outBytes,
                      Division* division) {
    const kstd_rect32 r = destination.rect;
    const kstd_rect32 s = source.rect;
    if (r.width <= 0 || r.height <= 0 || destination.pixels == nullptr || source.pixels == nullptr || s.width <= 0 ||
        s.height <= 0)
        return kip_errNotAvailable;
    if (source.bytesPerPixel != 1 || kernel.bytesPerPixel != weightBytes || destination.bytesPerPixel != outBytes)
        return kip_errNotAvailable;
    // The accumulator stays within +-255 * norm, which must fit a signed 32-bit lane; a divisor at
    // least the norm keeps quotients within -255..255 for the saturating packs.
    const KernelNorm norm = weightBytes == 1 ? kernelNorm8(kernel) : kernelNorm16s(kernel);
    if (norm.exact > uint64_t{0x7FFFFFFF} / 255 || divisor < 1 || uint64_t(divisor) < norm.exact)
        return kip_errNotAvailable;
    Division d{};
    if (!makeDivision(static_cast<uint32_t>(divisor), &d)) return kip_errNotAvailable;
    const int64_t hx = (kernel.rect.width - 1) / 2, hy = (kernel.rect.height - 1) / 2;
    if (!mirror && !containsRect(s, r.x - hx, r.y - hy, int64_t{r.width} + kernel.rect.width - 1,
                                 int64_t{r.height} + kernel.rect.height - 1))
        return kip_errNotAvailable;
    // Writing over pixels still to be read would change the results the general loop defines.
    if (kip_pelfunc_checkMemoryOverlap(&source, &destination) != 0) return kip_errNotAvailable;
    *division = d;
    return 0;
}

kip_status selectFastIsa(const FastIsa** isa) {
    KIP_REQUIRE(isa);
    return selectWidest(isa, {{Isa::Avx2, &kFastIsaAvx2}, {Isa::Sse2, &kFastIsaSse2}},
                        [](const FastIsa& t) { return t.interleave != nullptr; });
}

}  // namespace kip::convolve

extern "C" {

kip_status kip_filterConvolveFast8_8_8_(const kimg_windowConst* source, const kimg_windowConst* kernel, int32_t divisor,
                                        const kimg_window* destination) {
    return fastConvolve<uint8_t, uint8_t>(source, kernel, divisor, destination, false);
}

kip_status kip_filterConvolveFast8_16s_16s_(const kimg_windowConst* source, const kimg_windowConst* kernel,
                                            int32_t divisor, const kimg_window* destination) {
    return fastConvolve<int16_t, uint16_t>(source, kernel, divisor, destination, false);
}

kip_status kip_filterConvolveFastMirrored8_8_8_(const kimg_windowConst* source, const kimg_windowConst* kernel,
                                                int32_t divisor, const kimg_window* destination) {
    return fastConvolve<uint8_t, uint8_t>(source, kernel, divisor, destination, true);
}

kip_status kip_filterConvolveFastMirrored8_16s_16s_(const kimg_windowConst* source, const kimg_windowConst* kernel,
                                                    int32_t divisor, const kimg_window* destination) {
    return fastConvolve<int16_t, uint16_t>(source, kernel, divisor, destination, true);
}

}  // extern "C"
