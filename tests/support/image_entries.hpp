// The image entries of the families that filter over a rectangular neighbourhood, at both depths,
// behind one signature: rank (at 0.3), median, morphology (close), local mean and local median.
#pragma once

#include <string>
#include <vector>

#include "kip/kip.h"

namespace kiptest {

// The kernel and element of one neighbourhood size, made once and shared by the calls that use
// them. Each holds the status of its construction: a size too large for memory fails only the
// families that need it.
struct Neighbourhood {
    int32_t width, height;
    kip_filterMaskKernel kernel;
    kip_filterMorphologyStructuringElement element;
    kip_status kernelStatus, elementStatus;
    Neighbourhood(int32_t kw, int32_t kh);
    ~Neighbourhood();
    Neighbourhood(const Neighbourhood&) = delete;
    Neighbourhood& operator=(const Neighbourhood&) = delete;
};

struct ImageEntry {
    std::string name;  // family and depth
    uint32_t depth;
    bool checksMaskRect;  // local subtraction works on the part the mask covers instead
    kip_status (*call)(const Neighbourhood& n, const kimg_image* source, const kimg_image* mask,
                       kimg_image* destination);
};

inline Neighbourhood::Neighbourhood(int32_t kw, int32_t kh) : width(kw), height(kh) {
    const kstd_pair32 size{kw, kh};
    kernelStatus = kip_filterMaskKernel_constructSize(&kernel, &size);
    elementStatus = kip_filterMorphologyStructuringElement_constructSize(&element, &size);
}
inline Neighbourhood::~Neighbourhood() {
    if (!kip_status_isFailure(kernelStatus)) kip_filterMaskKernel_destruct(&kernel);
    if (!kip_status_isFailure(elementStatus)) kip_filterMorphologyStructuringElement_destruct(&element);
}

namespace detail {

template <uint32_t Depth>
std::vector<ImageEntry> entriesOf(const std::string& bits) {
    using N = Neighbourhood;
    using I = kimg_image;
    constexpr bool eight = Depth == 1;
    return {
        {"rank " + bits, Depth, true,
         [](const N& n, const I* s, const I* m, I* d) {
             static const kip_filterRankParams p{kip_filterBorderTruncated, 0.3};
             if (kip_status_isFailure(n.kernelStatus)) return n.kernelStatus;
             return (eight ? kip_filterRank8 : kip_filterRank16)(s, m, &p, &n.kernel, d);
         }},
        {"median " + bits, Depth, true,
         [](const N& n, const I* s, const I* m, I* d) {
             static const kip_filterMedianParams p{kip_filterBorderTruncated};
             if (kip_status_isFailure(n.kernelStatus)) return n.kernelStatus;
             return (eight ? kip_filterMedian8 : kip_filterMedian16)(s, m, &p, &n.kernel, d);
         }},
        {"morphology " + bits, Depth, true,
         [](const N& n, const I* s, const I* m, I* d) {
             static const kip_filterMorphologyParams p{kip_filterBorderTruncated};
             if (kip_status_isFailure(n.elementStatus)) return n.elementStatus;
             return (eight ? kip_filterMorphology8 : kip_filterMorphology16)(s, m, kip_filterMorphologyClose, &p,
                                                                             &n.element, d);
         }},
        {"local mean " + bits, Depth, false,
         [](const N& n, const I* s, const I* m, I* d) {
             const kip_pelSubLocalParams p{n.width, n.height};
             return (eight ? kip_pelSubLocalMean8 : kip_pelSubLocalMean16)(s, m, &p, d);
         }},
        {"local median " + bits, Depth, false,
         [](const N& n, const I* s, const I* m, I* d) {
             const kip_pelSubLocalParams p{n.width, n.height};
             return (eight ? kip_pelSubLocalMedian8 : kip_pelSubLocalMedian16)(s, m, &p, d);
         }},
    };
}

}  // namespace detail

inline const std::vector<ImageEntry>& imageEntries() {
    static const std::vector<ImageEntry> all = [] {
        std::vector<ImageEntry> v = detail::entriesOf<1>("8-bit"), sixteen = detail::entriesOf<2>("16-bit");
        v.insert(v.end(), sixteen.begin(), sixteen.end());
        return v;
    }();
    return all;
}

}  // namespace kiptest
