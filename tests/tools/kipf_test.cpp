// kipf end to end: files it is given, results against the library, every error path.
#include <gtest/gtest.h>
#include <png.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <sstream>

#include "image_io.hpp"
#ifdef KIPF_HAVE_TIFF
#include <tiffio.h>
#endif
#include "kip/kip.hpp"

namespace fs = std::filesystem;
using kipf::Raster;

namespace {

struct Result {
    int status;
    std::string out, err;
};

class Kipf : public ::testing::Test {
protected:
    void SetUp() override {
        dir_ = fs::temp_directory_path() / ("kipf_test_" + std::to_string(::getpid()) + "_" +
                                            ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(dir_);
        fs::create_directories(dir_);
    }
    void TearDown() override { fs::remove_all(dir_); }

    std::string path(const std::string& name) const { return (dir_ / name).string(); }

    // args: words separated by spaces, each passed as one argument.
    Result run(const std::string& args) const {
        std::string cmd = "cd '" + dir_.string() + "' && '" KIPF_PATH "'";
        std::istringstream words(args);
        for (std::string a; words >> a;) cmd += " '" + a + "'";
        cmd += " > .stdout 2> .stderr";
        int raw = std::system(cmd.c_str());
        Result r{WIFEXITED(raw) ? WEXITSTATUS(raw) : -1, slurp(path(".stdout")), slurp(path(".stderr"))};
        fs::remove(path(".stdout"));
        fs::remove(path(".stderr"));
        return r;
    }
    static std::string slurp(const std::string& file) {
        std::ifstream in(file, std::ios::binary);
        return {std::istreambuf_iterator<char>(in), {}};
    }
    void writeBytes(const std::string& name, const std::string& bytes) const {
        std::ofstream(path(name), std::ios::binary) << bytes;
    }
    // Files in the folder apart from the given ones: a failed write must leave nothing behind.
    std::vector<std::string> strayFiles(const std::vector<std::string>& expected) const {
        std::vector<std::string> stray;
        for (const auto& e : fs::directory_iterator(dir_)) {
            std::string name = e.path().filename().string();
            if (std::find(expected.begin(), expected.end(), name) == expected.end()) stray.push_back(name);
        }
        return stray;
    }

    fs::path dir_;
};

Raster randomRaster(int32_t w, int32_t h, int bits, unsigned seed) {
    std::mt19937 rng(seed);
    Raster r = Raster::make(w, h, bits);
    for (auto& p : r.grey8) p = static_cast<uint8_t>(rng());
    for (auto& p : r.grey16) p = static_cast<uint16_t>(rng());
    return r;
}

template <class T, class R>
auto& pixelsOf(R& r) {
    if constexpr (sizeof(T) == 1)
        return r.grey8;
    else
        return r.grey16;
}

// The raster's pixels as a library image, without a copy.
template <class T>
kip::image<const T> wrap(const Raster& r) {
    return kip::image<const T>::wrap(std::span<const T>(pixelsOf<T>(r)), r.width, r.height);
}

// A library result as the raster kipf writes for it.
template <class T>
Raster rasterOf(const kip::image<T>& image) {
    auto v = image.view();
    Raster out = Raster::make(v.width(), v.height(), 8 * int(sizeof(T)));
    auto& px = pixelsOf<T>(out);
    for (int32_t y = 0; y < v.height(); ++y)
        for (int32_t x = 0; x < v.width(); ++x) px[std::size_t(y * v.width() + x)] = v(x, y);
    return out;
}

// f(T{}) with T the pixel type of a raster of the given depth.
template <class F>
auto byDepth(int bits, F f) {
    return bits == 8 ? f(uint8_t{}) : f(uint16_t{});
}

// What the library gives on the raster's pixels, encoded as kipf writes it; no weights: a box.
template <class W = uint8_t>
Raster expected(const Raster& in, int32_t kw, int32_t kh, std::vector<W> weights = {},
                kip::convolve_border mode = kip::convolve_border::mirrored, bool offset8 = false) {
    if (weights.empty()) weights.assign(size_t(kw * kh), 1);
    auto result = kip::convolve(wrap<uint8_t>(in), kip::kernel<W>(kw, kh, weights), mode);
    auto v = result.view();
    Raster out = Raster::make(v.width(), v.height(), sizeof(W) == 2 && !offset8 ? 16 : 8);
    for (int32_t y = 0; y < v.height(); ++y)
        for (int32_t x = 0; x < v.width(); ++x) {
            std::size_t at = static_cast<std::size_t>(y * v.width() + x);
            if (sizeof(W) == 1)
                out.grey8[at] = static_cast<uint8_t>(v(x, y));
            else if (offset8)
                out.grey8[at] = static_cast<uint8_t>(128 + v(x, y) / 2);
            else
                out.grey16[at] = static_cast<uint16_t>(32768 + v(x, y));
        }
    return out;
}

void expectSame(const Raster& a, const Raster& b) {
    ASSERT_TRUE(a.width == b.width && a.height == b.height && a.bits == b.bits)
        << a.width << "x" << a.height << " " << a.bits << " bits, not " << b.width << "x" << b.height << " " << b.bits;
    EXPECT_EQ(a.grey8, b.grey8);
    EXPECT_EQ(a.grey16, b.grey16);
}

// Writes pixels through libpng's own writer, so kipf reads a file it did not make.
void writePng(const std::string& file, uint32_t width, uint32_t height, uint32_t format, const uint8_t* pixels) {
    png_image image{};
    image.version = PNG_IMAGE_VERSION;
    image.width = width, image.height = height, image.format = format;
    ASSERT_TRUE(png_image_write_to_file(&image, file.c_str(), 0, pixels, 0, nullptr));
}

const std::vector<int16_t> kSobelX{1, 0, -1, 2, 0, -2, 1, 0, -1};

TEST_F(Kipf, ImageFilesRoundTripExactly) {
    for (const char* ext : {".png", ".pgm", ".tif"}) {
        if (std::string(ext) == ".tif" && !kipf::tiffSupported()) continue;
        for (int bits : {8, 16}) {
            Raster r = randomRaster(13, 7, bits, 3);
            std::string file = path(std::to_string(bits) + ext);
            kipf::writeImage(file, r);
            expectSame(kipf::readImage(file), r);
        }
    }
    // Independent decoders: libpng's simplified reader, and PGM bytes laid out by hand.
    Raster r = randomRaster(9, 5, 8, 4);
    kipf::writeImage(path("a.png"), r);
    png_image image{};
    image.version = PNG_IMAGE_VERSION;
    ASSERT_TRUE(png_image_begin_read_from_file(&image, path("a.png").c_str()));
    image.format = PNG_FORMAT_GRAY;
    std::vector<uint8_t> decoded(PNG_IMAGE_SIZE(image));
    ASSERT_TRUE(png_image_finish_read(&image, nullptr, decoded.data(), 0, nullptr));
    EXPECT_EQ(decoded, r.grey8);
    const char pgm[] = "P5\n# made by hand\n2 1\n1023\n\x01\x02\x03\xff";
    writeBytes("b.pgm", std::string(pgm, sizeof pgm - 1));
    Raster b = kipf::readImage(path("b.pgm"));
    EXPECT_EQ(b.bits, 16);
    EXPECT_EQ(b.grey16, (std::vector<uint16_t>{0x0102, 0x03ff}));
}

TEST_F(Kipf, ConvolveWritesWhatTheLibraryComputes) {
    Raster in = randomRaster(31, 22, 8, 1);
    kipf::writeImage(path("in.png"), in);
    kipf::writeImage(path("in.pgm"), in);
    writeBytes("k.txt", "# sharpen\n0, -1, 0\n-1 5 -1   # centre\n0 -1 0\n");

    Result r = run("convolve --size 5x3 in.png box.png");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out + r.err, "");
    expectSame(kipf::readImage(path("box.png")), expected(in, 5, 3));

