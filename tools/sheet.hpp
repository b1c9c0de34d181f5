// The demo's before/after contact sheet: labelled thumbnails on a grid.
#pragma once

#include <string>
#include <vector>

#include "image_io.hpp"

namespace kipf {

struct Tile {
    std::string label;
    const Raster* image;  // 8-bit
};

// Thumbnails tileWidth pixels wide (box-averaged), columns per row, a caption under each.
Raster contactSheet(const std::vector<Tile>& tiles, int32_t tileWidth, int columns);

}  // namespace kipf
