// Structuring element: a mask kernel and, optionally, a private image of signed weights.
#include "frame/cleanup.hpp"
#include "kip/morphology.h"
#include "kip/platform/pixel.h"
#include "platform/assert.hpp"
#include "platform/heap.hpp"
#include "platform/typecheck.hpp"

using kip::Cleanup;
using kip::failed;
using Element = kip_filterMorphologyStructuringElement;

namespace {

// Unbound passes; otherwise the kernel's size and every weight within -255..255.
kip_status checkOffsetImage(const Element& element, const kimg_imageConst& image) {
    uint32_t bound = 0;
    kip_status s = kimg_imageConst_getIsBound(&image, &bound);
    if (failed(s) || !bound) return s;
    kstd_pair32 size;
    s = kip_filterMaskKernel_getSize(&element.kernel, &size);
    if (failed(s)) return s;
    kimg_windowConst w;
    s = kimg_windowConst_init(&w, &image);
    if (failed(s)) return s;
    if (w.rect.width != size.x || w.rect.height != size.y) return kip_errOffsetImageSizeMismatch;
    // Weights are read as 16-bit signed values; other depths cannot be weights.
    if (w.bytesPerPixel != 2) return kimg_errDepthMismatch;
    for (int32_t y = 0; y < w.rect.height; ++y) {
        const int16_t* row = static_cast<const int16_t*>(w.pixels) + static_cast<intptr_t>(y) * w.stride;
        for (int32_t x = 0; x < w.rect.width; ++x)
            if (row[x] < -255 || row[x] > 255) return kip_errOffsetValueRange;
    }
    return 0;
}

bool sameBytes(const kimg_windowConst& a, const kimg_windowConst& b) {
    const size_t rowBytes = static_cast<size_t>(a.rect.width) * static_cast<size_t>(a.bytesPerPixel);
    for (int32_t y = 0; y < a.rect.height; ++y) {
        const uint8_t* ra =
            static_cast<const uint8_t*>(a.pixels) + static_cast<intptr_t>(y) * a.stride * a.bytesPerPixel;
        const uint8_t* rb =
            static_cast<const uint8_t*>(b.pixels) + static_cast<intptr_t>(y) * b.stride * b.bytesPerPixel;
        for (size_t i = 0; i < rowBytes; ++i)
            if (ra[i] != rb[i]) return false;
    }
    return true;
}

kip_status sameWeights(const kimg_imageConst& a, const kimg_imageConst& b, bool* same) {
    kimg_windowConst wa, wb;
    kip_status s = kimg_windowConst_init(&wa, &a);
    if (!failed(s)) s = kimg_windowConst_init(&wb, &b);
    if (failed(s)) return s;
    uint32_t rectsEqual = 0;
    s = kstd_rect32_compareEqual(&wa.rect, &wb.rect, &rectsEqual);
    if (failed(s)) return s;
    if (!rectsEqual || wa.bytesPerPixel != wb.bytesPerPixel) {
        *same = false;
        return 0;
    }
    uint32_t empty = 0;
    s = kip_pelfunc_gcrTwoWindowIgnoreOverlap(&wa, &wb, &empty);
    if (failed(s)) return s;
    *same = empty || sameBytes(wa, wb);
    return 0;
}

}  // namespace

