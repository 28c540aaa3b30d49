// The refract filter: ov::RefractFilter bends an image along an InfoBuffer.
//
// Skeleton and contract:
//  - The owner (the refraction stage) constructs the filter with its host, assigns
//    every member, calls render(pass, passCount) once and drops it. The filter owns nothing,
//    allocates nothing and runs on the calling thread, row by row.
//  - Per destination pixel: a float copy of the source pixel; then n x n sub-samples
//    (n = subSamples + 1), each looking up (sine, cosine, strength) in the InfoBuffer at its
//    point, moving by (sine, cosine) x strength x 255 x amount / (1000 x scale factor) and
//    reading the source there bilinearly (or the outside colour under edge mode 4); the mean
//    of the moved reads is mixed with the pixel's own value by the share of moved sub-samples.
//  - Statuses: StatusOk, or the first other answer of ReportProgress, which ends render at
//    once (rows below stay untouched). Progress: ReportProgress(pass x H + y, passCount x H)
//    after each destination row y.
//
// Limits the owner keeps and what this implementation does when they are broken
// (the point is that no read ever leaves the images):
//  - source and destination of different sizes, or a view without data: render writes
//    nothing and returns StatusOk.
//  - an edge mode outside 1..4 is taken as 4 (outside colour).
//  - a scale factor that is not above 0 or an amount that is not finite, i.e. a step that is
//    not finite: the step is taken as 0 (no displacement).
//  - a target so far off that its coordinate is not finite is taken as outside on that axis
//    under every mode (so it reads the outside colour, or the edge pixel under clamp).
//  - sub-sample counts are formed in 64 bits (subSamples = INT32_MAX does not overflow).
#pragma once

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <type_traits>

#include "core/ostrovanne_filter.h"
#include "core/render_context.h"
#include "pixel/edge_mode.h"
#include "pixel/formats.h"
#include "refract/bilinear.h"
#include "refract/info_buffer.h"

namespace ov {

// Src: a host view (B = 1) of a host pixel. Dst: the packed float twin of that pixel (same
// samples, same order, same MAX). Info: the InfoBuffer view.
template <class Src, class Dst, class Info = InfoBuffer>
class RefractFilter : public OstrovanneFilter {
public:
    using SrcPixel = typename Src::pixel_type;
    using DstPixel = typename Dst::pixel_type;
    using InfoPixel = typename Info::pixel_type;
    static_assert(SrcPixel::extra_count == 0 && DstPixel::extra_count == 0, "colour images");
    static_assert(SrcPixel::base_count == DstPixel::base_count &&
                      SrcPixel::has_alpha == DstPixel::has_alpha &&
                      SrcPixel::colour_count == DstPixel::colour_count,
                  "the destination has the source's samples in the same order");
    static_assert(DstPixel::is_float && SrcPixel::max_int == DstPixel::max_int,
                  "the destination is the float twin with the source's MAX");
    static_assert(std::is_same_v<InfoPixel, PxRefractInfo>, "Info is the InfoBuffer");

    explicit RefractFilter(OstrovanneHost* host_ = nullptr) : OstrovanneFilter(host_) {}

    Status render(uint32_t pass_, uint32_t passCount_) override;

