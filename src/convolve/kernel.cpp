// Convolution kernels: an image handle whose pixels are the weights. The 8-bit and 16-bit signed
// kernels share one implementation; only the pixel depth and the comparison differ.
#include "convolve/variants.hpp"
#include "frame/cleanup.hpp"
#include "kip/convolve.h"
#include "kip/platform/pixel.h"
#include "platform/assert.hpp"
#include "platform/typecheck.hpp"

using kip::Cleanup;
using kip::failed;

namespace {

template <class Kernel>
using V = typename kip::convolve::VariantOf<Kernel>::type;

// Bound, with odd positive width and height (width tested first).
kip_status checkKernelImage(const kimg_imageConst* image) {
    uint32_t bound = 0;
    kip_status s = kimg_imageConst_getIsBound(image, &bound);
    if (failed(s)) return s;
    if (!bound) return kip_errKernelImageUnbound;
    kstd_rect32 r;
    s = kimg_imageConst_getWindow(image, &r);
    if (failed(s)) return s;
    if (r.width % 2 != 1 || r.height % 2 != 1) return kip_errKernelSizeNotOdd;
    return 0;
}

template <class Kernel>
kip_status construct(Kernel* kernel) {
    KIP_REQUIRE(kernel);
    return kimg_imageConst_constructUnbound(&kernel->image);
}

template <class Kernel>
kip_status destruct(Kernel* kernel) {
    KIP_REQUIRE(kernel);
    return kimg_imageConst_destruct(&kernel->image);
}

template <class Kernel>
kip_status reset(Kernel* kernel) {
    KIP_REQUIRE(kernel);
    uint32_t bound = 0;
    kip_status s = kimg_imageConst_getIsBound(&kernel->image, &bound);
    if (failed(s) || !bound) return s;
    s = kimg_imageConst_destruct(&kernel->image);
    if (failed(s)) return s;
    return kimg_imageConst_constructUnbound(&kernel->image);
}

// The weights are copied into pixels of the kernel's own, so the caller may change or free its
// image (wrapped memory included) afterwards. The kernel changes by one assignment at the end.
template <class Kernel>
kip_status setKernel(Kernel* kernel, const kimg_imageConst* image) {
    KIP_REQUIRE(kernel);
    KIP_REQUIRE(image);
    kip_status s = checkKernelImage(image);
    if (failed(s)) return s;
    kstd_rect32 r;
    s = kimg_imageConst_getWindow(image, &r);
    if (failed(s)) return s;
    kimg_image copy;
    s = kimg_image_constructRect(&copy, V<Kernel>::kDepth, &r);
    if (failed(s)) return s;
    Cleanup<1> c;
    c.addObject<kimg_image, &kimg_image_destruct>(ksys_cleanupDestroyAlways, &copy);
    s = V<Kernel>::copyKernelPixels(image, &copy);
    if (!failed(s)) s = kimg_imageConst_assign(&kernel->image, &copy);
    return c.finish(s);
}

template <class Kernel>
kip_status assign(Kernel* kernel, const Kernel* source) {
    KIP_REQUIRE(kernel);
    KIP_REQUIRE(source);
    uint32_t bound = 0;
    kip_status s = kimg_imageConst_getIsBound(&source->image, &bound);
    if (failed(s)) return s;
    return bound ? setKernel(kernel, &source->image) : reset(kernel);
}

template <class Kernel>
kip_status constructCopy(Kernel* kernel, const Kernel* source) {
    KIP_REQUIRE(kernel);
    KIP_REQUIRE(source);
    kip_status s = construct(kernel);
    if (failed(s)) return s;
    Cleanup<1> c;
    c.addObject<Kernel, &destruct<Kernel>>(ksys_cleanupDestroyOnFailure, kernel);
    return c.finish(assign(kernel, source));
}

template <class Kernel>
kip_status validate(const Kernel* kernel) {
    KIP_REQUIRE(kernel);
    return checkKernelImage(&kernel->image);
}

template <class Kernel>
kip_status compareEqual(const Kernel* a, const Kernel* b, uint32_t* equal) {
    KIP_REQUIRE(a);
    KIP_REQUIRE(b);
    KIP_REQUIRE(equal);
    uint32_t flag = 1;
    kip_status s = V<Kernel>::kernelPixelsEqual(&a->image, &b->image, &flag);
    if (!failed(s)) *equal = flag;
    return s;
}

template <class Kernel>
kip_status getKernel(const Kernel* kernel, kimg_imageConst* image) {
    KIP_REQUIRE(kernel);
    KIP_REQUIRE(image);
    return kimg_imageConst_assign(image, &kernel->image);
}

}  // namespace

