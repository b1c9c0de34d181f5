// kipf's image readers (PNG, PGM/PPM, TIFF when built with it) on arbitrary file contents: a
// read either throws InputError or gives a consistent raster, which then survives a write and a
// read back as PGM and PNG.
#include <unistd.h>

#include <cstdio>
#include <string>

#include "image_io.hpp"

namespace {

std::string scratchPath(const char* ext) { return "/tmp/kip_readers_fuzz_" + std::to_string(::getpid()) + ext; }

bool put(const std::string& path, const uint8_t* data, size_t size) {
    std::FILE* f = std::fopen(path.c_str(), "wb");
    if (!f) return false;
    const bool ok = std::fwrite(data, 1, size, f) == size;
    return std::fclose(f) == 0 && ok;
}

void check(bool ok, const char* what) {
    if (ok) return;
    std::fprintf(stderr, "check failed: %s\n", what);
    std::abort();
}

void checkRaster(const kipf::Raster& r) {
    check(r.width > 0 && r.height > 0, "raster size");
    check(r.bits == 8 || r.bits == 16, "raster depth");
    check(r.bits == 8 ? r.grey8.size() == r.pixels() && r.grey16.empty()
                      : r.grey16.size() == r.pixels() && r.grey8.empty(),
          "raster pixel count");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    // The first byte chooses the options; the rest is the file.
    kipf::ReadOptions options;
    options.toGrey = data[0] & 1;
    const std::string path = scratchPath(".img");
    check(put(path, data + 1, size - 1), "writing the input file");
    kipf::Raster raster;
    try {
        raster = kipf::readImage(path, options);
    } catch (const kipf::InputError&) {
        return 0;
    }
    checkRaster(raster);
    // Small rasters go round through both writers.
    if (raster.pixels() <= 1 << 16) {
        for (const char* ext : {".pgm", ".png"}) {
            const std::string out = scratchPath(ext);
            kipf::writeImage(out, raster);
            const kipf::Raster back = kipf::readImage(out);
            check(back.width == raster.width && back.height == raster.height && back.bits == raster.bits &&
                      back.grey8 == raster.grey8 && back.grey16 == raster.grey16,
                  "write and read back");
            std::remove(out.c_str());
        }
    }
    return 0;
}
