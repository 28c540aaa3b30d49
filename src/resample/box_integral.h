// boxIntegral: the weighted mean of a source over a rectangle with real edges, in constant
// time, from the source's summed-area table (sum_table.h) and four direct corner reads.
//
// Contract
// - Columns ix0 = floor(x0) .. ix1 + 1 weigh wl = 1 - (x0 - ix0), 1 (ix0 + 1 .. ix1) and
//   wr = x1 - ix1; rows alike with wt and wb. The inner block and the four strips come from
//   sumTableRect (its folding), the four corner pixels are read from the source at the
//   position edge_index folds them to (read when inside, or when the axis mode is 1, 2 or 3;
//   otherwise they count 0). Colour of a source with alpha whose premultiplied flag is 0 is
//   multiplied by alpha / MAX, as in the table.
// - The total weight is nominal, (x1 - x0 + 1)(y1 - y0 + 1): parts outside the image count
//   with value 0 and their full weight. result[s] = sum / total (the reciprocal times the sum;
//   left undivided when the total is 0).
// - Cap: 8-bit and 16-bit sources bring every sample that is not at most MAX to MAX; float
//   sources cap only alpha, at 1.0. There is no lower bound.
// - result holds one double per source sample (colour, then alpha) and is overwritten.
// - Guards: a footprint with a non-finite edge, or a source of width or height 0, gives all
//   samples 0 (there is nothing to fold to); edges are limited to +-2^30 so that their cells
//   fit 32 bits.
// No state, no allocation, no status; called concurrently for different result arrays.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstdint>

#include "pixel/edge_mode.h"
#include "resample/sum_table.h"

namespace ov {

template <class Src>
void boxIntegral(const Src& source, const SumTableView<Src::pixel_type::sample_count>& sumTable,
                 double* result, uint32_t edgeModeX, uint32_t edgeModeY, double x0, double x1,
                 double y0, double y1) {
    using P = typename Src::pixel_type;
    constexpr int K = P::sample_count;
    const int32_t W = static_cast<int32_t>(sumTable.width);
    const int32_t H = static_cast<int32_t>(sumTable.height);
    if (W <= 0 || H <= 0 || !std::isfinite(x0) || !std::isfinite(x1) || !std::isfinite(y0) ||
        !std::isfinite(y1)) {
        for (int s = 0; s < K; ++s) result[s] = 0.0;
        return;
    }
    constexpr double kLimit = 1073741824.0;  // 2^30
    x0 = std::clamp(x0, -kLimit, kLimit);
    x1 = std::clamp(x1, -kLimit, kLimit);
    y0 = std::clamp(y0, -kLimit, kLimit);
    y1 = std::clamp(y1, -kLimit, kLimit);

    const double fx0 = std::floor(x0), fx1 = std::floor(x1), fy0 = std::floor(y0), fy1 = std::floor(y1);
    const int32_t ix0 = static_cast<int32_t>(fx0), ix1 = static_cast<int32_t>(fx1);
    const int32_t iy0 = static_cast<int32_t>(fy0), iy1 = static_cast<int32_t>(fy1);
    const double wl = 1.0 - (x0 - fx0);
    const double wr = x1 - fx1;
    const double wt = 1.0 - (y0 - fy0);
    const double wb = y1 - fy1;

    const double K0 = static_cast<double>(
        sumTableRect<K>(sumTable, result, edgeModeX, edgeModeY, ix0, ix1, iy0, iy1, W, H));
    double strip[K];
    const double Kl = static_cast<double>(
        sumTableRect<K>(sumTable, strip, edgeModeX, edgeModeY, ix0 - 1, ix0, iy0, iy1, W, H));
    for (int s = 0; s < K; ++s) result[s] += strip[s] * wl;
    const double Kr = static_cast<double>(
        sumTableRect<K>(sumTable, strip, edgeModeX, edgeModeY, ix1, ix1 + 1, iy0, iy1, W, H));
    for (int s = 0; s < K; ++s) result[s] += strip[s] * wr;
    const double Kt = static_cast<double>(
        sumTableRect<K>(sumTable, strip, edgeModeX, edgeModeY, ix0, ix1, iy0 - 1, iy0, W, H));
    for (int s = 0; s < K; ++s) result[s] += strip[s] * wt;
    const double Kb = static_cast<double>(
        sumTableRect<K>(sumTable, strip, edgeModeX, edgeModeY, ix0, ix1, iy1, iy1 + 1, W, H));
    for (int s = 0; s < K; ++s) result[s] += strip[s] * wb;

    auto foldable = [](uint32_t mode) { return mode == 1 || mode == 2 || mode == 3; };
    auto corner = [&](int32_t cx, int32_t cy, double w) {
        const bool inX = edge_index(cx, W, static_cast<int32_t>(edgeModeX));
        const bool inY = edge_index(cy, H, static_cast<int32_t>(edgeModeY));
        if (!(inX || foldable(edgeModeX)) || !(inY || foldable(edgeModeY))) return;
        double c[K];
        premultipliedSamples<Src>(source.at(cx, cy), source.premultiplied != 0, c);
        for (int s = 0; s < K; ++s) result[s] += c[s] * w;
    };
    corner(ix0, iy0, wt * wl);
    corner(ix1 + 1, iy0, wt * wr);
    corner(ix0, iy1 + 1, wb * wl);
    corner(ix1 + 1, iy1 + 1, wb * wr);

    const double total = K0 + Kl * wl + Kr * wr + Kt * wt + Kb * wb + wt * wl + wt * wr +
                         wb * wl + wb * wr;
    if (total != 0.0) {
        const double inv = 1.0 / total;
        for (int s = 0; s < K; ++s) result[s] *= inv;
    }
    if constexpr (P::is_integer) {
        for (int s = 0; s < K; ++s)
            if (!(result[s] <= P::max_value)) result[s] = P::max_value;
    } else if constexpr (P::has_alpha) {
        if (!(result[P::alpha_index] <= 1.0)) result[P::alpha_index] = 1.0;
    }
}

}  // namespace ov
