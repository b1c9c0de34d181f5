// Encoded mask kernel: the vertical stretches of the half-turned mask, and their offsets for a
// row stride.
#include "kip/encoded_kernel.h"

#include "frame/cleanup.hpp"
#include "kip/rle_image.h"
#include "platform/assert.hpp"
#include "platform/typecheck.hpp"

using kip::Cleanup;
using kip::failed;

namespace {

using Encoded = kip_filterMaskKernelEncoded;
using Pairs = kstd_vector_kstd_pair32;

kip_status constructLists(Encoded* encoded, uint32_t rectangular, int32_t size) {
    encoded->rectangular = rectangular;
    kip_status s = kstd_vector_kstd_pair32_construct(&encoded->entering, size);
    if (failed(s)) return s;
    Cleanup<1> c;
    c.addObject<Pairs, &kstd_vector_kstd_pair32_destruct>(ksys_cleanupDestroyOnFailure, &encoded->entering);
    s = kstd_vector_kstd_pair32_construct(&encoded->leaving, size);
    return c.finish(s);
}

kip_status constructCopy(Encoded* encoded, const Encoded* source) {
    encoded->rectangular = source->rectangular;
    kip_status s = kstd_vector_kstd_pair32_constructCopy(&encoded->entering, &source->entering);
    if (failed(s)) return s;
    Cleanup<1> c;
    c.addObject<Pairs, &kstd_vector_kstd_pair32_destruct>(ksys_cleanupDestroyOnFailure, &encoded->entering);
    s = kstd_vector_kstd_pair32_constructCopy(&encoded->leaving, &source->leaving);
    return c.finish(s);
}

// Row c of the reflected and transposed mask is column c of the half-turned mask R, so its runs
// walk down that column; a stretch opens at a non-zero run that starts the row or follows a
// zero run, however many non-zero values it spans.
kip_status constructFromImage(Encoded* encoded, const kimg_imageConst* mask) {
    uint32_t bound = 0;
    kip_status s = kimg_imageConst_getIsBound(mask, &bound);
    if (failed(s)) return s;
    if (!bound) return kip_errKernelImageUnbound;
    kimg_windowConst window;
    s = kimg_windowConst_init(&window, mask);
    if (failed(s)) return s;
    kip_rleImage8 turned;
    s = kip_rleImage8_constructWindowReflectAndTranspose(&turned, &window);
    if (failed(s)) return s;
    Cleanup<2> c;
    c.addObject<kip_rleImage8, &kip_rleImage8_destruct>(ksys_cleanupDestroyAlways, &turned);
    const kip_rleRow8* rows = nullptr;
    int32_t columns = 0;
    s = kstd_vector_kip_rleRow8_getBeginSize32Const(&turned.rows, &rows, &columns);
    if (failed(s)) return c.finish(s);

    uint32_t rectangular = 1;
    int32_t stretches = 0;
    for (int32_t col = 0; col < columns; ++col) {
        bool open = false;
        for (int32_t k = 0; k + 1 < rows[col].count; ++k) {
            const bool member = rows[col].runs[k].value != 0;
            if (member && !open) ++stretches;
            if (!member) rectangular = 0;
            open = member;
        }
    }
    s = constructLists(encoded, rectangular, rectangular ? 0 : stretches);
    if (failed(s) || rectangular) return c.finish(s);
    c.addObject<Encoded, &kip_filterMaskKernelEncoded_destruct>(ksys_cleanupDestroyOnFailure, encoded);

    kstd_pair32 *entering = nullptr, *leaving = nullptr;
    s = kstd_vector_kstd_pair32_getBegin(&encoded->entering, &entering);
    if (failed(s)) return c.finish(s);
    s = kstd_vector_kstd_pair32_getBegin(&encoded->leaving, &leaving);
    if (failed(s)) return c.finish(s);
    int32_t nEntering = 0, nLeaving = 0;
    for (int32_t col = 0; col < columns; ++col) {
        bool open = false;
        int32_t p = 0;
        for (int32_t k = 0; k + 1 < rows[col].count; ++k) {
            const bool member = rows[col].runs[k].value != 0;
            if (member && !open) leaving[nLeaving++] = kstd_pair32{col, p};
            if (!member && open) entering[nEntering++] = kstd_pair32{col, p - 1};
            open = member;
            p += rows[col].runs[k].length;
        }
        if (open) entering[nEntering++] = kstd_pair32{col, p - 1};
    }
    KIP_ASSERT(nEntering == stretches && nLeaving == stretches);
    return c.finish(s);
}

// p * stride + c wraps like the 32-bit arithmetic the engines address with.
kip_status createOffsets(const Pairs* positions, int32_t stride, kstd_vector32s* offsets) {
    const kstd_pair32* pos = nullptr;
    int32_t n = 0;
    kip_status s = kstd_vector_kstd_pair32_getBeginSize32Const(positions, &pos, &n);
    if (failed(s)) return s;
    s = kstd_vector32s_construct(offsets, n);
    if (failed(s)) return s;
    Cleanup<1> c;
    c.addObject<kstd_vector32s, &kstd_vector32s_destruct>(ksys_cleanupDestroyOnFailure, offsets);
    int32_t* out = nullptr;
    s = kstd_vector32s_getBegin(offsets, &out);
    if (failed(s)) return c.finish(s);
    for (int32_t i = 0; i < n; ++i)
        out[i] = static_cast<int32_t>(static_cast<uint32_t>(pos[i].y) * static_cast<uint32_t>(stride) +
                                      static_cast<uint32_t>(pos[i].x));
    return c.finish(s);
}

}  // namespace

