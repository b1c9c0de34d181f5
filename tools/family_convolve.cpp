// kipf convolve: linear convolution with built-in or file kernels.
#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <memory>

#include "commands.hpp"
#include "family.hpp"

namespace kipf {
namespace {

enum class SignedOutput { offset16, offset8 };

const char kBuiltins[] = "box, gauss, sobel-x, sobel-y, laplace";

bool isBuiltin(const std::string& name) {
    return name == "box" || name == "gauss" || name == "sobel-x" || name == "sobel-y" || name == "laplace";
}

// A kernel ready for the filter: 8-bit weights (weighted mean) or signed 16-bit weights (sum over
// the kernel norm).
struct KernelChoice {
    kstd_pair32 size{3, 3};
    bool isSigned = false;
    kip::kernel<uint8_t> k8;
    kip::kernel<int16_t> k16;
};

KernelChoice builtinKernel(const std::string& name, kstd_pair32 size, bool sizeGiven) {
    KernelChoice k;
    k.size = size;
    if (name == "box" || name == "gauss") {
        try {
            k.k8 = name == "box" ? kip::box_kernel(size.x, size.y) : kip::gaussian_kernel(size.x, size.y);
        } catch (const kip::error& e) {
            if (e.code() != kstd_errInvalidArgument) throw;
            throw UsageError("--size " + sizeText(size) + " is too large for the " + name +
                             " kernel (at most 8421504 weights)");
        }
        return k;
    }
    if (sizeGiven && (size.x != 3 || size.y != 3))
        throw UsageError("--kernel " + name + " is 3x3; drop --size or give --size 3x3");
    k.size = {3, 3};
    k.isSigned = true;
    k.k16 = name == "laplace"   ? kip::laplace_kernel()
            : name == "sobel-x" ? kip::sobel_kernel(kip::axis::x)
                                : kip::sobel_kernel(kip::axis::y);
    return k;
}

WeightGrid readKernelFile(const std::string& path) {
    std::ifstream in(path);
    if (!in) {
        // A bare word is more likely a misspelt built-in than a missing file.
        if (errno == ENOENT && path.find_first_of("./") == std::string::npos)
            throw UsageError("--kernel " + path + ": not a built-in kernel (" + kBuiltins + ") nor a file");
        throw InputError(path + ": cannot open kernel file: " + std::strerror(errno));
    }
    return parseWeightGrid(in, path, -32768, 32767, false);
}

template <class T>
std::vector<T> narrow(const std::vector<int64_t>& weights) {
    return std::vector<T>(weights.begin(), weights.end());
}

// Weights 0..255 make an 8-bit kernel, any others a signed one.
KernelChoice fileKernel(const std::string& path, const WeightGrid& file) {
    int64_t positive = 0, negative = 0;
    bool isSigned = false;
    for (int64_t w : file.weights) {
        (w > 0 ? positive : negative) += w > 0 ? w : -w;
        isSigned = isSigned || w < 0 || w > 255;
    }
    // The filter's 32-bit accumulator bounds the divisor: the sum, or max(P, N) when signed.
    if (255 * (isSigned ? std::max(positive, negative) : positive) > 2147483647)
        throw InputError(path + ": weights too large: 255 x their sum must stay below 2^31");
    if (positive == 0 && negative == 0) report(path + ": every weight is 0, so the result is 0 everywhere");
    KernelChoice k;
    k.size = file.size;
    k.isSigned = isSigned;
    if (isSigned)
        k.k16 = kip::kernel<int16_t>(file.size.x, file.size.y, narrow<int16_t>(file.weights));
    else
        k.k8 = kip::kernel<uint8_t>(file.size.x, file.size.y, narrow<uint8_t>(file.weights));
    return k;
}

class Convolution {
public:
    Convolution(KernelChoice kernel, kip::convolve_border border, SignedOutput output)
        : size_(kernel.size), border_(border), output_(output), kernel_(std::move(kernel)) {}

