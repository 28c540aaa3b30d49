// Bilinear sampling: the value of an image view at a fractional position.
//
// Contract: sample_bilinear(view, x, y, result) reads the four pixels around (x, y) and writes
// their bilinear mix into result. Pixel centres lie at integer positions: (3.0, 5.0) is exactly
// pixel (3, 5). Only width, height, rowBytes, the pixel step and data are read; origins are the
// caller's business. Pure: no allocation, no state, no status, no progress.
//
// Precondition (every caller guarantees it; not tested here, so the inner loops stay free of
// checks): width >= 1, height >= 1, 0 <= x < width, 0 <= y < height, x and y finite. On the
// last column and the last row the pixel itself stands in for the missing neighbour, so
// nothing outside the view is read, also for views 1 pixel wide or high.
//
// Two overloads:
//  - colour pixels (the 18 host formats and the float work formats): result is the double
//    pixel of the same layout (DoublePixel<P>), samples on their own scale 0..MAX, colours
//    and alpha interpolated alike (nothing premultiplied, scaled, rounded or clamped); the
//    four terms are summed in double in the order p00, p10, p11, p01;
//  - the InfoBuffer (PxRefractInfo: three floats sine, cosine, strength): the same weights
//    and order, the running sum rounded to single precision after each of the four steps.
#pragma once

#include <cstddef>
#include <cstdint>

#include "pixel/formats.h"

namespace ov {

namespace refract_detail {

// Integer part (truncated toward zero), the neighbour index (the pixel itself on the last
// column or row) and the fraction of one coordinate.
struct Axis {
    std::ptrdiff_t i0;
    std::ptrdiff_t i1;
    double f;
};

inline Axis split_axis(double v, uint32_t extent) {
    const int32_t i0 = static_cast<int32_t>(v);
    Axis a;
    a.i0 = i0;
    a.i1 = (static_cast<int64_t>(i0) + 1 < static_cast<int64_t>(extent)) ? i0 + 1 : i0;
    a.f = v - static_cast<double>(i0);
    return a;
}

// The one sampler behind both overloads: Acc is the type the running sum is kept in (double
// for colour pixels, float for the InfoBuffer), Out the pixel it is written to.
template <class Acc, class P, int A, int B, class Out>
inline void sample_bilinear_in(const PixelArray<P, A, B>& view, double x, double y, Out& result) {
    const Axis ax = split_axis(x, view.width);
    const Axis ay = split_axis(y, view.height);
    const double w00 = (1.0 - ax.f) * (1.0 - ay.f);
    const double w10 = ax.f * (1.0 - ay.f);
    const double w11 = ax.f * ay.f;
    const double w01 = (1.0 - ax.f) * ay.f;
    unsigned char* const row0 = view.row_bytes(ay.i0);
    unsigned char* const row1 = view.row_bytes(ay.i1);
    const P& p00 = *view.in_row(row0, ax.i0);
    const P& p10 = *view.in_row(row0, ax.i1);
    const P& p11 = *view.in_row(row1, ax.i1);
    const P& p01 = *view.in_row(row1, ax.i0);
    for (int s = 0; s < P::sample_count; ++s) {
        Acc r = static_cast<Acc>(w00 * static_cast<double>(p00.v[s]));
        r = static_cast<Acc>(static_cast<double>(r) + w10 * static_cast<double>(p10.v[s]));
        r = static_cast<Acc>(static_cast<double>(r) + w11 * static_cast<double>(p11.v[s]));
        r = static_cast<Acc>(static_cast<double>(r) + w01 * static_cast<double>(p01.v[s]));
        result.v[s] = r;
    }
}

}  // namespace refract_detail

// Colour pixels: one double per stored sample, in storage order.
template <class P, int A, int B>
    requires(P::extra_count == 0)
inline void sample_bilinear(const PixelArray<P, A, B>& view, double x, double y,
                            DoublePixel<P>& result) {
    refract_detail::sample_bilinear_in<double>(view, x, y, result);
}

// The InfoBuffer: sine, cosine and strength, summed in single precision step by step.
template <int A, int B>
inline void sample_bilinear(const PixelArray<PxRefractInfo, A, B>& view, double x, double y,
                            PxRefractInfo& result) {
    refract_detail::sample_bilinear_in<float>(view, x, y, result);
}

}  // namespace ov
