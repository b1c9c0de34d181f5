// Image and window entries, the pass dispatch and the general choice between the flat and the
// weighted engine.
#include "frame/cleanup.hpp"
#include "frame/image_entry.hpp"
#include "frame/window_prep.hpp"
#include "kip/window.h"
#include "morphology/variants.hpp"
#include "platform/assert.hpp"

using kip::Cleanup;
using kip::failed;
using namespace kip::morphology;

namespace {

using Element = kip_filterMorphologyStructuringElement;

template <class V>
kip_status dispatch(const kimg_windowConst* source, const kimg_windowConst* mask,
                    const kip_filterMorphologyParams* params, const Element* element, int32_t dilate,
                    const kimg_window* output) {
    KIP_REQUIRE(params);
    if (params->borderMode == int32_t(kip_filterBorderTruncated)) {
        kip_status s = kip_errNotAvailable;
        if (!kip::optimizationInhibited(V::kLabelWeighted.text))
            s = V::fastTruncated(source, mask, params, element, dilate, output);
        return kip_status_isNotAvailable(s) ? V::general(source, mask, params, element, dilate, output) : s;
    }
    if (params->borderMode == int32_t(kip_filterBorderClipped)) {
        // No engine computes the clipped border: the slot and its fall-back both decline.
        (void)kip::optimizationInhibited(V::kLabelClipped.text);
        return kip_errNotAvailable;
    }
    return 0;
}

template <class V>
kip_status general(const kimg_windowConst* source, const kimg_windowConst* mask,
                   const kip_filterMorphologyParams* params, const Element* element, int32_t dilate,
                   const kimg_window* output) {
    KIP_REQUIRE(element);
    uint32_t isFlat = 0;
    kip_status s = kip_filterMorphologyStructuringElement_getIsFlat(element, &isFlat);
    if (failed(s)) return s;
    if (isFlat) return V::flat(source, mask, params, element, dilate, output);
    if constexpr (V::kDepth == 1)
        return kip_filterMorphologyWeighted8_(source, mask, params, element, dilate, output);
    else
        return kip_errNotAvailable;  // no 16-bit weighted morphology
}

template <class V>
kip_status windowEntry(const kimg_windowConst* source, const kimg_windowConst* mask, uint32_t operation,
                       const kip_filterMorphologyParams* params, const Element* element, kimg_window* destination) {
    KIP_REQUIRE(source);
    KIP_REQUIRE(params);
    KIP_REQUIRE(element);
    KIP_REQUIRE(destination);
    if (source->image == nullptr || source->pixels == nullptr) return kip_errImageUnbound;
    if (destination->image == nullptr || destination->pixels == nullptr) return kip_errImageUnbound;
    // Pixels are read at the depth the entry's name promises.
    const bool maskGiven = mask && mask->image != nullptr && mask->pixels != nullptr;
    if (source->bytesPerPixel != int32_t(V::kDepth) || destination->bytesPerPixel != int32_t(V::kDepth) ||
        (maskGiven && mask->bytesPerPixel != 1))
        return kimg_errDepthMismatch;
    uint32_t weightsBound = 0;
    kip_status s = kimg_imageConst_getIsBound(&element->offsetImage, &weightsBound);
    if (failed(s)) return s;
    kstd_rect32 common;
    uint32_t empty = 0;
    s = kimg_windowConst_gcr(source, destination, &common, &empty);
    if (failed(s) || empty) return s;
    const bool clipped = params->borderMode == int32_t(kip_filterBorderClipped);

    Cleanup<3> c;
    kimg_image intermediate, temporary;
    kimg_window between;
    if (operation == kip_filterMorphologyOpen || operation == kip_filterMorphologyClose) {
        s = kimg_image_constructRect(&intermediate, V::kDepth, clipped ? &source->rect : &common);
        if (failed(s)) return c.finish(s);
        c.addObject<kimg_image, &kimg_image_destruct>(ksys_cleanupDestroyAlways, &intermediate);
        s = kimg_window_init(&between, &intermediate);
        if (failed(s)) return c.finish(s);
    }
    s = kimg_image_constructUnbound(&temporary);
    if (failed(s)) return c.finish(s);
    const uint32_t temporaryId = c.addObject<kimg_image, &kimg_image_destruct>(ksys_cleanupDestroyAlways, &temporary);
    kimg_windowConst src, msk;
    kimg_window out;
    uint32_t nothing = 0, maskUsed = 0, copyBack = 0;
    // Prepared without the mask's pre-fill, so that a bad operation writes nothing.
    s = kip_filterInitializeGCRWindow_(source, mask, destination, &src, &msk, &out, &nothing, &maskUsed, &copyBack,
                                       &temporary, V::kDepth);
    if (failed(s) || nothing) return c.finish(s);
    if (operation > kip_filterMorphologyClose) return c.finish(kip_errBadMode);
    const kimg_windowConst& engineSource = clipped ? *source : src;
    const kimg_windowConst* engineMask = maskUsed ? &msk : nullptr;
    kstd_pair32 size;
    s = kip_filterMorphologyStructuringElement_getSize(element, &size);
    if (failed(s)) return c.finish(s);
    const bool identity = V::kDepth == 1 && size.x == 1 && size.y == 1;
    // The clipped identity copies the whole source: a destination covering less of it is refused
    // before the mask's pre-fill writes anything.
    if (identity && (engineSource.rect.width != out.rect.width || engineSource.rect.height != out.rect.height))
        return c.finish(kimg_errSizeMismatch);
    // Pixels the mask leaves out keep the source value (the identity overwrites them all).
    if (maskUsed && !identity) s = V::copyWindow(&src, &out);
    if (failed(s)) return c.finish(s);

    if (identity) {
        // A 1 x 1 element: every operation is the identity, weights and mask aside.
        s = V::copyWindow(&engineSource, &out);
        if (!failed(s) && copyBack) s = V::copyWindow(&out, destination);
        return c.finish(s);
    }

    s = ksys_attention_check();
    if (failed(s)) return c.finish(s);
    switch (operation) {
        case kip_filterMorphologyDilate:
        case kip_filterMorphologyErode:
            s = dispatch<V>(&engineSource, engineMask, params, element, operation == kip_filterMorphologyDilate, &out);
            break;
        default: {
            const int32_t first = operation == kip_filterMorphologyClose ? 1 : 0;
            s = dispatch<V>(&engineSource, engineMask, params, element, first, &between);
            if (!failed(s)) s = dispatch<V>(&between, engineMask, params, element, 1 - first, &out);
        }
    }
    if (!failed(s)) s = ksys_attention_check();
    if (!failed(s) && copyBack) s = V::copyWindow(&out, destination);
    if (!failed(s) && clipped) {
        kstd_rect32 written;
        uint32_t cut = 0;
        s = kimg_window_getWindow(&out, &written);
        if (!failed(s)) s = kimg_window_windowRect(destination, &written, &cut);
    }
    const kip_status released = c.destroyId(temporaryId);
    if (!failed(s) && failed(released)) s = released;
    return c.finish(s);
}

template <class V>
kip_status imageEntry(const kimg_imageConst* source, const kimg_imageConst* mask, uint32_t operation,
                      const kip_filterMorphologyParams* params, const Element* element, kimg_image* destination) {
    KIP_REQUIRE(source);
    KIP_REQUIRE(params);
    KIP_REQUIRE(element);
    KIP_REQUIRE(destination);
    kip_status s = kip_filterMorphologyParams_validate(params);
    if (!failed(s)) s = kip_filterMorphologyStructuringElement_validate(element);
    if (failed(s)) return s;
    // The clipped border narrows the destination window to the rectangle it wrote.
    return kip::runImageEntry(source, mask, destination, V::kDepth, kip::WrittenRect::destination,
                              [&](const kimg_windowConst* sw, const kimg_windowConst* mw, kimg_window* dw) {
                                  return windowEntry<V>(sw, mw, operation, params, element, dw);
                              });
}

}  // namespace

