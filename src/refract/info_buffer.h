// The info buffer: ov::FillInfoBufferFilter turns a height image and a strength
// image into an InfoBuffer of displacement directions and strengths.
//
// Skeleton and contract:
//  - The owner (the refraction stage) allocates the InfoBuffer (W x H x 12 bytes),
//    constructs the filter with its host, assigns info, heightImage, strengthImage, the two
//    selectors and the rotation, calls render(pass, passCount) once and drops the filter. The
//    filter owns nothing and allocates nothing; it runs on the calling thread.
//  - render writes every pixel of `info` (sine, cosine, strength) and nothing else, then
//    divides every strength by the largest one (when that is not 0).
//  - Statuses: StatusOk; StatusOk at once, buffer untouched, when the strength image has width
//    0 (or no data); or the first other answer of ReportProgress, which stops the row loop
//    (the normalisation still covers the whole buffer).
//  - Progress: one ReportProgress(pass x H + y, passCount x H) after each row y of `info`.
//
// Guarded cases (left open by the algorithm as first written, or unsafe there):
//  - A height image 1 pixel wide or high: the border rule reads one pixel beyond it. Every
//    gradient tap is clamped into the image, so such an image differentiates along its long
//    axis only (the short axis contributes 0). Images of 2 and more pixels are unaffected.
//  - Defensive: the ratio handed to acos is clamped to [-1, 1], and a gradient that is not
//    finite gives no displacement, so no direction is ever NaN.
//  - Non-finite float samples (NaN, infinity) are read as 0, so that one of them cannot turn
//    the strength maximum into infinity and every strength into 0 or NaN.
//  - Offsets and addresses are formed in 64 bits.
#pragma once

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <type_traits>

#include "core/ostrovanne_filter.h"
#include "core/render_context.h"
#include "pixel/formats.h"

namespace ov {

// Three floats per pixel: sine (x component of the unit direction), cosine (y component,
// y grows downward) and strength 0..1. Both direction samples exactly 0: no displacement.
using InfoBuffer = ImgRefractInfo;

// Which value a pixel yields (the table): below 2 the luminance, 2 the alpha (MAX
// without alpha), 3, 4 and 5 the colour samples in layout order (0 where absent).
using ChannelSelector = int32_t;

namespace refract_detail {

template <class T>
inline double finite_or_zero(T v) {
    if constexpr (std::is_floating_point_v<T>) {
        return std::isfinite(v) ? static_cast<double>(v) : 0.0;
    } else {
        return static_cast<double>(v);
    }
}

}  // namespace refract_detail

// The ChannelSelector value of pixel p, in the sample's own units, in double.
template <class P>
inline double channel_value(const P& p, ChannelSelector selector) {
    using refract_detail::finite_or_zero;
    constexpr int cc = P::colour_count;
    if (selector < 2) {
        double l;
        if constexpr (cc == 1) {
            l = finite_or_zero(p.v[0]);
        } else if constexpr (cc == 2) {
            l = 0.292687786 * finite_or_zero(p.v[0]) + 0.552149646 * finite_or_zero(p.v[1]);
        } else {
            l = 0.292687786 * finite_or_zero(p.v[0]) + 0.552149646 * finite_or_zero(p.v[1]) +
                0.155162568 * finite_or_zero(p.v[2]);
        }
        if constexpr (P::has_alpha) {
            const double a = finite_or_zero(p.v[P::alpha_index]) * P::inverse_max;
            if constexpr (cc == 1) return a * l;  // (A x 1/MAX) x gray
            else return l * a;
        } else {
            return l;
        }
    }
    if (selector == 2) {
        if constexpr (P::has_alpha) return finite_or_zero(p.v[P::alpha_index]);
        else return P::max_value;
    }
    if (selector == 3) return finite_or_zero(p.v[0]);
    if (selector == 4) {
        if constexpr (cc >= 2) return finite_or_zero(p.v[1]);
        else return 0.0;
    }
    if constexpr (cc >= 3) return finite_or_zero(p.v[2]);
    else return 0.0;
}

// Src: a host view (PixelArray over a host PixelRGB, B = 1). Info: the InfoBuffer view.
template <class Src, class Info = InfoBuffer>
class FillInfoBufferFilter : public OstrovanneFilter {
public:
    using SrcPixel = typename Src::pixel_type;
    using InfoPixel = typename Info::pixel_type;
    static_assert(SrcPixel::extra_count == 0, "the images are colour images");
    static_assert(InfoPixel::colour_count == 0 && InfoPixel::extra_count == 3 &&
                      InfoPixel::is_float,
                  "Info is the InfoBuffer (three floats per pixel)");