    Raster operator()(const FilterInput& in) const {
        if (in.source.bits != 8) throw InputError(in.path + ": convolve reads 8-bit images; this one is 16-bit");
        return kernel_.isSigned ? run<int16_t>(in, kernel_.k16) : run<uint8_t>(in, kernel_.k8);
    }

private:
    template <class Out, class W>
    Raster run(const FilterInput& in, const kip::kernel<W>& k) const {
        const Raster& s = in.source;
        kstd_rect32 whole{0, 0, s.width, s.height};
        // What the library computes: the image shrunk by the kernel's half-size when clipped,
        // cut to the window; the rest of the output keeps the source.
        int32_t mx = border_ == kip::convolve_border::clipped ? size_.x / 2 : 0;
        int32_t my = border_ == kip::convolve_border::clipped ? size_.y / 2 : 0;
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
    kip::convolve_border border_;
    SignedOutput output_;
    KernelChoice kernel_;
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
    KernelChoice kernel;
    if (isBuiltin(kernelName)) {
        kernel = builtinKernel(kernelName, size, sizeGiven);
    } else {
        WeightGrid file = readKernelFile(kernelName);
        if (sizeGiven) throw UsageError("--size does not apply to a kernel file; its rows and columns give the size");
        kernel = fileKernel(kernelName, file);
    }
    auto convolution = std::make_shared<const Convolution>(
        std::move(kernel), borderName == "clip" ? kip::convolve_border::clipped : kip::convolve_border::mirrored,
        signedName == "offset8" ? SignedOutput::offset8 : SignedOutput::offset16);
    return [convolution](const FilterInput& in) { return (*convolution)(in); };
}

// ---- Demo ----------------------------------------------------------------------------------------

// Signed results for people: 128 + 127 v / P in 8 bits, P the 99.5th percentile of |v|, so that
// edges show as light and dark lines on grey instead of drowning under the specks' extremes.
Raster stretchSigned(const kip::image<int16_t>& result, std::string& shown) {
    auto view = result.view();
    std::vector<int32_t> magnitudes;
    magnitudes.reserve(static_cast<std::size_t>(view.width()) * static_cast<std::size_t>(view.height()));
    for (int32_t y = 0; y < view.height(); ++y)
        for (int32_t x = 0; x < view.width(); ++x) magnitudes.push_back(std::abs(int32_t{view(x, y)}));
    auto high = magnitudes.begin() + static_cast<std::ptrdiff_t>(magnitudes.size() * 995 / 1000);
    std::nth_element(magnitudes.begin(), high, magnitudes.end());
    int32_t peak = std::max(1, *high);
    Raster out = Raster::make(view.width(), view.height(), 8);
    for (int32_t y = 0; y < view.height(); ++y)
        for (int32_t x = 0; x < view.width(); ++x)
            out.grey8[static_cast<std::size_t>(y) * static_cast<std::size_t>(view.width()) +
                      static_cast<std::size_t>(x)] =
                static_cast<uint8_t>(std::clamp(128 + view(x, y) * 127 / peak, 0, 255));
    shown = "128 + 127 v/" + std::to_string(peak) + " (stretched)";
    return out;
}

DemoStep demoStep(const std::string& kernelName, kstd_pair32 size) {
    std::string file = "convolve-" + kernelName + "-" + sizeText(size) + ".png";
    return DemoStep{"convolve " + kernelName, sizeText(size), file, [kernelName, size](const Scene& scene) {
                        KernelChoice k = builtinKernel(kernelName, size, true);
                        auto source = wrap8(scene.grey8);
                        DemoOutput out;
                        if (!k.isSigned) {
                            out.file = Raster::make(scene.grey8.width, scene.grey8.height, 8);
                            auto result = kip::image<uint8_t>::wrap(out.file.grey8, out.file.width, out.file.height);
                            out.seconds = bestTime([&] { kip::convolve(source, k.k8, result); });
                            out.shown = "8-bit mean";
                        } else {
                            kip::image<int16_t> result(scene.grey8.width, scene.grey8.height);
                            out.seconds = bestTime([&] { kip::convolve(source, k.k16, result); });
                            out.file = stretchSigned(result, out.shown);
                        }
                        out.preview = out.file;
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
            "weighted mean of each neighbourhood, rounded down, as an 8-bit image (gauss uses the\n"
            "customary spread for its size: sigma 0.8 for 3, 1.1 for 5, 1.4 for 7). Kernels with negative\n"
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
