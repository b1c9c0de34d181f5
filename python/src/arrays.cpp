#include "arrays.hpp"

#include <limits>

namespace kippy {

uint32_t depthOf(const py::array& array) { return static_cast<uint32_t>(array.itemsize()); }

Wrap::Wrap() { check(kimg_image_constructUnbound(&image_)); }

Wrap::Wrap(const py::array& array, bool writable, int32_t x, int32_t y) {
    if (array.ndim() != 2) throw py::value_error("kip: a 2-D array is expected");
    const auto item = array.itemsize();
    if (item != 1 && item != 2) throw py::type_error("kip: 8-bit or 16-bit pixels are expected");
    const auto height = array.shape(0), width = array.shape(1);
    constexpr auto limit = std::numeric_limits<int32_t>::max();
    if (height > limit || width > limit) throw py::value_error("kip: the array is too large");
    // One row: its stride does not matter.
    const auto rowStride = height > 1 ? array.strides(0) : width * item;
    if ((width > 1 && array.strides(1) != item) || rowStride % item != 0 || rowStride / item < width ||
        rowStride / item > limit)
        throw py::value_error("kip: rows of adjacent pixels are expected");
    void* pixels = writable ? const_cast<py::array&>(array).mutable_data() : const_cast<void*>(array.data());
    const kstd_rect32 rect{x, y, static_cast<int32_t>(width), static_cast<int32_t>(height)};
    check(kimg_image_constructWrap(&image_, static_cast<uint32_t>(item), &rect, static_cast<int32_t>(rowStride / item),
                                   pixels));
}

Wrap::~Wrap() { kimg_image_destruct(&image_); }

MaskKernel::MaskKernel(const py::array& footprint) {
    Wrap mask(footprint, false);
    check(kip_filterMaskKernel_constructMask(&kernel_, mask.get()));
}

MaskKernel::~MaskKernel() { kip_filterMaskKernel_destruct(&kernel_); }

}  // namespace kippy