    ASSERT_EQ(run("convolve --kernel sobel-x --border clip in.pgm sx.pgm").status, 0);
    expectSame(kipf::readImage(path("sx.pgm")), expected<int16_t>(in, 3, 3, kSobelX, kip::convolve_border::clipped));

    ASSERT_EQ(run("convolve --kernel=sobel-x --signed offset8 in.png sx8.png").status, 0);
    expectSame(kipf::readImage(path("sx8.png")),
               expected<int16_t>(in, 3, 3, kSobelX, kip::convolve_border::mirrored, true));

    ASSERT_EQ(run("convolve --kernel k.txt in.png k.png").status, 0);
    expectSame(kipf::readImage(path("k.png")),
               expected<int16_t>(in, 3, 3, std::vector<int16_t>{0, -1, 0, -1, 5, -1, 0, -1, 0}));
}

// flatten (mean, and median on request) keeps the depth, flattens only --roi (whose edges act as the image's) and
// leaves the rest.
TEST_F(Kipf, FlattenWritesWhatTheLibraryComputes) {
    for (int bits : {8, 16}) {
        Raster in = randomRaster(33, 21, bits, 7);
        kipf::writeImage(path("in.png"), in);
        ASSERT_EQ(run("flatten --size 7x5 in.png whole.png").status, 0);
        ASSERT_EQ(run("flatten --mean --size 9 --roi 4,3,20,11 in.png roi.png").status, 0);
        const Raster roi = kipf::readImage(path("roi.png"));
        byDepth(bits, [&](auto zero) {
            using T = decltype(zero);
            expectSame(kipf::readImage(path("whole.png")), rasterOf(kip::subtract_local_mean(wrap<T>(in), {7, 5})));
            const std::vector<T>& px = pixelsOf<T>(in);
            std::vector<T> part;
            for (int32_t y = 3; y < 14; ++y)
                part.insert(part.end(), &px[std::size_t(y * 33 + 4)], &px[std::size_t(y * 33 + 24)]);
            const auto flat =
                kip::subtract_local_mean(kip::image<const T>::wrap(std::span<const T>(part), 20, 11), {9, 9});
            for (int32_t y = 0; y < 21; ++y)
                for (int32_t x = 0; x < 33; ++x) {
                    const bool inRoi = x >= 4 && x < 24 && y >= 3 && y < 14;
                    const std::size_t at = std::size_t(y * 33 + x);
                    EXPECT_EQ(pixelsOf<T>(roi)[at], inRoi ? flat.view()(x - 4, y - 3) : px[at]) << x << "," << y;
                }
        });
    }
    Raster in = randomRaster(40, 30, 8, 8);
    kipf::writeImage(path("in.png"), in);
    ASSERT_EQ(run("flatten --median --size 5x3 in.png med.png").status, 0);
    expectSame(kipf::readImage(path("med.png")), rasterOf(kip::subtract_local_median(wrap<uint8_t>(in), {5, 3})));
    EXPECT_EQ(run("flatten --mean --median in.png both.png").status, 2);
    EXPECT_EQ(run("flatten --size 4 in.png bad.png").status, 2);
}

// median keeps the depth and gives what the library gives for the same shape and mask.
TEST_F(Kipf, MedianWritesWhatTheLibraryComputes) {
    Raster mask = Raster::make(25, 19, 8);
    for (std::size_t i = 0; i < mask.grey8.size(); ++i) mask.grey8[i] = (i % 4 == 0) ? 0 : 255;
    kipf::writeImage(path("mask.png"), mask);
    const std::vector<uint8_t> cross = {0, 0, 255, 0, 0, 255, 255, 255, 255, 255, 0, 0, 255, 0, 0};
    const kip::mask_kernel kernel(5, 3, std::span<const uint8_t>(cross));
    for (int bits : {8, 16}) {
        Raster in = randomRaster(25, 19, bits, 9);
        kipf::writeImage(path("in.png"), in);
        ASSERT_EQ(run("median --size 5x3 --shape cross --mask mask.png --threads 3 in.png out.png").status, 0);
        byDepth(bits, [&](auto zero) {
            kip::image<decltype(zero)> want;
            kip::median(wrap<decltype(zero)>(in), wrap<uint8_t>(mask), kernel, want);
            expectSame(kipf::readImage(path("out.png")), rasterOf(want));
        });
    }
    EXPECT_EQ(run("median --shape star in.png bad.png").status, 2);
    EXPECT_EQ(run("median --size 4x3 in.png bad.png").status, 2);
}

// What the morphology window entry gives on the raster's pixels inside target (the rest keeps
// the input); mask is 0/255.
template <class T>
std::vector<T> morphExpected(const std::vector<T>& pixels, int32_t w, int32_t h, uint32_t op,
                             const kip::structuring_element& e, const std::vector<uint8_t>* mask, kip::rect target) {
    std::vector<T> out = pixels;
    auto src = kip::image<const T>::wrap(std::span<const T>(pixels), w, h);
    auto dst = kip::image<T>::wrap(std::span<T>(out), w, h);
    kip::window<const T> s = src.view().sub(target);
    kip::window<T> d = dst.view().sub(target);
    kip::image<const uint8_t> m;
    if (mask) m = kip::image<const uint8_t>::wrap(std::span<const uint8_t>(*mask), w, h);
    kip::window<const uint8_t> mw = mask ? m.view().sub(target) : kip::window<const uint8_t>();
    kip_filterMorphologyParams params;
    kip_filterMorphologyParams_init(&params);
    EXPECT_EQ((sizeof(T) == 1 ? kip_filterMorphologyWindow8 : kip_filterMorphologyWindow16)(
                  s.get(), mask ? mw.get() : nullptr, op, &params, e.get(), d.get()),
              0);
    return out;
}

// morph keeps the depth and gives what the C entry gives for each element form, with the mask
// (any non-zero value selects) and the window.
TEST_F(Kipf, MorphWritesWhatTheLibraryComputes) {
    const int32_t w = 27, h = 21;
    Raster mask = Raster::make(w, h, 8);
    std::vector<uint8_t> selection(mask.grey8.size());
    for (std::size_t i = 0; i < mask.grey8.size(); ++i) {
        mask.grey8[i] = i % 5 == 0 ? 0 : uint8_t(1 + i % 3);
        selection[i] = mask.grey8[i] ? 255 : 0;
    }
    kipf::writeImage(path("mask.png"), mask);
    Raster cross = Raster::make(5, 3, 8);
    const std::vector<uint8_t> crossMembers = {0, 0, 255, 0, 0, 255, 255, 255, 255, 255, 0, 0, 255, 0, 0};
    cross.grey8 = crossMembers;
    kipf::writeImage(path("cross.png"), cross);
    writeBytes("dome.txt", "# a weighted element\n-3 . 2\n0, 9, -255\n255 . 1\n");
    const std::vector<uint8_t> domeMembers = {255, 0, 255, 255, 255, 255, 255, 0, 255};
    const std::vector<int16_t> domeWeights = {-3, 0, 2, 0, 9, -255, 255, 0, 1};
    const kip::structuring_element dome(kip::mask_kernel(3, 3, std::span<const uint8_t>(domeMembers)),
                                        std::span<const int16_t>(domeWeights));
    struct Case {
        std::string args;
        uint32_t op;
        kip::structuring_element element;
        bool masked;
        kip::rect target;
    } cases[] = {
        {"morph --op dilate --disk 2", 0, kip::mask_kernel::disk(2), false, {0, 0, w, h}},
        {"morph --op erode --size 5x3 --mask mask.png --roi 3,2,17,13", 1, {5, 3}, true, {3, 2, 17, 13}},
        {"morph --op open --kernel cross.png --mask mask.png",
         2,
         kip::mask_kernel(5, 3, crossMembers),
         true,
         {0, 0, w, h}},
        {"morph --op close --weights dome.txt --roi 1,1,20,19", 3, dome, false, {1, 1, 20, 19}},
        {"morph --op open --weights dome.txt --mask mask.png", 2, dome, true, {0, 0, w, h}},
    };
    for (int bits : {8, 16}) {
        const Raster in = randomRaster(w, h, bits, 13);
        kipf::writeImage(path("in.png"), in);
        for (const Case& c : cases) {
            const Result r = run(c.args + " in.png out.png");
            if (bits == 16 && !c.element.flat()) {
                EXPECT_EQ(r.status, 1) << c.args;
                EXPECT_EQ(r.err, "kipf: in.png: weighted elements need 8-bit images; this one is 16-bit\n");
                continue;
            }
            ASSERT_EQ(r.status, 0) << c.args << "\n" << r.err;
            const Raster out = kipf::readImage(path("out.png"));
            ASSERT_EQ(out.bits, bits);
            const std::vector<uint8_t>* m = c.masked ? &selection : nullptr;
            if (bits == 8)
                EXPECT_EQ(out.grey8, morphExpected(in.grey8, w, h, c.op, c.element, m, c.target)) << c.args;
            else
                EXPECT_EQ(out.grey16, morphExpected(in.grey16, w, h, c.op, c.element, m, c.target)) << c.args;
        }
    }
}

TEST_F(Kipf, RoiAndMaskFilterOnlyTheirPixels) {
    Raster in = randomRaster(20, 16, 8, 2);
    Raster mask = Raster::make(20, 16, 8);
    for (std::size_t i = 0; i < mask.grey8.size(); ++i) mask.grey8[i] = (i % 3 == 0) ? 255 : 0;
    kipf::writeImage(path("in.png"), in);
    kipf::writeImage(path("mask.png"), mask);
    Raster full = expected(in, 3, 3);

    ASSERT_EQ(run("convolve --roi 3,4,10,5 in.png roi.png").status, 0);
    ASSERT_EQ(run("convolve --mask mask.png in.png masked.png").status, 0);
    Raster roi = kipf::readImage(path("roi.png")), masked = kipf::readImage(path("masked.png"));
    for (int32_t y = 0; y < 16; ++y)
        for (int32_t x = 0; x < 20; ++x) {
            std::size_t at = static_cast<std::size_t>(y * 20 + x);
            bool inRoi = x >= 3 && x < 13 && y >= 4 && y < 9;
            EXPECT_EQ(roi.grey8[at], inRoi ? full.grey8[at] : in.grey8[at]) << x << "," << y;
            EXPECT_EQ(masked.grey8[at], mask.grey8[at] ? full.grey8[at] : in.grey8[at]) << x << "," << y;
        }
}

TEST_F(Kipf, SeveralInputsGoToTheOutputFolderQuietly) {
    Raster a = randomRaster(12, 9, 8, 5), b = randomRaster(7, 11, 8, 6);
    kipf::writeImage(path("a.png"), a);
    kipf::writeImage(path("b.pgm"), b);
    // A failing input is reported and the others are still written.
    Result r = run("convolve --size 3 a.png lost.png b.pgm --out-dir out");
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "kipf: lost.png: cannot open: No such file or directory\n");  // no progress line: not a terminal
    expectSame(kipf::readImage(path("out/a.png")), expected(a, 3, 3));
    expectSame(kipf::readImage(path("out/b.pgm")), expected(b, 3, 3));
}

