#include "sheet.hpp"

#include <algorithm>
#include <cctype>
#include <cmath>

namespace kipf {
namespace {

// 3x5 capitals and digits, rows top to bottom, '#' inked.
struct Glyph {
    char c;
    const char* rows;
};
constexpr Glyph kFont[] = {
    {'A', ".#.#.#####.##.#"}, {'B', "##.#.###.#.###."}, {'C', ".###..#..#...##"}, {'D', "##.#.##.##.###."},
    {'E', "####..##.#..###"}, {'F', "####..##.#..#.."}, {'G', ".###..#.##.#.##"}, {'H', "#.##.#####.##.#"},
    {'I', "###.#..#..#.###"}, {'J', "..#..#..##.#.#."}, {'K', "#.##.###.#.##.#"}, {'L', "#..#..#..#..###"},
    {'M', "#.########.##.#"}, {'N', "##.#.##.##.##.#"}, {'O', ".#.#.##.##.#.#."}, {'P', "##.#.###.#..#.."},
    {'Q', ".#.#.##.###..##"}, {'R', "##.#.###.#.##.#"}, {'S', ".###...#...###."}, {'T', "###.#..#..#..#."},
    {'U', "#.##.##.##.####"}, {'V', "#.##.##.##.#.#."}, {'W', "#.##.########.#"}, {'X', "#.##.#.#.#.##.#"},
    {'Y', "#.##.#.#..#..#."}, {'Z', "###..#.#.#..###"}, {'0', "####.##.##.####"}, {'1', ".#.##..#..#.###"},
    {'2', "##...#.#.#..###"}, {'3', "##...#.#...###."}, {'4', "#.##.####..#..#"}, {'5', "####..##...###."},
    {'6', ".###..####.####"}, {'7', "###..#.#..#..#."}, {'8', "####.#####.####"}, {'9', "####.####..###."},
    {'-', "......###......"}, {'.', ".............#."}, {'/', "..#..#.#.#..#.."}, {'(', ".#.#..#..#...#."},
    {')', ".#...#..#..#.#."}, {'+', "....#.###.#...."},
};

const char* glyphRows(char c) {
    c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    for (const Glyph& g : kFont)
        if (g.c == c) return g.rows;
    return nullptr;
}

void put(Raster& sheet, int32_t x, int32_t y, uint8_t value) {
    if (x >= 0 && y >= 0 && x < sheet.width && y < sheet.height)
        sheet.grey8[static_cast<std::size_t>(y) * static_cast<std::size_t>(sheet.width) + static_cast<std::size_t>(x)] =
            value;
}

// Text at scale 2: each character cell is 8 pixels wide.
void drawText(Raster& sheet, int32_t x, int32_t y, const std::string& text, int32_t maxWidth) {
    for (std::size_t n = 0; n < text.size() && static_cast<int32_t>(n + 1) * 8 <= maxWidth; ++n) {
        const char* rows = glyphRows(text[n]);
        if (!rows) continue;
        for (std::size_t i = 0; i < 15; ++i)
            if (rows[i] == '#')
                for (int dy = 0; dy < 2; ++dy)
                    for (int dx = 0; dx < 2; ++dx)
                        put(sheet, x + static_cast<int32_t>(n) * 8 + static_cast<int32_t>(i % 3) * 2 + dx,
                            y + static_cast<int32_t>(i / 3) * 2 + dy, 255);
    }
}

}  // namespace

Detail busiestDetail(const Raster& im, int32_t width, int32_t height) {
    Detail best{0, 0, std::min(width, im.width), std::min(height, im.height)};
    double bestVariance = -1;
    for (int32_t j = 0; j <= 8; ++j)
        for (int32_t i = 0; i <= 8; ++i) {
            Detail d = best;
            d.x = (im.width - d.width) * i / 8;
            d.y = (im.height - d.height) * j / 8;
            double sum = 0, squares = 0;
            for (int32_t y = d.y; y < d.y + d.height; y += 2)
                for (int32_t x = d.x; x < d.x + d.width; x += 2) {
                    double v = im.grey8[static_cast<std::size_t>(y) * static_cast<std::size_t>(im.width) +
                                        static_cast<std::size_t>(x)];
                    sum += v;
                    squares += v * v;
                }
            double n = std::max(1.0, std::ceil(d.width / 2.0) * std::ceil(d.height / 2.0));
            double variance = squares / n - (sum / n) * (sum / n);
            if (variance > bestVariance) {
                bestVariance = variance;
                best = d;
            }
        }
    return best;
}

Raster contactSheet(const std::vector<Tile>& tiles, const Detail& detail, int32_t tileWidth, int columns) {
    constexpr int32_t gap = 6, caption = 16;
    auto shrunkHeight = [&](const Raster& im) {
        return static_cast<int32_t>(int64_t{im.height} * tileWidth / std::max(1, im.width));
    };
    int32_t tileHeight = detail.height;
    for (const Tile& t : tiles)
        if (t.whole) tileHeight = std::max(tileHeight, shrunkHeight(*t.image));
    int rows =
        static_cast<int>((tiles.size() + static_cast<std::size_t>(columns) - 1) / static_cast<std::size_t>(columns));
    Raster sheet = Raster::make(gap + columns * (tileWidth + gap), gap + rows * (tileHeight + caption + gap), 8);
    std::fill(sheet.grey8.begin(), sheet.grey8.end(), uint8_t{40});
    auto pixel = [](const Raster& im, int32_t x, int32_t y) {
        return im.grey8[static_cast<std::size_t>(y) * static_cast<std::size_t>(im.width) + static_cast<std::size_t>(x)];
    };

    for (std::size_t n = 0; n < tiles.size(); ++n) {
        const Raster& im = *tiles[n].image;
        int32_t ox = gap + static_cast<int32_t>(n % static_cast<std::size_t>(columns)) * (tileWidth + gap);
        int32_t oy = gap + static_cast<int32_t>(n / static_cast<std::size_t>(columns)) * (tileHeight + caption + gap);
        if (tiles[n].whole) {
            int32_t h = shrunkHeight(im);
            // Box average over the source pixels each thumbnail pixel covers.
            for (int32_t ty = 0; ty < h; ++ty)
                for (int32_t tx = 0; tx < tileWidth; ++tx) {
                    int32_t x0 = static_cast<int32_t>(int64_t{tx} * im.width / tileWidth);
                    int32_t x1 = std::max(x0 + 1, static_cast<int32_t>(int64_t{tx + 1} * im.width / tileWidth));
                    int32_t y0 = static_cast<int32_t>(int64_t{ty} * im.height / h);
                    int32_t y1 = std::max(y0 + 1, static_cast<int32_t>(int64_t{ty + 1} * im.height / h));
                    uint64_t sum = 0;
                    for (int32_t y = y0; y < y1; ++y)
                        for (int32_t x = x0; x < x1; ++x) sum += pixel(im, x, y);
                    put(sheet, ox + tx, oy + ty,
                        static_cast<uint8_t>(sum / static_cast<uint64_t>((x1 - x0) * (y1 - y0))));
                }
            // Where the detail tiles come from.
            auto sx = [&](int32_t x) { return ox + static_cast<int32_t>(int64_t{x} * tileWidth / im.width); };
            auto sy = [&](int32_t y) { return oy + static_cast<int32_t>(int64_t{y} * h / std::max(1, im.height)); };
            for (int32_t x = sx(detail.x); x <= sx(detail.x + detail.width); ++x) {
                put(sheet, x, sy(detail.y), 255);
                put(sheet, x, sy(detail.y + detail.height), 255);
            }
            for (int32_t y = sy(detail.y); y <= sy(detail.y + detail.height); ++y) {
                put(sheet, sx(detail.x), y, 255);
                put(sheet, sx(detail.x + detail.width), y, 255);
            }
        } else {
            for (int32_t y = 0; y < detail.height && detail.y + y < im.height; ++y)
                for (int32_t x = 0; x < std::min(detail.width, tileWidth) && detail.x + x < im.width; ++x)
                    put(sheet, ox + x, oy + y, pixel(im, detail.x + x, detail.y + y));
        }
        drawText(sheet, ox, oy + tileHeight + 3, tiles[n].label, tileWidth);
    }
    return sheet;
}

}  // namespace kipf
