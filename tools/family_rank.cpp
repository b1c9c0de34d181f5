// kipf rank: any percentile of a rectangular, disk-shaped or drawn neighbourhood.
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <memory>

#include "family.hpp"

namespace kipf {
namespace {

double parsePercentile(const std::string& text) {
    char* end = nullptr;
    errno = 0;
    const double p = std::strtod(text.c_str(), &end);
    if (text.empty() || *end != '\0' || errno != 0 || !(p >= 0.0 && p <= 1.0))
        throw UsageError("--percentile " + text + ": give a fraction from 0 (minimum) to 1 (maximum)");
    return p;
}

class Rank {
public:
    Rank(kip::mask_kernel kernel, double percentile) : kernel_(std::move(kernel)), percentile_(percentile) {}

    Raster operator()(const FilterInput& in) const {
        return filterWindow(in, [&](auto from, const auto* mask, auto to) {
            if (mask)
                kip::rank(from, *mask, kernel_, percentile_, to);
            else
                kip::rank(from, kernel_, percentile_, to);
        });
    }

private:
    kip::mask_kernel kernel_;
    double percentile_;
};

Filter prepare(const Options& o) {
    const int given = int(o.has("size")) + int(o.has("disk")) + int(o.has("kernel"));
    if (given > 1) throw UsageError("give one of --size, --disk and --kernel");
    const double p = o.has("percentile") ? parsePercentile(o.get("percentile")) : 0.5;
    std::shared_ptr<const Rank> rank;
    if (o.has("disk")) {
        const auto radius = static_cast<int32_t>(parseInteger(o.get("disk"), "--disk", 0, 1000));
        rank = std::make_shared<const Rank>(kip::mask_kernel::disk(radius), p);
    } else if (o.has("kernel")) {
        rank = std::make_shared<const Rank>(drawnKernel(o.get("kernel")), p);
    } else {
        const kstd_pair32 size = o.has("size") ? parseSize(o.get("size")) : kstd_pair32{3, 3};
        rank = std::make_shared<const Rank>(kip::mask_kernel(size.x, size.y), p);
    }
    return [rank](const FilterInput& in) { return (*rank)(in); };
}

DemoStep demoStep(int32_t radius, double percentile) {
    const int32_t side = 2 * radius + 1;
    const kstd_pair32 size{side, side};
    const std::string pct = std::to_string(static_cast<int>(std::lround(percentile * 100)));
    return DemoStep{"rank " + pct + "% disk", sizeText(size), "rank-p" + pct + "-disk-" + sizeText(size) + ".png",
                    [radius, percentile](const Scene& scene) {
                        auto source = wrap8(scene.grey8);
                        const kip::mask_kernel disk = kip::mask_kernel::disk(radius);
                        DemoOutput out;
                        out.file = Raster::make(scene.grey8.width, scene.grey8.height, 8);
                        auto result = kip::image<uint8_t>::wrap(std::span<uint8_t>(out.file.grey8), out.file.width,
                                                                out.file.height);
                        out.seconds = bestTime([&] { kip::rank(source, disk, percentile, result); });
                        out.preview = out.file;
                        out.shown = "8-bit";
                        return out;
                    }};
}

}  // namespace

Family rankFamily() {
    return Family{Command{
                      "rank",
                      "rank filter: any percentile of each pixel's neighbourhood (minimum, median, maximum...)",
                      "Replaces every pixel by the value found at the given percentile of its neighbourhood:\n"
                      "0 is the minimum (a grey erosion), 0.5 the median, 1 the maximum (a grey dilation).\n"
                      "With n pixels in the neighbourhood the result is the k-th smallest, k = ceil(p x n)\n"
                      "(at least 1, at most n). The neighbourhood is a rectangle (--size), a disk (--disk) or\n"
                      "the non-zero pixels of a mask image with odd sides (--kernel), which is applied turned\n"
                      "by a half turn about its centre. Near the image's edges it is cut, and the percentile\n"
                      "is taken of the pixels that remain. 8-bit and 16-bit images keep their depth.\n"
                      "With --mask, only pixels where the mask is non-zero take part and are computed; the\n"
                      "others keep their input value. With --roi only that window is filtered (its edges act\n"
                      "as the image's edges) and the rest of the output keeps the input.\n",
                      "  kipf rank --size 15x15 --percentile 0.25 scan.png -o dark.png\n"
                      "  kipf rank --disk 7 --percentile 1 --mask parts.png bench.tif -o grown.tif\n"
                      "  kipf rank --kernel ring.png --percentile 0.5 photo.pgm -o out.pgm\n",
                      {
                          {"size", "WxH", "rectangular neighbourhood, odd sides (default 3x3)"},
                          {"disk", "R", "disk of radius R (0 to 1000): a (2R+1)x(2R+1) kernel"},
                          {"kernel", "FILE", "neighbourhood drawn as an image: non-zero pixels are members"},
                          {"percentile", "P", "fraction from 0 (minimum) to 1 (maximum); default 0.5"},
                      },
                      prepare,
                  },
                  {demoStep(7, 0.25)}};
}

}  // namespace kipf
