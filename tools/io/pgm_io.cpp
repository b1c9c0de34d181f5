// Binary PGM (P5; P6 is read for --grey).
#include <cstring>

#include "formats.hpp"

namespace kipf::io {
namespace {

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

}  // namespace

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

}  // namespace kipf::io
