#include "image_io.hpp"

#include <fcntl.h>
#include <png.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <bit>
#include <cerrno>
#include <csetjmp>
#include <cstdio>
#include <cstring>
#include <memory>

#ifdef KIPF_HAVE_TIFF
#include <tiffio.h>

#include <cstdarg>
#endif

namespace kipf {
namespace {

// Larger files are refused rather than risk an allocation a crafted header asks for.
constexpr uint64_t kMaxPixels = uint64_t{1} << 28;

std::string systemError(const std::string& path, const char* what) {
    return path + ": " + what + ": " + std::strerror(errno);
}

void checkDimensions(const std::string& path, uint64_t width, uint64_t height) {
    if (width == 0 || height == 0) throw InputError(path + ": image has no pixels");
    if (width > 0x7FFFFFFF || height > 0x7FFFFFFF || width * height > kMaxPixels)
        throw InputError(path + ": image too large (" + std::to_string(width) + "x" + std::to_string(height) + ")");
}

struct FileCloser {
    void operator()(std::FILE* f) const { std::fclose(f); }
};
using File = std::unique_ptr<std::FILE, FileCloser>;

File openForReading(const std::string& path) {
    File f(std::fopen(path.c_str(), "rb"));
    if (!f) throw InputError(systemError(path, "cannot open"));
    struct stat st;
    if (fstat(fileno(f.get()), &st) == 0 && S_ISDIR(st.st_mode)) throw InputError(path + ": is a folder, not an image");
    return f;
}

// Interleaved samples as read from a file, before the grey check.
struct Samples {
    int32_t width = 0;
    int32_t height = 0;
    int bits = 8;
    int channels = 1;  // 1 grey, 2 grey + alpha, 3 RGB, 4 RGBA
    std::vector<uint8_t> bytes8;
    std::vector<uint16_t> bytes16;
};

const char* describeChannels(int channels) {
    switch (channels) {
        case 2:
            return "grey with an alpha channel";
        case 3:
            return "colour (RGB)";
        default:
            return "colour (RGB with alpha)";
    }
}

template <class T>
void toGrey(const std::vector<T>& in, int channels, std::vector<T>& out) {
    std::size_t n = in.size() / static_cast<std::size_t>(channels);
    out.resize(n);
    for (std::size_t i = 0; i < n; ++i) {
        const T* p = &in[i * static_cast<std::size_t>(channels)];
        if (channels < 3) {
            out[i] = p[0];
        } else {
            // Rec. 601 luma, rounded.
            uint64_t y = (299u * uint64_t{p[0]} + 587u * uint64_t{p[1]} + 114u * uint64_t{p[2]} + 500u) / 1000u;
            out[i] = static_cast<T>(y);
        }
    }
}

Raster finish(const std::string& path, Samples&& s, const ReadOptions& options) {
    if (s.channels != 1 && !options.toGrey)
        throw InputError(path + ": " + describeChannels(s.channels) +
                         " image; kipf filters grey images (pass --grey to convert it)");
    Raster r;
    r.width = s.width;
    r.height = s.height;
    r.bits = s.bits;
    if (s.bits == 8) {
        if (s.channels == 1)
            r.grey8 = std::move(s.bytes8);
        else
            toGrey(s.bytes8, s.channels, r.grey8);
    } else {
        if (s.channels == 1)
            r.grey16 = std::move(s.bytes16);
        else
            toGrey(s.bytes16, s.channels, r.grey16);
    }
    return r;
}

// ---- PNG ---------------------------------------------------------------------------------------

// libpng reports errors by longjmp: every C++ object that lives across png calls sits in the
// caller's frame (PngJob), so the jump skips no destructor.
struct PngJob {
    char message[200] = {};
    bool tooLarge = false;
    Samples samples;
    std::vector<png_bytep> rows;
};

void pngError(png_structp png, png_const_charp message) {
    auto* job = static_cast<PngJob*>(png_get_error_ptr(png));
    std::snprintf(job->message, sizeof job->message, "%s", message);
    png_longjmp(png, 1);
}

void pngWarning(png_structp, png_const_charp) {}

bool readPngCore(png_structp png, png_infop info, std::FILE* file, PngJob& job) {
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
    if (type == PNG_COLOR_TYPE_PALETTE) png_set_palette_to_rgb(png);
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

Raster readPng(const std::string& path, std::FILE* file, const ReadOptions& options) {
    PngJob job;
    png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, &job, pngError, pngWarning);
    if (!png) throw InputError(path + ": out of memory");
    png_infop info = png_create_info_struct(png);
    bool ok = info && readPngCore(png, info, file, job);
    png_destroy_read_struct(&png, info ? &info : nullptr, nullptr);
    if (job.tooLarge) throw InputError(path + ": image too large");
    if (!ok) throw InputError(path + ": corrupt PNG (" + (job.message[0] ? job.message : "unreadable") + ")");
    checkDimensions(path, static_cast<uint64_t>(job.samples.width), static_cast<uint64_t>(job.samples.height));
    return finish(path, std::move(job.samples), options);
}

bool writePngCore(png_structp png, png_infop info, std::FILE* file, const Raster& r, PngJob& job) {
    if (setjmp(png_jmpbuf(png))) return false;
    png_init_io(png, file);
    png_set_IHDR(png, info, static_cast<png_uint_32>(r.width), static_cast<png_uint_32>(r.height), r.bits,
                 PNG_COLOR_TYPE_GRAY, PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    png_write_info(png, info);
    if (r.bits == 16 && std::endian::native == std::endian::little) png_set_swap(png);
    png_write_image(png, job.rows.data());
    png_write_end(png, nullptr);
    return true;
}

// ---- PGM ---------------------------------------------------------------------------------------

struct PnmHeader {
    char kind = 0;
    uint64_t width = 0, height = 0, maxval = 0;
    std::size_t dataOffset = 0;
};

bool pnmNumber(const std::vector<uint8_t>& bytes, std::size_t& at, uint64_t& value) {
    for (;;) {
        while (at < bytes.size() && std::strchr(" \t\r\n\v\f", bytes[at]) && bytes[at] != 0) ++at;
        if (at < bytes.size() && bytes[at] == '#') {
            while (at < bytes.size() && bytes[at] != '\n') ++at;
            continue;
        }
        break;
    }
    if (at >= bytes.size() || bytes[at] < '0' || bytes[at] > '9') return false;
    value = 0;
    while (at < bytes.size() && bytes[at] >= '0' && bytes[at] <= '9') {
        value = value * 10 + (bytes[at] - '0');
        if (value > 0xFFFFFFFFull) return false;
        ++at;
    }
    return true;
}

Raster readPnm(const std::string& path, std::FILE* file, const ReadOptions& options) {
    std::vector<uint8_t> bytes;
    uint8_t chunk[65536];
    std::size_t got;
    while ((got = std::fread(chunk, 1, sizeof chunk, file)) > 0) bytes.insert(bytes.end(), chunk, chunk + got);
    if (std::ferror(file)) throw InputError(systemError(path, "cannot read"));
    if (bytes.size() < 2) throw InputError(path + ": corrupt PGM header");

    char kind = static_cast<char>(bytes[1]);
    if (kind == '2' || kind == '3') throw InputError(path + ": plain (text) PNM is not supported, only binary P5/P6");
    if (kind != '5' && kind != '6')
        throw InputError(path + ": PNM type P" + kind + " is not supported, only P5 (and P6)");
    PnmHeader h;
    std::size_t at = 2;
    if (!pnmNumber(bytes, at, h.width) || !pnmNumber(bytes, at, h.height) || !pnmNumber(bytes, at, h.maxval) ||
        at >= bytes.size())
        throw InputError(path + ": corrupt PGM header");
    ++at;  // exactly one whitespace byte before the pixels
    if (h.maxval == 0 || h.maxval > 65535)
        throw InputError(path + ": corrupt PGM header (maxval " + std::to_string(h.maxval) + ")");
    checkDimensions(path, h.width, h.height);

    Samples s;
    s.width = static_cast<int32_t>(h.width);
    s.height = static_cast<int32_t>(h.height);
    s.bits = h.maxval > 255 ? 16 : 8;
    s.channels = kind == '6' ? 3 : 1;
    std::size_t count = static_cast<std::size_t>(h.width * h.height) * static_cast<std::size_t>(s.channels);
    std::size_t need = count * (s.bits / 8);
    std::size_t have = bytes.size() - at;
    if (have < need)
        throw InputError(path + ": truncated PGM data (" + std::to_string(need) + " bytes of pixels expected, " +
                         std::to_string(have) + " found)");
    if (s.bits == 8) {
        s.bytes8.assign(bytes.begin() + static_cast<std::ptrdiff_t>(at),
                        bytes.begin() + static_cast<std::ptrdiff_t>(at + need));
    } else {
        s.bytes16.resize(count);
        for (std::size_t i = 0; i < count; ++i)
            s.bytes16[i] = static_cast<uint16_t>(bytes[at + 2 * i] << 8 | bytes[at + 2 * i + 1]);
    }
    return finish(path, std::move(s), options);
}

bool writePgm(std::FILE* file, const Raster& r) {
    if (std::fprintf(file, "P5\n%d %d\n%d\n", r.width, r.height, r.bits == 8 ? 255 : 65535) < 0) return false;
    if (r.bits == 8) return std::fwrite(r.grey8.data(), 1, r.grey8.size(), file) == r.grey8.size();
    std::vector<uint8_t> row(static_cast<std::size_t>(r.width) * 2);
    for (int32_t y = 0; y < r.height; ++y) {
        const uint16_t* p = &r.grey16[static_cast<std::size_t>(y) * static_cast<std::size_t>(r.width)];
        for (int32_t x = 0; x < r.width; ++x) {
            row[2 * static_cast<std::size_t>(x)] = static_cast<uint8_t>(p[x] >> 8);
            row[2 * static_cast<std::size_t>(x) + 1] = static_cast<uint8_t>(p[x] & 0xFF);
        }
        if (std::fwrite(row.data(), 1, row.size(), file) != row.size()) return false;
    }
    return true;
}

// ---- TIFF --------------------------------------------------------------------------------------

#ifdef KIPF_HAVE_TIFF
// libtiff reports through a process-wide handler; kipf reads one file at a time.
char gTiffMessage[200];

void tiffError(const char*, const char* format, va_list args) {
    std::vsnprintf(gTiffMessage, sizeof gTiffMessage, format, args);
}

struct TiffCloser {
    void operator()(TIFF* t) const { TIFFClose(t); }
};
using Tiff = std::unique_ptr<TIFF, TiffCloser>;

void installTiffHandlers() {
    TIFFSetErrorHandler(tiffError);
    TIFFSetWarningHandler(nullptr);
    gTiffMessage[0] = 0;
}

InputError tiffFailure(const std::string& path, const char* what) {
    return InputError(path + ": " + what + (gTiffMessage[0] ? std::string(" (") + gTiffMessage + ")" : std::string()));
}

Raster readTiff(const std::string& path, const ReadOptions& options) {
    installTiffHandlers();
    Tiff t(TIFFOpen(path.c_str(), "r"));
    if (!t) throw tiffFailure(path, "corrupt TIFF");
    uint32_t width = 0, height = 0;
    uint16_t bits = 1, channels = 1, photometric = PHOTOMETRIC_MINISBLACK, planar = PLANARCONFIG_CONTIG,
             format = SAMPLEFORMAT_UINT;
    TIFFGetField(t.get(), TIFFTAG_IMAGEWIDTH, &width);
    TIFFGetField(t.get(), TIFFTAG_IMAGELENGTH, &height);
    TIFFGetFieldDefaulted(t.get(), TIFFTAG_BITSPERSAMPLE, &bits);
    TIFFGetFieldDefaulted(t.get(), TIFFTAG_SAMPLESPERPIXEL, &channels);
    TIFFGetFieldDefaulted(t.get(), TIFFTAG_PLANARCONFIG, &planar);
    TIFFGetFieldDefaulted(t.get(), TIFFTAG_SAMPLEFORMAT, &format);
    if (!TIFFGetField(t.get(), TIFFTAG_PHOTOMETRIC, &photometric)) photometric = PHOTOMETRIC_MINISBLACK;
    checkDimensions(path, width, height);
    if (bits != 8 && bits != 16)
        throw InputError(path + ": " + std::to_string(bits) + "-bit TIFF is not supported, only 8 and 16 bit");
    if (format != SAMPLEFORMAT_UINT) throw InputError(path + ": TIFF samples are not unsigned integers");
    if (TIFFIsTiled(t.get())) throw InputError(path + ": tiled TIFF is not supported");
    if (channels > 1 && planar != PLANARCONFIG_CONTIG) throw InputError(path + ": planar TIFF is not supported");
    if (photometric == PHOTOMETRIC_PALETTE) throw InputError(path + ": palette TIFF is not supported");
    if (channels < 1 || channels > 4)
        throw InputError(path + ": TIFF with " + std::to_string(channels) + " samples per pixel is not supported");

    Samples s;
    s.width = static_cast<int32_t>(width);
    s.height = static_cast<int32_t>(height);
    s.bits = bits;
    s.channels = channels;
    std::size_t rowSamples = std::size_t{width} * channels;
    if (static_cast<std::size_t>(TIFFScanlineSize(t.get())) != rowSamples * (bits / 8u))
        throw InputError(path + ": unexpected TIFF row layout");
    if (bits == 8)
        s.bytes8.resize(rowSamples * height);
    else
        s.bytes16.resize(rowSamples * height);
    for (uint32_t y = 0; y < height; ++y) {
        void* row =
            bits == 8 ? static_cast<void*>(&s.bytes8[y * rowSamples]) : static_cast<void*>(&s.bytes16[y * rowSamples]);
        if (TIFFReadScanline(t.get(), row, y, 0) < 0) throw tiffFailure(path, "corrupt TIFF");
    }
    if (photometric == PHOTOMETRIC_MINISWHITE && channels == 1) {
        for (auto& v : s.bytes8) v = static_cast<uint8_t>(255 - v);
        for (auto& v : s.bytes16) v = static_cast<uint16_t>(65535 - v);
    }
    return finish(path, std::move(s), options);
}

// Takes over fd, which TIFFClose closes.
bool writeTiff(int fd, const std::string& path, const Raster& r) {
    installTiffHandlers();
    Tiff t(TIFFFdOpen(fd, path.c_str(), "w"));
    if (!t) {
        ::close(fd);
        return false;
    }
    TIFFSetField(t.get(), TIFFTAG_IMAGEWIDTH, static_cast<uint32_t>(r.width));
    TIFFSetField(t.get(), TIFFTAG_IMAGELENGTH, static_cast<uint32_t>(r.height));
    TIFFSetField(t.get(), TIFFTAG_BITSPERSAMPLE, static_cast<uint16_t>(r.bits));
    TIFFSetField(t.get(), TIFFTAG_SAMPLESPERPIXEL, uint16_t{1});
    TIFFSetField(t.get(), TIFFTAG_PHOTOMETRIC, uint16_t{PHOTOMETRIC_MINISBLACK});
    TIFFSetField(t.get(), TIFFTAG_PLANARCONFIG, uint16_t{PLANARCONFIG_CONTIG});
    TIFFSetField(t.get(), TIFFTAG_COMPRESSION, uint16_t{COMPRESSION_NONE});
    TIFFSetField(t.get(), TIFFTAG_ROWSPERSTRIP, TIFFDefaultStripSize(t.get(), 0));
    std::size_t w = static_cast<std::size_t>(r.width);
    std::vector<uint8_t> row8(r.bits == 8 ? w : 0);
    std::vector<uint16_t> row16(r.bits == 16 ? w : 0);
    for (int32_t y = 0; y < r.height; ++y) {
        std::size_t from = static_cast<std::size_t>(y) * w;
        void* row;
        if (r.bits == 8) {
            std::copy_n(&r.grey8[from], w, row8.begin());
            row = row8.data();
        } else {
            std::copy_n(&r.grey16[from], w, row16.begin());
            row = row16.data();
        }
        if (TIFFWriteScanline(t.get(), row, static_cast<uint32_t>(y), 0) < 0) return false;
    }
    return TIFFFlush(t.get()) == 1;
}
#endif

// ---- Writing through a temporary ----------------------------------------------------------------

class PendingFile {
public:
    explicit PendingFile(const std::string& path) : path_(path) {
        std::size_t slash = path.find_last_of('/');
        std::string folder = slash == std::string::npos ? std::string(".") : path.substr(0, slash + 1);
        std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
        if (name.empty()) throw InputError(path + ": cannot write: no file name");
        temp_ = folder + (slash == std::string::npos ? "/." : ".") + name + ".kipf-XXXXXX";
        std::vector<char> buffer(temp_.begin(), temp_.end());
        buffer.push_back(0);
        fd_ = mkstemp(buffer.data());
        if (fd_ < 0) throw InputError(systemError(path, "cannot write"));
        temp_ = buffer.data();
        // mkstemp makes the file private; give it the permissions a plain create would.
        mode_t mask = umask(0);
        umask(mask);
        fchmod(fd_, 0666 & ~mask);
    }
    ~PendingFile() {
        if (fd_ >= 0) ::close(fd_);
        if (!committed_) ::unlink(temp_.c_str());
    }
    PendingFile(const PendingFile&) = delete;
    PendingFile& operator=(const PendingFile&) = delete;

    // The descriptor for a stream or library that will close it.
    int release() {
        int fd = fd_;
        fd_ = -1;
        return fd;
    }
    void commit() {
        if (std::rename(temp_.c_str(), path_.c_str()) != 0) throw InputError(systemError(path_, "cannot write"));
        committed_ = true;
    }

private:
    std::string path_;
    std::string temp_;
    int fd_ = -1;
    bool committed_ = false;
};

}  // namespace

Raster Raster::make(int32_t width, int32_t height, int bits) {
    Raster r;
    r.width = width;
    r.height = height;
    r.bits = bits;
    if (bits == 8)
        r.grey8.assign(r.pixels(), 0);
    else
        r.grey16.assign(r.pixels(), 0);
    return r;
}

Raster readImage(const std::string& path, const ReadOptions& options) {
    File file = openForReading(path);
    uint8_t magic[8] = {};
    std::size_t got = std::fread(magic, 1, sizeof magic, file.get());
    if (std::ferror(file.get())) throw InputError(systemError(path, "cannot read"));
    if (got == 0) throw InputError(path + ": empty file");
    std::rewind(file.get());
    if (got == 8 && png_sig_cmp(magic, 0, 8) == 0) return readPng(path, file.get(), options);
    if (got >= 2 && magic[0] == 'P' && magic[1] >= '1' && magic[1] <= '7') return readPnm(path, file.get(), options);
    bool tiff =
        got >= 4 && ((magic[0] == 'I' && magic[1] == 'I' && (magic[2] == 42 || magic[2] == 43) && magic[3] == 0) ||
                     (magic[0] == 'M' && magic[1] == 'M' && magic[2] == 0 && (magic[3] == 42 || magic[3] == 43)));
    if (tiff) {
#ifdef KIPF_HAVE_TIFF
        file.reset();
        return readTiff(path, options);
#else
        throw InputError(path + ": TIFF file, but this kipf was built without libtiff");
#endif
    }
    throw InputError(path + ": not a PNG, PGM or TIFF file");
}

bool formatForPath(const std::string& path, FileFormat& format) {
    std::size_t dot = path.find_last_of('.');
    std::size_t slash = path.find_last_of('/');
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return false;
    std::string ext = path.substr(dot + 1);
    for (char& c : ext) c = static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
    if (ext == "png")
        format = FileFormat::png;
    else if (ext == "pgm" || ext == "pnm")
        format = FileFormat::pgm;
    else if (ext == "tif" || ext == "tiff")
        format = FileFormat::tiff;
    else
        return false;
    return true;
}

bool tiffSupported() {
#ifdef KIPF_HAVE_TIFF
    return true;
#else
    return false;
#endif
}

const char* formatExtension(FileFormat format) {
    switch (format) {
        case FileFormat::png:
            return ".png";
        case FileFormat::pgm:
            return ".pgm";
        default:
            return ".tif";
    }
}

void writeImage(const std::string& path, const Raster& r) {
    FileFormat format;
    if (!formatForPath(path, format)) throw InputError(path + ": unknown output format (use .png, .pgm or .tif)");
    if (r.width <= 0 || r.height <= 0) throw InputError(path + ": the result has no pixels");
    PendingFile pending(path);
    if (format == FileFormat::tiff) {
#ifdef KIPF_HAVE_TIFF
        if (!writeTiff(pending.release(), path, r)) throw tiffFailure(path, "cannot write TIFF");
        pending.commit();
        return;
#else
        throw InputError(path + ": TIFF output needs libtiff, which this kipf was built without");
#endif
    }
    int fd = pending.release();
    File file(fdopen(fd, "wb"));
    if (!file) {
        ::close(fd);
        throw InputError(systemError(path, "cannot write"));
    }
    errno = 0;
    bool ok;
    if (format == FileFormat::pgm) {
        ok = writePgm(file.get(), r);
    } else {
        PngJob job;
        job.rows.resize(static_cast<std::size_t>(r.height));
        for (int32_t y = 0; y < r.height; ++y) {
            std::size_t at = static_cast<std::size_t>(y) * static_cast<std::size_t>(r.width);
            job.rows[static_cast<std::size_t>(y)] =
                r.bits == 8 ? const_cast<png_bytep>(&r.grey8[at])
                            : reinterpret_cast<png_bytep>(const_cast<uint16_t*>(&r.grey16[at]));
        }
        png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, &job, pngError, pngWarning);
        png_infop info = png ? png_create_info_struct(png) : nullptr;
        ok = info && writePngCore(png, info, file.get(), r, job);
        png_destroy_write_struct(&png, info ? &info : nullptr);
    }
    if (!ok || std::fflush(file.get()) != 0 || std::ferror(file.get()) || std::fclose(file.release()) != 0)
        throw InputError(path + ": cannot write: " + (errno ? std::strerror(errno) : "write failed"));
    pending.commit();
}

}  // namespace kipf
