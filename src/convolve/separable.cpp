// The separable convolution path: a kernel that is exactly the outer product of an integer column
// and an integer row is applied as a vertical pass over the source rows (column sums in 16 bits,
// in up to four parts of the column where one part cannot hold them, in 32 bits beyond) and a
// horizontal pass over those sums. All arithmetic is modulo 2^32 like the general loop's, so the
// accumulator, and with it the quotient, is the general loop's to the bit.
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

// A part's vertical sums live in int16 around a bias when 255 x its magnitude sum spans at most
// 65536 values.
constexpr int64_t kMaxColumnMagnitude = 257;
constexpr uint64_t kMaxScratchBytes = uint64_t{64} << 20;
// The L1 data cache's ways: taller column factors read their rows from the ring (below).
constexpr int32_t kRingRows = 8;
// Shorter columns keep the folded 16-bit multiplies, which measured about 5% faster at 3 and 5
// rows; from 9 rows on the byte pairs were ahead by 2 to 12%.
constexpr int32_t kBytePairRows = 7;

// Column factors of larger magnitude are cut into up to kMaxParts parts, each summed in int16 on
// its own; the horizontal pass weights every part's sums alike.
constexpr int32_t kMaxParts = 4;

// The parts are rings of the column factor's rows, from the outside in (ring a: rows a and
// n - 1 - a), so each part of a symmetric factor is symmetric and still folds. Part g holds rings
// [ring[g], ring[g + 1]); its rows, outer half then inner half mirrored, are entries
// [first[g], first[g + 1]) of the order.
struct Parts {
    int32_t count = 0;
    int32_t ring[kMaxParts + 1] = {};
    int32_t first[kMaxParts + 1] = {};
    int64_t negative[kMaxParts] = {};

    // The factor row at entry t of the order.
    int32_t order(int32_t t, int32_t n) const {
        int32_t g = 0;
        while (t >= first[g + 1]) ++g;
        const int32_t k = t - first[g], outerRows = ring[g + 1] - ring[g];
        return k < outerRows ? ring[g] + k : n - ring[g + 1] + (k - outerRows) + (2 * ring[g + 1] > n ? 1 : 0);
    }
};

