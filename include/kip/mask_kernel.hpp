// kip for C++: the neighbourhood of the rank, median and morphology filters. A mask_kernel is an
// odd-sized rectangle, optionally thinned by a mask whose non-zero pixels are members. It owns
// its mask (a private copy) and encoded form; copying copies them. Failures throw kip::error.
#ifndef KIP_MASK_KERNEL_HPP
#define KIP_MASK_KERNEL_HPP

#include "kip/image.hpp"
#include "kip/mask_kernel.h"

namespace kip {

class mask_kernel {
public:
    // 3 x 3, every position a member.
    mask_kernel() { check(kip_filterMaskKernel_construct(&k_)); }
    // width x height (both odd), every position a member.
    mask_kernel(int32_t width, int32_t height) {
        const kstd_pair32 size{width, height};
        check(kip_filterMaskKernel_constructSize(&k_, &size));
    }
    // Members are the non-zero pixels of mask's window (odd width and height). The pixels are copied.
    template <class S, if_pixel_of<S, std::uint8_t> = 0>
    explicit mask_kernel(const image<S>& mask) {
        check(kip_filterMaskKernel_constructMask(&k_, mask.get()));
    }
    // Members row by row (non-zero: member), width x height values.
    mask_kernel(int32_t width, int32_t height, span<const std::uint8_t> members)
        : mask_kernel(image<const std::uint8_t>::wrap(members, width, height)) {}

    // The (2 radius + 1)-square kernel whose members lie within radius of the centre.
    static mask_kernel disk(int32_t radius) {
        if (radius < 0 || radius > 4095) throw error(kstd_errInvalidArgument);
        const int32_t side = 2 * radius + 1;
        image<std::uint8_t> members(side, side);
        const window<std::uint8_t> m = members.view();
        for (int32_t y = 0; y < side; ++y)
            for (int32_t x = 0; x < side; ++x) {
                const int64_t dx = x - radius, dy = y - radius;
                m(x, y) = dx * dx + dy * dy <= int64_t{radius} * radius ? 255 : 0;
            }
        return mask_kernel(members);
    }

    mask_kernel(const mask_kernel& other) { check(kip_filterMaskKernel_constructCopy(&k_, &other.k_)); }
    mask_kernel& operator=(const mask_kernel& other) {
        if (this != &other) check(kip_filterMaskKernel_assign(&k_, &other.k_));
        return *this;
    }
    ~mask_kernel() { kip_filterMaskKernel_destruct(&k_); }

    const kip_filterMaskKernel* get() const noexcept { return &k_; }
    kip_filterMaskKernel* get() noexcept { return &k_; }

    int32_t width() const noexcept { return k_.mask.window.width; }
    int32_t height() const noexcept { return k_.mask.window.height; }
    // True when every position is a member.
    bool rectangular() const {
        uint32_t r = 0;
        check(kip_filterMaskKernel_getIsRectangular(&k_, &r));
        return r != 0;
    }
    // The kernel's own mask pixels (read-only).
    image<const std::uint8_t> mask() const {
        image<const std::uint8_t> m;
        check(kip_filterMaskKernel_getMask(&k_, m.get()));
        return m;
    }
    bool operator==(const mask_kernel& other) const {
        uint32_t equal = 0;
        check(kip_filterMaskKernel_compareEqual(&k_, &other.k_, &equal));
        return equal != 0;
    }

private:
    kip_filterMaskKernel k_;
};

}  // namespace kip

#endif
