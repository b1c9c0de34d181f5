// The general local mean engine: inclusive summed-area tables of the source and of the mask
// count, one box query per pixel. It is the reference the optimised engine is held to.
#include <algorithm>

#include "frame/cleanup.hpp"
#include "pelsub/pelsub_internal.hpp"
#include "platform/assert.hpp"

using kip::Cleanup;
using kip::failed;

namespace {

template <class T>
const T* rowOf(const kimg_windowConst& w, int32_t y) {
    return reinterpret_cast<const T*>(static_cast<const uint8_t*>(w.pixels) +
                                      static_cast<int64_t>(y) * w.stride * int64_t{sizeof(T)});
}

template <class T>
T* mutableRowOf(const kimg_window& w, int32_t y) {
    return reinterpret_cast<T*>(static_cast<uint8_t*>(w.pixels) +
                                static_cast<int64_t>(y) * w.stride * int64_t{sizeof(T)});
}

kip_status maskUsed(const kimg_windowConst* mask, bool* used) {
    *used = false;
    if (mask == nullptr) return 0;
    uint32_t isNull = 1;
    kip_status s = kimg_windowConst_getIsNull(mask, &isNull);
    if (!failed(s)) *used = isNull == 0;
    return s;
}

template <class T>
kip_status integral(const kimg_windowConst* source, const kimg_windowConst* mask, const kstd_rect32* rect,
                    uint64_t* sums, uint32_t* counts) {
    KIP_REQUIRE(source);
    KIP_REQUIRE(rect);
    KIP_REQUIRE(sums);
    uint32_t sourceNull = 1;
    kip_status s = kimg_windowConst_getIsNull(source, &sourceNull);
    if (failed(s)) return s;
    if (sourceNull) return kip_errImageUnbound;
    bool useMask = false;
    s = maskUsed(mask, &useMask);
    if (failed(s)) return s;
    if (useMask) KIP_REQUIRE(counts);

    const int32_t width = rect->width;
    const int32_t height = rect->height;
    for (int32_t y = 0; y < height; ++y) {
        const T* v = rowOf<T>(*source, y);
        const uint8_t* m = useMask ? rowOf<uint8_t>(*mask, y) : nullptr;
        uint64_t* row = sums + static_cast<int64_t>(y) * width;
        const uint64_t* above = y > 0 ? row - width : nullptr;
        uint64_t r = 0;
        if (!useMask) {
            for (int32_t x = 0; x < width; ++x) {
                r += v[x];
                row[x] = above ? r + above[x] : r;
            }
            continue;
        }
        uint32_t* crow = counts + static_cast<int64_t>(y) * width;
        const uint32_t* cabove = y > 0 ? crow - width : nullptr;
        uint32_t c = 0;
        for (int32_t x = 0; x < width; ++x) {
            const bool on = m[x] != 0;
            r += on ? v[x] : 0u;
            c += on ? 1u : 0u;
            row[x] = above ? r + above[x] : r;
            crow[x] = cabove ? c + cabove[x] : c;
        }
    }
    return 0;
}

template <class U>
U boxTotal(const U* t, int32_t width, int32_t y0, int32_t y1, int32_t x0, int32_t x1) {
    auto at = [&](int32_t y, int32_t x) { return t[static_cast<int64_t>(y) * width + x]; };
    // Unsigned: the differences may wrap, the total does not.
    U total = at(y1, x1);
    if (x0 > 0) total -= at(y1, x0 - 1);
    if (y0 > 0) total -= at(y0 - 1, x1);
    if (x0 > 0 && y0 > 0) total += at(y0 - 1, x0 - 1);
    return total;
}

template <class T>
kip_status meanEngine(const kimg_windowConst* source, const kimg_windowConst* mask, const kip_pelSubLocalParams* params,
                      const kimg_window* destination) {
    KIP_REQUIRE(source);
    KIP_REQUIRE(params);
    KIP_REQUIRE(destination);
    uint32_t sourceNull = 1;
    uint32_t destinationNull = 1;
    kip_status s = kimg_windowConst_getIsNull(source, &sourceNull);
    if (!failed(s)) s = kimg_window_getIsNull(destination, &destinationNull);
    if (failed(s)) return s;
    if (sourceNull || destinationNull) return kip_errImageUnbound;
    bool useMask = false;
    s = maskUsed(mask, &useMask);
    if (failed(s)) return s;

    const kstd_rect32 rect = source->rect;
    const int32_t width = rect.width;
    const int32_t height = rect.height;
    const int64_t pixels = int64_t{width} * height;
    if (pixels > INT32_MAX) return kstd_errInvalidArgument;
    const int32_t hx = params->x >> 1;
    const int32_t hy = params->y >> 1;

    Cleanup<2> c;
    uint32_t* counts = nullptr;
    uint64_t* sums = nullptr;
    s = ksys_memory_alloc_internal(static_cast<size_t>(pixels) * sizeof(uint32_t), reinterpret_cast<void**>(&counts));
    if (failed(s)) return c.finish(s);
    c.addBlock(ksys_cleanupFreeAlways, &counts);
    s = ksys_memory_alloc_internal(static_cast<size_t>(pixels) * sizeof(uint64_t), reinterpret_cast<void**>(&sums));
    if (failed(s)) return c.finish(s);
    c.addBlock(ksys_cleanupFreeAlways, &sums);
    s = integral<T>(source, useMask ? mask : nullptr, &rect, sums, counts);
    if (failed(s)) return c.finish(s);

    for (int32_t y = 0; y < height; ++y) {
        const int32_t ry = std::min({hy, y, height - 1 - y});
        const T* v = rowOf<T>(*source, y);
        const uint8_t* m = useMask ? rowOf<uint8_t>(*mask, y) : nullptr;
        T* out = mutableRowOf<T>(*destination, y);
        for (int32_t x = 0; x < width; ++x) {
            if (m && m[x] == 0) {
                out[x] = v[x];
                continue;
            }
            const int32_t rx = std::min({hx, x, width - 1 - x});
            const uint64_t sum = kip_pelSubLocalBoxSum_(sums, width, y - ry, y + ry, x - rx, x + rx);
            const uint32_t n = m ? kip_pelSubLocalBoxCount_(counts, width, y - ry, y + ry, x - rx, x + rx)
                                 : static_cast<uint32_t>((2 * ry + 1) * (2 * rx + 1));
            out[x] = static_cast<T>(kip::pelsub::roundedMean(sum, n));
        }
    }
    return c.finish(0);
}

}  // namespace