extern "C" {

kip_status kip_filterMorphology8(const kimg_imageConst* source, const kimg_imageConst* mask, uint32_t operation,
                                 const kip_filterMorphologyParams* params, const Element* element,
                                 kimg_image* destination) {
    return imageEntry<Variant8>(source, mask, operation, params, element, destination);
}

kip_status kip_filterMorphology16(const kimg_imageConst* source, const kimg_imageConst* mask, uint32_t operation,
                                  const kip_filterMorphologyParams* params, const Element* element,
                                  kimg_image* destination) {
    return imageEntry<Variant16>(source, mask, operation, params, element, destination);
}

kip_status kip_filterMorphologyWindow8(const kimg_windowConst* source, const kimg_windowConst* mask, uint32_t operation,
                                       const kip_filterMorphologyParams* params, const Element* element,
                                       kimg_window* destination) {
    return windowEntry<Variant8>(source, mask, operation, params, element, destination);
}

kip_status kip_filterMorphologyWindow16(const kimg_windowConst* source, const kimg_windowConst* mask,
                                        uint32_t operation, const kip_filterMorphologyParams* params,
                                        const Element* element, kimg_window* destination) {
    return windowEntry<Variant16>(source, mask, operation, params, element, destination);
}

kip_status kip_filterMorphologyDispatch8_(const kimg_windowConst* source, const kimg_windowConst* mask,
                                          const kip_filterMorphologyParams* params, const Element* element,
                                          int32_t dilate, const kimg_window* output) {
    return dispatch<Variant8>(source, mask, params, element, dilate, output);
}

kip_status kip_filterMorphologyDispatch16_(const kimg_windowConst* source, const kimg_windowConst* mask,
                                           const kip_filterMorphologyParams* params, const Element* element,
                                           int32_t dilate, const kimg_window* output) {
    return dispatch<Variant16>(source, mask, params, element, dilate, output);
}

kip_status kip_filterMorphologyGeneral8_(const kimg_windowConst* source, const kimg_windowConst* mask,
                                         const kip_filterMorphologyParams* params, const Element* element,
                                         int32_t dilate, const kimg_window* output) {
    return general<Variant8>(source, mask, params, element, dilate, output);
}

kip_status kip_filterMorphologyGeneral16_(const kimg_windowConst* source, const kimg_windowConst* mask,
                                          const kip_filterMorphologyParams* params, const Element* element,
                                          int32_t dilate, const kimg_window* output) {
    return general<Variant16>(source, mask, params, element, dilate, output);
}

}  // extern "C"