// However an output names an input (same path, another spelling, a link, a hard link, a batch
// whose later input is an earlier output), kipf refuses before writing anything.
TEST_F(Kipf, OutputsNeverReplaceInputsUnlessInPlaceIsAsked) {
    Raster a = randomRaster(9, 7, 8, 8), b = randomRaster(6, 5, 8, 9);
    kipf::writeImage(path("a.png"), a);
    kipf::writeImage(path("b.png"), b);
    fs::create_directories(path("sub"));
    fs::create_hard_link(path("b.png"), path("sub/a.png"));
    fs::create_hard_link(path("a.png"), path("hard.png"));
    fs::create_symlink("a.png", path("soft.png"));
    const std::string original = slurp(path("a.png")), second = slurp(path("b.png"));

    for (const char* args :
         {"convolve a.png a.png", "convolve a.png ./a.png", "convolve a.png -o sub/../a.png", "convolve a.png hard.png",
          "convolve a.png soft.png", "convolve a.png b.png --out-dir .", "convolve a.png b.png --out-dir sub",
          "convolve --mask b.png a.png b.png", "convolve --in-place a.png ./a.png"}) {
        Result r = run(args);
        EXPECT_EQ(r.status, 2) << args;
        EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << args << "\n" << r.err;
        EXPECT_NE(r.err.find(" file"), std::string::npos) << args << "\n" << r.err;
        EXPECT_EQ(slurp(path("a.png")), original) << args;
        EXPECT_EQ(slurp(path("b.png")), second) << args;
    }
    EXPECT_EQ(run("convolve a.png a.png").err,
              "kipf: convolve: a.png is the input file a.png; pass --in-place to replace it\n");

    // Asked for: every input is replaced by its result.
    ASSERT_EQ(run("convolve --in-place a.png b.png").status, 0);
    expectSame(kipf::readImage(path("a.png")), expected(a, 3, 3));
    expectSame(kipf::readImage(path("b.png")), expected(b, 3, 3));
    expectSame(kipf::readImage(path("hard.png")), a);  // the other name keeps the old pixels
    ASSERT_EQ(run("convolve a.png -o c.png").status, 0);
    expectSame(kipf::readImage(path("c.png")), expected(expected(a, 3, 3), 3, 3));
}

