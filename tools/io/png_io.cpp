// PNG through libpng.
#include <png.h>
#include <zlib.h>

#include <bit>
#include <csetjmp>
#include <cstring>

#include "formats.hpp"

namespace kipf::io {
namespace {

// libpng reports errors by longjmp: every C++ object that lives across png calls sits in the
// caller's frame (PngJob), so the jump skips no destructor.
struct PngJob {
    char message[200] = {};
    bool tooLarge = false;
    bool greyPalette = false;
    Samples samples;
    std::vector<png_bytep> rows;
    std::vector<uint8_t> row;  // one output row in file byte order
};

void pngError(png_structp png, png_const_charp message) {
    auto* job = static_cast<PngJob*>(png_get_error_ptr(png));
    std::snprintf(job->message, sizeof job->message, "%s", message);
    png_longjmp(png, 1);
}

void pngWarning(png_structp, png_const_charp) {}

// A palette whose every entry is grey, without transparency, is a grey image stored compactly.
bool paletteIsGrey(png_structp png, png_infop info) {
    png_colorp palette = nullptr;
    int count = 0;
    if (!png_get_PLTE(png, info, &palette, &count) || png_get_valid(png, info, PNG_INFO_tRNS)) return false;
    for (int i = 0; i < count; ++i)
        if (palette[i].red != palette[i].green || palette[i].red != palette[i].blue) return false;
    return true;
}

bool readCore(png_structp png, png_infop info, std::FILE* file, PngJob& job) {
    if (setjmp(png_jmpbuf(png))) return false;
    png_init_io(png, file);
    png_read_info(png, info);
    png_uint_32 width = png_get_image_width(png, info);
    png_uint_32 height = png_get_image_height(png, info);
    int depth = png_get_bit_depth(png, info);
    int type = png_get_color_type(png, info);
    if (uint64_t{width} * height > kMaxPixels) {
        job.tooLarge = true;
        return false;
    }
    if (type == PNG_COLOR_TYPE_PALETTE) {
        job.greyPalette = paletteIsGrey(png, info);
        png_set_palette_to_rgb(png);
    }
    if (type == PNG_COLOR_TYPE_GRAY && depth < 8) png_set_expand_gray_1_2_4_to_8(png);
    if (depth == 16 && std::endian::native == std::endian::little) png_set_swap(png);
    png_set_interlace_handling(png);
    png_read_update_info(png, info);

    Samples& s = job.samples;
    s.width = static_cast<int32_t>(width);
    s.height = static_cast<int32_t>(height);
    s.bits = png_get_bit_depth(png, info) == 16 ? 16 : 8;
    s.channels = png_get_channels(png, info);
    std::size_t rowSamples = static_cast<std::size_t>(width) * static_cast<std::size_t>(s.channels);
    job.rows.resize(height);
    if (s.bits == 8) {
        s.bytes8.resize(rowSamples * height);
        for (png_uint_32 y = 0; y < height; ++y) job.rows[y] = &s.bytes8[y * rowSamples];
    } else {
        s.bytes16.resize(rowSamples * height);
        for (png_uint_32 y = 0; y < height; ++y) job.rows[y] = reinterpret_cast<png_bytep>(&s.bytes16[y * rowSamples]);
    }
    png_read_image(png, job.rows.data());
    png_read_end(png, nullptr);
    return true;
}

bool writeCore(png_structp png, png_infop info, std::FILE* file, const Raster& r, int level, PngJob& job) {
    if (setjmp(png_jmpbuf(png))) return false;
    png_init_io(png, file);
    png_set_IHDR(png, info, static_cast<png_uint_32>(r.width), static_cast<png_uint_32>(r.height), r.bits,
                 PNG_COLOR_TYPE_GRAY, PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    // Trying every row filter costs more than the deflate itself at low levels; Sub alone keeps
    // most of the gain on smooth images. From level 6 the smallest file is what was asked for.
    png_set_compression_level(png, level);
    png_set_filter(png, PNG_FILTER_TYPE_BASE,
                   level == 0  ? PNG_FILTER_NONE
                   : level < 6 ? PNG_FILTER_SUB
                               : PNG_ALL_FILTERS);
    if (level > 0 && level < 6) png_set_compression_strategy(png, Z_RLE);
    png_set_compression_buffer_size(png, 1 << 17);
    png_write_info(png, info);
    std::size_t w = static_cast<std::size_t>(r.width);
    if (r.bits == 16) job.row.resize(2 * w);
    for (int32_t y = 0; y < r.height; ++y) {
        std::size_t at = static_cast<std::size_t>(y) * w;
        if (r.bits == 8) {
            png_write_row(png, &r.grey8[at]);
        } else {
            // PNG holds 16-bit samples big-endian.
            const uint16_t* p = &r.grey16[at];
            uint8_t* out = job.row.data();
            for (std::size_t x = 0; x < w; ++x) {
                out[2 * x] = static_cast<uint8_t>(p[x] >> 8);
                out[2 * x + 1] = static_cast<uint8_t>(p[x]);
            }
            png_write_row(png, out);
        }
    }
    png_write_end(png, nullptr);
    return true;
}

}  // namespace

Raster readPng(const std::string& path, std::FILE* file, const ReadOptions& options) {
    PngJob job;
    png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, &job, pngError, pngWarning);
    if (!png) throw InputError(path + ": out of memory");
    png_infop info = png_create_info_struct(png);
    bool ok = info && readCore(png, info, file, job);
    png_destroy_read_struct(&png, info ? &info : nullptr, nullptr);
    if (job.tooLarge) throw InputError(path + ": image too large");
    if (!ok) throw InputError(path + ": corrupt PNG (" + (job.message[0] ? job.message : "unreadable") + ")");
    checkDimensions(path, static_cast<uint64_t>(job.samples.width), static_cast<uint64_t>(job.samples.height));
    if (job.greyPalette) {
        Samples& s = job.samples;
        for (std::size_t i = 0; i < s.bytes8.size() / 3; ++i) s.bytes8[i] = s.bytes8[3 * i];
        s.bytes8.resize(s.bytes8.size() / 3);
        s.channels = 1;
    }
    return finish(path, std::move(job.samples), options);
}

bool writePng(std::FILE* file, const Raster& r, const WriteOptions& options) {
    PngJob job;
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, &job, pngError, pngWarning);
    png_infop info = png ? png_create_info_struct(png) : nullptr;
    bool ok = info && writeCore(png, info, file, r, options.pngLevel, job);
    png_destroy_write_struct(&png, info ? &info : nullptr);
    return ok;
}

}  // namespace kipf::io
