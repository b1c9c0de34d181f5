// kipf flatten: local background subtraction, which evens out uneven illumination.
#include <memory>

#include "family.hpp"

namespace kipf {
namespace {

class Flatten {
public:
    Flatten(kstd_pair32 size, bool median) : size_{size.x, size.y}, median_(median) {}

    Raster operator()(const FilterInput& in) const {
        return filterWindow(in, [&](auto from, const auto* mask, auto to) {
            if (mask && median_)
                kip::subtract_local_median(from, *mask, to, size_);
            else if (mask)
                kip::subtract_local_mean(from, *mask, to, size_);
            else if (median_)
                kip::subtract_local_median(from, to, size_);
            else
                kip::subtract_local_mean(from, to, size_);
        });
    }

private:
    kip::neighbourhood size_;
    bool median_;
};

Filter prepare(const Options& o) {
    const kstd_pair32 size = o.has("size") ? parseSize(o.get("size")) : kstd_pair32{31, 31};
    if (o.has("mean") && o.has("median")) throw UsageError("--mean and --median exclude each other");
    auto flatten = std::make_shared<const Flatten>(size, o.has("median"));
    return [flatten](const FilterInput& in) { return (*flatten)(in); };
}

DemoStep demoStep(bool median, kstd_pair32 size) {
    const std::string name = median ? "median" : "mean";
    return DemoStep{"flatten " + name, sizeText(size), "flatten-" + name + "-" + sizeText(size) + ".png",
                    [median, size](const Scene& scene) {
                        auto source = wrap8(scene.grey8);
                        DemoOutput out;
                        out.file = Raster::make(scene.grey8.width, scene.grey8.height, 8);
                        auto result = kip::image<uint8_t>::wrap(std::span<uint8_t>(out.file.grey8), out.file.width,
                                                                out.file.height);
                        const kip::neighbourhood n{size.x, size.y};
                        out.seconds = bestTime([&] {
                            if (median)
                                kip::subtract_local_median(source, result, n);
                            else
                                kip::subtract_local_mean(source, result, n);
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
                      "Replaces every pixel by its difference from the mean (--mean, the default) or the median\n"
                      "(--median) of its neighbourhood, plus mid-grey\n"
                      "(128, or 32768 for 16-bit images), clamped to the pixel range: slow changes of brightness\n"
                      "(shading, vignetting, uneven light) vanish and local detail stays, centred on mid-grey.\n"
                      "Choose a neighbourhood larger than the details to keep. Near the image's edges the box\n"
                      "shrinks so that it stays centred on the pixel (the median's is cut at the edges instead).\n"
                      "The median ignores small bright or dark objects in the background. 8-bit and 16-bit\n"
                      "images keep their depth.\n"
                      "With --mask, pixels where the mask is 0 take no part in their neighbours' background and come\n"
                      "out mid-grey. With --roi only that window is flattened (its edges act as the image's\n"
                      "edges) and the rest of the output keeps the input.\n",
                      "  kipf flatten --mean --size 51x51 scan.png -o even.png\n"
                      "  kipf flatten --size 31 --mask parts.png bench.tif -o flat.tif\n"
                      "  kipf flatten --median --size 41x41 sheet.pgm -o even.pgm\n",
                      {
                          {"mean", nullptr, "background is the neighbourhood's mean (the default)"},
                          {"median", nullptr, "background is the neighbourhood's median"},
                          {"size", "WxH", "neighbourhood size, odd (default 31x31)"},
                      },
                      prepare,
                  },
                  {demoStep(false, {101, 101}), demoStep(true, {31, 31})}};
}

}  // namespace kipf
