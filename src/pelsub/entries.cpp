// Image and window entries of local background subtraction, and the preparation of their
// windows on the common rectangle of source, image mask and destination.
#include "frame/cleanup.hpp"
#include "frame/image_entry.hpp"
#include "kip/median.h"
#include "kip/platform/pixel.h"
#include "pelsub/pelsub_internal.hpp"
#include "platform/assert.hpp"

using kip::Cleanup;
using kip::failed;

namespace {

// The 8-bit and 16-bit policy: the steps differ only in their names.
template <uint32_t Depth>
struct Variant {
    static constexpr uint32_t kDepth = Depth;
    static constexpr bool k8 = Depth == 1;
    static constexpr auto mean = k8 ? &kip_pelSubLocalMean8_ : &kip_pelSubLocalMean16_;
    static constexpr auto meanRows = k8 ? &kip_pelSubLocalMeanRows8_ : &kip_pelSubLocalMeanRows16_;
    static constexpr auto subtract = k8 ? &kip_pelSubLocalSubtract8_ : &kip_pelSubLocalSubtract16_;
    static constexpr auto median = k8 ? &kip_filterMedianWindow8 : &kip_filterMedianWindow16;
};
using Variant8 = Variant<1>;
using Variant16 = Variant<2>;

// rect := rect ∩ other; isNull = 1 when nothing is left.
kip_status narrow(kstd_rect32* rect, const kstd_rect32& other, uint32_t* isNull) {
    kip_status s = kstd_rect32_intersect(rect, &other);
    if (!failed(s)) s = kstd_rect32_getIsNull(rect, isNull);
    return s;
}

kip_status commonWindow(const kimg_windowConst* source, const kimg_windowConst* mask, const kimg_window* destination,
                        kimg_windowConst* outSource, kimg_windowConst* outMask, kimg_window* outDestination,
                        uint32_t* isNull) {
    KIP_REQUIRE(source);
    KIP_REQUIRE(destination);
    KIP_REQUIRE(outSource);
    KIP_REQUIRE(outMask);
    KIP_REQUIRE(outDestination);
    KIP_REQUIRE(isNull);
    uint32_t sourceNull = 1;
    uint32_t destinationNull = 1;
    uint32_t maskNull = 1;
    kip_status s = kimg_windowConst_getIsNull(source, &sourceNull);
    if (!failed(s)) s = kimg_window_getIsNull(destination, &destinationNull);
    if (!failed(s) && mask) s = kimg_windowConst_getIsNull(mask, &maskNull);
    if (failed(s)) return s;
    if (sourceNull || destinationNull) return kip_errImageUnbound;

    kstd_rect32 r;
    uint32_t empty = 0;
    s = kimg_windowConst_getWindow(source, &r);
    if (!failed(s)) s = kstd_rect32_getIsNull(&r, &empty);
    if (!failed(s) && !empty && !maskNull) s = narrow(&r, mask->rect, &empty);
    if (!failed(s) && !empty) s = narrow(&r, destination->rect, &empty);
    if (failed(s)) return s;
    *isNull = empty;
    if (empty) return 0;

    kimg_windowConst sw = *source;
    kimg_windowConst mw;
    kimg_window dw = *destination;
    uint32_t clipped = 0;
    s = kimg_windowConst_windowRect(&sw, &r, &clipped);
    if (!failed(s)) s = kimg_window_windowRect(&dw, &r, &clipped);
    if (!failed(s)) {
        if (maskNull) {
            s = kimg_windowConst_initUnbound(&mw);
        } else {
            mw = *mask;
            s = kimg_windowConst_windowRect(&mw, &r, &clipped);
        }
    }
    if (failed(s)) return s;
    *outSource = sw;
    *outMask = mw;
    *outDestination = dw;
    return 0;
}

// The mean background: the optimised engine writes the final result in one pass; when it
// declines, the table engine writes the mean and the subtraction step follows.
template <class V>
struct MeanBackground {
    kip_status prepare(const kip_pelSubLocalParams*) { return 0; }
    kip_status run(const kimg_windowConst* sw, const kimg_windowConst* mw, const kip_pelSubLocalParams* params,
                   const kimg_window* dw) {
        kip_status s = V::meanRows(sw, mw, params, dw, 1);
        if (!kip_status_isNotAvailable(s)) return s;
        s = V::mean(sw, mw, params, dw);
        if (failed(s)) return s;
        return V::subtract(sw, dw, dw);
    }
};

// The median background: a rectangular kernel of the neighbourhood's size through the median
// filter (cut at the working rectangle's border), then the subtraction step.
template <class V>
struct MedianBackground {
    kip_filterMaskKernel kernel;
    kip_filterMedianParams medianParams;
    Cleanup<1> c;  // last, so it runs while the kernel is still a member

