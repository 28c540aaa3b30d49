// The float summed-area table of the resampler: fillSumTable and sumTableRect.
//
// Contract
// - A table of a W x H source with K samples per pixel is W x H packed pixels of K floats
//   (SumTableView<K>), rows back to back. T[y][x][s] is the sum over all source pixels (i, j)
//   with i <= x and j <= y of sample s, colour premultiplied: c x (a x 1/MAX) for a source
//   with alpha whose premultiplied flag is 0, the sample itself otherwise. Sums run per row
//   in double; each stored value is rounded to float. Reads at negative indices count 0.
// - sumTableBytes gives the table's size in 64 bits; a size beyond 32 bits cannot be
//   allocated through the render context and is refused with out of memory by the callers.
// - fillSumTable(source, table, progressPass, progressPassCount, host) fills row by row on
//   the calling thread and reports ReportProgress(H x progressPass + y, H x progressPassCount)
//   after row y; it returns StatusOk or the first other status a report gave (the table is
//   then incomplete). A source of height 0 reports nothing.
// - sumTableRect(table, out, modeX, modeY, x0, x1, y0, y1, W, H) writes to out the K sums over
//   the whole pixels x0 < x <= x1, y0 < y <= y1 and returns the nominal area
//   (x1 - x0)(y1 - y0), in 64 bits. Pixels outside the image are folded back per axis:
//   1 clamp (to the first or last column); 2 mirror, c < 0 to -c (the first column is not
//   repeated) and c >= W to 2W - 1 - c (the last one is), repeated until inside, a pattern
//   of period 2W - 1; 3 wrap, c - W floor(c / W); any other mode (4, the outside colour)
//   makes them contribute nothing. Re-entrant, reads the table only. W and H at least 1.
//   Ranges within two image sizes of the image fold by the step-by-step recursion; longer
//   ranges first count their whole periods (mirror 2W - 1, wrap W) as multiples of one
//   period's sum, so the recursion depth stays small whatever the range.
#pragma once

#include <cstdint>

#include "fft/single_precision.h"
#include "pixel/pixel_array.h"
#include "pixel/pixel_rgb.h"

namespace ov {

template <int K>
using SumTablePixel = PixelRGB<LayoutEmptyPixel, float, 0, K, 1>;
template <int K>
using SumTableView = PixelArray<SumTablePixel<K>, 0, 0>;

inline uint64_t sumTableBytes(uint32_t width, uint32_t height, int samples) {
    return uint64_t(width) * height * uint64_t(samples) * sizeof(float);
}

// A table view over `data` for a source view (origin copied, scales 1.0, valid and
// premultiplied set); rowBytes W x K x 4.
template <int K, class Src>
SumTableView<K> makeSumTableView(void* data, const Src& source) {
    return SumTableView<K>(data, source.width, source.height,
                           static_cast<int32_t>(source.width * K * sizeof(float)), source.originX,
                           source.originY, true, 1.0, 1.0, 1.0, true, K * int32_t(sizeof(float)));
}

// The K contributions of one source pixel, colour premultiplied as the table holds it.
template <class Src>
inline void premultipliedSamples(const typename Src::pixel_type& p, bool premultiplied,
                                 double* out) {
    using P = typename Src::pixel_type;
    for (int s = 0; s < P::sample_count; ++s) out[s] = static_cast<double>(p.v[s]);
    if constexpr (P::has_alpha) {
        if (!premultiplied) {
            const double a = static_cast<double>(p.v[P::alpha_index]);
            const double w = P::max_int == 1 ? a : a * P::inverse_max;
            for (int c = 0; c < P::colour_count; ++c) out[c] *= w;
        }
    }
}

template <class Src, class Host>
uint32_t fillSumTable(const Src& source, const SumTableView<Src::pixel_type::sample_count>& table,
                      uint32_t progressPass, uint32_t progressPassCount, Host* host) {
    constexpr int K = Src::pixel_type::sample_count;
    uint32_t status = host->StatusOk();
    const uint32_t W = source.width, H = source.height;
    if (H == 0) return status;
    for (uint32_t y = 0; y < H; ++y) {
        double run[K] = {};
        unsigned char* srow = source.row_bytes(y);
        float* trow = reinterpret_cast<float*>(table.row_bytes(y));
        const float* above = y > 0 ? reinterpret_cast<const float*>(table.row_bytes(y - 1)) : nullptr;
        for (uint32_t x = 0; x < W; ++x) {
            double c[K];
            premultipliedSamples<Src>(*source.in_row(srow, x), source.premultiplied != 0, c);
            for (int s = 0; s < K; ++s) {
                run[s] += c[s];
                const double v = above ? run[s] + static_cast<double>(above[size_t(x) * K + s]) : run[s];
                trow[size_t(x) * K + s] = toSingle(v);
            }
        }
        status = host->ReportProgress(H * progressPass + y, H * progressPassCount);
        if (status != host->StatusOk()) return status;
    }
    return status;
}

namespace sum_table_detail {

template <int K>
struct Rect {
    const SumTableView<K>& table;
    int64_t W, H;

    double read(int64_t x, int64_t y, int s) const {
        if (x < 0 || y < 0) return 0.0;
        const float* row = reinterpret_cast<const float*>(table.row_bytes(static_cast<std::ptrdiff_t>(y)));
        return static_cast<double>(row[x * K + s]);
    }

    static void addScaled(double* out, const double* v, double f) {
        for (int s = 0; s < K; ++s) out[s] += f * v[s];
    }
    static void add(double* out, const double* v) {
        for (int s = 0; s < K; ++s) out[s] += v[s];
    }

