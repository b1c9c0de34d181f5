// kipf convolve: linear convolution with built-in or file kernels.
#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <memory>
#include <sstream>

#include "family.hpp"

namespace kipf {
namespace {

enum class SignedOutput { offset16, offset8 };

struct KernelSpec {
    std::string name;
    kstd_pair32 size{3, 3};
    std::vector<int64_t> weights;  // row by row

    bool needsSigned() const {
        for (int64_t w : weights)
            if (w < 0 || w > 255) return true;
        return false;
    }
    // The divisor the filter uses: the sum of the weights, or max(P, N) for signed kernels.
    int64_t divisor() const {
        int64_t positive = 0, negative = 0;
        for (int64_t w : weights) (w > 0 ? positive : negative) += w > 0 ? w : -w;
        return needsSigned() ? std::max(positive, negative) : positive;
    }
};

// Sampled Gaussian with sigma a fifth of the size, scaled so its peak is at most 255 and
// 255 x sum stays within the filter's 32-bit accumulator.
KernelSpec gaussKernel(kstd_pair32 size) {
    KernelSpec k{"gauss", size, {}};
    double sx = size.x / 5.0, sy = size.y / 5.0, sum = 0;
    std::vector<double> g;
    for (int32_t j = 0; j < size.y; ++j)
        for (int32_t i = 0; i < size.x; ++i) {
            double dx = i - size.x / 2, dy = j - size.y / 2;
            g.push_back(std::exp(-0.5 * (dx * dx / (sx * sx) + dy * dy / (sy * sy))));
            sum += g.back();
        }
    double peak = std::min(255.0, std::floor(2147483647.0 / 255.0 / sum));
    for (double v : g) k.weights.push_back(std::llround(v * peak));
    return k;
}

KernelSpec builtinKernel(const std::string& name, kstd_pair32 size, bool sizeGiven) {
    auto fixed = [&](std::vector<int64_t> w) {
        if (sizeGiven && (size.x != 3 || size.y != 3))
            throw UsageError("--kernel " + name + " is 3x3; drop --size or give --size 3x3");
        return KernelSpec{name, {3, 3}, std::move(w)};
    };
    if (name == "box")
        return KernelSpec{name, size,
                          std::vector<int64_t>(static_cast<std::size_t>(size.x) * static_cast<std::size_t>(size.y), 1)};
    if (name == "gauss") return gaussKernel(size);
    // Written for true convolution: sobel-x is positive where brightness grows to the right.
    if (name == "sobel-x") return fixed({1, 0, -1, 2, 0, -2, 1, 0, -1});
    if (name == "sobel-y") return fixed({1, 2, 1, 0, 0, 0, -1, -2, -1});
    if (name == "laplace") return fixed({0, 1, 0, 1, -4, 1, 0, 1, 0});
    throw UsageError("--kernel " + name + ": not a built-in kernel");
}

KernelSpec readKernelFile(const std::string& path) {
    std::ifstream in(path);
    if (!in) throw InputError(path + ": cannot open kernel file: " + std::strerror(errno));
    KernelSpec k{path, {0, 0}, {}};
    std::string line;
    int lineNo = 0;
    while (std::getline(in, line)) {
        ++lineNo;
        line = line.substr(0, line.find('#'));
        for (char& c : line)
            if (c == ',' || c == ';' || c == '\t' || c == '\r') c = ' ';
        std::istringstream fields(line);
        std::string field;
        int32_t count = 0;
        while (fields >> field) {
            std::size_t used = 0;
            long long v = 0;
            try {
                v = std::stoll(field, &used);
            } catch (const std::exception&) {
                used = 0;
            }
            if (used != field.size() || v < -32768 || v > 32767)
                throw InputError(path + ":" + std::to_string(lineNo) + ": '" + field +
                                 "' is not a weight (whole numbers from -32768 to 32767)");
            k.weights.push_back(v);
            ++count;
        }
        if (count == 0) continue;
        if (k.size.y > 0 && count != k.size.x)
            throw InputError(path + ":" + std::to_string(lineNo) + ": row of " + std::to_string(count) +
                             " weights, the first had " + std::to_string(k.size.x));
        k.size.x = count;
        ++k.size.y;
    }
    if (k.size.y == 0) throw InputError(path + ": kernel file has no weights");
    if (k.size.x % 2 == 0 || k.size.y % 2 == 0)
        throw InputError(path + ": kernel is " + sizeText(k.size) + "; width and height must be odd");
    return k;
}

template <class T>
std::vector<T> narrow(const std::vector<int64_t>& weights) {
    return std::vector<T>(weights.begin(), weights.end());
}

class Convolution {
public:
    Convolution(const KernelSpec& kernelDef, kip::border border, SignedOutput output)
        : size_(kernelDef.size), border_(border), output_(output) {
        if (kernelDef.needsSigned())
            k16_ = kip::kernel<int16_t>(kernelDef.size.x, kernelDef.size.y, narrow<int16_t>(kernelDef.weights));
        else
            k8_ = kip::kernel<uint8_t>(kernelDef.size.x, kernelDef.size.y, narrow<uint8_t>(kernelDef.weights));
    }

