// TIFF through libtiff: single-channel or RGB(A) strips of 8 or 16-bit unsigned samples.
#include <tiffio.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdarg>
#include <cstring>

#include "formats.hpp"

namespace kipf::io {
namespace {

// libtiff reports through a process-wide handler; kipf reads one file at a time. The system's
// reason (a full disk) is kept beside libtiff's own words, which name only the step that failed.
char gTiffMessage[200];
int gTiffErrno = 0;

void tiffError(const char*, const char* format, va_list args) {
    if (gTiffErrno == 0) gTiffErrno = errno;
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
    gTiffErrno = 0;
}

InputError tiffFailure(const std::string& path, const char* what) {
    return InputError(path + ": " + what + (gTiffMessage[0] ? std::string(" (") + gTiffMessage + ")" : std::string()));
}

int countPages(TIFF* t) {
    int pages = 1;
    while (TIFFReadDirectory(t)) ++pages;
    TIFFSetDirectory(t, 0);
    return pages;
}

}  // namespace

Raster readTiff(const std::string& path, const ReadOptions& options, std::vector<std::string>* notes) {
    installTiffHandlers();
    Tiff owner(TIFFOpen(path.c_str(), "r"));
    TIFF* t = owner.get();
    if (!t) throw tiffFailure(path, "corrupt TIFF");
    uint32_t width = 0, height = 0;
    uint16_t bits = 1, channels = 1, photometric = PHOTOMETRIC_MINISBLACK, planar = PLANARCONFIG_CONTIG,
             format = SAMPLEFORMAT_UINT;
    TIFFGetField(t, TIFFTAG_IMAGEWIDTH, &width);
    TIFFGetField(t, TIFFTAG_IMAGELENGTH, &height);
    TIFFGetFieldDefaulted(t, TIFFTAG_BITSPERSAMPLE, &bits);
    TIFFGetFieldDefaulted(t, TIFFTAG_SAMPLESPERPIXEL, &channels);
    TIFFGetFieldDefaulted(t, TIFFTAG_PLANARCONFIG, &planar);
    TIFFGetFieldDefaulted(t, TIFFTAG_SAMPLEFORMAT, &format);
    if (!TIFFGetField(t, TIFFTAG_PHOTOMETRIC, &photometric)) photometric = PHOTOMETRIC_MINISBLACK;
    checkDimensions(path, width, height);
    if (int pages = countPages(t); pages > 1 && notes)
        notes->push_back(path + ": TIFF of " + std::to_string(pages) + " pages; only the first is read");
    if (bits != 8 && bits != 16)
        throw InputError(path + ": " + std::to_string(bits) + "-bit TIFF is not supported, only 8 and 16 bit");
    if (format != SAMPLEFORMAT_UINT) throw InputError(path + ": TIFF samples are not unsigned integers");
    if (TIFFIsTiled(t)) throw InputError(path + ": tiled TIFF is not supported");
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
    if (static_cast<std::size_t>(TIFFScanlineSize(t)) != rowSamples * (bits / 8u))
        throw InputError(path + ": unexpected TIFF row layout");
    if (bits == 8)
        s.bytes8.resize(rowSamples * height);
    else
        s.bytes16.resize(rowSamples * height);
    for (uint32_t y = 0; y < height; ++y) {
        void* row =
            bits == 8 ? static_cast<void*>(&s.bytes8[y * rowSamples]) : static_cast<void*>(&s.bytes16[y * rowSamples]);
        if (TIFFReadScanline(t, row, y, 0) < 0) throw tiffFailure(path, "corrupt TIFF");
    }
    if (photometric == PHOTOMETRIC_MINISWHITE && channels == 1) {
        for (auto& v : s.bytes8) v = static_cast<uint8_t>(255 - v);
        for (auto& v : s.bytes16) v = static_cast<uint16_t>(65535 - v);
    }
    return finish(path, std::move(s), options);
}

namespace {

bool writeTiffCore(TIFF* t, const Raster& r) {
    TIFFSetField(t, TIFFTAG_IMAGEWIDTH, static_cast<uint32_t>(r.width));
    TIFFSetField(t, TIFFTAG_IMAGELENGTH, static_cast<uint32_t>(r.height));
    TIFFSetField(t, TIFFTAG_BITSPERSAMPLE, static_cast<uint16_t>(r.bits));
    TIFFSetField(t, TIFFTAG_SAMPLESPERPIXEL, uint16_t{1});
    TIFFSetField(t, TIFFTAG_PHOTOMETRIC, uint16_t{PHOTOMETRIC_MINISBLACK});
    TIFFSetField(t, TIFFTAG_PLANARCONFIG, uint16_t{PLANARCONFIG_CONTIG});
    TIFFSetField(t, TIFFTAG_COMPRESSION, uint16_t{COMPRESSION_NONE});
    TIFFSetField(t, TIFFTAG_ROWSPERSTRIP, TIFFDefaultStripSize(t, 0));
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
        if (TIFFWriteScanline(t, row, static_cast<uint32_t>(y), 0) < 0) return false;
    }
    return TIFFFlush(t) == 1;
}

}  // namespace

bool writeTiff(int fd, const std::string& path, const Raster& r, std::string& message) {
    installTiffHandlers();
    errno = 0;
    TIFF* t = TIFFFdOpen(fd, path.c_str(), "w");
    bool ok = t && writeTiffCore(t, r);
    if (t)
        TIFFClose(t);
    else
        ::close(fd);
    if (!ok) {
        int cause = gTiffErrno ? gTiffErrno : errno;
        message = cause ? std::strerror(cause) : (gTiffMessage[0] ? gTiffMessage : "write failed");
    }
    return ok;
}
}  // namespace kipf::io
