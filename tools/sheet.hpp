// The demo's before/after contact sheet: labelled thumbnails on a grid.
#pragma once

#include <string>
#include <vector>

#include "image_io.hpp"

namespace kipf {

struct Tile {
    std::string label;
    const Raster* image;  // 8-bit
    bool whole = false;   // the whole image shrunk, instead of the detail at full size
};

struct Detail {
    int32_t x = 0, y = 0, width = 0, height = 0;
};

// The window of the given size where the image varies most: where edges, specks and small
// features are, so that what each filter does to them shows at full size.
Detail busiestDetail(const Raster& image, int32_t width, int32_t height);

// Tiles of tileWidth pixels (whole images box-averaged to that width, details at full size),
// columns per row, a caption under each. The detail's outline is drawn on whole images.
Raster contactSheet(const std::vector<Tile>& tiles, const Detail& detail, int32_t tileWidth, int columns);

}  // namespace kipf