    Raster operator()(const FilterInput& in) const {
        if (in.source.bits != 8) throw InputError(in.path + ": convolve reads 8-bit images; this one is 16-bit");
        return k8_.width() > 0 ? run<uint8_t>(in, k8_) : run<int16_t>(in, k16_);
    }

private:
    template <class Out, class W>
    Raster run(const FilterInput& in, const kip::kernel<W>& k) const {
        const Raster& s = in.source;
        kstd_rect32 whole{0, 0, s.width, s.height};
        // What the library computes: the image shrunk by the kernel's half-size when clipped,
        // cut to the window; the rest of the output keeps the source.
        int32_t mx = border_ == kip::border::clipped ? size_.x / 2 : 0;
        int32_t my = border_ == kip::border::clipped ? size_.y / 2 : 0;
        kstd_rect32 computed{mx, my, std::max(0, s.width - 2 * mx), std::max(0, s.height - 2 * my)};
        kstd_rect32 target = in.roi ? *in.roi : whole;
        if (computed.width > 0 && computed.height > 0) kip::check(kstd_rect32_intersect(&computed, &target));
        if (computed.width <= 0 || computed.height <= 0)
            throw InputError(in.path + ": nothing to filter: with --border clip the " + sizeText(size_) +
                             " kernel does not fit inside the " + (in.roi ? "--roi window" : "image"));

        std::vector<Out> result(s.grey8.begin(), s.grey8.end());
        auto destination = kip::image<Out>::wrap(std::span<Out>(result), s.width, s.height);
        kip::convolve(wrap8(s).view(), k, destination.view().sub(target), border_);
        if (in.mask)
            for (int32_t y = computed.y; y < computed.y + computed.height; ++y)
                for (int32_t x = computed.x; x < computed.x + computed.width; ++x) {
                    std::size_t at =
                        static_cast<std::size_t>(y) * static_cast<std::size_t>(s.width) + static_cast<std::size_t>(x);
                    if (in.mask->grey8[at] == 0) result[at] = s.grey8[at];
                }
        return encode(result, s.width, (in.roi || in.mask) ? whole : computed);
    }

