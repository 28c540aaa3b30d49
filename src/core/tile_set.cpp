// TileSet2D. Divisions are signed and truncate toward zero.
#include "core/tile_set.h"

#include <cfloat>
#include <cstdlib>

#include "core/logger.h"

namespace ov {

std::ostream& operator<<(std::ostream& os, const Rectangle& r) {
    os << "(Rectangle - left: " << r.left << ", right: " << r.right << ", top: " << r.top
       << ", bottom: " << r.bottom << ")";
    return os;
}

namespace {

// Tile geometry for a grid of rows x cols over width x height.
Rectangle tile_of(int32_t t, int32_t rows, int32_t cols, int32_t width, int32_t height) {
    const int32_t row = t / cols;
    const int32_t col = t % cols;
    const int32_t tileW = width / cols;
    const int32_t tileH = height / rows;
    Rectangle r;
    r.left = col * tileW;
    r.right = (col == cols - 1) ? width : (col + 1) * tileW;
    r.top = row * tileH;
    r.bottom = (row == rows - 1) ? height : (row + 1) * tileH;
    return r;
}

}  // namespace

void TileSet2D::init(int32_t width_, int32_t height_, const Rectangle& overflow_, int32_t cpus_) {
    LogTrace("TileSet2D::init (width=", width_, ", height=", height_, ", overflow =", overflow_,
             ", cpus=", cpus_, ")\n");
    LogScope scope;
    width = width_;
    height = height_;
    overflow = overflow_;
    cpus = cpus_;
    rows = 1;
    cols = 1;
    double best = DBL_MAX;
    const int64_t ow = int64_t(overflow.right) - overflow.left;
    const int64_t oh = int64_t(overflow.bottom) - overflow.top;
    for (int32_t r = 1; r <= cpus; ++r) {
        const int32_t c = cpus / r;
        const int32_t n = r * c;
        double sum = 0.0;
        for (int32_t t = 0; t < n; ++t) {
            const Rectangle tr = tile_of(t, r, c, width, height);
            const int64_t area = (int64_t(tr.right) - tr.left + ow) * (int64_t(tr.bottom) - tr.top + oh);
            sum += double(area);
        }
        const double mean = sum / n;
        if (mean < best) {
            rows = r;
            cols = c;
            best = mean;
        }
    }
    while (width / cols < 4 && cols > 1) --cols;
    while (height / rows < 4 && rows > 1) --rows;
    LogTrace("rows = ", rows, "cols = ", cols, "\n");
}

Rectangle TileSet2D::tile(int32_t t) const { return tile_of(t, rows, cols, width, height); }

int32_t TileSet2D::increase() {
    LogTrace("TileSet2D::increase ()\n");
    LogScope scope;
    const int32_t tileW = width / cols;
    const int32_t tileH = height / rows;
    int32_t result = 0;
    if (tileW > tileH) {
        if (tileW > 4) {
            ++cols;
            result = 1;
        }
    } else if (tileH > 4) {
        ++rows;
        result = 1;
    }
    // The last column (row) takes the rest of the division, so a grid whose tiles are 4 wide
    // can still have a much wider last column (28 in 6 columns: five of 4, the last 8); go on to the
    // finest grid, 4-pixel tiles and a rest of at most 7, before giving up.
    if (!result && cols < width / 4) {
        ++cols;
        result = 1;
    } else if (!result && rows < height / 4) {
        ++rows;
        result = 1;
    }
    if (result) LogTrace("cols: ", cols, " rows: ", rows, "\n");
    return result;
}

Rectangle TileSet2D::largest_tile() const {
    const int32_t n = rows * cols;
    int64_t best = 0;
    int32_t bestTile = 0;
    for (int32_t t = 0; t < n; ++t) {
        const Rectangle r = tile(t);
        const int64_t area = std::llabs((int64_t(r.right) - r.left) * (int64_t(r.bottom) - r.top));
        if (area > best) {
            best = area;
            bestTile = t;
        }
    }
    return tile(bestTile);
}

}  // namespace ov
