// Mask kernel: a private mask image and its encoded form, kept in step.
//
// Setters build a complete new kernel beside the old one and swap it in at the end, so a failure
// at any step leaves the kernel as it was.
#include "kip/mask_kernel.h"

#include "frame/cleanup.hpp"
#include "kip/platform/pixel.h"
#include "platform/assert.hpp"
#include "platform/heap.hpp"
#include "platform/typecheck.hpp"

using kip::Cleanup;
using kip::failed;

namespace {

using Kernel = kip_filterMaskKernel;

// The caller's mask window copied into new pixels whose top-left is at client (0, 0), so the
// kernel never refers to the caller's image.
kip_status makePrivateCopy(const kimg_imageConst* mask, kimg_image* copy) {
    kstd_rect32 rect;
    kip_status s = kimg_imageConst_getWindow(mask, &rect);
    if (failed(s)) return s;
    s = kimg_image_constructRect(copy, 1, &rect);
    if (failed(s)) return s;
    Cleanup<1> c;
    c.addObject<kimg_image, &kimg_image_destruct>(ksys_cleanupDestroyOnFailure, copy);
    s = kip_pelCopy8(mask, copy);
    if (!failed(s)) s = kimg_image_setOrigin(copy, 0, 0);
    return c.finish(s);
}

}  // namespace

static kip_status kip_filterMaskKernel_createRectangularMask_(kimg_imageConst* mask, const kstd_pair32* size) {
    kip_status s = kip_filterMaskKernel_validateMaskSize_(size);
    if (failed(s)) return s;
    kimg_image built;
    s = kimg_image_construct(&built, 1, size->x, size->y);
    if (failed(s)) return s;
    Cleanup<1> c;
    c.addObject<kimg_image, &kimg_image_destruct>(ksys_cleanupDestroyOnFailure, &built);
    s = kip_pelSet8(&built, 255);
    if (!failed(s)) *mask = built;
    return c.finish(s);
}