    Raster encode(const std::vector<uint8_t>& values, int32_t stride, kstd_rect32 r) const {
        Raster out = Raster::make(r.width, r.height, 8);
        for (int32_t y = 0; y < r.height; ++y)
            for (int32_t x = 0; x < r.width; ++x)
                out.grey8[static_cast<std::size_t>(y) * static_cast<std::size_t>(r.width) +
                          static_cast<std::size_t>(x)] =
                    values[static_cast<std::size_t>(y + r.y) * static_cast<std::size_t>(stride) +
                           static_cast<std::size_t>(x + r.x)];
        return out;
    }
    Raster encode(const std::vector<int16_t>& values, int32_t stride, kstd_rect32 r) const {
        Raster out = Raster::make(r.width, r.height, output_ == SignedOutput::offset16 ? 16 : 8);
        for (int32_t y = 0; y < r.height; ++y)
            for (int32_t x = 0; x < r.width; ++x) {
                std::size_t to =
                    static_cast<std::size_t>(y) * static_cast<std::size_t>(r.width) + static_cast<std::size_t>(x);
                int32_t v = values[static_cast<std::size_t>(y + r.y) * static_cast<std::size_t>(stride) +
                                   static_cast<std::size_t>(x + r.x)];
                if (output_ == SignedOutput::offset16)
                    out.grey16[to] = static_cast<uint16_t>(32768 + v);
                else
                    out.grey8[to] = static_cast<uint8_t>(128 + v / 2);
            }
        return out;
    }

