// Pixel arithmetic and accumulators.
//
// Element-wise operations on PixelRGB values, in place on the first operand. Double pixels
// (DoublePixel<P>) keep samples on the format's own scale 0..MAX. A float sample is widened
// to double exactly; products and sums are formed in double; operations that write a float
// pixel round once per sample, after the multiply-add. All are header-inline, take their
// operands by reference and allocate nothing.
//
// "All samples" below means every stored sample, EXTRA included; the two operands must have
// the same sample count (checked at compile time).
#pragma once

#include "pixel/pixel_rgb.h"

namespace ov {

namespace detail {
template <class D, class S>
constexpr void check_same_count() {
    static_assert(D::sample_count == S::sample_count, "pixels of different sample counts");
}
}  // namespace detail

// sum[i] += (double) src[i], all samples.
template <class D, class S>
inline void accumulate(D& sum, const S& src) {
    detail::check_same_count<D, S>();
    for (int i = 0; i < D::sample_count; ++i) sum.v[i] += static_cast<double>(src.v[i]);
}

// Double destination: sum[i] += (double) src[i] * w.
// Float destination:  dst[i] = (float) ((double) src[i] * w + (double) dst[i]).
template <class D, class S>
inline void accumulateWeighted(D& dst, const S& src, double w) {
    detail::check_same_count<D, S>();
    using T = typename D::sample_type;
    for (int i = 0; i < D::sample_count; ++i)
        dst.v[i] = static_cast<T>(static_cast<double>(src.v[i]) * w + static_cast<double>(dst.v[i]));
}

// sum[i] -= (double) src[i], all samples.
template <class D, class S>
inline void subtract_pixel(D& sum, const S& src) {
    detail::check_same_count<D, S>();
    for (int i = 0; i < D::sample_count; ++i) sum.v[i] -= static_cast<double>(src.v[i]);
}

// Colour samples: p[i] = (p[i] - q[i]) * t + q[i]; alpha and EXTRA unchanged.
template <class P>
inline void lerp(P& p, const P& q, double t) {
    for (int i = 0; i < P::colour_count; ++i) p.v[i] = (p.v[i] - q.v[i]) * t + q.v[i];
}

// Colour samples *= f.
template <class P>
inline void scale_colour(P& p, double f) {
    for (int i = 0; i < P::colour_count; ++i) p.v[i] *= f;
}

// The alpha sample alone *= f (nothing without alpha).
template <class P>
inline void scale_alpha(P& p, double f) {
    if constexpr (P::has_alpha) p.v[P::alpha_index] *= f;
}

// Whole pixel p = q (samples converted by plain assignment).
template <class P, class Q>
inline void assign(P& p, const Q& q) {
    detail::check_same_count<P, Q>();
    using T = typename P::sample_type;
    for (int i = 0; i < P::sample_count; ++i) p.v[i] = static_cast<T>(q.v[i]);
}

// Colour samples only.
template <class P, class Q>
inline void assign_colour(P& p, const Q& q) {
    static_assert(P::colour_count == Q::colour_count, "different colour counts");
    using T = typename P::sample_type;
    for (int i = 0; i < P::colour_count; ++i) p.v[i] = static_cast<T>(q.v[i]);
}

// p takes the colour of q (same family, without alpha) and alpha MAX (as the double
// constant 1.0, 32768.0 or 255.0).
template <class P, class Q>
inline void assign_opaque(P& p, const Q& q) {
    static_assert(P::has_alpha, "assign_opaque writes an alpha");
    assign_colour(p, q);
    p.v[P::alpha_index] = static_cast<typename P::sample_type>(P::max_value);
}

// Conversions between a pixel and its double pixel (samples widened exactly; stored back
// by plain conversion: the caller clamps integer samples first).
template <class P>
inline DoublePixel<P> to_double(const P& p) {
    DoublePixel<P> d;
    for (int i = 0; i < P::sample_count; ++i) d.v[i] = static_cast<double>(p.v[i]);
    return d;
}

}  // namespace ov
