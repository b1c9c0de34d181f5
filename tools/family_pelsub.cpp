// kipf flatten: local background subtraction, which evens out uneven illumination.
#include <memory>

#include "family.hpp"

namespace kipf {
namespace {

class Flatten {
public:
    explicit Flatten(kstd_pair32 size) : size_{size.x, size.y} {}

    Raster operator()(const FilterInput& in) const {
        return in.source.bits == 8 ? run<uint8_t>(in, in.source.grey8) : run<uint16_t>(in, in.source.grey16);
    }

private:
    template <class T>
    Raster run(const FilterInput& in, const std::vector<T>& pixels) const {
        const Raster& s = in.source;
        Raster out = Raster::make(s.width, s.height, s.bits);
        std::vector<T>& result = pixels_of<T>(out);
        result = pixels;  // outside --roi the input stays
        const kstd_rect32 target = in.roi ? *in.roi : kstd_rect32{0, 0, s.width, s.height};
        auto source = kip::image<const T>::wrap(std::span<const T>(pixels), s.width, s.height);
        auto destination = kip::image<T>::wrap(std::span<T>(result), s.width, s.height);
        if (in.mask) {
            auto mask = wrap8(*in.mask);
            kip::subtract_local_mean(source.view().sub(target), mask.view().sub(target), destination.view().sub(target),
                                     size_);
        } else {
            kip::subtract_local_mean(source.view().sub(target), destination.view().sub(target), size_);
        }
        return out;
    }

    template <class T>
    static std::vector<T>& pixels_of(Raster& r) {
        if constexpr (sizeof(T) == 1)
            return r.grey8;
        else
            return r.grey16;
    }

    kip::neighbourhood size_;
};

Filter prepare(const Options& o) {
    const kstd_pair32 size = o.has("size") ? parseSize(o.get("size")) : kstd_pair32{31, 31};
    auto flatten = std::make_shared<const Flatten>(size);
    return [flatten](const FilterInput& in) { return (*flatten)(in); };
}

DemoStep demoStep(kstd_pair32 size) {
    return DemoStep{
        "flatten mean", sizeText(size), "flatten-mean-" + sizeText(size) + ".png", [size](const Scene& scene) {
            auto source = wrap8(scene.grey8);
            DemoOutput out;
            out.file = Raster::make(scene.grey8.width, scene.grey8.height, 8);
            auto result =
                kip::image<uint8_t>::wrap(std::span<uint8_t>(out.file.grey8), out.file.width, out.file.height);
            out.seconds = bestTime([&] {
                kip::subtract_local_mean(source, result, kip::neighbourhood{size.x, size.y});
            });
            out.preview = out.file;
            return out;
        }};
}

}  // namespace

Family pelsubFamily() {
    return Family{Command{
                      "flatten",
                      "local background subtraction: evens out uneven illumination",
                      "Replaces every pixel by its difference from the mean of its neighbourhood, plus mid-grey\n"
                      "(128, or 32768 for 16-bit images), clamped to the pixel range: slow changes of brightness\n"
                      "(shading, vignetting, uneven light) vanish and local detail stays, centred on mid-grey.\n"
                      "Choose a neighbourhood larger than the details to keep. Near the image's edges the box\n"
                      "shrinks so that it stays centred on the pixel. 8-bit and 16-bit images keep their depth.\n"
                      "With --mask, pixels where the mask is 0 take no part in their neighbours' means and come\n"
                      "out mid-grey. With --roi only that window is flattened (its edges act as the image's\n"
                      "edges) and the rest of the output keeps the input.\n",
                      "  kipf flatten --mean --size 51x51 scan.png -o even.png\n"
                      "  kipf flatten --size 31 --mask parts.png bench.tif -o flat.tif\n",
                      {
                          {"mean", nullptr, "background is the neighbourhood's mean (the default)"},
                          {"size", "WxH", "neighbourhood size, odd (default 31x31)"},
                      },
                      prepare,
                  },
                  {demoStep({101, 101})}};
}

}  // namespace kipf
