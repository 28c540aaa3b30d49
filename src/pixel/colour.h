// Colour conversions and clamps.
//
// Templates over PixelRGB (double pixels unless a float or integer pixel is
// named). Colour samples are the non-alpha samples (1 gray, 2 two-channel, 3 RGB); EXTRA
// samples are never touched. Normalising multiplies by the trait inverse_max, never divides
// by MAX. With MAX 1 the multiplications by 1.0 are exact, so one formula serves every MAX.
#pragma once

#include <cmath>

#include "pixel/pixel_rgb.h"

namespace ov {

// Luminance weights (double constants; not renormalised for two-channel pixels).
inline constexpr double kLumaR = 0.292687786;
inline constexpr double kLumaG = 0.552149646;
inline constexpr double kLumaB = 0.155162568;

// Luminance on the pixel's own scale: the weighted colour sum (left to right; gray: the
// gray sample), multiplied by alpha * inverse_max where the pixel has alpha.
template <class P>
inline double luminance(const P& p) {
    static_assert(P::colour_count >= 1, "luminance of a pixel without colour");
    double sum;
    if constexpr (P::colour_count == 3)
        sum = kLumaR * double(p.v[0]) + kLumaG * double(p.v[1]) + kLumaB * double(p.v[2]);
    else if constexpr (P::colour_count == 2)
        sum = kLumaR * double(p.v[0]) + kLumaG * double(p.v[1]);
    else
        sum = double(p.v[0]);
    if constexpr (P::has_alpha) {
        const double a = double(p.v[P::alpha_index]) * P::inverse_max;
        if constexpr (P::colour_count == 1) return a * sum;
        else return sum * a;
    } else {
        return sum;
    }
}

// Colour *= alpha * inverse_max; alpha unchanged.
template <class P>
inline void premultiply(P& p) {
    if constexpr (P::has_alpha) {
        const double f = double(p.v[P::alpha_index]) * P::inverse_max;
        for (int i = 0; i < P::colour_count; ++i) p.v[i] *= f;
    }
}

// a = alpha rounded to single precision; when a > 0 colour *= MAX / (double) a, otherwise
// unchanged (a transparent pixel keeps its colour).
template <class P>
inline void unpremultiply(P& p) {
    if constexpr (P::has_alpha) {
        const float a = static_cast<float>(p.v[P::alpha_index]);
        if (a > 0.0f) {
            const double f = P::max_value / static_cast<double>(a);
            for (int i = 0; i < P::colour_count; ++i) p.v[i] *= f;
        }
    }
}

// Unpremultiply that raises alpha to the largest colour sample instead of producing colour
// above MAX. Nothing happens without alpha.
template <class P>
inline void unpremultiply_fixup(P& p) {
    if constexpr (P::has_alpha) {
        double m;
        if constexpr (P::colour_count == 3) m = std::fmax(std::fmax(double(p.v[0]), double(p.v[1])), double(p.v[2]));
        else if constexpr (P::colour_count == 2) m = std::fmax(std::fmax(double(p.v[0]), double(p.v[1])), 0.0);
        else m = double(p.v[0]);
        const float mf = static_cast<float>(m);
        const float af = static_cast<float>(p.v[P::alpha_index]);
        if (mf > af) {
            if (double(mf) >= P::max_value || mf == 0.0f) {
                p.v[P::alpha_index] = static_cast<typename P::sample_type>(P::max_value);
            } else {
                p.v[P::alpha_index] = static_cast<typename P::sample_type>(double(mf));
                const double f = P::max_value / double(mf);
                for (int i = 0; i < P::colour_count; ++i) p.v[i] *= f;
            }
        } else if (af > 0.0f) {
            const double f = P::max_value / double(af);
            for (int i = 0; i < P::colour_count; ++i) p.v[i] *= f;
        }
    }
}

// ---- BT.709 transfer ---------------------------------------------------------------------
// On normalised values: to linear x > 0.081 ? ((x + 0.099) * (1/1.099)) ^ (1/0.45) : x / 4.5;
// from linear x >= 0.018 ? x ^ 0.45 * 1.099 - 0.099 : x * 4.5. Negative inputs take the
// linear segments.
inline double rec709_to_linear(double x) {
    return x > 0.081 ? std::pow((x + 0.099) * 0.9099181073703367, 2.2222222222222223)
                     : x * 0.2222222222222222;
}
inline double linear_to_rec709(double x) {
    return x >= 0.018 ? std::pow(x, 0.45) * 1.099 - 0.099 : x * 4.5;
}

// Colour samples: sample = f(sample * inverse_max) * MAX. Float pixels compute in double and
// round each result to single precision.
template <class P>
inline void rec709_to_linear(P& p) {
    using T = typename P::sample_type;
    for (int i = 0; i < P::colour_count; ++i)
        p.v[i] = static_cast<T>(rec709_to_linear(double(p.v[i]) * P::inverse_max) * P::max_value);
}
template <class P>
inline void linear_to_rec709(P& p) {
    using T = typename P::sample_type;
    for (int i = 0; i < P::colour_count; ++i)
        p.v[i] = static_cast<T>(linear_to_rec709(double(p.v[i]) * P::inverse_max) * P::max_value);
}

// ---- clamps ------------------------------------------------------------------------------

// alpha < 0 -> 0; alpha > MAX -> MAX.
template <class P>
inline void clamp_alpha(P& p) {
    if constexpr (P::has_alpha) {
        auto& a = p.v[P::alpha_index];
        if (a < 0) a = 0;
        else if (a > P::max_value) a = static_cast<typename P::sample_type>(P::max_value);
    }
}
// Every colour and alpha sample to 0 .. MAX (the float RGBA pixel).
template <class P>
inline void clamp_pixel(P& p) {
    using T = typename P::sample_type;
    for (int i = 0; i < P::base_count; ++i) {
        if (p.v[i] < 0) p.v[i] = 0;
        else if (p.v[i] > P::max_value) p.v[i] = static_cast<T>(P::max_value);
    }
}
// alpha = v when v > alpha.
template <class P>
inline void raise_alpha(P& p, double v) {
    if constexpr (P::has_alpha) {
        if (v > double(p.v[P::alpha_index])) p.v[P::alpha_index] = static_cast<typename P::sample_type>(v);
    }
}
// Colour samples below 0 -> 0; alpha untouched.
template <class P>
inline void clamp_colour_nonnegative(P& p) {
    for (int i = 0; i < P::colour_count; ++i)
        if (p.v[i] < 0) p.v[i] = 0;
}
// Colour and alpha samples above MAX -> MAX; no lower bound.
template <class P>
inline void clamp_to_max(P& p) {
    for (int i = 0; i < P::base_count; ++i)
        if (p.v[i] > P::max_value) p.v[i] = static_cast<typename P::sample_type>(P::max_value);
}

// ---- hue, saturation, lightness ----------------------------------------------------------
// Colour on the scale 0..1; hue in units of 60 degrees, 0 <= H < 6.

inline void rgb_to_hsl(double R, double G, double B, double& H, double& S, double& L) {
    const double mn = std::fmin(std::fmin(R, G), B);
    const double mx = std::fmax(std::fmax(R, G), B);
    L = (mn + mx) * 0.5;
    if (mn == mx) {
        S = 0.0;
        H = 0.0;
        return;
    }
    const double d = mx - mn;
    S = L > 0.5 ? d / (2.0 - mx - mn) : d / (mx + mn);
    if (R == mx) H = (G - B) / d;
    else if (G == mx) H = (B - R) / d + 2.0;
    else H = (R - G) / d + 4.0;
    if (!(H >= 0.0)) H += 6.0;
}

inline double hue_to_rgb(double m1, double m2, double h) {
    if (h < 0.0) h += 6.0;
    else if (h > 6.0) h -= 6.0;
    if (h < 1.0) return m1 + (m2 - m1) * h;
    if (h < 3.0) return m2;
    if (h < 4.0) return m1 + (m2 - m1) * (4.0 - h);
    return m1;
}

// Each result rounded to single precision before it is stored as a double.
inline void hsl_to_rgb(double H, double S, double L, double& R, double& G, double& B) {
    const double m2 = L > 0.5 ? S + L - S * L : (S + 1.0) * L;
    const double m1 = 2.0 * L - m2;
    if (S == 0.0) {
        R = G = B = double(static_cast<float>(L));
        return;
    }
    R = double(static_cast<float>(hue_to_rgb(m1, m2, H + 2.0)));
    G = double(static_cast<float>(hue_to_rgb(m1, m2, H)));
    B = double(static_cast<float>(hue_to_rgb(m1, m2, H - 2.0)));
}

}  // namespace ov
