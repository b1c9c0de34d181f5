// kipf morph: grey-scale dilation, erosion, opening and closing.
#include <cerrno>
#include <cstring>
#include <fstream>
#include <memory>

#include "family.hpp"

namespace kipf {
namespace {

enum class Op { dilate, erode, open, close };

Op parseOp(const std::string& text) {
    if (text == "dilate") return Op::dilate;
    if (text == "erode") return Op::erode;
    if (text == "open") return Op::open;
    if (text == "close") return Op::close;
    throw UsageError("--op " + text + ": expected dilate, erode, open or close");
}

// Weights -255..255 row by row, '.' where the element has no member.
kip::structuring_element weightFile(const std::string& path) {
    std::ifstream in(path);
    if (!in) throw InputError(path + ": cannot open weight file: " + std::strerror(errno));
    const WeightGrid g = parseWeightGrid(in, path, -255, 255, true);
    const std::vector<int16_t> weights(g.weights.begin(), g.weights.end());
    return kip::structuring_element(kip::mask_kernel(g.size.x, g.size.y, std::span<const uint8_t>(g.members)),
                                    std::span<const int16_t>(weights));
}

template <class S, class M, class D>
void apply(Op op, S source, const M* mask, const kip::structuring_element& e, D destination) {
    auto call = [&](const auto& f) {
        if (mask)
            f(source, *mask, e, destination);
        else
            f(source, e, destination);
    };
    switch (op) {
        case Op::dilate:
            return call(kip::dilate);
        case Op::erode:
            return call(kip::erode);
        case Op::open:
            return call(kip::open);
        case Op::close:
            return call(kip::close);
    }
}

class Morph {
public:
    Morph(Op op, kip::structuring_element element) : op_(op), element_(std::move(element)) {}

    Raster operator()(const FilterInput& in) const {
        if (in.source.bits == 16 && !element_.flat())
            throw InputError(in.path + ": weighted elements need 8-bit images; this one is 16-bit");
        return filterWindow(in, [&](auto from, const auto* mask, auto to) { apply(op_, from, mask, element_, to); });
    }

private:
    Op op_;
    kip::structuring_element element_;
};

Filter prepare(const Options& o) {
    if (!o.has("op")) throw UsageError("give --op dilate, erode, open or close");
    const Op op = parseOp(o.get("op"));
    const int given = int(o.has("size")) + int(o.has("disk")) + int(o.has("kernel")) + int(o.has("weights"));
    if (given > 1) throw UsageError("give one of --size, --disk, --kernel and --weights");
    std::shared_ptr<const Morph> morph;
    if (o.has("disk")) {
        const auto radius = static_cast<int32_t>(parseInteger(o.get("disk"), "--disk", 0, 1000));
        morph = std::make_shared<const Morph>(op, kip::mask_kernel::disk(radius));
    } else if (o.has("kernel")) {
        morph = std::make_shared<const Morph>(op, drawnKernel(o.get("kernel")));
    } else if (o.has("weights")) {
        morph = std::make_shared<const Morph>(op, weightFile(o.get("weights")));
    } else {
        const kstd_pair32 size = o.has("size") ? parseSize(o.get("size")) : kstd_pair32{3, 3};
        morph = std::make_shared<const Morph>(op, kip::structuring_element(size.x, size.y));
    }
    return [morph](const FilterInput& in) { return (*morph)(in); };
}

DemoStep demoStep(Op op, const std::string& opName, int32_t radius, uint32_t bits) {
    const int32_t side = 2 * radius + 1;
    const kstd_pair32 size{side, side};
    const std::string shape = bits == 8 ? "disk" : "box";
    const std::string name = opName + "-" + shape + "-" + sizeText(size) + (bits == 16 ? "-16bit" : "");
    return DemoStep{
        "morph " + opName + " " + (bits == 16 ? std::string("16-bit") : shape), sizeText(size),
        "morph-" + name + ".png", [=](const Scene& scene) {
            const kip::structuring_element element = bits == 8
                                                         ? kip::structuring_element(kip::mask_kernel::disk(radius))
                                                         : kip::structuring_element(side, side);
            const Raster& in = bits == 8 ? scene.grey8 : scene.grey16;
            DemoOutput out;
            out.file = Raster::make(in.width, in.height, bits);
            const kip::image<const uint8_t>* none = nullptr;
            if (bits == 8) {
                auto result = kip::image<uint8_t>::wrap(std::span<uint8_t>(out.file.grey8), in.width, in.height);
                out.seconds = bestTime([&] { apply(op, wrap8(in), none, element, result); });
            } else {
                auto result = kip::image<uint16_t>::wrap(std::span<uint16_t>(out.file.grey16), in.width, in.height);
                out.seconds = bestTime([&] { apply(op, wrap16(in), none, element, result); });
            }
            out.preview = preview8(out.file);
            out.shown = bits == 8 ? "8-bit" : "16-bit, top byte";
            return out;
        }};
}

}  // namespace

Family morphologyFamily() {
    return Family{Command{
                      "morph",
                      "grey-scale morphology: dilate, erode, open or close with a structuring element",
                      "Dilation (--op dilate) replaces every pixel by the maximum of its neighbourhood, erosion\n"
                      "(--op erode) by the minimum; opening (open) is an erosion followed by a dilation and removes\n"
                      "bright details smaller than the element, closing (close) is a dilation followed by an\n"
                      "erosion and fills dark ones. The element is a rectangle (--size, default 3x3), a disk of\n"
                      "radius R (--disk), the non-zero pixels of a mask image with odd sides (--kernel), or a\n"
                      "weight file (--weights): a text file of whole numbers from -255 to 255, one row of the\n"
                      "element per line, separated by spaces or commas, '.' where the element has no member and\n"
                      "'#' starting a comment; width and height odd. A dilation adds each member's weight to its\n"
                      "neighbour before taking the maximum, an erosion subtracts it before the minimum, and the\n"
                      "result is clamped to 0..255 (weights need 8-bit images). Elements are applied turned by a\n"
                      "half turn about their centre. Near the image's edges the neighbourhood is cut to the\n"
                      "pixels inside the image. 8-bit and 16-bit images keep their depth.\n"
                      "With --mask, pixels where the mask is 0 take no part and keep their value. With --roi only\n"
                      "that window is filtered (its edges act as the image's edges) and the rest of the output\n"
                      "keeps the input.\n",
                      "  kipf morph --op open --disk 5 scan.png -o clean.png\n"
                      "  kipf morph --op dilate --size 15x3 --mask parts.png bench.tif -o grown.tif\n"
                      "  kipf morph --op close --weights dome.txt --roi 100,80,320,240 a.pgm b.pgm --out-dir m/\n",
                      {
                          {"op", "OP", "dilate, erode, open or close (required)"},
                          {"size", "WxH", "rectangular element, odd sides (default 3x3)"},
                          {"disk", "R", "disk of radius R (0 to 1000): a (2R+1)x(2R+1) element"},
                          {"kernel", "FILE", "element drawn as an image: non-zero pixels are members"},
                          {"weights", "FILE", "weighted element from a text file (see above)"},
                      },
                      prepare,
                  },
                  {demoStep(Op::open, "open", 5, 8), demoStep(Op::dilate, "dilate", 7, 16)}};
}

}  // namespace kipf