extern "C" {

kip_status kip_filterMorphologyStructuringElement_constructSize(Element* element, const kstd_pair32* size) {
    KIP_REQUIRE(element);
    KIP_REQUIRE(size);
    kip_status s = kip_filterMaskKernel_constructSize(&element->kernel, size);
    if (failed(s)) return s;
    Cleanup<1> c;
    c.addObject<kip_filterMaskKernel, &kip_filterMaskKernel_destruct>(ksys_cleanupDestroyOnFailure, &element->kernel);
    s = kimg_imageConst_constructUnbound(&element->offsetImage);
    if (!failed(s)) {
        element->originOffset = kstd_pair32{0, 0};
        element->useOffsetImage = 0;
    }
    return c.finish(s);
}

kip_status kip_filterMorphologyStructuringElement_construct(Element* element) {
    const kstd_pair32 size{3, 3};
    return kip_filterMorphologyStructuringElement_constructSize(element, &size);
}

kip_status kip_filterMorphologyStructuringElement_constructCopy(Element* element, const Element* source) {
    KIP_REQUIRE(element);
    KIP_REQUIRE(source);
    kip_status s = kip_filterMorphologyStructuringElement_construct(element);
    if (failed(s)) return s;
    Cleanup<1> c;
    c.addObject<Element, &kip_filterMorphologyStructuringElement_destruct>(ksys_cleanupDestroyOnFailure, element);
    return c.finish(kip_filterMorphologyStructuringElement_assign(element, source));
}

kip_status kip_filterMorphologyStructuringElement_destruct(Element* element) {
    KIP_REQUIRE(element);
    const kip_status first = kip_filterMaskKernel_destruct(&element->kernel);
    const kip_status second = kimg_imageConst_destruct(&element->offsetImage);
    return failed(first) ? first : second;
}

kip_status kip_filterMorphologyStructuringElement_assign(Element* element, const Element* source) {
    KIP_REQUIRE(element);
    KIP_REQUIRE(source);
    kip_status s = kip_filterMaskKernel_assign(&element->kernel, &source->kernel);
    if (!failed(s)) s = kimg_imageConst_assign(&element->offsetImage, &source->offsetImage);
    if (!failed(s)) element->useOffsetImage = source->useOffsetImage;
    return s;
}

kip_status kip_filterMorphologyStructuringElement_reset(Element* element) {
    const kstd_pair32 size{3, 3};
    return kip_filterMorphologyStructuringElement_setSize(element, &size);
}

kip_status kip_filterMorphologyStructuringElement_validate(const Element* element) {
    KIP_REQUIRE(element);
    kip_status s = kip_filterMaskKernel_validate(&element->kernel);
    if (failed(s)) return s;
    kstd_pair32 size;
    s = kip_filterMaskKernel_getSize(&element->kernel, &size);
    if (failed(s)) return s;
    if (size.x == 0 || size.y == 0) return kip_errKernelImageUnbound;
    if (element->useOffsetImage == 0) return 0;
    uint32_t bound = 0;
    s = kimg_imageConst_getIsBound(&element->offsetImage, &bound);
    if (failed(s) || !bound) return s;
    kstd_rect32 rect;
    s = kimg_imageConst_getWindow(&element->offsetImage, &rect);
    if (failed(s)) return s;
    if (rect.width != size.x || rect.height != size.y) return kip_errOffsetImageSizeMismatch;
    return checkOffsetImage(*element, element->offsetImage);
}

kip_status kip_filterMorphologyStructuringElement_compareEqual(const Element* a, const Element* b, uint32_t* equal) {
    KIP_REQUIRE(a);
    KIP_REQUIRE(b);
    KIP_REQUIRE(equal);
    uint32_t same = 0;
    kip_status s = kip_filterMaskKernel_compareEqual(&a->kernel, &b->kernel, &same);
    if (failed(s)) return s;
    if (same && a->useOffsetImage != b->useOffsetImage) same = 0;
    if (same && a->useOffsetImage != 0) {
        bool weights = false;
        s = sameWeights(a->offsetImage, b->offsetImage, &weights);
        if (failed(s)) return s;
        same = weights ? 1u : 0u;
    }
    *equal = same;
    return s;
}

kip_status kip_filterMorphologyStructuringElement_getSize(const Element* element, kstd_pair32* size) {
    KIP_REQUIRE(element);
    return kip_filterMaskKernel_getSize(&element->kernel, size);
}

kip_status kip_filterMorphologyStructuringElement_setSize(Element* element, const kstd_pair32* size) {
    KIP_REQUIRE(element);
    kip_status s = kip_filterMaskKernel_setSize(&element->kernel, size);
    if (failed(s)) return s;
    return kimg_imageConst_assignUnbound(&element->offsetImage);
}

kip_status kip_filterMorphologyStructuringElement_getMask(const Element* element, kimg_imageConst* mask) {
    KIP_REQUIRE(element);
    return kip_filterMaskKernel_getMask(&element->kernel, mask);
}

kip_status kip_filterMorphologyStructuringElement_setMask(Element* element, const kimg_imageConst* mask) {
    KIP_REQUIRE(element);
    kip_status s = kip_filterMaskKernel_setMask(&element->kernel, mask);
    if (failed(s)) return s;
    return kimg_imageConst_assignUnbound(&element->offsetImage);
}

kip_status kip_filterMorphologyStructuringElement_getUseOffsetImage(const Element* element, uint32_t* use) {
    KIP_REQUIRE(element);
    KIP_REQUIRE(use);
    *use = element->useOffsetImage;
    return 0;
}

kip_status kip_filterMorphologyStructuringElement_setUseOffsetImage(Element* element, uint32_t use) {
    KIP_REQUIRE(element);
    element->useOffsetImage = use;
    return 0;
}

kip_status kip_filterMorphologyStructuringElement_getOffsetImage(const Element* element, kimg_imageConst* image) {
    KIP_REQUIRE(element);
    KIP_REQUIRE(image);
    return kimg_imageConst_assign(image, &element->offsetImage);
}

kip_status kip_filterMorphologyStructuringElement_setOffsetImage(Element* element, const kimg_imageConst* image) {
    KIP_REQUIRE(element);
    KIP_REQUIRE(image);
    kip_status s = checkOffsetImage(*element, *image);
    if (failed(s)) return s;
    uint32_t bound = 0;
    s = kimg_imageConst_getIsBound(image, &bound);
    if (failed(s)) return s;
    if (!bound) return kimg_imageConst_assignUnbound(&element->offsetImage);
    kstd_rect32 rect;
    s = kimg_imageConst_getWindow(image, &rect);
    if (failed(s)) return s;
    kimg_image copy;
    s = kimg_image_constructRect(&copy, 2, &rect);
    if (failed(s)) return s;
    // The element keeps its own handle; the local one always goes.
    Cleanup<1> c;
    c.addObject<kimg_image, &kimg_image_destruct>(ksys_cleanupDestroyAlways, &copy);
    s = kip_pelCopy16s(image, &copy);
    if (!failed(s)) s = kimg_image_setOrigin(&copy, 0, 0);
    if (!failed(s)) s = kimg_imageConst_assign(&element->offsetImage, &copy);
    return c.finish(s);
}

kip_status kip_filterMorphologyStructuringElement_getOriginOffset(const Element* element, kstd_pair32* offset) {
    KIP_REQUIRE(element);
    KIP_REQUIRE(offset);
    *offset = element->originOffset;
    return 0;
}

kip_status kip_filterMorphologyStructuringElement_setOriginOffset(Element* element, const kstd_pair32* offset) {
    KIP_REQUIRE(element);
    KIP_REQUIRE(offset);
    element->originOffset = *offset;
    return 0;
}

kip_status kip_filterMorphologyStructuringElement_getIsRectangular(const Element* element, uint32_t* rectangular) {
    *rectangular = element->kernel.encoded.rectangular;
    return 0;
}

kip_status kip_filterMorphologyStructuringElement_getIsFlat(const Element* element, uint32_t* flat) {
    if (element->useOffsetImage == 0) {
        *flat = 1;
        return 0;
    }
    uint32_t bound = 0;
    kip_status s = kimg_imageConst_getIsBound(&element->offsetImage, &bound);
    if (!failed(s)) *flat = bound ? 0u : 1u;
    return s;
}

kip_status kip_filterMorphologyStructuringElement_getEncodedKernel(const Element* element,
                                                                   const kip_filterMaskKernelEncoded** encoded) {
    KIP_REQUIRE(element);
    return kip_filterMaskKernel_getEncodedKernel(&element->kernel, encoded);
}

kip_status kip_filterMorphologyStructuringElement_new(Element** element) {
    return kip::heapNewWith<Element, kip_filterMorphologyStructuringElement_destruct>(
        element, kip_filterMorphologyStructuringElement_construct);
}

kip_status kip_filterMorphologyStructuringElement_newClone(Element** element, const Element* source) {
    return kip::heapNewClone<Element, kip_filterMorphologyStructuringElement_construct,
                             kip_filterMorphologyStructuringElement_destruct,
                             kip_filterMorphologyStructuringElement_assign>(element, source);
}

kip_status kip_filterMorphologyStructuringElement_delete(Element** element) {
    return kip::heapDelete<Element, kip_filterMorphologyStructuringElement_destruct>(element);
}

}  // extern "C"

KSYS_DEFINE_TYPE_CHECKS(kip_filterMorphologyStructuringElement)