KSYS_DEFINE_TYPE_CHECKS(kip_filterConvolveKernel8)
KSYS_DEFINE_TYPE_CHECKS(kip_filterConvolveKernel16s)

extern "C" {

kip_status kip_filterConvolveKernel8_construct(kip_filterConvolveKernel8* kernel) { return construct(kernel); }
kip_status kip_filterConvolveKernel8_constructCopy(kip_filterConvolveKernel8* kernel,
                                                   const kip_filterConvolveKernel8* source) {
    return constructCopy(kernel, source);
}
kip_status kip_filterConvolveKernel8_assign(kip_filterConvolveKernel8* kernel,
                                            const kip_filterConvolveKernel8* source) {
    return assign(kernel, source);
}
kip_status kip_filterConvolveKernel8_destruct(kip_filterConvolveKernel8* kernel) { return destruct(kernel); }
kip_status kip_filterConvolveKernel8_reset(kip_filterConvolveKernel8* kernel) { return reset(kernel); }
kip_status kip_filterConvolveKernel8_validate(const kip_filterConvolveKernel8* kernel) { return validate(kernel); }
kip_status kip_filterConvolveKernel8_compareEqual(const kip_filterConvolveKernel8* a,
                                                  const kip_filterConvolveKernel8* b, uint32_t* equal) {
    return compareEqual(a, b, equal);
}
kip_status kip_filterConvolveKernel8_getKernel(const kip_filterConvolveKernel8* kernel, kimg_imageConst* image) {
    return getKernel(kernel, image);
}
kip_status kip_filterConvolveKernel8_setKernel(kip_filterConvolveKernel8* kernel, const kimg_imageConst* image) {
    return setKernel(kernel, image);
}

kip_status kip_filterConvolveKernel16s_construct(kip_filterConvolveKernel16s* kernel) { return construct(kernel); }
kip_status kip_filterConvolveKernel16s_constructCopy(kip_filterConvolveKernel16s* kernel,
                                                     const kip_filterConvolveKernel16s* source) {
    return constructCopy(kernel, source);
}
kip_status kip_filterConvolveKernel16s_assign(kip_filterConvolveKernel16s* kernel,
                                              const kip_filterConvolveKernel16s* source) {
    return assign(kernel, source);
}
kip_status kip_filterConvolveKernel16s_destruct(kip_filterConvolveKernel16s* kernel) { return destruct(kernel); }
kip_status kip_filterConvolveKernel16s_reset(kip_filterConvolveKernel16s* kernel) { return reset(kernel); }
kip_status kip_filterConvolveKernel16s_validate(const kip_filterConvolveKernel16s* kernel) { return validate(kernel); }
kip_status kip_filterConvolveKernel16s_compareEqual(const kip_filterConvolveKernel16s* a,
                                                    const kip_filterConvolveKernel16s* b, uint32_t* equal) {
    return compareEqual(a, b, equal);
}
kip_status kip_filterConvolveKernel16s_getKernel(const kip_filterConvolveKernel16s* kernel, kimg_imageConst* image) {
    return getKernel(kernel, image);
}
kip_status kip_filterConvolveKernel16s_setKernel(kip_filterConvolveKernel16s* kernel, const kimg_imageConst* image) {
    return setKernel(kernel, image);
}

}  // extern "C"
