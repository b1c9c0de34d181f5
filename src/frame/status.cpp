// Status names, for messages and for the C++ wrapper's exceptions.
#include "platform/assert.hpp"

namespace {

struct Named {
    kip_status code;
    const char* name;
};

constexpr Named kNames[] = {
    {kip_errRankOutOfRange, "kip_errRankOutOfRange"},
    {kip_errBadMode, "kip_errBadMode"},
    {kip_errImageUnbound, "kip_errImageUnbound"},
    {kip_errKernelImageUnbound, "kip_errKernelImageUnbound"},
    {kip_errKernelSizeNotOdd, "kip_errKernelSizeNotOdd"},
    {kip_errMaskWindowMismatch, "kip_errMaskWindowMismatch"},
    {kip_errOffsetImageSizeMismatch, "kip_errOffsetImageSizeMismatch"},
    {kip_errOffsetValueRange, "kip_errOffsetValueRange"},
    {kip_errNotAvailable, "kip_errNotAvailable"},
    {kip_errMemoryOverlap, "kip_errMemoryOverlap"},
    {kip_errRectEmpty, "kip_errRectEmpty"},
    {ksys_errOutOfMemory, "ksys_errOutOfMemory"},
    {ksys_errCancelled, "ksys_errCancelled"},
    {kstd_errInvalidArgument, "kstd_errInvalidArgument"},
    {kstd_errIndexRange, "kstd_errIndexRange"},
    {kimg_errDepthMismatch, "kimg_errDepthMismatch"},
    {kimg_errSizeMismatch, "kimg_errSizeMismatch"},
    {ksys_errThread, "ksys_errThread"},
};

}  // namespace

extern "C" kip_status kip_status_getName(kip_status status, const char** name) {
    KIP_REQUIRE(name);
    for (const Named& n : kNames) {
        if (n.code == status) {
            *name = n.name;
            return 0;
        }
    }
    *name = kip::failed(status) ? "unknown failure" : "success";
    return 0;
}