// A signal during a write removes the temporary and ends the process by that signal.
TEST_F(Kipf, InterruptedWritesLeaveNothingBehind) {
    for (int signal : {SIGINT, SIGTERM}) {
        bool caught = false;
        for (int32_t side = 1500; side <= 6000 && !caught; side *= 2) {
            kipf::writeImage(path("in.pgm"), randomRaster(side, side, 8, 10));
            pid_t child = fork();
            ASSERT_GE(child, 0);
            if (child == 0) {
                if (::chdir(dir_.c_str()) != 0) _exit(99);
                std::freopen("/dev/null", "w", stderr);
                execl(KIPF_PATH, "kipf", "convolve", "--png-level", "9", "in.pgm", "out.png",
                      static_cast<char*>(nullptr));
                _exit(98);
            }
            // Freeze the child as soon as its temporary appears, then signal it.
            auto temporary = [&] {
                for (const auto& e : fs::directory_iterator(dir_))
                    if (e.path().filename().string().rfind(".out.png.kipf-", 0) == 0) return true;
                return false;
            };
            int status = 0;
            while (waitpid(child, &status, WNOHANG) == 0) {
                if (!temporary()) {
                    usleep(200);
                    continue;
                }
                kill(child, SIGSTOP);
                if (temporary()) {
                    kill(child, signal);
                    caught = true;
                }
                kill(child, SIGCONT);
                waitpid(child, &status, 0);
                break;
            }
            if (!caught) {
                fs::remove(path("out.png"));
                continue;  // the write finished first: try a larger image
            }
            EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == signal) << status;
            EXPECT_EQ(strayFiles({"in.pgm"}), std::vector<std::string>()) << signal;
        }
        EXPECT_TRUE(caught) << "the write was never caught in progress";
    }
}

