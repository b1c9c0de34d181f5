// kip for C++ (C++17 or later), rank filter: each pixel becomes a percentile of its neighbourhood (0 minimum,
// 0.5 median, 1 maximum), over a rectangle or a mask_kernel, cut at the image's border, 8-bit or
// 16-bit. An optional image mask selects which pixels take part and which are computed; the
// others keep the source value. Failures throw kip::error.
#ifndef KIP_RANK_HPP
#define KIP_RANK_HPP

#include "kip/image.hpp"
#include "kip/mask_kernel.hpp"
#include "kip/rank.h"

namespace kip {

namespace detail {
template <class T>
using if_rank_pixel = std::enable_if_t<is_pixel_of_v<T, std::uint8_t> || is_pixel_of_v<T, std::uint16_t>, int>;

inline kip_filterRankParams rank_params(double percentile) {
    kip_filterRankParams params;
    check(kip_filterRankParams_init(&params));
    params.percentile = percentile;
    return params;
}
inline kip_status rank_image(const kimg_image* s, const kimg_image* m, const kip_filterRankParams* p,
                             const kip_filterMaskKernel* k, kimg_image* d, uint32_t depth) {
    return depth == 1 ? kip_filterRank8(s, m, p, k, d) : kip_filterRank16(s, m, p, k, d);
}
}  // namespace detail

// Into destination, allocated over the source when unbound; otherwise the common part of the two
// windows is written and becomes the destination's window. The kernel's mask is applied turned
// by a half turn (symmetric kernels are unaffected).
template <class S, detail::if_rank_pixel<S> = 0>
void rank(const image<S>& source, const mask_kernel& kernel, double percentile,
          image<std::remove_const_t<S>>& destination) {
    const kip_filterRankParams params = detail::rank_params(percentile);
    check(detail::rank_image(source.get(), nullptr, &params, kernel.get(), destination.get(), depth_of<S>));
}
template <class S, detail::if_rank_pixel<S> = 0>
void rank(const image<S>& source, const image<const std::uint8_t>& mask, const mask_kernel& kernel, double percentile,
          image<std::remove_const_t<S>>& destination) {
    const kip_filterRankParams params = detail::rank_params(percentile);
    check(detail::rank_image(source.get(), mask.get(), &params, kernel.get(), destination.get(), depth_of<S>));
}
// The same into a new image over the source.
template <class S, detail::if_rank_pixel<S> = 0>
image<std::remove_const_t<S>> rank(const image<S>& source, const mask_kernel& kernel, double percentile) {
    image<std::remove_const_t<S>> destination;
    rank(source, kernel, percentile, destination);
    return destination;
}
template <class S, detail::if_rank_pixel<S> = 0>
image<std::remove_const_t<S>> rank(const image<S>& source, const image<const std::uint8_t>& mask,
                                   const mask_kernel& kernel, double percentile) {
    image<std::remove_const_t<S>> destination;
    rank(source, mask, kernel, percentile, destination);
    return destination;
}

// Window forms: the common rectangle of the windows is written; the windows may share pixels.
// The percentile is checked here as in the image forms.
inline void rank(window<const std::uint8_t> source, const mask_kernel& kernel, double percentile,
                 window<std::uint8_t> destination) {
    const kip_filterRankParams params = detail::rank_params(percentile);
    check(kip_filterRankParams_validate(&params));
    check(kip_filterRankWindow8(source.get(), nullptr, &params, kernel.get(), destination.get()));
}
inline void rank(window<const std::uint16_t> source, const mask_kernel& kernel, double percentile,
                 window<std::uint16_t> destination) {
    const kip_filterRankParams params = detail::rank_params(percentile);
    check(kip_filterRankParams_validate(&params));
    check(kip_filterRankWindow16(source.get(), nullptr, &params, kernel.get(), destination.get()));
}
inline void rank(window<const std::uint8_t> source, window<const std::uint8_t> mask, const mask_kernel& kernel,
                 double percentile, window<std::uint8_t> destination) {
    const kip_filterRankParams params = detail::rank_params(percentile);
    check(kip_filterRankParams_validate(&params));
    check(kip_filterRankWindow8(source.get(), mask.get(), &params, kernel.get(), destination.get()));
}
inline void rank(window<const std::uint16_t> source, window<const std::uint8_t> mask, const mask_kernel& kernel,
                 double percentile, window<std::uint16_t> destination) {
    const kip_filterRankParams params = detail::rank_params(percentile);
    check(kip_filterRankParams_validate(&params));
    check(kip_filterRankWindow16(source.get(), mask.get(), &params, kernel.get(), destination.get()));
}

}  // namespace kip

#endif
