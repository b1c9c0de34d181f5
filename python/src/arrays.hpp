// numpy arrays as kip images, kernels and the failure status that becomes kip.Error.
#pragma once

#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>

#include "kip/kip.h"

namespace kippy {

namespace py = pybind11;

// A failure status of the C interface; the module turns it into kip.Error.
struct Failure {
    kip_status status;
};

inline void check(kip_status status) {
    if (kip_status_isFailure(status)) throw Failure{status};
}

// An image handle over an array's own pixels, at client (x, y). The array must be 2-D with
// adjacent pixels in a row and rows a whole number of pixels apart; the Python layer copies
// anything else once before it gets here.
class Wrap {
public:
    Wrap();
    Wrap(const py::array& array, bool writable, int32_t x = 0, int32_t y = 0);
    ~Wrap();
    Wrap(const Wrap&) = delete;
    Wrap& operator=(const Wrap&) = delete;
    kimg_image* get() { return &image_; }

private:
    kimg_image image_;
};

// A mask kernel from an 8-bit footprint (non-zero members), applied as the C interface applies it.
class MaskKernel {
public:
    explicit MaskKernel(const py::array& footprint);
    ~MaskKernel();
    MaskKernel(const MaskKernel&) = delete;
    MaskKernel& operator=(const MaskKernel&) = delete;
    const kip_filterMaskKernel* get() const { return &kernel_; }

private:
    kip_filterMaskKernel kernel_;
};

// Depth code of a uint8/uint16/int16 array: its item size.
uint32_t depthOf(const py::array& array);

}  // namespace kippy
