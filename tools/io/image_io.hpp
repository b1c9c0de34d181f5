// Grey image files for kipf: PNG (libpng), binary PGM, and TIFF when libtiff was found.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

namespace kipf {

// A failure to blame on a file or its content: exit status 1.
struct InputError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// Grey pixels, row by row without padding: 8-bit in grey8, 16-bit (native order) in grey16.
struct Raster {
    int32_t width = 0;
    int32_t height = 0;
    int bits = 8;
    std::vector<uint8_t> grey8;
    std::vector<uint16_t> grey16;

    static Raster make(int32_t width, int32_t height, int bits);
    std::size_t pixels() const { return static_cast<std::size_t>(width) * static_cast<std::size_t>(height); }
    bool sameSize(const Raster& other) const { return width == other.width && height == other.height; }
};

enum class FileFormat { png, pgm, tiff };

struct ReadOptions {
    // Convert colour to grey (Rec. 601 luma) and drop alpha instead of refusing the file.
    bool toGrey = false;
};

struct WriteOptions {
    // zlib level of PNG output. 1 with the Sub row filter is close to the speed of writing raw
    // pixels and still shrinks photographs by a third; higher levels pay several times that.
    int pngLevel = 1;
};

// Reads a PNG, PGM (P5) or TIFF file, recognised by its first bytes. Throws InputError with a
// one-line message that starts with the path. Notes about the file that do not stop it (a TIFF
// with several pages) are appended to notes, one line each, when notes is given.
Raster readImage(const std::string& path, const ReadOptions& options = {}, std::vector<std::string>* notes = nullptr);

// The format an output path asks for by its extension; false when it is not one we write.
bool formatForPath(const std::string& path, FileFormat& format);
bool tiffSupported();
const char* formatExtension(FileFormat format);

// Writes through a temporary file in the same folder that is renamed over path only when the
// whole image was written, so a failure never leaves a partial file. Throws InputError.
void writeImage(const std::string& path, const Raster& raster, const WriteOptions& options = {});

// From now on SIGINT, SIGTERM and SIGHUP remove the temporary file of a write in progress before
// the process ends by the signal as it would have (the shell then reports 128 + signal).
void removeTemporaryOnSignals();

}  // namespace kipf