    kip_status prepare(const kip_pelSubLocalParams* params) {
        kip_status s = kip_filterMaskKernel_constructSize(&kernel, params);
        if (failed(s)) return s;
        c.addObject<kip_filterMaskKernel, &kip_filterMaskKernel_destruct>(ksys_cleanupDestroyAlways, &kernel);
        return kip_filterMedianParams_init(&medianParams);
    }
    kip_status run(const kimg_windowConst* sw, const kimg_windowConst* mw, const kip_pelSubLocalParams*,
                   const kimg_window* dw) {
        kip_status s = V::median(sw, mw, &medianParams, &kernel, dw);
        if (failed(s)) return s;
        return V::subtract(sw, dw, dw);
    }
};

template <class V, template <class> class Background>
kip_status windowEntry(const kimg_windowConst* source, const kimg_windowConst* mask,
                       const kip_pelSubLocalParams* params, const kimg_window* destination) {
    KIP_REQUIRE(source);
    KIP_REQUIRE(params);
    KIP_REQUIRE(destination);
    uint32_t sourceNull = 1;
    uint32_t destinationNull = 1;
    uint32_t maskNull = 1;
    kip_status s = kimg_windowConst_getIsNull(source, &sourceNull);
    if (!failed(s)) s = kimg_window_getIsNull(destination, &destinationNull);
    if (!failed(s) && mask) s = kimg_windowConst_getIsNull(mask, &maskNull);
    if (failed(s)) return s;
    if (sourceNull || destinationNull) return kip_errImageUnbound;
    const bool maskUsed = maskNull == 0;
    // Pixels are read at the sizes the names promise; other depths would read past rows.
    if (source->bytesPerPixel != int32_t{V::kDepth} || destination->bytesPerPixel != int32_t{V::kDepth} ||
        (maskUsed && mask->bytesPerPixel != 1))
        return kimg_errDepthMismatch;
    s = kip_pelSubLocalParams_validate(params);
    if (failed(s)) return s;
    // The background is written into the destination before the source is read again, so
    // shared memory is refused rather than worked around.
    s = kip_pelfunc_checkMemoryOverlap(source, destination);
    if (!failed(s) && maskUsed) s = kip_pelfunc_checkMemoryOverlap(mask, destination);
    if (failed(s)) return s;
    Background<V> background;
    s = background.prepare(params);
    if (failed(s)) return s;

    kimg_windowConst sw;
    kimg_windowConst mw;
    kimg_window dw;
    uint32_t isNull = 0;
    s = commonWindow(source, maskUsed ? mask : nullptr, destination, &sw, &mw, &dw, &isNull);
    if (failed(s) || isNull) return s;
    return background.run(&sw, maskUsed ? &mw : nullptr, params, &dw);
}

template <class V, template <class> class Background>
kip_status imageEntry(const kimg_imageConst* source, const kimg_imageConst* mask, const kip_pelSubLocalParams* params,
                      kimg_image* destination) {
    KIP_REQUIRE(source);
    KIP_REQUIRE(params);
    KIP_REQUIRE(destination);
    uint32_t bound = 0;
    kip_status s = kimg_imageConst_getIsBound(source, &bound);
    if (failed(s)) return s;
    if (!bound) return kip_errImageUnbound;
    s = kip_pelSubLocalParams_validate(params);
    if (failed(s)) return s;
    // The windows are prepared on the rectangle written: the destination keeps its window.
    return kip::runImageEntry(
        source, mask, destination, V::kDepth, kip::WrittenRect::prepared,
        [&](const kimg_windowConst* sw, const kimg_windowConst* mw, kimg_window* dw) {
            return windowEntry<V, Background>(sw, mw, params, dw);
        },
        &kip_pelSubLocalInitializeWindow_);
}

}  // namespace

