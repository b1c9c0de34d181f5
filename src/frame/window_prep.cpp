// Turning images into windows before a filter runs: common rectangle, image mask, scratch
// destination when memory is shared.
#include "frame/window_prep.hpp"

#include "kip/platform/pixel.h"
#include "kip/window.h"
#include "platform/assert.hpp"
#include "platform/rect.hpp"

extern "C" kip_status kip_filterInitializeWindow_(const kimg_imageConst* source, const kimg_imageConst* mask,
                                                  kimg_image* destination, kimg_windowConst* outSource,
                                                  kimg_windowConst* outMask, kimg_window* outDestination,
                                                  uint32_t* nothingToDo, uint32_t depth) {
    KIP_REQUIRE(source);
    KIP_REQUIRE(destination);
    KIP_REQUIRE(outSource);
    KIP_REQUIRE(outMask);
    KIP_REQUIRE(outDestination);
    KIP_REQUIRE(nothingToDo);

    uint32_t bound = 0;
    kip_status s = kimg_imageConst_getIsBound(source, &bound);
    if (kip::failed(s)) return s;
    if (!bound) return kip_errImageUnbound;

    kstd_rect32 sourceRect{};
    s = kimg_imageConst_getWindow(source, &sourceRect);
    if (kip::failed(s)) return s;
    if (kip::isEmpty(sourceRect)) {
        *nothingToDo = 1;
        return 0;
    }

    uint32_t maskPresent = 0;
    if (mask) {
        s = kimg_imageConst_getIsBound(mask, &maskPresent);
        if (kip::failed(s)) return s;
        if (maskPresent) {
            kstd_rect32 maskRect{};
            s = kimg_imageConst_getWindow(mask, &maskRect);
            if (kip::failed(s)) return s;
            if (!kip::sameRect(maskRect, sourceRect)) return kip_errMaskWindowMismatch;
        }
    }

    uint32_t destinationBound = 0;
    s = kimg_image_getIsBound(destination, &destinationBound);
    if (kip::failed(s)) return s;
    uint32_t nothing = 0;
    if (!destinationBound) {
        s = kimg_image_assignNewRect(destination, depth, &sourceRect);
        if (kip::failed(s)) return s;
    } else {
        kstd_rect32 common{};
        s = kimg_imageConst_gcr(source, destination, &common, &nothing);
        if (kip::failed(s)) return s;
    }
    *nothingToDo = nothing;
    if (nothing) return 0;

    s = kimg_windowConst_init(outSource, source);
    if (kip::failed(s)) return s;
    s = kimg_window_init(outDestination, destination);
    if (kip::failed(s)) return s;
    s = maskPresent ? kimg_windowConst_init(outMask, mask) : kimg_windowConst_initUnbound(outMask);
    if (kip::failed(s)) return s;
    return kimg_image_copyXforms(destination, source);
}