TEST_F(Kipf, GaussIsCentredAndSymmetric) {
    Raster dot = Raster::make(15, 15, 8);
    dot.grey8[7 * 15 + 7] = 255;
    kipf::writeImage(path("dot.png"), dot);
    ASSERT_EQ(run("convolve --kernel gauss --size 7x5 dot.png g.png").status, 0);
    Raster g = kipf::readImage(path("g.png"));
    auto at = [&](int32_t x, int32_t y) { return g.grey8[static_cast<std::size_t>(y * 15 + x)]; };
    for (int32_t y = 0; y < 15; ++y)
        for (int32_t x = 0; x < 15; ++x) {  // symmetric, within the 7 x 5 footprint, falling off the centre
            EXPECT_TRUE(at(x, y) == at(14 - x, y) && at(x, y) == at(x, 14 - y)) << x << "," << y;
            EXPECT_TRUE((std::abs(x - 7) <= 3 && std::abs(y - 7) <= 2) || at(x, y) == 0) << x << "," << y;
            EXPECT_TRUE((x <= 7 || at(x, y) <= at(x - 1, y)) && (y <= 7 || at(x, y) <= at(x, y - 1))) << x << "," << y;
        }
    EXPECT_GT(at(7, 7), at(8, 7));
}

TEST_F(Kipf, ColourIsRefusedUnlessGreyIsAsked) {
    const uint8_t rgb[] = {255, 0, 0, 10, 200, 30};
    writePng(path("rgb.png"), 2, 1, PNG_FORMAT_RGB, rgb);
    Result r = run("convolve --size 1x1 rgb.png out.png");
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "kipf: rgb.png: colour image (RGB); kipf filters grey images (pass --grey to convert it)\n");
    ASSERT_EQ(run("convolve --size 1x1 --grey rgb.png out.png").status, 0);
    EXPECT_EQ(kipf::readImage(path("out.png")).grey8, (std::vector<uint8_t>{76, 124}));  // Rec. 601 luma
}

