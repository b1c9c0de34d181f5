// Turning images into windows before a filter runs: common rectangle, image mask, scratch
// destination when memory is shared.
#include "frame/window_prep.hpp"

#include <initializer_list>

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

namespace {

using kip::failed;

// Both windows must refer to an image.
kip_status requireBound(const kimg_windowConst* source, const kimg_window* destination) {
    uint32_t sourceBound = 0, destinationBound = 0;
    kip_status s = kimg_windowConst_getIsBound(source, &sourceBound);
    if (failed(s)) return s;
    s = kimg_window_getIsBound(destination, &destinationBound);
    if (failed(s)) return s;
    return sourceBound && destinationBound ? 0 : kip_errImageUnbound;
}

// Bound windows without pixels cannot be filtered either.
kip_status requirePixels(const kimg_windowConst* source, const kimg_window* destination) {
    uint32_t sourceNull = 0, destinationNull = 0;
    kip_status s = kimg_windowConst_getIsNull(source, &sourceNull);
    if (failed(s)) return s;
    s = kimg_window_getIsNull(destination, &destinationNull);
    if (failed(s)) return s;
    return sourceNull || destinationNull ? kip_errImageUnbound : 0;
}

// A mask takes part when it has pixels; it must then cover exactly the source's rectangle.
kip_status maskInUse(const kimg_windowConst* mask, const kimg_windowConst* source, uint32_t* used) {
    *used = 0;
    if (mask == nullptr) return 0;
    uint32_t maskNull = 0;
    const kip_status s = kimg_windowConst_getIsNull(mask, &maskNull);
    if (failed(s)) return s;
    if (maskNull) return 0;
    if (!kip::sameRect(mask->rect, source->rect)) return kip_errMaskWindowMismatch;
    *used = 1;
    return 0;
}

// Restricts a copy of each window to the common rectangle, which they all contain.
template <class Window, kip_status (*Restrict)(Window*, const kstd_rect32*, uint32_t*)>
kip_status restrictTo(const Window& window, const kstd_rect32& common, Window* out) {
    Window w = window;
    uint32_t clipped = 0;
    const kip_status s = Restrict(&w, &common, &clipped);
    if (failed(s)) return s;
    KIP_ASSERT(clipped == 0);
    *out = w;
    return s;
}

// *shared := whether the destination shares pixel memory with the source or the mask in use.
kip_status sharesMemory(const kimg_windowConst& source, const kimg_windowConst& mask, uint32_t maskUsed,
                        const kimg_window& destination, uint32_t* shared) {
    *shared = 0;
    for (const kimg_windowConst* input : {&source, maskUsed ? &mask : nullptr}) {
        if (input == nullptr) continue;
        const kip_status s = kip_pelfunc_checkMemoryOverlap(input, &destination);
        if (s == kip_errMemoryOverlap) {
            *shared = 1;
            return 0;
        }
        if (failed(s)) return s;
    }
    return 0;
}

}  // namespace

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

    kip_status s = requireBound(source, destination);
    if (failed(s)) return s;
    kstd_rect32 common{};
    uint32_t nothing = 0;
    s = kimg_windowConst_gcr(source, destination, &common, &nothing);
    if (failed(s)) return s;
    if (nothing) {
        *nothingToDo = 1;
        return 0;
    }
    s = requirePixels(source, destination);
    if (failed(s)) return s;
    uint32_t used = 0;
    s = maskInUse(mask, source, &used);
    if (failed(s)) return s;

    // Into locals, so nothing is written unless every step succeeds.
    kimg_windowConst src{}, msk{};
    kimg_window dst{};
    s = restrictTo<kimg_windowConst, &kimg_windowConst_windowRect>(*source, common, &src);
    if (failed(s)) return s;
    s = used ? restrictTo<kimg_windowConst, &kimg_windowConst_windowRect>(*mask, common, &msk)
             : kimg_windowConst_initUnbound(&msk);
    if (failed(s)) return s;
    s = restrictTo<kimg_window, &kimg_window_windowRect>(*destination, common, &dst);
    if (failed(s)) return s;
    uint32_t shared = 0;
    s = sharesMemory(src, msk, used, dst, &shared);
    if (failed(s)) return s;
    if (shared) {
        // Results go to scratch pixels over the common rectangle; the caller copies them back.
        s = kimg_image_assignNewRect(scratch, depth, &common);
        if (failed(s)) return s;
        s = kimg_window_init(&dst, scratch);
        if (failed(s)) return s;
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