    kstd_pair32 size_;
    kip::border border_;
    SignedOutput output_;
    kip::kernel<uint8_t> k8_;
    kip::kernel<int16_t> k16_;
};

Filter prepare(const Options& o) {
    bool sizeGiven = o.has("size");
    kstd_pair32 size = sizeGiven ? parseSize(o.get("size")) : kstd_pair32{3, 3};
    std::string borderName = o.get("border", "mirror");
    if (borderName != "mirror" && borderName != "clip")
        throw UsageError("--border " + borderName + ": expected mirror or clip");
    std::string signedName = o.get("signed", "offset16");
    if (signedName != "offset16" && signedName != "offset8")
        throw UsageError("--signed " + signedName + ": expected offset16 or offset8");

    std::string kernelName = o.get("kernel", "box");
    KernelSpec kernelDef;
    bool builtin = kernelName == "box" || kernelName == "gauss" || kernelName == "sobel-x" || kernelName == "sobel-y" ||
                   kernelName == "laplace";
    if (builtin) {
        kernelDef = builtinKernel(kernelName, size, sizeGiven);
    } else {
        if (sizeGiven) throw UsageError("--size does not apply to a kernel file; its rows and columns give the size");
        kernelDef = readKernelFile(kernelName);
    }
    // The filter's 32-bit accumulator bounds the kernel.
    if (255 * kernelDef.divisor() > 2147483647) {
        if (builtin)
            throw UsageError("--size " + sizeText(kernelDef.size) + " is too large for the " + kernelName + " kernel");
        throw InputError(kernelName + ": weights too large: 255 x their sum must stay below 2^31");
    }
    auto convolution = std::make_shared<const Convolution>(
        kernelDef, borderName == "clip" ? kip::border::clipped : kip::border::mirrored,
        signedName == "offset8" ? SignedOutput::offset8 : SignedOutput::offset16);
    return [convolution](const FilterInput& in) { return (*convolution)(in); };
}

// ---- Demo ----------------------------------------------------------------------------------------

DemoStep demoStep(const std::string& kernelName, kstd_pair32 size) {
    std::string file = "convolve-" + kernelName + "-" + sizeText(size) + ".png";
    return DemoStep{
        "convolve " + kernelName, sizeText(size), file, [kernelName, size](const Scene& scene) {
            KernelSpec kernelDef = builtinKernel(kernelName, size, true);
            auto source = wrap8(scene.grey8);
            DemoOutput out;
            if (!kernelDef.needsSigned()) {
                kip::kernel<uint8_t> k(size.x, size.y, narrow<uint8_t>(kernelDef.weights));
                out.file = Raster::make(scene.grey8.width, scene.grey8.height, 8);
                auto result =
                    kip::image<uint8_t>::wrap(std::span<uint8_t>(out.file.grey8), out.file.width, out.file.height);
                out.seconds = bestTime([&] { kip::convolve(source, k, result); });
                out.preview = out.file;
            } else {
                kip::kernel<int16_t> k(size.x, size.y, narrow<int16_t>(kernelDef.weights));
                kip::image<int16_t> result(scene.grey8.width, scene.grey8.height);
                out.seconds = bestTime([&] { kip::convolve(source, k, result); });
                out.file = Raster::make(result.width(), result.height(), 16);
                out.preview = Raster::make(result.width(), result.height(), 8);
                auto view = result.view();
                // The preview shows magnitudes, which survive the thumbnail's averaging,
                // stretched so that the specks' extremes do not flatten the edges.
                std::vector<int32_t> magnitudes;
                magnitudes.reserve(static_cast<std::size_t>(view.width()) * static_cast<std::size_t>(view.height()));
                for (int32_t y = 0; y < view.height(); ++y)
                    for (int32_t x = 0; x < view.width(); ++x) magnitudes.push_back(std::abs(int32_t{view(x, y)}));
                auto high = magnitudes.begin() + static_cast<std::ptrdiff_t>(magnitudes.size() * 995 / 1000);
                std::nth_element(magnitudes.begin(), high, magnitudes.end());
                int32_t peak = std::max(1, *high);
                for (int32_t y = 0; y < view.height(); ++y)
                    for (int32_t x = 0; x < view.width(); ++x) {
                        std::size_t at = static_cast<std::size_t>(y) * static_cast<std::size_t>(view.width()) +
                                         static_cast<std::size_t>(x);
                        out.file.grey16[at] = static_cast<uint16_t>(32768 + view(x, y));
                        out.preview.grey8[at] =
                            static_cast<uint8_t>(std::min(255, std::abs(int32_t{view(x, y)}) * 255 / peak));
                    }
            }
            return out;
        }};
}

}  // namespace

Family convolveFamily() {
    return Family{
        Command{
            "convolve",
            "linear convolution with a box, Gaussian, Sobel, Laplace or file kernel",
            "Convolves an 8-bit image with a kernel of odd width and height.\n"
            "Kernels of weights 0..255 (box, gauss, or a file without negative weights) give the\n"
            "weighted mean of each neighbourhood, rounded down, as an 8-bit image. Kernels with negative\n"
            "weights (sobel-x, sobel-y, laplace, or such a file) give the weighted sum divided by the\n"
            "larger of the positive and negative weight sums: a signed value from -255 to 255, written as\n"
            "--signed says:\n"
            "  offset16 (default)  16-bit image holding 32768 + value (lossless)\n"
            "  offset8             8-bit image holding 128 + value/2, for viewing\n"
            "The kernel is applied as a true convolution (turned by a half turn): sobel-x is positive\n"
            "where the image brightens to the right, sobel-y where it brightens downwards.\n"
            "--border mirror (default) extends the image by reflection and the result has the input's\n"
            "size; --border clip computes only pixels whose whole neighbourhood lies in the image, and\n"
            "the result is smaller by the kernel's half-size on each side.\n"
            "With --roi or --mask the output has the input's size and pixels that are not filtered keep\n"
            "the input's value (in the output's encoding).\n"
            "A kernel FILE holds one row of whole numbers per line, separated by spaces or commas; '#'\n"
            "starts a comment.\n",
            "  kipf convolve --kernel gauss --size 5x5 part.png -o smooth.png\n"
            "  kipf convolve --kernel sobel-x --signed offset8 part.png -o edges.png\n"
            "  kipf convolve --kernel weights.txt --border clip --roi 100,80,320,240 scan.pgm out.pgm\n"
            "  kipf convolve --size 7x3 a.png b.png --out-dir smooth/\n",
            {
                {"kernel", "KERNEL", "box (default), gauss, sobel-x, sobel-y, laplace, or a FILE of weights"},
                {"size", "WxH", "kernel size for box and gauss, odd (default 3x3)"},
                {"border", "MODE", "mirror (default) or clip"},
                {"signed", "MODE", "output of signed kernels: offset16 (default) or offset8"},
            },
            prepare,
        },
        {demoStep("box", {5, 5}), demoStep("gauss", {7, 7}), demoStep("sobel-x", {3, 3}), demoStep("laplace", {3, 3})}};
}

}  // namespace kipf