extern "C" {

kip_status kip_filterMaskKernelEncoded_construct(kip_filterMaskKernelEncoded* encoded) {
    KIP_REQUIRE(encoded);
    return constructLists(encoded, 1, 0);
}

kip_status kip_filterMaskKernelEncoded_constructImage(kip_filterMaskKernelEncoded* encoded,
                                                      const kimg_imageConst* mask) {
    KIP_REQUIRE(encoded);
    KIP_REQUIRE(mask);
    return constructFromImage(encoded, mask);
}

kip_status kip_filterMaskKernelEncoded_constructCopy(kip_filterMaskKernelEncoded* encoded,
                                                     const kip_filterMaskKernelEncoded* source) {
    KIP_REQUIRE(encoded);
    KIP_REQUIRE(source);
    return constructCopy(encoded, source);
}

kip_status kip_filterMaskKernelEncoded_assign(kip_filterMaskKernelEncoded* encoded,
                                              const kip_filterMaskKernelEncoded* source) {
    KIP_REQUIRE(encoded);
    KIP_REQUIRE(source);
    Encoded built;
    kip_status s = constructCopy(&built, source);
    return failed(s) ? s : kip::replaceWithBuilt<Encoded, &kip_filterMaskKernelEncoded_destruct>(encoded, &built);
}

kip_status kip_filterMaskKernelEncoded_destruct(kip_filterMaskKernelEncoded* encoded) {
    KIP_REQUIRE(encoded);
    kip_status first = kstd_vector_kstd_pair32_destruct(&encoded->entering);
    kip_status second = kstd_vector_kstd_pair32_destruct(&encoded->leaving);
    return failed(first) ? first : second;
}

kip_status kip_filterMaskKernelEncoded_reset(kip_filterMaskKernelEncoded* encoded) {
    KIP_REQUIRE(encoded);
    encoded->rectangular = 1;
    kip_status first = kstd_vector_kstd_pair32_clear(&encoded->entering);
    kip_status second = kstd_vector_kstd_pair32_clear(&encoded->leaving);
    return failed(first) ? first : second;
}

kip_status kip_filterMaskKernelEncoded_setRectangular(kip_filterMaskKernelEncoded* encoded) {
    return kip_filterMaskKernelEncoded_reset(encoded);
}

kip_status kip_filterMaskKernelEncoded_encode(kip_filterMaskKernelEncoded* encoded, const kimg_imageConst* mask) {
    KIP_REQUIRE(encoded);
    KIP_REQUIRE(mask);
    Encoded built;
    kip_status s = constructFromImage(&built, mask);
    return failed(s) ? s : kip::replaceWithBuilt<Encoded, &kip_filterMaskKernelEncoded_destruct>(encoded, &built);
}

kip_status kip_filterMaskKernelEncoded_createEnteringOffsets(const kip_filterMaskKernelEncoded* encoded, int32_t stride,
                                                             kstd_vector32s* offsets) {
    KIP_REQUIRE(encoded);
    KIP_REQUIRE(offsets);
    return createOffsets(&encoded->entering, stride, offsets);
}

kip_status kip_filterMaskKernelEncoded_createLeavingOffsets(const kip_filterMaskKernelEncoded* encoded, int32_t stride,
                                                            kstd_vector32s* offsets) {
    KIP_REQUIRE(encoded);
    KIP_REQUIRE(offsets);
    return createOffsets(&encoded->leaving, stride, offsets);
}

}  // extern "C"

KSYS_DEFINE_TYPE_CHECKS(kip_filterMaskKernelEncoded)
