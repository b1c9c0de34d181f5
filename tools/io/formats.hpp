// What the per-format readers and writers share; image_io.cpp picks the format.
#pragma once

#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "image_io.hpp"

namespace kipf::io {

// Larger files are refused rather than risk an allocation a crafted header asks for.
constexpr uint64_t kMaxPixels = uint64_t{1} << 28;

// "path: what: strerror(errno)".
std::string systemError(const std::string& path, const char* what);
void checkDimensions(const std::string& path, uint64_t width, uint64_t height);

struct FileCloser {
    void operator()(std::FILE* f) const { std::fclose(f); }
};
using File = std::unique_ptr<std::FILE, FileCloser>;

// Interleaved samples as read from a file, before the grey check.
struct Samples {
    int32_t width = 0;
    int32_t height = 0;
    int bits = 8;
    int channels = 1;  // 1 grey, 2 grey + alpha, 3 RGB, 4 RGBA
    std::vector<uint8_t> bytes8;
    std::vector<uint16_t> bytes16;
};

// Grey samples become the raster; others are refused unless options ask for conversion.
Raster finish(const std::string& path, Samples&& samples, const ReadOptions& options);

Raster readPng(const std::string& path, std::FILE* file, const ReadOptions& options);
bool writePng(std::FILE* file, const Raster& raster, const WriteOptions& options);

Raster readPnm(const std::string& path, std::FILE* file, const ReadOptions& options);
bool writePgm(std::FILE* file, const Raster& raster);

#ifdef KIPF_HAVE_TIFF
Raster readTiff(const std::string& path, const ReadOptions& options, std::vector<std::string>* notes);
// Takes over fd. On failure, message says why (the system's reason where there is one).
bool writeTiff(int fd, const std::string& path, const Raster& raster, std::string& message);
#endif

}  // namespace kipf::io