// Each failure: its exit status, one line naming the file and the problem, and no output file.
TEST_F(Kipf, FailuresExplainThemselvesAndLeaveNoOutput) {
    kipf::writeImage(path("in.png"), randomRaster(8, 8, 8, 7));
    kipf::writeImage(path("deep.png"), randomRaster(8, 8, 16, 7));
    kipf::writeImage(path("small.png"), randomRaster(4, 4, 8, 7));
    writeBytes("bad.png", std::string("\x89PNG\r\n\x1a\n\0\0\0\x0dIHDR garbage", 24));
    writeBytes("short.pgm", "P5 4 4 255\nabc");
    writeBytes("odd.txt", "1 1\n1 1\n");
    writeBytes("ragged.txt", "1 1 1\n1 1\n1 1 1\n");
    writeBytes("word.txt", "1 1 1\n1 x 1\n1 1 1\n");
    writeBytes("heavy.txt", "0 256 0\n");
    writeBytes("tent.txt", "-1 . 1\n");
    fs::create_directories(path("taken.png"));
    const uint8_t ga[8] = {1, 255, 2, 255, 3, 0, 4, 255};
    writePng(path("alpha.png"), 2, 2, PNG_FORMAT_GA, ga);
    const std::vector<std::string> inputs{"in.png",    "deep.png",   "small.png", "bad.png",   "short.pgm", "odd.txt",
                                          "taken.png", "ragged.txt", "word.txt",  "alpha.png", "heavy.txt", "tent.txt"};

    struct Case {
        std::string args;
        int status;
        std::string message;
    } cases[] = {
        {"convolve missing.png out.png", 1, "missing.png: cannot open: No such file or directory"},
        {"convolve bad.png out.png", 1, "bad.png: corrupt PNG"},
        {"convolve short.pgm out.png", 1, "short.pgm: truncated PGM data (16 bytes of pixels expected, 3 found)"},
        {"convolve deep.png out.png", 1, "deep.png: convolve reads 8-bit images; this one is 16-bit"},
        {"convolve --mask small.png in.png out.png", 1, "small.png: mask is 4x4 but in.png is 8x8"},
        {"convolve --roi 4,4,5,5 in.png out.png", 1, "in.png: --roi 4,4,5,5 reaches outside the 8x8 image"},
        {"convolve --kernel odd.txt in.png out.png", 1, "odd.txt: kernel is 2x2; width and height must be odd"},
        {"convolve --size 9x9 --border clip in.png out.png", 1, "in.png: nothing to filter"},
        {"convolve alpha.png out.png", 1,
         "alpha.png: grey image with an alpha channel; kipf filters grey images (pass --grey to drop the alpha"},
        {"convolve --kernel ragged.txt in.png out.png", 1, "ragged.txt:2: row of 2 weights, the first had 3"},
        {"convolve --kernel word.txt in.png out.png", 1, "word.txt:2: 'x' is not a weight"},
        {"convolve --kernel none.txt in.png out.png", 1, "none.txt: cannot open kernel file"},
        {"convolve --kernel median in.png out.png", 2,
         "convolve: --kernel median: not a built-in kernel (box, gauss, sobel-x, sobel-y, laplace) nor a file"},
        {"convolve in.png no/such/dir/out.png", 1, "no/such/dir/out.png: cannot write: No such file or directory"},
        {"convolve in.png taken.png", 1, "taken.png: cannot write: Is a directory"},
        {"convolve --size 4x4 in.png out.png", 2, "convolve: --size 4x4: width and height must be odd"},
        {"convolve --size abc in.png out.png", 2, "convolve: --size abc: expected WIDTHxHEIGHT"},
        {"convolve --border wrap in.png out.png", 2, "convolve: --border wrap: expected mirror or clip"},
        {"convolve --kernel sobel-x --size 5x5 in.png out.png", 2, "convolve: --kernel sobel-x is 3x3"},
        {"convolve --frobnicate in.png out.png", 2, "convolve: unknown option --frobnicate"},
        {"convolve in.png", 2, "convolve: expected INPUT OUTPUT"},
        {"convolve in.png out.jpg", 2, "convolve: out.jpg: unknown output format"},
        {"convolve --threads -1 in.png out.png", 2, "convolve: --threads -1: expected a whole number"},
        {"convolve --signed raw in.png out.png", 2, "convolve: --signed raw: expected offset16 or offset8"},
        {"convolve --roi 1,2,3 in.png out.png", 2, "convolve: --roi 1,2,3: expected X,Y,WIDTH,HEIGHT"},
        {"convolve in.png sub/in.png --out-dir out", 2, "convolve: two inputs would both be written to out/in.png"},
        {"convolve in.png small.png -o out.png", 2, "convolve: expected one INPUT with -o OUTPUT"},
        {"convolve in.png -o out.png --out-dir d", 2, "convolve: give only one of -o FILE, --out-dir DIR and"},
        {"convolve --png-level 10 in.png out.png", 2, "convolve: --png-level 10: expected a whole number from 0 to 9"},
        {"morph in.png out.png", 2, "morph: give --op dilate, erode, open or close"},
        {"morph --op grow in.png out.png", 2, "morph: --op grow: expected dilate, erode, open or close"},
        {"morph --op open --size 3 --disk 2 in.png out.png", 2,
         "morph: give one of --size, --disk, --kernel and --weights"},
        {"morph --op open --size 4x3 in.png out.png", 2, "morph: --size 4x3: width and height must be odd"},
        {"morph --op open --kernel missing.png in.png out.png", 1, "missing.png: cannot open"},
        {"morph --op erode --weights ragged.txt in.png out.png", 1, "ragged.txt:2: row of 2 weights, the first had 3"},
        {"morph --op erode --weights heavy.txt in.png out.png", 1,
         "heavy.txt:1: '256' is not a weight (whole numbers from -255 to 255, or . for no member)"},
        {"morph --op erode --weights none.txt in.png out.png", 1, "none.txt: cannot open weight file"},
        {"morph --op dilate --weights tent.txt deep.png out.png", 1,
         "deep.png: weighted elements need 8-bit images; this one is 16-bit"},
        {"sharpen in.png out.png", 2, "unknown command 'sharpen'"},
    };
    for (const Case& c : cases) {
        Result r = run(c.args);
        EXPECT_EQ(r.status, c.status) << c.args << "\n" << r.err;
        EXPECT_EQ(r.err.rfind("kipf: " + c.message, 0), 0u) << c.args << "\n" << r.err;
        EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << c.args << "\n" << r.err;
        EXPECT_EQ(strayFiles(inputs), std::vector<std::string>()) << c.args;
    }
}

