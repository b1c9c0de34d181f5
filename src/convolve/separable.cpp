// The separable convolution path: a kernel that is exactly the outer product of an integer column
// and an integer row is applied as a vertical pass over the source rows (column sums, kept in 16
// bits where they fit, in 32 otherwise) and a horizontal pass over those sums. All arithmetic is modulo 2^32 like the
// general loop's, so the accumulator, and with it the quotient, is the general loop's to the bit.
#include <cstring>
#include <numeric>

#include "convolve/convolve_internal.hpp"
#include "convolve/isa_choice.hpp"
#include "convolve/separable_isa.hpp"
#include "convolve/span.hpp"
#include "frame/cleanup.hpp"
#include "platform/assert.hpp"

using kip::Cleanup;
using kip::failed;
using kip::Isa;
using kip::mutablePixelAt;
using namespace kip::convolve;

namespace {

// The vertical sums live in int16 around a bias when 255 x the column factor's magnitude sum
// spans at most 65536 values; larger column factors take 32-bit sums.
constexpr int64_t kMaxColumnMagnitude = 257;
constexpr uint64_t kMaxScratchBytes = uint64_t{64} << 20;
// The L1 data cache's ways: taller column factors read their rows from the ring (below).
constexpr int32_t kRingRows = 8;

int64_t weightAt(const kimg_windowConst& k, int64_t column, int64_t row) {
    const int64_t x = int64_t{k.rect.x} + column, y = int64_t{k.rect.y} + row;
    return k.bytesPerPixel == 1 ? int64_t{kip::pixelAt<uint8_t>(k, x, y)[0]}
                                : int64_t{kip::pixelAt<int16_t>(k, x, y)[0]};
}

}  // namespace

namespace kip::convolve {

bool rankOneSplit(const kimg_windowConst& kernel, RankOne* split) {
    KIP_REQUIRE(split);
    const int32_t kw = kernel.rect.width, kh = kernel.rect.height;
    if (kw <= 0 || kh <= 0 || (kernel.bytesPerPixel != 1 && kernel.bytesPerPixel != 2)) return false;
    int32_t p = -1, q = -1;
    for (int32_t j = 0; j < kh && p < 0; ++j)
        for (int32_t i = 0; i < kw; ++i)
            if (weightAt(kernel, i, j) != 0) {
                p = j;
                q = i;
                break;
            }
    if (p < 0) return false;
    const int64_t pivot = weightAt(kernel, q, p);
    // Rank one: every 2 x 2 minor through the pivot vanishes (products below 2^31 in magnitude).
    int64_t g = 0;
    for (int32_t j = 0; j < kh; ++j) {
        const int64_t kjq = weightAt(kernel, q, j);
        g = std::gcd(g, kjq);
        for (int32_t i = 0; i < kw; ++i)
            if (weightAt(kernel, i, j) * pivot != kjq * weightAt(kernel, i, p)) return false;
    }
    // column_j = K[j][q] / g has no common factor, so row_i = K[p][i] * g / pivot is an integer:
    // column_j * row_i = K[j][q] * K[p][i] / pivot = K[j][i].
    *split = RankOne{p, q, pivot, g};
    return true;
}

int64_t RankOne::column(const kimg_windowConst& kernel, int32_t j) const { return weightAt(kernel, q, j) / gcd; }
int64_t RankOne::row(const kimg_windowConst& kernel, int32_t i) const { return weightAt(kernel, i, p) * gcd / pivot; }

kip_status selectSeparableIsa(const SeparableIsa** isa) {
    KIP_REQUIRE(isa);
    return selectWidest(
        isa, {{Isa::Avx512, &kSeparableIsaAvx512}, {Isa::Avx2, &kSeparableIsaAvx2}, {Isa::Sse2, &kSeparableIsaSse2}},
        [](const SeparableIsa& t) { return t.vertical != nullptr; });
}

}  // namespace kip::convolve