kip_status kip_filterInitializeGCRWindow_(const kimg_windowConst* source, const kimg_windowConst* mask,
                                          const kimg_window* destination, kimg_windowConst* outSource,
                                          kimg_windowConst* outMask, kimg_window* outDestination, uint32_t* nothingToDo,
                                          uint32_t* maskUsed, uint32_t* overlap, kimg_image* scratch, uint32_t depth) {
    KIP_REQUIRE(source);
    KIP_REQUIRE(destination);
    KIP_REQUIRE(outSource);
    KIP_REQUIRE(outMask);
    KIP_REQUIRE(outDestination);
    KIP_REQUIRE(nothingToDo);
    KIP_REQUIRE(maskUsed);
    KIP_REQUIRE(overlap);
    KIP_REQUIRE(scratch);

    uint32_t sourceBound = 0, destinationBound = 0;
    kimg_windowConst_getIsBound(source, &sourceBound);
    kimg_window_getIsBound(destination, &destinationBound);
    if (!sourceBound || !destinationBound) return kip_errImageUnbound;

    kstd_rect32 common{};
    uint32_t nothing = 0;
    kip_status s = kimg_windowConst_gcr(source, destination, &common, &nothing);
    if (kip::failed(s)) return s;
    if (nothing) {
        *nothingToDo = 1;
        return 0;
    }

    uint32_t sourceNull = 0, destinationNull = 0;
    kimg_windowConst_getIsNull(source, &sourceNull);
    kimg_window_getIsNull(destination, &destinationNull);
    if (sourceNull || destinationNull) return kip_errImageUnbound;

    uint32_t used = 0;
    if (mask) {
        uint32_t maskNull = 0;
        s = kimg_windowConst_getIsNull(mask, &maskNull);
        if (kip::failed(s)) return s;
        used = maskNull ? 0u : 1u;
        if (used && !kip::sameRect(mask->rect, source->rect)) return kip_errMaskWindowMismatch;
    }

    // Restrict into locals so nothing is written unless every step succeeds.
    kimg_windowConst src = *source, msk{}, dst = *destination;
    uint32_t clipped = 0;
    s = kimg_windowConst_windowRect(&src, &common, &clipped);
    if (kip::failed(s)) return s;
    KIP_ASSERT(clipped == 0);
    if (used) {
        msk = *mask;
        s = kimg_windowConst_windowRect(&msk, &common, &clipped);
        if (kip::failed(s)) return s;
        KIP_ASSERT(clipped == 0);
    } else {
        kimg_windowConst_initUnbound(&msk);
    }
    s = kimg_window_windowRect(&dst, &common, &clipped);
    if (kip::failed(s)) return s;
    KIP_ASSERT(clipped == 0);

    uint32_t shared = 0;
    s = kip_pelfunc_checkMemoryOverlap(&src, &dst);
    if (s == kip_errMemoryOverlap) {
        shared = 1;
    } else if (kip::failed(s)) {
        return s;
    } else if (used) {
        s = kip_pelfunc_checkMemoryOverlap(&msk, &dst);
        if (s == kip_errMemoryOverlap)
            shared = 1;
        else if (kip::failed(s))
            return s;
    }

    if (shared) {
        s = kimg_image_assignNewRect(scratch, depth, &common);
        if (kip::failed(s)) return s;
        s = kimg_window_init(&dst, scratch);
        if (kip::failed(s)) return s;
    }

    *outSource = src;
    *outMask = msk;
    *outDestination = dst;
    *nothingToDo = 0;
    *maskUsed = used;
    *overlap = shared;
    return 0;
}

namespace {

kip_status prepareAndPrefill(const kimg_windowConst* source, const kimg_windowConst* mask,
                             const kimg_window* destination, kimg_windowConst* outSource, kimg_windowConst* outMask,
                             kimg_window* outDestination, uint32_t* nothingToDo, uint32_t* maskUsed, uint32_t* overlap,
                             kimg_image* scratch, uint32_t depth) {
    kip_status s = kip_filterInitializeGCRWindow_(source, mask, destination, outSource, outMask, outDestination,
                                                  nothingToDo, maskUsed, overlap, scratch, depth);
    if (kip::failed(s) || *nothingToDo || !*maskUsed) return s;
    // Pixels the mask leaves out must carry the source value.
    return depth == 1 ? kip_pelCopyWindow8(outSource, outDestination) : kip_pelCopyWindow16(outSource, outDestination);
}

}  // namespace

extern "C" {

kip_status kip_filterInitializeGCRWindow8_(const kimg_windowConst* source, const kimg_windowConst* mask,
                                           const kimg_window* destination, kimg_windowConst* outSource,
                                           kimg_windowConst* outMask, kimg_window* outDestination,
                                           uint32_t* nothingToDo, uint32_t* maskUsed, uint32_t* overlap,
                                           kimg_image* scratch) {
    return prepareAndPrefill(source, mask, destination, outSource, outMask, outDestination, nothingToDo, maskUsed,
                             overlap, scratch, 1);
}

kip_status kip_filterInitializeGCRWindow16_(const kimg_windowConst* source, const kimg_windowConst* mask,
                                            const kimg_window* destination, kimg_windowConst* outSource,
                                            kimg_windowConst* outMask, kimg_window* outDestination,
                                            uint32_t* nothingToDo, uint32_t* maskUsed, uint32_t* overlap,
                                            kimg_image* scratch) {
    return prepareAndPrefill(source, mask, destination, outSource, outMask, outDestination, nothingToDo, maskUsed,
                             overlap, scratch, 2);
}

}  // extern "C"