extern "C" {

kip_status kip_filterMaskKernel_validateMaskSize_(const kstd_pair32* size) {
    KIP_REQUIRE(size);
    const bool odd = size->x > 0 && size->y > 0 && size->x % 2 == 1 && size->y % 2 == 1;
    return odd ? 0 : kip_errKernelSizeNotOdd;
}

kip_status kip_filterMaskKernel_validateMaskImage_(const kimg_imageConst* mask) {
    KIP_REQUIRE(mask);
    uint32_t bound = 0;
    kip_status s = kimg_imageConst_getIsBound(mask, &bound);
    if (failed(s)) return s;
    if (!bound) return kip_errKernelImageUnbound;
    kstd_rect32 rect;
    s = kimg_imageConst_getWindow(mask, &rect);
    if (failed(s)) return s;
    const kstd_pair32 size{rect.width, rect.height};
    return kip_filterMaskKernel_validateMaskSize_(&size);
}

kip_status kip_filterMaskKernel_constructSize(kip_filterMaskKernel* kernel, const kstd_pair32* size) {
    KIP_REQUIRE(kernel);
    KIP_REQUIRE(size);
    kip_status s = kip_filterMaskKernel_createRectangularMask_(&kernel->mask, size);
    if (failed(s)) return s;
    Cleanup<1> c;
    c.addObject<kimg_image, &kimg_imageConst_destruct>(ksys_cleanupDestroyOnFailure, &kernel->mask);
    return c.finish(kip_filterMaskKernelEncoded_construct(&kernel->encoded));
}

kip_status kip_filterMaskKernel_construct(kip_filterMaskKernel* kernel) {
    const kstd_pair32 size{3, 3};
    return kip_filterMaskKernel_constructSize(kernel, &size);
}

kip_status kip_filterMaskKernel_constructMask(kip_filterMaskKernel* kernel, const kimg_imageConst* mask) {
    KIP_REQUIRE(kernel);
    KIP_REQUIRE(mask);
    kip_status s = kip_filterMaskKernel_validateMaskImage_(mask);
    if (failed(s)) return s;
    kimg_image scratch;
    s = makePrivateCopy(mask, &scratch);
    if (failed(s)) return s;
    Cleanup<2> c;
    c.addObject<kimg_image, &kimg_image_destruct>(ksys_cleanupDestroyAlways, &scratch);
    s = kimg_imageConst_constructCopy(&kernel->mask, &scratch);
    if (failed(s)) return c.finish(s);
    c.addObject<kimg_image, &kimg_imageConst_destruct>(ksys_cleanupDestroyOnFailure, &kernel->mask);
    return c.finish(kip_filterMaskKernelEncoded_constructImage(&kernel->encoded, &scratch));
}

kip_status kip_filterMaskKernel_constructCopy(kip_filterMaskKernel* kernel, const kip_filterMaskKernel* source) {
    KIP_REQUIRE(kernel);
    KIP_REQUIRE(source);
    kip_status s = kip_filterMaskKernel_construct(kernel);
    if (failed(s)) return s;
    Cleanup<1> c;
    c.addObject<Kernel, &kip_filterMaskKernel_destruct>(ksys_cleanupDestroyOnFailure, kernel);
    return c.finish(kip_filterMaskKernel_assign(kernel, source));
}

kip_status kip_filterMaskKernel_destruct(kip_filterMaskKernel* kernel) {
    KIP_REQUIRE(kernel);
    kip_status first = kimg_imageConst_destruct(&kernel->mask);
    kip_status second = kip_filterMaskKernelEncoded_destruct(&kernel->encoded);
    return failed(first) ? first : second;
}

// The source's encoded form already describes its mask, so it is copied rather than re-encoded.
kip_status kip_filterMaskKernel_assign(kip_filterMaskKernel* kernel, const kip_filterMaskKernel* source) {
    KIP_REQUIRE(kernel);
    KIP_REQUIRE(source);
    kip_status s = kip_filterMaskKernel_validateMaskImage_(&source->mask);
    if (failed(s)) return s;
    Kernel built;
    kimg_image scratch;
    s = makePrivateCopy(&source->mask, &scratch);
    if (failed(s)) return s;
    Cleanup<3> c;
    c.addObject<kimg_image, &kimg_image_destruct>(ksys_cleanupDestroyAlways, &scratch);
    s = kimg_imageConst_constructCopy(&built.mask, &scratch);
    if (failed(s)) return c.finish(s);
    c.addObject<kimg_image, &kimg_imageConst_destruct>(ksys_cleanupDestroyOnFailure, &built.mask);
    s = c.finish(kip_filterMaskKernelEncoded_constructCopy(&built.encoded, &source->encoded));
    return failed(s) ? s : kip::replaceWithBuilt<Kernel, &kip_filterMaskKernel_destruct>(kernel, &built);
}

kip_status kip_filterMaskKernel_reset(kip_filterMaskKernel* kernel) {
    const kstd_pair32 size{3, 3};
    return kip_filterMaskKernel_setSize(kernel, &size);
}

kip_status kip_filterMaskKernel_validate(const kip_filterMaskKernel* kernel) {
    KIP_REQUIRE(kernel);
    return kip_filterMaskKernel_validateMaskImage_(&kernel->mask);
}

kip_status kip_filterMaskKernel_compareEqual(const kip_filterMaskKernel* a, const kip_filterMaskKernel* b,
                                             uint32_t* equal) {
    KIP_REQUIRE(a);
    KIP_REQUIRE(b);
    KIP_REQUIRE(equal);
    uint32_t same = 1;
    kip_status s = kip_pelAndRectsEqual8(&a->mask, &b->mask, &same);
    if (!failed(s)) *equal = same;
    return s;
}

kip_status kip_filterMaskKernel_getSize(const kip_filterMaskKernel* kernel, kstd_pair32* size) {
    KIP_REQUIRE(kernel);
    KIP_REQUIRE(size);
    kstd_rect32 rect;
    kip_status s = kimg_imageConst_getWindow(&kernel->mask, &rect);
    if (!failed(s)) *size = kstd_pair32{rect.width, rect.height};
    return s;
}

kip_status kip_filterMaskKernel_setSize(kip_filterMaskKernel* kernel, const kstd_pair32* size) {
    KIP_REQUIRE(kernel);
    KIP_REQUIRE(size);
    Kernel built;
    kip_status s = kip_filterMaskKernel_constructSize(&built, size);
    return failed(s) ? s : kip::replaceWithBuilt<Kernel, &kip_filterMaskKernel_destruct>(kernel, &built);
}

kip_status kip_filterMaskKernel_getMask(const kip_filterMaskKernel* kernel, kimg_imageConst* mask) {
    KIP_REQUIRE(kernel);
    KIP_REQUIRE(mask);
    return kimg_imageConst_assign(mask, &kernel->mask);
}

kip_status kip_filterMaskKernel_setMask(kip_filterMaskKernel* kernel, const kimg_imageConst* mask) {
    KIP_REQUIRE(kernel);
    KIP_REQUIRE(mask);
    Kernel built;
    kip_status s = kip_filterMaskKernel_constructMask(&built, mask);
    return failed(s) ? s : kip::replaceWithBuilt<Kernel, &kip_filterMaskKernel_destruct>(kernel, &built);
}

kip_status kip_filterMaskKernel_getIsRectangular(const kip_filterMaskKernel* kernel, uint32_t* rectangular) {
    KIP_REQUIRE(kernel);
    KIP_REQUIRE(rectangular);
    *rectangular = kernel->encoded.rectangular;
    return 0;
}

kip_status kip_filterMaskKernel_getEncodedKernel(const kip_filterMaskKernel* kernel,
                                                 const kip_filterMaskKernelEncoded** encoded) {
    KIP_REQUIRE(kernel);
    KIP_REQUIRE(encoded);
    *encoded = &kernel->encoded;
    return 0;
}

kip_status kip_filterMaskKernel_new(kip_filterMaskKernel** kernel) {
    return kip::heapNewWith<Kernel, kip_filterMaskKernel_destruct>(kernel, kip_filterMaskKernel_construct);
}

kip_status kip_filterMaskKernel_newWithSize(kip_filterMaskKernel** kernel, const kstd_pair32* size) {
    return kip::heapNewWith<Kernel, kip_filterMaskKernel_destruct>(kernel, kip_filterMaskKernel_constructSize, size);
}

kip_status kip_filterMaskKernel_newWithMask(kip_filterMaskKernel** kernel, const kimg_imageConst* mask) {
    return kip::heapNewWith<Kernel, kip_filterMaskKernel_destruct>(kernel, kip_filterMaskKernel_constructMask, mask);
}

kip_status kip_filterMaskKernel_newClone(kip_filterMaskKernel** kernel, const kip_filterMaskKernel* source) {
    return kip::heapNewClone<Kernel, kip_filterMaskKernel_construct, kip_filterMaskKernel_destruct,
                             kip_filterMaskKernel_assign>(kernel, source);
}

kip_status kip_filterMaskKernel_delete(kip_filterMaskKernel** kernel) {
    return kip::heapDelete<Kernel, kip_filterMaskKernel_destruct>(kernel);
}

}  // extern "C"

KSYS_DEFINE_TYPE_CHECKS(kip_filterMaskKernel)
