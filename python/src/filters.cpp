// The filter calls behind kip's Python functions. Arguments arrive checked and shaped by the
// Python layer (kip/_filters.py); here they become images and kernels, and each C call runs
// with the GIL released.
#include "filters.hpp"

#include <chrono>
#include <optional>

#include "arrays.hpp"

namespace kippy {

namespace {

// Seconds the calling thread's last C filter call took, for the Python benchmark's overhead figure.
thread_local double lastCallSeconds = 0.0;

// Runs a C call without the GIL; the call touches no Python object.
template <class F>
kip_status released(F&& call) {
    py::gil_scoped_release release;
    const auto start = std::chrono::steady_clock::now();
    const kip_status status = call();
    lastCallSeconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    return status;
}

// The optional image mask: None or an 8-bit array over the source.
struct ImageMask {
    explicit ImageMask(const py::object& mask) {
        if (!mask.is_none()) wrap.emplace(mask.cast<py::array>(), false);
    }
    kimg_image* get() { return wrap ? wrap->get() : nullptr; }
    std::optional<Wrap> wrap;
};

// Runs the 8-bit or the 16-bit call with the kernel record set by `set`, destroying the kernel on
// every exit.
template <class Kernel, class Construct, class Set, class Destruct, class Call>
void withKernel(Construct construct, Set set, Destruct destruct, Wrap& weights, Call call) {
    Kernel kernel;
    check(construct(&kernel));
    kip_status status = set(&kernel, weights.get());
    if (!kip_status_isFailure(status)) status = released([&] { return call(&kernel); });
    destruct(&kernel);
    check(status);
}

void convolve(const py::array& source, const py::array& weights, uint32_t border, const py::array& out) {
    kip_filterConvolveParams params;
    check(kip_filterConvolveParams_init(&params));
    params.borderMode = border;
    // In the clipped mode the result starts half a kernel in from the source's corner.
    const bool clipped = border == kip_filterBorderClipped;
    const auto x = clipped ? static_cast<int32_t>(weights.shape(1) / 2) : 0;
    const auto y = clipped ? static_cast<int32_t>(weights.shape(0) / 2) : 0;
    Wrap src(source, false), w(weights, false), dst(out, true, x, y);
    if (depthOf(weights) == 1)
        withKernel<kip_filterConvolveKernel8>(kip_filterConvolveKernel8_construct, kip_filterConvolveKernel8_setKernel,
                                              kip_filterConvolveKernel8_destruct, w, [&](kip_filterConvolveKernel8* k) {
                                                  return kip_filterConvolve8_8_8(src.get(), &params, k, dst.get());
                                              });
    else
        withKernel<kip_filterConvolveKernel16s>(
            kip_filterConvolveKernel16s_construct, kip_filterConvolveKernel16s_setKernel,
            kip_filterConvolveKernel16s_destruct, w, [&](kip_filterConvolveKernel16s* k) {
                return kip_filterConvolve8_16s_16s(src.get(), &params, k, dst.get());
            });
}

void rank(const py::array& source, const py::object& mask, const py::array& footprint, double percentile,
          const py::array& out) {
    kip_filterRankParams params;
    check(kip_filterRankParams_init(&params));
    params.percentile = percentile;
    MaskKernel kernel(footprint);
    Wrap src(source, false), dst(out, true);
    ImageMask m(mask);
    const bool eight = depthOf(source) == 1;
    check(released([&] {
        return eight ? kip_filterRank8(src.get(), m.get(), &params, kernel.get(), dst.get())
                     : kip_filterRank16(src.get(), m.get(), &params, kernel.get(), dst.get());
    }));
}

void median(const py::array& source, const py::object& mask, const py::array& footprint, const py::array& out) {
    kip_filterMedianParams params;
    check(kip_filterMedianParams_init(&params));
    MaskKernel kernel(footprint);
    Wrap src(source, false), dst(out, true);
    ImageMask m(mask);
    const bool eight = depthOf(source) == 1;
    check(released([&] {
        return eight ? kip_filterMedian8(src.get(), m.get(), &params, kernel.get(), dst.get())
                     : kip_filterMedian16(src.get(), m.get(), &params, kernel.get(), dst.get());
    }));
}

// A structuring element owned for one call: members from the footprint, weights when given.
class Element {
public:
    Element(const py::array& footprint, const py::object& weights) {
        const kstd_pair32 size{static_cast<int32_t>(footprint.shape(1)), static_cast<int32_t>(footprint.shape(0))};
        check(kip_filterMorphologyStructuringElement_constructSize(&element_, &size));
        // The destructor does not run for a constructor that throws.
        try {
            Wrap members(footprint, false);
            check(kip_filterMorphologyStructuringElement_setMask(&element_, members.get()));
            if (!weights.is_none()) {
                Wrap w(weights.cast<py::array>(), false);
                check(kip_filterMorphologyStructuringElement_setOffsetImage(&element_, w.get()));
                check(kip_filterMorphologyStructuringElement_setUseOffsetImage(&element_, 1));
            }
        } catch (...) {
            kip_filterMorphologyStructuringElement_destruct(&element_);
            throw;
        }
    }
    ~Element() { kip_filterMorphologyStructuringElement_destruct(&element_); }
    Element(const Element&) = delete;
    Element& operator=(const Element&) = delete;
    const kip_filterMorphologyStructuringElement* get() const { return &element_; }

private:
    kip_filterMorphologyStructuringElement element_;
};

void morphology(const py::array& source, const py::object& mask, uint32_t operation, const py::array& footprint,
                const py::object& weights, int32_t border, const py::array& out) {
    kip_filterMorphologyParams params;
    check(kip_filterMorphologyParams_init(&params));
    params.borderMode = border;
    Element element(footprint, weights);
    Wrap src(source, false), dst(out, true);
    ImageMask m(mask);
    const bool eight = depthOf(source) == 1;
    check(released([&] {
        return eight ? kip_filterMorphology8(src.get(), m.get(), operation, &params, element.get(), dst.get())
                     : kip_filterMorphology16(src.get(), m.get(), operation, &params, element.get(), dst.get());
    }));
}

void subtractLocal(const py::array& source, const py::object& mask, bool useMedian, int32_t width, int32_t height,
                   const py::array& out) {
    kip_pelSubLocalParams params{width, height};
    Wrap src(source, false), dst(out, true);
    ImageMask m(mask);
    const bool eight = depthOf(source) == 1;
    check(released([&] {
        if (useMedian)
            return eight ? kip_pelSubLocalMedian8(src.get(), m.get(), &params, dst.get())
                         : kip_pelSubLocalMedian16(src.get(), m.get(), &params, dst.get());
        return eight ? kip_pelSubLocalMean8(src.get(), m.get(), &params, dst.get())
                     : kip_pelSubLocalMean16(src.get(), m.get(), &params, dst.get());
    }));
}

}  // namespace

void addFilters(py::module_& m) {
    m.def("_last_call_seconds", [] { return lastCallSeconds; });
    m.def("convolve", &convolve, py::arg("source"), py::arg("weights"), py::arg("border"), py::arg("out"));
    m.def("rank", &rank, py::arg("source"), py::arg("mask"), py::arg("footprint"), py::arg("percentile"),
          py::arg("out"));
    m.def("median", &median, py::arg("source"), py::arg("mask"), py::arg("footprint"), py::arg("out"));
    m.def("morphology", &morphology, py::arg("source"), py::arg("mask"), py::arg("operation"), py::arg("footprint"),
          py::arg("weights"), py::arg("border"), py::arg("out"));
    m.def("subtract_local", &subtractLocal, py::arg("source"), py::arg("mask"), py::arg("median"), py::arg("width"),
          py::arg("height"), py::arg("out"));
}

}  // namespace kippy