// Files that are unusual but readable, and results that look wrong, are named on stderr.
TEST_F(Kipf, UnusualInputsAreAcceptedOrExplained) {
    // A palette of greys is a grey image; a palette with colour is not.
    png_image image{};
    image.version = PNG_IMAGE_VERSION;
    image.width = 3, image.height = 2, image.format = PNG_FORMAT_RGB_COLORMAP;
    image.colormap_entries = 3;
    const uint8_t indices[6] = {0, 1, 2, 2, 1, 0}, greys[9] = {0, 0, 0, 90, 90, 90, 200, 200, 200},
                  colours[9] = {0, 0, 0, 90, 0, 90, 200, 200, 200};
    ASSERT_TRUE(png_image_write_to_file(&image, path("grey.png").c_str(), 0, indices, 0, greys));
    ASSERT_TRUE(png_image_write_to_file(&image, path("colour.png").c_str(), 0, indices, 0, colours));
    EXPECT_EQ(kipf::readImage(path("grey.png")).grey8, (std::vector<uint8_t>{0, 90, 200, 200, 90, 0}));
    EXPECT_THROW(kipf::readImage(path("colour.png")), kipf::InputError);

    // An all-zero kernel gives zeros, and says so.
    kipf::writeImage(path("in.png"), randomRaster(6, 5, 8, 12));
    writeBytes("zero.txt", "0 0 0\n0 0 0\n0 0 0\n");
    Result r = run("convolve --kernel zero.txt in.png out.png");
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, "kipf: zero.txt: every weight is 0, so the result is 0 everywhere\n");
    EXPECT_EQ(kipf::readImage(path("out.png")).grey8, std::vector<uint8_t>(30, 0));

