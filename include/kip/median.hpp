// kip for C++ (C++17 or later), median: the median of a rectangular or masked neighbourhood
// (kip::mask_kernel) of 8-bit or 16-bit images, cut at the image border (the lower middle value
// when the count is even), optionally restricted by an image mask. Large images are filtered in
// bands on the job threads. Failures throw kip::error.
#ifndef KIP_MEDIAN_HPP
#define KIP_MEDIAN_HPP

#include "kip/image.hpp"
#include "kip/mask_kernel.hpp"
#include "kip/median.h"

namespace kip {

namespace detail {
template <class T>
using if_median_pixel = std::enable_if_t<is_pixel_of_v<T, std::uint8_t> || is_pixel_of_v<T, std::uint16_t>, int>;

inline kip_filterMedianParams median_params() {
    kip_filterMedianParams params;
    check(kip_filterMedianParams_init(&params));
    return params;
}
inline kip_status median_image(const kimg_image* s, const kimg_image* m, const kip_filterMaskKernel* k, kimg_image* d,
                               uint32_t depth) {
    const kip_filterMedianParams params = median_params();
    return depth == 1 ? kip_filterMedian8(s, m, &params, k, d) : kip_filterMedian16(s, m, &params, k, d);
}
inline kip_status median_window(const kimg_window* s, const kimg_window* m, const kip_filterMaskKernel* k,
                                const kimg_window* d, uint32_t depth) {
    const kip_filterMedianParams params = median_params();
    return depth == 1 ? kip_filterMedianWindow8(s, m, &params, k, d) : kip_filterMedianWindow16(s, m, &params, k, d);
}
}  // namespace detail

// Into destination, allocated over the source when unbound; a bound destination is written where
// it meets the source and its window becomes that rectangle.
template <class S, detail::if_median_pixel<S> = 0>
void median(const image<S>& source, const mask_kernel& k, image<std::remove_const_t<S>>& destination) {
    check(detail::median_image(source.get(), nullptr, k.get(), destination.get(), depth_of<S>));
}
// Only pixels where mask (8-bit, the source's window) is non-zero take part and are written; the
// others keep the source value.
template <class S, detail::if_median_pixel<S> = 0>
void median(const image<S>& source, const image<const std::uint8_t>& mask, const mask_kernel& k,
            image<std::remove_const_t<S>>& destination) {
    check(detail::median_image(source.get(), mask.get(), k.get(), destination.get(), depth_of<S>));
}
// Into a new image over the source.
template <class S, detail::if_median_pixel<S> = 0>
image<std::remove_const_t<S>> median(const image<S>& source, const mask_kernel& k) {
    image<std::remove_const_t<S>> destination;
    median(source, k, destination);
    return destination;
}
// Window forms: the common rectangle of the windows is written. The destination may share the
// source's pixels.
inline void median(window<const std::uint8_t> source, const mask_kernel& k, window<std::uint8_t> destination) {
    check(detail::median_window(source.get(), nullptr, k.get(), destination.get(), 1));
}
inline void median(window<const std::uint16_t> source, const mask_kernel& k, window<std::uint16_t> destination) {
    check(detail::median_window(source.get(), nullptr, k.get(), destination.get(), 2));
}
inline void median(window<const std::uint8_t> source, window<const std::uint8_t> mask, const mask_kernel& k,
                   window<std::uint8_t> destination) {
    check(detail::median_window(source.get(), mask.get(), k.get(), destination.get(), 1));
}
inline void median(window<const std::uint16_t> source, window<const std::uint8_t> mask, const mask_kernel& k,
                   window<std::uint16_t> destination) {
    check(detail::median_window(source.get(), mask.get(), k.get(), destination.get(), 2));
}

}  // namespace kip

#endif