    explicit FillInfoBufferFilter(OstrovanneHost* host_ = nullptr) : OstrovanneFilter(host_) {}

    Status render(uint32_t pass_, uint32_t passCount_) override;

    Info info;                             // the buffer to fill; width W, height H
    Src heightImage;                       // differentiated; centred on the buffer
    Src strengthImage;                     // gives the strength; centred on the buffer
    ChannelSelector heightChannel = 0;
    ChannelSelector strengthChannel = 0;
    double rotation = 0.0;                 // radians, added to every direction angle

private:
    double height_at(std::ptrdiff_t c, std::ptrdiff_t r) const {
        return channel_value(*heightImage.pixel(c, r), heightChannel);
    }
    void direction_at(std::ptrdiff_t xh, std::ptrdiff_t yh, float& sine, float& cosine) const;
};

template <class Src, class Info>
void FillInfoBufferFilter<Src, Info>::direction_at(std::ptrdiff_t xh, std::ptrdiff_t yh,
                                                   float& sine, float& cosine) const {
    const std::ptrdiff_t wh = heightImage.width;
    const std::ptrdiff_t hh = heightImage.height;
    // Near and far tap offsets on each side (the border rule).
    std::ptrdiff_t l1 = 1, l2 = 2, r1 = 1, r2 = 2, u1 = 1, u2 = 2, d1 = 1, d2 = 2;
    if (xh == 0) { l1 = 0; l2 = -1; }
    else if (xh == 1) { l1 = 1; l2 = 1; }
    if (xh == wh - 1) { r1 = 0; r2 = -1; }
    else if (xh == wh - 2) { r1 = 1; r2 = 1; }
    if (yh == 0) { u1 = 0; u2 = -1; }
    else if (yh == 1) { u1 = 1; u2 = 1; }
    if (yh == hh - 1) { d1 = 0; d2 = -1; }
    else if (yh == hh - 2) { d1 = 1; d2 = 1; }
    // Clamp every tap into the image: a no-op for images of 2 and more pixels, the mend for
    // images 1 pixel wide or high (whose rule reaches one pixel beyond them).
    auto cx = [wh](std::ptrdiff_t c) { return c < 0 ? 0 : (c >= wh ? wh - 1 : c); };
    auto cy = [hh](std::ptrdiff_t r) { return r < 0 ? 0 : (r >= hh ? hh - 1 : r); };
    const std::ptrdiff_t xL1 = cx(xh - l1), xL2 = cx(xh - l2), xR1 = cx(xh + r1), xR2 = cx(xh + r2);
    const std::ptrdiff_t yU1 = cy(yh - u1), yU2 = cy(yh - u2), yD1 = cy(yh + d1), yD2 = cy(yh + d2);
    auto h = [this](std::ptrdiff_t c, std::ptrdiff_t r) { return height_at(c, r); };

    const double right1 = h(xR1, yU1) + h(xR1, yh) + h(xR1, yD1);
    const double right2 = h(xR2, yU2) + h(xR2, yU1) + h(xR2, yh) + h(xR2, yD1) + h(xR2, yD2);
    const double left1 = h(xL1, yU1) + h(xL1, yh) + h(xL1, yD1);
    const double left2 = h(xL2, yU2) + h(xL2, yU1) + h(xL2, yh) + h(xL2, yD1) + h(xL2, yD2);
    const double g1 = right1 + right2 - left1 - left2;

    const double down1 = h(xL1, yD1) + h(xh, yD1) + h(xR1, yD1);
    const double down2 = h(xL2, yD2) + h(xL1, yD2) + h(xh, yD2) + h(xR1, yD2) + h(xR2, yD2);
    const double up1 = h(xL1, yU1) + h(xh, yU1) + h(xR1, yU1);
    const double up2 = h(xL2, yU2) + h(xL1, yU2) + h(xh, yU2) + h(xR1, yU2) + h(xR2, yU2);
    const double g2 = down1 + down2 - up1 - up2;

    if ((g1 == 0.0 && g2 == 0.0) || !std::isfinite(g1) || !std::isfinite(g2)) {
        sine = 0.0f;
        cosine = 0.0f;
        return;
    }
    double ratio = g2 / std::sqrt(g1 * g1 + g2 * g2);
    if (ratio > 1.0) ratio = 1.0;
    else if (ratio < -1.0) ratio = -1.0;
    double a = std::acos(ratio);
    if (g1 < 0.0) a = 6.283185307179586 - a;
    a = a + rotation;
    sine = static_cast<float>(std::sin(a));
    cosine = static_cast<float>(std::cos(a));
}

template <class Src, class Info>
Status FillInfoBufferFilter<Src, Info>::render(uint32_t pass_, uint32_t passCount_) {
    pass = pass_;
    passCount = passCount_;
    const Status ok = host->StatusOk();
    // Step 1: only the width of the strength image is tested (and, as a view without data is
    // empty, its data pointer).
    if (strengthImage.width == 0 || !strengthImage.has_data() || !info.has_data()) return ok;

    const std::ptrdiff_t W = info.width, H = info.height;
    const bool heightPresent = heightImage.has_data();
    const std::ptrdiff_t Wh = heightPresent ? heightImage.width : 0;
    const std::ptrdiff_t Hh = heightPresent ? heightImage.height : 0;
    const std::ptrdiff_t Ws = strengthImage.width, Hs = strengthImage.height;
    // Centring offsets: signed divisions truncating toward zero.
    const std::ptrdiff_t hx = (W - Wh) / 2, hy = (H - Hh) / 2;
    const std::ptrdiff_t sx = (W - Ws) / 2, sy = (H - Hs) / 2;
    constexpr double strengthScale = SrcPixel::inverse_max;  // 1/255, 1/32768 or 1

    double maxStrength = 0.0;
    Status status = ok;
    for (std::ptrdiff_t y = 0; y < H; ++y) {
        unsigned char* const row = info.row_bytes(y);
        for (std::ptrdiff_t x = 0; x < W; ++x) {
            InfoPixel& out = *info.in_row(row, x);
            const std::ptrdiff_t xh = x - hx, yh = y - hy;
            if (xh < 0 || xh >= Wh || yh < 0 || yh >= Hh) {
                out.v[0] = 0.0f;
                out.v[1] = 0.0f;
            } else {
                direction_at(xh, yh, out.v[0], out.v[1]);
            }
            const std::ptrdiff_t xs = x - sx, ys = y - sy;
            if (xs < 0 || xs >= Ws || ys < 0 || ys >= Hs) {
                out.v[2] = 0.0f;
            } else {
                const double v = channel_value(*strengthImage.pixel(xs, ys), strengthChannel);
                out.v[2] = static_cast<float>(v * strengthScale);
            }
            const double stored = static_cast<double>(out.v[2]);
            if (stored > maxStrength) maxStrength = stored;
        }
        status = host->ReportProgress(pass_ * static_cast<uint32_t>(H) + static_cast<uint32_t>(y),
                                      passCount_ * static_cast<uint32_t>(H));
        if (status != ok) break;
    }
    // Step 4: the whole buffer, also after an early stop.
    if (maxStrength != 0.0) {
        for (std::ptrdiff_t y = 0; y < H; ++y) {
            unsigned char* const row = info.row_bytes(y);
            for (std::ptrdiff_t x = 0; x < W; ++x) {
                float& k = info.in_row(row, x)->v[2];
                k = static_cast<float>(static_cast<double>(k) / maxStrength);
            }
        }
    }
    return status;
}

}  // namespace ov