// Fills parts greedily from the outside in; false when a ring alone is too large or more than
// kMaxParts parts would be needed.
template <class Tap>
bool splitColumn(Tap tap, int32_t n, Parts* parts) {
    int64_t magnitude = 0;
    for (int32_t a = 0; a < (n + 1) / 2; ++a) {
        const int64_t x = tap(a), y = tap(n - 1 - a);
        const bool centre = a == n - 1 - a;
        const int64_t m = (x < 0 ? -x : x) + (centre ? 0 : y < 0 ? -y : y);
        if (m > kMaxColumnMagnitude) return false;
        if (parts->count == 0 || magnitude + m > kMaxColumnMagnitude) {
            if (parts->count == kMaxParts) return false;
            parts->ring[parts->count] = a;
            parts->first[parts->count] =
                a == 0 ? 0 : parts->first[parts->count - 1] + 2 * (a - parts->ring[parts->count - 1]);
            ++parts->count;
            magnitude = 0;
        }
        magnitude += m;
        parts->negative[parts->count - 1] += (x < 0 ? x : 0) + (!centre && y < 0 ? y : 0);
    }
    parts->ring[parts->count] = (n + 1) / 2;
    parts->first[parts->count] = n;
    return true;
}

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
    int64_t rowSum = 0;
    bool fits = true, symmetric = true;
    for (int32_t j = j0; j <= j1; ++j) {
        const int64_t t = columnTap(j);
        fits = fits && t >= INT16_MIN && t <= INT16_MAX;
        symmetric = symmetric && t == columnTap(j0 + j1 - j);
    }
    for (int32_t i = i0; i <= i1; ++i) {
        const int64_t t = rowTap(i);
        rowSum += t;
        fits = fits && t >= INT16_MIN && t <= INT16_MAX;
    }
    if (!fits) return kip_errNotAvailable;
    // Narrow: column sums in int16 around a bias, in parts of the column factor whose magnitudes
    // each stay within kMaxColumnMagnitude. Wide (no such parts): exact 32-bit column sums.
    Parts parts;
    const bool wide = !splitColumn([&](int32_t j) { return columnTap(j0 + j); }, rowsUsed, &parts);
    const int32_t partCount = wide ? 1 : parts.count;
    const int32_t hWeights = wide ? tapsUsed : (tapsUsed + 1) / 2;

    const Span span(*source, r.x, r.width, kw);
    const int64_t in0 = span.inBegin(), in1 = span.inEnd();
    const int32_t inside = static_cast<int32_t>(in1 - in0);
    // Source rows a multiple of 4 KiB apart fall into the same L1 sets; more of them than the cache
    // has ways evict one another between the blocks of the vertical pass. Tall column factors read
    // copies in a ring whose pitch is an odd number of cache lines, one new row per destination row.
    const bool ring = rowsUsed >= kRingRows && inside > 0;
    const int64_t pitch = (((int64_t{inside} + 63) / 64) | 1) * 64;
    const uint64_t ringBytes = ring ? uint64_t(rowsUsed) * uint64_t(pitch) : 0;
    const int64_t slots = (r.width > kSeparableBlock ? r.width : kSeparableBlock) + int64_t{kw} + 1;
    const uint64_t partBytes = (uint64_t(slots) * (wide ? 4 : 2) + 63) / 64 * 64,
                   vBytes = partBytes * uint64_t(partCount), rowBytes = uint64_t(rowsUsed + 1) * sizeof(void*),
                   orderBytes = uint64_t(rowsUsed) * 4,
                   tapBytes = uint64_t(hWeights) * 4 + uint64_t(rowsUsed) * 4 + 4 * kMaxParts + 4;
    const uint64_t bytes = 64 + ringBytes + vBytes + rowBytes + orderBytes + tapBytes + uint64_t(span.outerCount()) * 4;
    if (bytes > kMaxScratchBytes) return kip_errNotAvailable;
    void* block = nullptr;
    s = ksys_memory_alloc_internal(static_cast<size_t>(bytes), &block);
    if (failed(s)) return s;
    Cleanup<1> c;
    c.addBlock<void>(ksys_cleanupFreeAlways, &block);
    uint8_t* base = static_cast<uint8_t*>(block);
    base += (64 - reinterpret_cast<uintptr_t>(base) % 64) % 64;
    uint8_t* ringRows = base;
    uint8_t* v = base + ringBytes;
    const uint8_t** rows = reinterpret_cast<const uint8_t**>(v + vBytes);
    int32_t* order = reinterpret_cast<int32_t*>(v + vBytes + rowBytes);
    int32_t* hWeight = order + rowsUsed;
    int32_t* outer = hWeight + hWeights;
    int16_t* vTaps = reinterpret_cast<int16_t*>(outer + span.outerCount());
    int16_t* vPairs = vTaps + rowsUsed;
    span.mapOuter(outer);
    // Slots past the span are read by the last blocks but never weighted into a stored pixel.
    std::memset(v, 0, static_cast<size_t>(vBytes));
    // The vertical pass reads the footprint rows part by part (in the wide form, in order).
    for (int32_t t = 0; t < rowsUsed; ++t) order[t] = wide ? t : parts.order(t, rowsUsed);
    for (int32_t t = 0; t < rowsUsed; ++t) vTaps[t] = static_cast<int16_t>(columnTap(j0 + order[t]));
    // Two rows to a byte multiply-add where every pair of a part's taps is small enough; part g's
    // pairs start at entry first[g] / 2 + g, as a part has at most (count + 1) / 2 of them.
    bool bytePairs = isa->verticalBytes != nullptr && !wide && rowsUsed >= kBytePairRows;
    for (int32_t g = 0; g < partCount && bytePairs; ++g) {
        const int32_t first = parts.first[g], count = parts.first[g + 1] - first;
        for (int32_t k = 0; 2 * k < count; ++k) {
            const int32_t lo = vTaps[first + 2 * k], hi = 2 * k + 1 < count ? vTaps[first + 2 * k + 1] : 0;
            bytePairs = bytePairs && lo >= -128 && lo <= 127 && hi >= -128 && hi <= 127 &&
                        (lo < 0 ? -lo : lo) + (hi < 0 ? -hi : hi) <= 128;
            vPairs[first / 2 + g + k] =
                static_cast<int16_t>(static_cast<uint8_t>(lo) | (static_cast<uint8_t>(hi) << 8));
        }
    }
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
    // A part's column sums lie in [255 * negative, 255 * (negative + magnitude)]; minus its bias, in
    // int16. The vertical pass works modulo 2^16, the bias too; the constant restores the true biases.
    int64_t bias[kMaxParts] = {};
    uint32_t constant = 0;
    for (int32_t g = 0; g < partCount && !wide; ++g) {
        bias[g] = 255 * parts.negative[g] + 32768;
        constant += static_cast<uint32_t>(bias[g]) * static_cast<uint32_t>(rowSum);
    }

    const SeparableRow row{reinterpret_cast<const int16_t*>(v) + i0,
                           reinterpret_cast<const int32_t*>(v) + i0,
                           hWeight,
                           hWeights,
                           partCount,
                           static_cast<int32_t>(partBytes / 2),
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
            for (int64_t j = y == r.y ? 0 : rowsUsed - 1; j < rowsUsed; ++j)
                std::memcpy(ringRows + ((y - r.y + j) % rowsUsed) * pitch, span.row(y + top + j, mirror),
                            static_cast<size_t>(inside));
            for (int32_t t = 0; t < rowsUsed; ++t) rows[t] = ringRows + ((y - r.y + order[t]) % rowsUsed) * pitch;
        } else {
            for (int32_t t = 0; t < rowsUsed; ++t) rows[t] = span.row(y + top + order[t], mirror);
        }
        rows[rowsUsed] = rows[0];  // the partner of an odd part's last row, weighted 0
        Out* out = mutablePixelAt<Out>(*destination, r.x, y);
        if (wide) {
            int32_t* v32 = reinterpret_cast<int32_t*>(v);
            isa->vertical32(rows, vTaps, rowsUsed, inside, v32 + in0);
            span.fillOuter(v32, outer);
            if constexpr (sizeof(Out) == 1)
                isa->wideRow8(row, out);
            else
                isa->wideRow16(row, reinterpret_cast<int16_t*>(out));
        } else {
            for (int32_t g = 0; g < partCount; ++g) {
                int16_t* v16 = reinterpret_cast<int16_t*>(v + partBytes * uint64_t(g));
                const int32_t first = parts.first[g], count = parts.first[g + 1] - first;
                const int16_t b = static_cast<int16_t>(static_cast<uint16_t>(bias[g]));
                if (bytePairs)
                    isa->verticalBytes(rows + first, vTaps + first, vPairs + first / 2 + g, count, b, inside,
                                       v16 + in0);
                else
                    isa->vertical(rows + first, vTaps + first, count, symmetric ? 1 : 0, b, inside, v16 + in0);
                span.fillOuter(v16, outer);
            }
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
