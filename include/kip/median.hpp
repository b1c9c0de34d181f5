// kip for C++20, median: the median of a rectangular or masked neighbourhood (kip::mask_kernel)
// of 8-bit or 16-bit images, cut at the image border, optionally restricted by an image mask.
// Large images are filtered in bands on the job threads. Failures throw kip::error.
#ifndef KIP_MEDIAN_HPP
#define KIP_MEDIAN_HPP

#include "kip/image.hpp"
#include "kip/mask_kernel.hpp"
#include "kip/median.h"

namespace kip {

namespace detail {
template <class T>
concept median_pixel = std::same_as<T, std::uint8_t> || std::same_as<T, std::uint16_t>;

inline kip_filterMedianParams median_params() {
    kip_filterMedianParams params;
    check(kip_filterMedianParams_init(&params));
    return params;
}
template <median_pixel T>
void median_image(const kimg_image* source, const kimg_image* mask, const mask_kernel& k, kimg_image* destination) {
    kip_filterMedianParams params = median_params();
    if constexpr (sizeof(T) == 1)
        check(kip_filterMedian8(source, mask, &params, k.get(), destination));
    else
        check(kip_filterMedian16(source, mask, &params, k.get(), destination));
}
}  // namespace detail

// Median into destination, which is allocated over the source's window when unbound; a bound
// destination is written where it meets the source.
template <class S, detail::median_pixel D>
requires pixel_of<S, D>
void median(const image<S>& source, const mask_kernel& k, image<D>& destination) {
    detail::median_image<D>(source.get(), nullptr, k, destination.get());
}
// The same where the mask (8-bit, the source's window) is non-zero: only selected pixels take
// part, and pixels not selected keep the source value.
template <class S, class M, detail::median_pixel D>
requires(pixel_of<S, D>&& pixel_of<M, std::uint8_t>) void median(const image<S>& source, const image<M>& mask,
                                                                 const mask_kernel& k, image<D>& destination) {
    detail::median_image<D>(source.get(), mask.get(), k, destination.get());
}
// Into a new image.
template <class S>
requires detail::median_pixel<std::remove_const_t<S>> image<std::remove_const_t<S>> median(const image<S>& source,
                                                                                           const mask_kernel& k) {
    image<std::remove_const_t<S>> destination;
    median(source, k, destination);
    return destination;
}
// Window form: the part of destination that meets source is written.
template <detail::median_pixel T>
void median(window<const T> source, const mask_kernel& k, window<T> destination) {
    kip_filterMedianParams params = detail::median_params();
    if constexpr (sizeof(T) == 1)
        check(kip_filterMedianWindow8(source.get(), nullptr, &params, k.get(), destination.get()));
    else
        check(kip_filterMedianWindow16(source.get(), nullptr, &params, k.get(), destination.get()));
}
// The same where mask (8-bit, the source window's rectangle) is non-zero.
template <detail::median_pixel T>
void median(window<const T> source, window<const std::uint8_t> mask, const mask_kernel& k, window<T> destination) {
    kip_filterMedianParams params = detail::median_params();
    if constexpr (sizeof(T) == 1)
        check(kip_filterMedianWindow8(source.get(), mask.get(), &params, k.get(), destination.get()));
    else
        check(kip_filterMedianWindow16(source.get(), mask.get(), &params, k.get(), destination.get()));
}

}  // namespace kip

#endif
