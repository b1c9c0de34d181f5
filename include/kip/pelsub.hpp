// kip for C++ (C++17 or later), local background subtraction: each pixel minus the mean or the median of
// its neighbourhood, lifted to mid-grey (128 or 32768) and clamped, which flattens uneven illumination.
// Failures throw kip::error.
#ifndef KIP_PELSUB_HPP
#define KIP_PELSUB_HPP

#include "kip/image.hpp"
#include "kip/pelsub.h"

namespace kip {

// Odd width and height of the neighbourhood, centred on each pixel.
struct neighbourhood {
    int32_t width = 3;
    int32_t height = 3;
};

namespace detail {
template <class T>
using if_unsigned_pixel = std::enable_if_t<is_pixel_of_v<T, std::uint8_t> || is_pixel_of_v<T, std::uint16_t>, int>;

inline kip_status pelsub_mean(const kimg_image* s, const kimg_image* m, const kip_pelSubLocalParams* p, kimg_image* d,
                              uint32_t depth) {
    return depth == 1 ? kip_pelSubLocalMean8(s, m, p, d) : kip_pelSubLocalMean16(s, m, p, d);
}
inline kip_status pelsub_median(const kimg_image* s, const kimg_image* m, const kip_pelSubLocalParams* p, kimg_image* d,
                                uint32_t depth) {
    return depth == 1 ? kip_pelSubLocalMedian8(s, m, p, d) : kip_pelSubLocalMedian16(s, m, p, d);
}
}  // namespace detail

// Into destination (allocated over the source when unbound; otherwise only the common part is
// written). Near the image's edges the box shrinks symmetrically. Where mask is 0 the result is
// the offset, and masked-off pixels take no part in their neighbours' means.
template <class S, detail::if_unsigned_pixel<S> = 0>
void subtract_local_mean(const image<S>& source, image<std::remove_const_t<S>>& destination, neighbourhood size) {
    const kip_pelSubLocalParams params{size.width, size.height};
    check(detail::pelsub_mean(source.get(), nullptr, &params, destination.get(), depth_of<S>));
}
template <class S, detail::if_unsigned_pixel<S> = 0>
void subtract_local_mean(const image<S>& source, const image<const std::uint8_t>& mask,
                         image<std::remove_const_t<S>>& destination, neighbourhood size) {
    const kip_pelSubLocalParams params{size.width, size.height};
    check(detail::pelsub_mean(source.get(), mask.get(), &params, destination.get(), depth_of<S>));
}
// The same into a new image over the source.
template <class S, detail::if_unsigned_pixel<S> = 0>
image<std::remove_const_t<S>> subtract_local_mean(const image<S>& source, neighbourhood size) {
    image<std::remove_const_t<S>> destination;
    subtract_local_mean(source, destination, size);
    return destination;
}
// Window forms: the common rectangle of the windows is written. The destination must not share
// pixels with the source or the mask (kip_errMemoryOverlap).
inline void subtract_local_mean(window<const std::uint8_t> source, window<std::uint8_t> destination,
                                neighbourhood size) {
    const kip_pelSubLocalParams params{size.width, size.height};
    check(kip_pelSubLocalMeanWindow8(source.get(), nullptr, &params, destination.get()));
}
inline void subtract_local_mean(window<const std::uint16_t> source, window<std::uint16_t> destination,
                                neighbourhood size) {
    const kip_pelSubLocalParams params{size.width, size.height};
    check(kip_pelSubLocalMeanWindow16(source.get(), nullptr, &params, destination.get()));
}
inline void subtract_local_mean(window<const std::uint8_t> source, window<const std::uint8_t> mask,
                                window<std::uint8_t> destination, neighbourhood size) {
    const kip_pelSubLocalParams params{size.width, size.height};
    check(kip_pelSubLocalMeanWindow8(source.get(), mask.get(), &params, destination.get()));
}
inline void subtract_local_mean(window<const std::uint16_t> source, window<const std::uint8_t> mask,
                                window<std::uint16_t> destination, neighbourhood size) {
    const kip_pelSubLocalParams params{size.width, size.height};
    check(kip_pelSubLocalMeanWindow16(source.get(), mask.get(), &params, destination.get()));
}

// The median forms: the background is the median of the neighbourhood cut at the image's edges
// (large images run on the job threads). Where mask is 0 the result is the offset.
template <class S, detail::if_unsigned_pixel<S> = 0>
void subtract_local_median(const image<S>& source, image<std::remove_const_t<S>>& destination, neighbourhood size) {
    const kip_pelSubLocalParams params{size.width, size.height};
    check(detail::pelsub_median(source.get(), nullptr, &params, destination.get(), depth_of<S>));
}
template <class S, detail::if_unsigned_pixel<S> = 0>
void subtract_local_median(const image<S>& source, const image<const std::uint8_t>& mask,
                           image<std::remove_const_t<S>>& destination, neighbourhood size) {
    const kip_pelSubLocalParams params{size.width, size.height};
    check(detail::pelsub_median(source.get(), mask.get(), &params, destination.get(), depth_of<S>));
}
template <class S, detail::if_unsigned_pixel<S> = 0>
image<std::remove_const_t<S>> subtract_local_median(const image<S>& source, neighbourhood size) {
    image<std::remove_const_t<S>> destination;
    subtract_local_median(source, destination, size);
    return destination;
}
inline void subtract_local_median(window<const std::uint8_t> source, window<std::uint8_t> destination,
                                  neighbourhood size) {
    const kip_pelSubLocalParams params{size.width, size.height};
    check(kip_pelSubLocalMedianWindow8(source.get(), nullptr, &params, destination.get()));
}
inline void subtract_local_median(window<const std::uint16_t> source, window<std::uint16_t> destination,
                                  neighbourhood size) {
    const kip_pelSubLocalParams params{size.width, size.height};
    check(kip_pelSubLocalMedianWindow16(source.get(), nullptr, &params, destination.get()));
}
inline void subtract_local_median(window<const std::uint8_t> source, window<const std::uint8_t> mask,
                                  window<std::uint8_t> destination, neighbourhood size) {
    const kip_pelSubLocalParams params{size.width, size.height};
    check(kip_pelSubLocalMedianWindow8(source.get(), mask.get(), &params, destination.get()));
}
inline void subtract_local_median(window<const std::uint16_t> source, window<const std::uint8_t> mask,
                                  window<std::uint16_t> destination, neighbourhood size) {
    const kip_pelSubLocalParams params{size.width, size.height};
    check(kip_pelSubLocalMedianWindow16(source.get(), mask.get(), &params, destination.get()));
}

}  // namespace kip

#endif