extern "C" {

kip_status kip_pelSubLocalIntegral8_(const kimg_windowConst* source, const kimg_windowConst* mask,
                                     const kstd_rect32* rect, uint64_t* sums, uint32_t* counts) {
    return integral<uint8_t>(source, mask, rect, sums, counts);
}

kip_status kip_pelSubLocalIntegral16_(const kimg_windowConst* source, const kimg_windowConst* mask,
                                      const kstd_rect32* rect, uint64_t* sums, uint32_t* counts) {
    return integral<uint16_t>(source, mask, rect, sums, counts);
}

uint64_t kip_pelSubLocalBoxSum_(const uint64_t* sums, int32_t width, int32_t y0, int32_t y1, int32_t x0, int32_t x1) {
    return boxTotal(sums, width, y0, y1, x0, x1);
}

uint32_t kip_pelSubLocalBoxCount_(const uint32_t* counts, int32_t width, int32_t y0, int32_t y1, int32_t x0,
                                  int32_t x1) {
    return boxTotal(counts, width, y0, y1, x0, x1);
}

kip_status kip_pelSubLocalMean8_(const kimg_windowConst* source, const kimg_windowConst* mask,
                                 const kip_pelSubLocalParams* params, const kimg_window* destination) {
    return meanEngine<uint8_t>(source, mask, params, destination);
}

kip_status kip_pelSubLocalMean16_(const kimg_windowConst* source, const kimg_windowConst* mask,
                                  const kip_pelSubLocalParams* params, const kimg_window* destination) {
    return meanEngine<uint16_t>(source, mask, params, destination);
}

}  // extern "C"