    Src source;                 // the image to bend; read only
    Dst destination;            // the result; its width W and height H drive the loops
    Info info;                  // directions and strengths; placed by its origin
    double amount = 0.0;        // displacement scale (255 x amount / 1000 full-size pixels)
    int32_t subSamples = 0;     // n = subSamples + 1 sub-samples per axis
    int32_t edgeModeX = 1;      // 1 clamp, 2 mirror, 3 wrap, 4 outside colour
    int32_t edgeModeY = 1;
    double outsideColor[4] = {0.0, 0.0, 0.0, 1.0};  // R, G, B, alpha in 0..1
    double scaleFactorX = 1.0;  // full-size pixels per rendered pixel, > 0
    double scaleFactorY = 1.0;
};

template <class Src, class Dst, class Info>
Status RefractFilter<Src, Dst, Info>::render(uint32_t pass_, uint32_t passCount_) {
    pass = pass_;
    passCount = passCount_;
    const Status ok = host->StatusOk();
    const uint32_t W = destination.width, H = destination.height;
    if (!source.has_data() || !destination.has_data() || source.width != W ||
        source.height != H) {
        return ok;
    }

    constexpr int NS = SrcPixel::base_count;  // samples per pixel, alpha included
    const int64_t n = static_cast<int64_t>(subSamples) + 1;
    double stepX = amount / (scaleFactorX * 1000.0);
    double stepY = amount / (scaleFactorY * 1000.0);
    if (!std::isfinite(stepX)) stepX = 0.0;
    if (!std::isfinite(stepY)) stepY = 0.0;

    // Outside value per sample: colour c takes component c, alpha component 3, times MAX.
    double outside[NS];
    for (int s = 0; s < NS; ++s) {
        const int component = (SrcPixel::has_alpha && s == SrcPixel::alpha_index) ? 3 : s;
        outside[s] = outsideColor[component] * SrcPixel::max_value;
    }
    const bool mapsX = edgeModeX >= 1 && edgeModeX <= 3;
    const bool mapsY = edgeModeY >= 1 && edgeModeY <= 3;
    const double Wd = static_cast<double>(W), Hd = static_cast<double>(H);
    const double infoW = static_cast<double>(info.width), infoH = static_cast<double>(info.height);
    const bool infoPresent = info.has_data() && info.width > 0 && info.height > 0;
    const double srcOX = source.originX, srcOY = source.originY;
    const double infoOX = info.originX, infoOY = info.originY;
    const double d = n >= 1 ? 1.0 / static_cast<double>(n) : 0.0;
    const double nn = static_cast<double>(n) * static_cast<double>(n);

    Status status = ok;
    for (uint32_t y = 0; y < H; ++y) {
        unsigned char* const srcRow = source.row_bytes(y);
        unsigned char* const dstRow = destination.row_bytes(y);
        for (uint32_t x = 0; x < W; ++x) {
            const SrcPixel& sp = *source.in_row(srcRow, x);
            DstPixel& dp = *destination.in_row(dstRow, x);
            for (int s = 0; s < NS; ++s) dp.v[s] = static_cast<float>(sp.v[s]);
            if (n < 1 || !infoPresent) continue;

            int64_t count = 0;
            double sum[NS] = {};
            for (int64_t j = 0; j < n; ++j) {
                const double py = (static_cast<double>(y) - 0.5) + d / 2.0 + static_cast<double>(j) * d;
                const double iy = (py + srcOY) - infoOY;
                if (iy < 0.0 || iy >= infoH) continue;
                for (int64_t i = 0; i < n; ++i) {
                    const double px =
                        (static_cast<double>(x) - 0.5) + d / 2.0 + static_cast<double>(i) * d;
                    const double ix = (px + srcOX) - infoOX;
                    if (ix < 0.0 || ix >= infoW) continue;
                    PxRefractInfo dir;
                    sample_bilinear(info, ix, iy, dir);
                    const double sine = dir.v[0], cosine = dir.v[1], k = dir.v[2];
                    if (sine == 0.0 && cosine == 0.0) continue;
                    ++count;
                    double tx = px + sine * stepX * k * 255.0;
                    double ty = py + cosine * stepY * k * 255.0;
                    bool readX, readY;
                    if (std::isfinite(tx)) {
                        readX = edge_coordinate(tx, static_cast<int32_t>(W), edgeModeX) || mapsX;
                    } else {
                        tx = tx > 0.0 ? Wd - 1.0 : 0.0;  // clamp's answer; mode 4: outside
                        readX = edgeModeX == 1;
                    }
                    if (std::isfinite(ty)) {
                        readY = edge_coordinate(ty, static_cast<int32_t>(H), edgeModeY) || mapsY;
                    } else {
                        ty = ty > 0.0 ? Hd - 1.0 : 0.0;
                        readY = edgeModeY == 1;
                    }
                    if (readX && readY) {
                        // A mapped coordinate lies in [0, extent); the guard keeps that true
                        // whatever rounding the mapping met.
                        if (!(tx >= 0.0)) tx = 0.0;
                        if (tx >= Wd) tx = Wd - 0.0001;
                        if (!(ty >= 0.0)) ty = 0.0;
                        if (ty >= Hd) ty = Hd - 0.0001;
                        DoublePixel<SrcPixel> v;
                        sample_bilinear(source, tx, ty, v);
                        for (int s = 0; s < NS; ++s) sum[s] += v.v[s];
                    } else {
                        for (int s = 0; s < NS; ++s) sum[s] += outside[s];
                    }
                }
            }
            if (count == 0) continue;
            const double inv = 1.0 / static_cast<double>(count);
            const double w = 1.0 - static_cast<double>(count) / nn;
            for (int s = 0; s < NS; ++s) {
                const double avg = sum[s] * inv;
                dp.v[s] = static_cast<float>((static_cast<double>(dp.v[s]) - avg) * w + avg);
            }
        }
        status = host->ReportProgress(pass_ * H + y, passCount_ * H);
        if (status != ok) return status;
    }
    return status;
}

}  // namespace ov