namespace {

template <class Weight, class Out>
kip_status separableConvolve(const kimg_windowConst* source, const kimg_windowConst* kernel, int32_t divisor,
                             const kimg_window* destination, bool mirror) {
    KIP_REQUIRE(source);
    KIP_REQUIRE(kernel);
    KIP_REQUIRE(destination);
    Division division;
    kip_status s = admitExact(*source, *kernel, divisor, *destination, mirror, sizeof(Weight), sizeof(Out), &division);
    if (failed(s)) return s;
    const kstd_rect32 r = destination->rect;
    if (mirror && !kip::containsRect(source->rect, r.x, r.y, r.width, r.height)) return kip_errNotAvailable;
    RankOne split;
    if (!rankOneSplit(*kernel, &split)) return kip_errNotAvailable;
    const SeparableIsa* isa = nullptr;
    s = selectSeparableIsa(&isa);
    if (failed(s)) return s;
    if (isa == nullptr) return kip_errNotAvailable;

    const int32_t kw = kernel->rect.width, kh = kernel->rect.height;
    // Footprint row j meets the column factor's entry kh - 1 - j, column i the row factor's kw - 1 - i.
    auto columnTap = [&](int32_t j) { return split.column(*kernel, kh - 1 - j); };
    auto rowTap = [&](int32_t i) { return split.row(*kernel, kw - 1 - i); };
    // Zero taps at either end add nothing: the passes run over [j0, j1] and [i0, i1] only (both
    // factors have a non-zero entry, the kernel having one).
    int32_t j0 = 0, j1 = kh - 1, i0 = 0, i1 = kw - 1;
    while (columnTap(j0) == 0) ++j0;
    while (columnTap(j1) == 0) --j1;
    while (rowTap(i0) == 0) ++i0;
    while (rowTap(i1) == 0) --i1;
    const int32_t rowsUsed = j1 - j0 + 1, tapsUsed = i1 - i0 + 1;
    int64_t magnitude = 0, negative = 0, rowSum = 0;
    bool fits = true, symmetric = true;
    for (int32_t j = j0; j <= j1; ++j) {
        const int64_t t = columnTap(j);
        magnitude += t < 0 ? -t : t;
        negative += t < 0 ? t : 0;
        fits = fits && t >= INT16_MIN && t <= INT16_MAX;
        symmetric = symmetric && t == columnTap(j0 + j1 - j);
    }
    for (int32_t i = i0; i <= i1; ++i) {
        const int64_t t = rowTap(i);
        rowSum += t;
        fits = fits && t >= INT16_MIN && t <= INT16_MAX;
    }
    if (!fits) return kip_errNotAvailable;
    // Narrow: column sums in int16 around a bias. Wide: exact 32-bit column sums, one tap to a lane.
    const bool wide = magnitude > kMaxColumnMagnitude;
    const int32_t hWeights = wide ? tapsUsed : (tapsUsed + 1) / 2;

    const Span span(*source, r.x, r.width, kw);
    const int64_t in0 = span.inBegin(), in1 = span.inEnd();
    const int32_t inside = static_cast<int32_t>(in1 - in0);
    // Source rows a multiple of 4 KiB apart fall into the same L1 sets; more of them than the cache
    // has ways evict one another between the blocks of the vertical pass. Tall column factors read
    // copies in a ring whose pitch is an odd number of cache lines, one new row per destination row.
    const bool ring = rowsUsed >= kRingRows && inside > 0;
    const int64_t pitch = ((int64_t{inside} + 63) / 64) | 1;
    const uint64_t ringBytes = ring ? uint64_t(rowsUsed) * uint64_t(pitch) * 64 : 0;
    const int64_t slots = (r.width > kSeparableBlock ? r.width : kSeparableBlock) + int64_t{kw} + 1;
    const uint64_t vBytes = (uint64_t(slots) * (wide ? 4 : 2) + 63) / 64 * 64,
                   rowBytes = uint64_t(rowsUsed) * sizeof(void*),
                   tapBytes = uint64_t(hWeights) * 4 + uint64_t(kh) * 2 + 4;
    const uint64_t bytes = 64 + ringBytes + vBytes + rowBytes + tapBytes + uint64_t(span.outerCount()) * 4;
    if (bytes > kMaxScratchBytes) return kip_errNotAvailable;
    void* block = nullptr;
    s = ksys_memory_alloc_internal(static_cast<size_t>(bytes), &block);
    if (failed(s)) return s;
    Cleanup<1> c;
    c.addBlock<void>(ksys_cleanupFreeAlways, &block);
    uint8_t* base = static_cast<uint8_t*>(block);
    base += (64 - reinterpret_cast<uintptr_t>(base) % 64) % 64;
    uint8_t* ringRows = base;
    void* v = base + ringBytes;
    const uint8_t** rows = reinterpret_cast<const uint8_t**>(base + ringBytes + vBytes);
    int32_t* hWeight = reinterpret_cast<int32_t*>(base + ringBytes + vBytes + rowBytes);
    int32_t* outer = hWeight + hWeights;
    int16_t* vTaps = reinterpret_cast<int16_t*>(outer + span.outerCount());
    span.mapOuter(outer);
    // Slots past the span are read by the last blocks but never weighted into a stored pixel.
    std::memset(v, 0, static_cast<size_t>(vBytes));
    for (int32_t j = 0; j < rowsUsed; ++j) vTaps[j] = static_cast<int16_t>(columnTap(j0 + j));
    if (wide) {
        for (int32_t i = 0; i < tapsUsed; ++i) hWeight[i] = static_cast<int32_t>(rowTap(i0 + i));
    } else {
        // Two taps to an int32 (low half first); an odd last tap gets 0.
        for (int32_t k = 0; 2 * k < tapsUsed; ++k) {
            const uint32_t lo = static_cast<uint16_t>(rowTap(i0 + 2 * k));
            const uint32_t hi = 2 * k + 1 < tapsUsed ? static_cast<uint16_t>(rowTap(i0 + 2 * k + 1)) : 0u;
            hWeight[k] = static_cast<int32_t>(lo | (hi << 16));
        }
    }
    // Narrow column sums lie in [255 * negative, 255 * (negative + magnitude)]; minus the bias, in
    // int16. The vertical pass works modulo 2^16, the bias too; the constant restores the true bias.
    const int64_t bias = wide ? 0 : 255 * negative + 32768;
    const uint32_t constant = static_cast<uint32_t>(bias) * static_cast<uint32_t>(rowSum);

    const SeparableRow row{static_cast<const int16_t*>(v) + i0,
                           static_cast<const int32_t*>(v) + i0,
                           hWeight,
                           hWeights,
                           r.width,
                           static_cast<int32_t>(constant),
                           division.useFloat,
                           division.reciprocal,
                           division.magic,
                           division.shift};
    const int64_t top = j0 - int64_t{(kh - 1) / 2};
    for (int64_t y = r.y; y < int64_t{r.y} + r.height; ++y) {
        if (ring) {
            // Slot t mod rowsUsed holds footprint row t; each destination row brings one new row.
            const int64_t first = y == r.y ? 0 : rowsUsed - 1;
            for (int64_t j = first; j < rowsUsed; ++j) {
                const int64_t t = y - r.y + j;
                std::memcpy(ringRows + (t % rowsUsed) * pitch * 64, span.row(y + top + j, mirror),
                            static_cast<size_t>(inside));
            }
            for (int64_t j = 0; j < rowsUsed; ++j) rows[j] = ringRows + ((y - r.y + j) % rowsUsed) * pitch * 64;
        } else {
            for (int32_t j = 0; j < rowsUsed; ++j) rows[j] = span.row(y + top + j, mirror);
        }
        Out* out = mutablePixelAt<Out>(*destination, r.x, y);
        if (wide) {
            int32_t* v32 = static_cast<int32_t*>(v);
            isa->vertical32(rows, vTaps, rowsUsed, inside, v32 + in0);
            span.fillOuter(v32, outer);
            if constexpr (sizeof(Out) == 1)
                isa->wideRow8(row, out);
            else
                isa->wideRow16(row, reinterpret_cast<int16_t*>(out));
        } else {
            int16_t* v16 = static_cast<int16_t*>(v);
            isa->vertical(rows, vTaps, rowsUsed, symmetric ? 1 : 0, static_cast<int16_t>(static_cast<uint16_t>(bias)),
                          inside, v16 + in0);
            span.fillOuter(v16, outer);
            if constexpr (sizeof(Out) == 1)
                isa->row8(row, out);
            else
                isa->row16(row, reinterpret_cast<int16_t*>(out));
        }
    }
    return c.finish(0);
}

}  // namespace

extern "C" {

kip_status kip_filterConvolveSeparable8_8_8_(const kimg_windowConst* source, const kimg_windowConst* kernel,
                                             int32_t divisor, const kimg_window* destination, uint32_t mirror) {
    return separableConvolve<uint8_t, uint8_t>(source, kernel, divisor, destination, mirror != 0);
}

kip_status kip_filterConvolveSeparable8_16s_16s_(const kimg_windowConst* source, const kimg_windowConst* kernel,
                                                 int32_t divisor, const kimg_window* destination, uint32_t mirror) {
    return separableConvolve<int16_t, uint16_t>(source, kernel, divisor, destination, mirror != 0);
}

}  // extern "C"