#ifdef KIPF_HAVE_TIFF
    // A TIFF of several pages: the first is filtered, and the others are mentioned.
    Raster first = randomRaster(7, 6, 8, 13);
    {
        TIFF* t = TIFFOpen(path("pages.tif").c_str(), "w");
        ASSERT_NE(t, nullptr);
        for (int page = 0; page < 3; ++page) {
            TIFFSetField(t, TIFFTAG_IMAGEWIDTH, 7u);
            TIFFSetField(t, TIFFTAG_IMAGELENGTH, 6u);
            TIFFSetField(t, TIFFTAG_BITSPERSAMPLE, uint16_t{8});
            TIFFSetField(t, TIFFTAG_SAMPLESPERPIXEL, uint16_t{1});
            TIFFSetField(t, TIFFTAG_PHOTOMETRIC, uint16_t{PHOTOMETRIC_MINISBLACK});
            Raster p = page == 0 ? first : randomRaster(7, 6, 8, 20 + page);
            for (uint32_t y = 0; y < 6; ++y) TIFFWriteScanline(t, &p.grey8[y * 7], y, 0);
            TIFFWriteDirectory(t);
        }
        TIFFClose(t);
    }
    r = run("convolve --size 1 pages.tif one.png");
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, "kipf: pages.tif: TIFF of 3 pages; only the first is read\n");
    expectSame(kipf::readImage(path("one.png")), first);
#endif

    // A file system that takes no more gives its reason, for every format, and no file.
    kipf::writeImage(path("big.png"), randomRaster(300, 200, 8, 14));
    for (const char* out : {"full.tif", "full.png", "full.pgm"}) {
        if (std::string(out) == "full.tif" && !kipf::tiffSupported()) continue;
        std::string cmd = "cd '" + dir_.string() +
                          "' && sh -c 'trap \"\" XFSZ; ulimit -f 8; exec \"$0\" convolve big.png " + out +
                          "' '" KIPF_PATH "' 2> .stderr";
        int raw = std::system(cmd.c_str());
        EXPECT_TRUE(WIFEXITED(raw) && WEXITSTATUS(raw) == 1) << out;
        EXPECT_EQ(slurp(path(".stderr")), "kipf: " + std::string(out) + ": cannot write: File too large\n");
        fs::remove(path(".stderr"));
    }
    EXPECT_EQ(
        strayFiles({"in.png", "out.png", "zero.txt", "grey.png", "colour.png", "pages.tif", "one.png", "big.png"}),
        std::vector<std::string>());
}

TEST_F(Kipf, HelpAndVersionOnEveryLevel) {
    for (const char* args : {"--help", "convolve --help", "demo -h", "help convolve"}) {
        Result r = run(args);
        EXPECT_EQ(r.status, 0) << args;
        EXPECT_NE(r.out.find("examples:\n  kipf "), std::string::npos) << r.out;
    }
    EXPECT_NE(run("convolve --help").out.find("offset16 (default)  16-bit image holding 32768 + value"),
              std::string::npos);
    EXPECT_EQ(run("--version").out.rfind("kipf 0.", 0), 0u);
    EXPECT_EQ(run("").status, 2);
}

TEST_F(Kipf, DemoWritesEveryResultAndATable) {
    Result r = run("demo --scene 96x64 show");
    ASSERT_EQ(r.status, 0) << r.err;
    std::istringstream table(r.out);
    std::string line;
    int rows = 0, sobelPeak = 0;
    while (std::getline(table, line))
        if (line.rfind("convolve ", 0) == 0) {
            ++rows;
            std::istringstream fields(line);
            std::string family, kernel, size, shown;
            double mpix = 0;
            fields >> family >> kernel >> size >> mpix >> std::ws;
            std::getline(fields, shown);
            EXPECT_GT(mpix, 0.0) << line;
            EXPECT_FALSE(shown.empty()) << line;
            if (kernel == "sobel-x") {
                ASSERT_EQ(shown.rfind("128 + 127 v/", 0), 0u) << line;
                sobelPeak = std::stoi(shown.substr(12));
            }
        }
    EXPECT_EQ(rows, 4) << r.out;
    Raster scene = kipf::readImage(path("show/scene-8bit.png"));
    EXPECT_EQ(kipf::readImage(path("show/scene-16bit.png")).bits, 16);
    EXPECT_GT(*std::max_element(scene.grey8.begin(), scene.grey8.end()), 200);  // specks and bright features
    EXPECT_LT(*std::min_element(scene.grey8.begin(), scene.grey8.end()), 30);
    expectSame(kipf::readImage(path("show/convolve-box-5x5.png")), expected(scene, 5, 5));
    // Signed results are stretched around mid-grey as the table says.
    Raster sobel = kipf::readImage(path("show/convolve-sobel-x-3x3.png"));
    Raster raw = expected<int16_t>(scene, 3, 3, kSobelX);
    ASSERT_TRUE(sobel.bits == 8 && sobel.sameSize(raw) && sobelPeak > 0);
    for (std::size_t i = 0; i < raw.grey16.size(); ++i)
        ASSERT_EQ(sobel.grey8[i], std::clamp(128 + (int(raw.grey16[i]) - 32768) * 127 / sobelPeak, 0, 255)) << i;
    Raster sheet = kipf::readImage(path("show/contact-sheet.png"));
    EXPECT_GT(sheet.width, 3 * 320);
}

}  // namespace