extern "C" {

kip_status kip_pelSubLocalInitializeWindow_(const kimg_imageConst* source, const kimg_imageConst* mask,
                                            kimg_image* destination, kimg_windowConst* outSource,
                                            kimg_windowConst* outMask, kimg_window* outDestination, uint32_t* isNull,
                                            uint32_t depth) {
    KIP_REQUIRE(source);
    KIP_REQUIRE(destination);
    KIP_REQUIRE(outSource);
    KIP_REQUIRE(outMask);
    KIP_REQUIRE(outDestination);
    KIP_REQUIRE(isNull);
    uint32_t bound = 0;
    kip_status s = kimg_imageConst_getIsBound(source, &bound);
    if (failed(s)) return s;
    if (!bound) return kip_errImageUnbound;

    kstd_rect32 r;
    uint32_t empty = 0;
    s = kimg_imageConst_getWindow(source, &r);
    if (!failed(s)) s = kstd_rect32_getIsNull(&r, &empty);
    uint32_t maskBound = 0;
    if (!failed(s) && mask) s = kimg_imageConst_getIsBound(mask, &maskBound);
    if (!failed(s) && !empty && maskBound) {
        kstd_rect32 m;
        s = kimg_imageConst_getWindow(mask, &m);
        if (!failed(s)) s = narrow(&r, m, &empty);
    }
    uint32_t destinationBound = 0;
    if (!failed(s)) s = kimg_image_getIsBound(destination, &destinationBound);
    if (!failed(s) && !empty && destinationBound) {
        kstd_rect32 d;
        s = kimg_image_getWindow(destination, &d);
        if (!failed(s)) s = narrow(&r, d, &empty);
    }
    if (failed(s)) return s;
    *isNull = empty;
    if (empty) return 0;

    Cleanup<1> c;
    if (!destinationBound) {
        s = kimg_image_assignNewRect(destination, depth, &r);
        if (failed(s)) return s;
        c.addObject<kimg_image, &kimg_image_assignUnbound>(ksys_cleanupDestroyOnFailure, destination);
    }
    kimg_windowConst sw;
    kimg_windowConst mw;
    kimg_window dw;
    uint32_t clipped = 0;
    s = kimg_windowConst_init(&sw, source);
    if (!failed(s)) s = kimg_windowConst_windowRect(&sw, &r, &clipped);
    if (!failed(s)) s = kimg_window_init(&dw, destination);
    if (!failed(s)) s = kimg_window_windowRect(&dw, &r, &clipped);
    if (!failed(s)) s = maskBound ? kimg_windowConst_init(&mw, mask) : kimg_windowConst_initUnbound(&mw);
    if (!failed(s) && maskBound) s = kimg_windowConst_windowRect(&mw, &r, &clipped);
    if (!failed(s)) s = kimg_image_copyXforms(destination, source);
    if (!failed(s)) {
        *outSource = sw;
        *outMask = mw;
        *outDestination = dw;
    }
    return c.finish(s);
}

kip_status kip_pelSubLocalCommonWindow8_(const kimg_windowConst* source, const kimg_windowConst* mask,
                                         const kimg_window* destination, kimg_windowConst* outSource,
                                         kimg_windowConst* outMask, kimg_window* outDestination, uint32_t* isNull) {
    return commonWindow(source, mask, destination, outSource, outMask, outDestination, isNull);
}

kip_status kip_pelSubLocalCommonWindow16_(const kimg_windowConst* source, const kimg_windowConst* mask,
                                          const kimg_window* destination, kimg_windowConst* outSource,
                                          kimg_windowConst* outMask, kimg_window* outDestination, uint32_t* isNull) {
    return commonWindow(source, mask, destination, outSource, outMask, outDestination, isNull);
}

kip_status kip_pelSubLocalMean8(const kimg_imageConst* source, const kimg_imageConst* mask,
                                const kip_pelSubLocalParams* params, kimg_image* destination) {
    return imageEntry<Variant8, MeanBackground>(source, mask, params, destination);
}

kip_status kip_pelSubLocalMean16(const kimg_imageConst* source, const kimg_imageConst* mask,
                                 const kip_pelSubLocalParams* params, kimg_image* destination) {
    return imageEntry<Variant16, MeanBackground>(source, mask, params, destination);
}

kip_status kip_pelSubLocalMeanWindow8(const kimg_windowConst* source, const kimg_windowConst* mask,
                                      const kip_pelSubLocalParams* params, const kimg_window* destination) {
    return windowEntry<Variant8, MeanBackground>(source, mask, params, destination);
}

kip_status kip_pelSubLocalMeanWindow16(const kimg_windowConst* source, const kimg_windowConst* mask,
                                       const kip_pelSubLocalParams* params, const kimg_window* destination) {
    return windowEntry<Variant16, MeanBackground>(source, mask, params, destination);
}

kip_status kip_pelSubLocalMedian8(const kimg_imageConst* source, const kimg_imageConst* mask,
                                  const kip_pelSubLocalParams* params, kimg_image* destination) {
    return imageEntry<Variant8, MedianBackground>(source, mask, params, destination);
}

kip_status kip_pelSubLocalMedian16(const kimg_imageConst* source, const kimg_imageConst* mask,
                                   const kip_pelSubLocalParams* params, kimg_image* destination) {
    return imageEntry<Variant16, MedianBackground>(source, mask, params, destination);
}

kip_status kip_pelSubLocalMedianWindow8(const kimg_windowConst* source, const kimg_windowConst* mask,
                                        const kip_pelSubLocalParams* params, const kimg_window* destination) {
    return windowEntry<Variant8, MedianBackground>(source, mask, params, destination);
}

kip_status kip_pelSubLocalMedianWindow16(const kimg_windowConst* source, const kimg_windowConst* mask,
                                         const kip_pelSubLocalParams* params, const kimg_window* destination) {
    return windowEntry<Variant16, MedianBackground>(source, mask, params, destination);
}

}  // extern "C"
