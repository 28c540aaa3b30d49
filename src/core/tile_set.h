// Rectangle and TileSet2D: the integer rectangle of the system and the grid of
// tiles over which the depth-of-field engine spreads its work.
//
// TileSet2D has no constructor: its owner zero-fills it and calls init before anything else.
// Tile t lies in row t / cols and column t % cols; tiles are width / cols by height / rows
// pixels, the last column and row taking the remainder. Padded tile areas are formed in
// 64 bits (32-bit products overflow for large margins or images).
#pragma once

#include <cstdint>
#include <ostream>

namespace ov {

// left, right, top, bottom; right and bottom exclusive for areas. As a margin (overflow)
// left and top are usually negative: total width right - left, height bottom - top.
struct Rectangle {
    int32_t left = 0;
    int32_t right = 0;
    int32_t top = 0;
    int32_t bottom = 0;

    int32_t width() const { return right - left; }
    int32_t height() const { return bottom - top; }
    friend bool operator==(const Rectangle&, const Rectangle&) = default;
};

// "(Rectangle - left: L, right: R, top: T, bottom: B)", no line end.
std::ostream& operator<<(std::ostream& os, const Rectangle& r);

struct TileSet2D {
    int32_t rows;
    int32_t cols;
    int32_t width;
    int32_t height;
    int32_t cpus;
    Rectangle overflow;

    // Chooses the grid (minimum mean padded tile area over rows x floor(cpus / rows)), then
    // avoids tiles narrower or lower than 4 pixels. Logs its arguments and the choice.
    void init(int32_t width_, int32_t height_, const Rectangle& overflow_, int32_t cpus_);
    // Tile t's rectangle (without the overflow).
    Rectangle tile(int32_t t) const;
    // Splits the longer tile side once while it is over 4 pixels; then adds columns (rows)
    // until there are width / 4 (height / 4) of them. 1 when a row or column was added, 0 on
    // the finest grid (4-pixel tiles, the last column and row taking a rest of up to 7 pixels),
    // where nothing changes.
    int32_t increase();
    // The first tile of largest area (tile 0 when every area is 0).
    Rectangle largest_tile() const;
    int32_t count() const { return rows * cols; }
};

}  // namespace ov