    // Whole periods of a mirror or wrap range on one axis: counted as multiples of one
    // period's sum, leaving a range shorter than a period near the image.
    void reducePeriods(double* out, uint32_t mode, int64_t& a0, int64_t& a1, int64_t n,
                       bool columns, uint32_t modeX, uint32_t modeY, int64_t x0, int64_t x1,
                       int64_t y0, int64_t y1) const {
        if (mode != 2 && mode != 3) return;
        const int64_t period = mode == 2 ? 2 * n - 1 : n;
        const int64_t q = (a1 - a0) / period;
        if (q > 0) {
            double one[K];
            if (columns)
                sum(one, modeX, modeY, -1, period - 1, y0, y1);
            else
                sum(one, modeX, modeY, x0, x1, -1, period - 1);
            addScaled(out, one, static_cast<double>(q));
            a1 -= q * period;
        }
        // Shift the rest by whole periods so that it starts in [-1, period - 1).
        const int64_t t = a0 + 1;
        const int64_t shift = (t >= 0 ? t / period : -((-t + period - 1) / period)) * period;
        a0 -= shift;
        a1 -= shift;
    }

    // The folding of one axis: steps "wholly before", "partly before", "wholly after",
    // "partly after". Returns true when the call is complete (a wholly outside range).
    bool foldAxis(double* out, bool columns, uint32_t modeX, uint32_t modeY, int64_t& x0,
                  int64_t& x1, int64_t& y0, int64_t& y1) const {
        const uint32_t mode = columns ? modeX : modeY;
        int64_t& a0 = columns ? x0 : y0;
        int64_t& a1 = columns ? x1 : y1;
        const int64_t n = columns ? W : H;
        double v[K];
        // S(...) with the other axis kept: c0, c1 the new bounds of this axis.
        auto S = [&](uint32_t m, int64_t c0, int64_t c1) {
            if (columns)
                sum(v, m, modeY, c0, c1, y0, y1);
            else
                sum(v, modeX, m, x0, x1, c0, c1);
        };
        if (a1 < 0) {  // wholly before the image
            if (mode == 1) {
                S(1, -1, 0);
                addScaled(out, v, static_cast<double>(a1 - a0));
            } else if (mode == 2) {
                S(2, -1 - a1, -1 - a0);
                add(out, v);
            } else if (mode == 3) {
                const int64_t shift = (1 - a1 / n) * n;
                S(3, a0 + shift, a1 + shift);
                add(out, v);
            }
            return true;
        }
        if (a0 < -1) {  // partly before
            if (mode == 1) {
                S(1, -1, 0);
                addScaled(out, v, static_cast<double>(-1 - a0));
                a0 = -1;
            } else if (mode == 2) {
                S(2, -1, -1 - a0);
                add(out, v);
                a0 = 0;
            } else if (mode == 3) {
                S(3, n + a0, n - 1);
                add(out, v);
                a0 = -1;
            }
        }
        if (a0 >= n) {  // wholly after the image
            if (mode == 1) {
                S(1, n - 2, n - 1);
                addScaled(out, v, static_cast<double>(a1 - a0));
            } else if (mode == 2) {
                S(2, 2 * n - 2 - a1, 2 * n - 2 - a0);
                add(out, v);
            } else if (mode == 3) {
                const int64_t m = a0 / n - 1;
                int64_t b0 = a0, b1 = a1;
                if (m > 0) {
                    b0 -= m * n;
                    b1 -= m * n;
                }
                S(3, b0 - n, b1 - n);
                add(out, v);
            }
            return true;
        }
        if (a1 >= n) {  // partly after
            if (mode == 1) {
                S(1, n - 2, n - 1);
                addScaled(out, v, static_cast<double>(a1 - n + 1));
            } else if (mode == 2) {
                S(2, 2 * n - 2 - a1, n - 1);
                add(out, v);
            } else if (mode == 3) {
                const int64_t m = (a1 - n) / n;
                if (m > 1) {
                    S(3, -1, n - 1);
                    addScaled(out, v, static_cast<double>(m));
                    a1 -= m * n;
                }
                S(3, -1, a1 - n);
                add(out, v);
            }
            a1 = n - 1;
        }
        return false;
    }

    void sum(double* out, uint32_t modeX, uint32_t modeY, int64_t x0, int64_t x1, int64_t y0,
             int64_t y1) const {
        for (int s = 0; s < K; ++s) out[s] = 0.0;
        const bool farX = x0 < -W || x1 > 2 * W;
        const bool farY = y0 < -H || y1 > 2 * H;
        if (farX) reducePeriods(out, modeX, x0, x1, W, true, modeX, modeY, x0, x1, y0, y1);
        if (farY) reducePeriods(out, modeY, y0, y1, H, false, modeX, modeY, x0, x1, y0, y1);
        if (foldAxis(out, true, modeX, modeY, x0, x1, y0, y1)) return;
        if (foldAxis(out, false, modeX, modeY, x0, x1, y0, y1)) return;
        for (int s = 0; s < K; ++s)
            out[s] += read(x1, y1, s) - read(x1, y0, s) - read(x0, y1, s) + read(x0, y0, s);
    }
};

}  // namespace sum_table_detail

template <int K>
int64_t sumTableRect(const SumTableView<K>& table, double* out, uint32_t modeX, uint32_t modeY,
                     int32_t x0, int32_t x1, int32_t y0, int32_t y1, int32_t W, int32_t H) {
    sum_table_detail::Rect<K> r{table, W, H};
    r.sum(out, modeX, modeY, x0, x1, y0, y1);
    return (int64_t(x1) - x0) * (int64_t(y1) - y0);
}

}  // namespace ov
