// The refraction stage of the out-of-focus effect.
//
// Contract (ov::OutOfFocusEffect calls exactly this):
//
//   After the blur road has written `destination` with StatusOk, and only when the Effect's
//   `refractionImage` has data (non-null data pointer; never the `valid` flag), step 4 of the
//   blur road is
//
//       status = ov::renderRefractionStage(host, source, destination, refractionImage,
//                                          ov::refractionSettingsFrom(params), P);
//
//   with P = 3 (the Effect's refraction pass count). Its status becomes the Effect's result.
//
//   - host:            the Effect's host (ov::OstrovanneHost*), not owned.
//   - source:          the Effect's `source` view; only its originX/originY are read (they
//                      place the info buffer).
//   - destination:     the Effect's `destination`, holding the blurred result. It is both the
//                      height and the strength image (selector 2, the alpha) and is then
//                      overwritten in place by the blend (blurred pixel over refracted pixel).
//   - refractionImage: the image seen through the blurred result; read only.
//   - settings:        what the stage reads of OutOfFocusParams; refractionSettingsFrom()
//                      copies the fields (refraction_amount, refraction_samples,
//                      edge_mode_x, edge_mode_y, outside_color[4], scale_x, scale_y).
//   - passCount:       P. The info buffer reports as pass 1 of P, the refract filter as pass 2
//                      of P; the blend rows report (P x H, P x H) (the bar stays full; done
//                      never exceeds total) and each answer is compared with StatusOk.
//
//   Src and Dst are the Effect's host view types (ov::PixelArray<PixelRGB<...>, 0, 1>, the
//   same pixel in both). The stage is single-threaded (runs on the calling thread), takes two
//   blocks through AllocateMemory (info buffer W x H x 12, refracted float twin rW x rH x k)
//   and returns both through FreeMemory on every road. Byte sizes are computed in 64 bits; a
//   block that does not fit the 32-bit allocation size (or whose row does not fit the view's
//   32-bit rowBytes) is refused as StatusOutOfMemory before anything is allocated; an empty
//   block is asked for as 1 byte, so a host that answers null for 0 bytes is not taken for
//   out of memory. Without refraction data or destination data the stage returns StatusOk.
//   The blend stores integer samples clamped to the sample type's range (NaN to 0) before
//   truncating, so a float-to-integer conversion never overflows.
//
//   Results: StatusOk; StatusOutOfMemory (destination keeps the blurred result); or the first
//   other status of a filter or a progress call (rows blended so far stay blended).
//   Mended: a 1-pixel-wide or -high destination no longer makes the gradient taps read outside
//   the image (the taps are clamped into the image, the open case).
#pragma once

#include <cstddef>
#include <cstdint>
#include <limits>
#include <type_traits>

#include "core/host.h"
#include "core/render_context.h"
#include "pixel/blend.h"
#include "pixel/formats.h"
#include "refract/info_buffer.h"
#include "refract/refract_filter.h"

namespace ov {

// The fields of OutOfFocusParams that the refraction stage reads.
struct RefractionSettings {
    double amount = 0.0;          // refraction_amount: a point whose direction component and
                                  // strength are 1 moves by 255 x amount / 1000 full-size px
    int32_t subSamples = 0;       // refraction_samples: n = subSamples + 1 per axis
    int32_t edgeModeX = 1;        // edge_mode_x: 1 clamp, 2 mirror, 3 wrap, 4 outside colour
    int32_t edgeModeY = 1;        // edge_mode_y
    float outsideColor[4] = {0.0f, 0.0f, 0.0f, 1.0f};  // outside_color: R, G, B, alpha in 0..1
    double scaleFactorX = 1.0;    // scale_x: full-size pixels per rendered pixel (> 0)
    double scaleFactorY = 1.0;    // scale_y
};

// Copies the refraction fields of an OutOfFocusParams (the global ::OutOfFocusParams of
// outoffocus/out_of_focus_params.h).
template <class Params>
RefractionSettings refractionSettingsFrom(const Params& p) {
    RefractionSettings s;
    s.amount = p.refraction_amount;
    s.subSamples = p.refraction_samples;
    s.edgeModeX = p.edge_mode_x;
    s.edgeModeY = p.edge_mode_y;
    for (int i = 0; i < 4; ++i) s.outsideColor[i] = p.outside_color[i];
    s.scaleFactorX = p.scale_x;
    s.scaleFactorY = p.scale_y;
    return s;
}

// The stage, steps 1 to 6. See the contract above.
template <class Src, class Dst>
Status renderRefractionStage(OstrovanneHost* host, const Src& source, Dst& destination,
                               const Src& refractionImage, const RefractionSettings& settings,
                               uint32_t passCount);


namespace refract_detail {

// A double sample stored into a host sample: integers clamped to the type's range (NaN to 0)
// and truncated toward zero, floats narrowed.
template <class T>
inline T store_sample(double v) {
    if constexpr (std::is_integral_v<T>) {
        constexpr double hi = static_cast<double>(std::numeric_limits<T>::max());
        if (!(v > 0.0)) return T(0);
        if (v >= hi) return std::numeric_limits<T>::max();
        return static_cast<T>(v);
    } else {
        return static_cast<T>(v);
    }
}

// Bytes of a w x h block of pixels of `pixel` bytes, or 0 with fits = false when the block
// (or one row of it) cannot be described to the 32-bit allocator and the 32-bit rowBytes.
inline uint64_t block_bytes(uint32_t w, uint32_t h, uint64_t pixel, bool& fits) {
    const uint64_t row = static_cast<uint64_t>(w) * pixel;
    const uint64_t total = row * static_cast<uint64_t>(h);  // only used when it fits
    const bool rowFits = row <= static_cast<uint64_t>(std::numeric_limits<int32_t>::max());
    const bool totalFits =
        h == 0 || row <= static_cast<uint64_t>(std::numeric_limits<uint32_t>::max()) / h;
    fits = fits && rowFits && totalFits;
    return (rowFits && totalFits) ? total : 0;
}

}  // namespace refract_detail

template <class Src, class Dst>
Status renderRefractionStage(OstrovanneHost* host, const Src& source, Dst& destination,
                             const Src& refractionImage, const RefractionSettings& settings,
                             uint32_t passCount) {
    using Px = typename Dst::pixel_type;
    static_assert(std::is_same_v<typename Src::pixel_type, Px>,
                  "source, destination and refraction image share the host pixel");
    using TwinPx = WorkPixelOf<Px>;  // float twin: same samples, same MAX
    using TwinView = WorkView<TwinPx>;
    using T = typename Px::sample_type;
    constexpr int NS = Px::base_count;
    constexpr uint64_t kInfoPixel = sizeof(PxRefractInfo);  // 12
    constexpr uint64_t kTwinPixel = sizeof(TwinPx);         // k

    const Status ok = host->StatusOk();
    // The Effect runs the stage only with a refraction image; without one, or without a
    // destination, there is nothing to bend or to lay over.
    if (!refractionImage.has_data() || !destination.has_data()) return ok;
    const uint32_t W = destination.width, H = destination.height;
    const uint32_t rW = refractionImage.width, rH = refractionImage.height;

    // Step 1, sizes in 64 bits: a block the 32-bit allocator cannot give is out of memory.
    bool fits = true;
    const uint64_t infoBytes = refract_detail::block_bytes(W, H, kInfoPixel, fits);
    const uint64_t twinBytes = refract_detail::block_bytes(rW, rH, kTwinPixel, fits);
    if (!fits) return host->StatusOutOfMemory();
    // An empty image asks for one byte, so that a host that answers null for 0 bytes is not
    // taken for out of memory.
    void* infoBlock = host->AllocateMemory(static_cast<uint32_t>(infoBytes > 0 ? infoBytes : 1));
    void* twinBlock = host->AllocateMemory(static_cast<uint32_t>(twinBytes > 0 ? twinBytes : 1));
    if (infoBlock == nullptr || twinBlock == nullptr) {
        host->FreeMemory(infoBlock);
        host->FreeMemory(twinBlock);
        return host->StatusOutOfMemory();
    }

    // Step 2.
    const InfoBuffer infoView(infoBlock, W, H, static_cast<int32_t>(W * kInfoPixel),
                              source.originX, source.originY, false, 1.0, 1.0, 1.0, true,
                              static_cast<int32_t>(kInfoPixel));
    const TwinView twinView(twinBlock, rW, rH, static_cast<int32_t>(rW * kTwinPixel),
                            refractionImage.originX, refractionImage.originY, false, 1.0, 1.0,
                            1.0, true, static_cast<int32_t>(kTwinPixel));

    Status status = ok;
    {
        // Step 3: directions and strengths from the alpha of the blurred result.
        FillInfoBufferFilter<Dst> fill(host);
        fill.info = infoView;
        fill.heightImage = destination;
        fill.strengthImage = destination;
        fill.heightChannel = 2;
        fill.strengthChannel = 2;
        fill.rotation = 0.0;
        status = fill.render(1, passCount);
    }
    if (status == ok) {
        // Step 4: the refraction image bent along them.
        RefractFilter<Src, TwinView> refract(host);
        refract.source = refractionImage;
        refract.destination = twinView;
        refract.info = infoView;
        refract.amount = settings.amount;
        refract.subSamples = settings.subSamples;
        refract.edgeModeX = settings.edgeModeX;
        refract.edgeModeY = settings.edgeModeY;
        for (int i = 0; i < 4; ++i) refract.outsideColor[i] = static_cast<double>(settings.outsideColor[i]);
        refract.scaleFactorX = settings.scaleFactorX;
        refract.scaleFactorY = settings.scaleFactorY;
        status = refract.render(2, passCount);
    }
    if (status == ok) {
        // Step 5: the blurred pixel laid over the refracted one (normal blend).
        constexpr double MAX = Px::max_value;
        const uint64_t full64 = static_cast<uint64_t>(passCount) * H;
        const uint32_t full = full64 > std::numeric_limits<uint32_t>::max()
                                  ? std::numeric_limits<uint32_t>::max()
                                  : static_cast<uint32_t>(full64);
        const int64_t shiftX = static_cast<int64_t>(source.originX) - refractionImage.originX;
        const int64_t shiftY = static_cast<int64_t>(source.originY) - refractionImage.originY;
        for (uint32_t y = 0; y < H; ++y) {
            const int64_t ry = static_cast<int64_t>(y) + shiftY;
            if (ry >= 0 && ry < static_cast<int64_t>(rH)) {
                unsigned char* const dstRow = destination.row_bytes(y);
                unsigned char* const twinRow = twinView.row_bytes(ry);
                for (uint32_t x = 0; x < W; ++x) {
                    const int64_t rx = static_cast<int64_t>(x) + shiftX;
                    if (rx < 0 || rx >= static_cast<int64_t>(rW)) continue;
                    Px& dp = *destination.in_row(dstRow, x);
                    const TwinPx& tp = *twinView.in_row(twinRow, rx);
                    DoublePixel<Px> d, r;
                    for (int s = 0; s < NS; ++s) {
                        d.v[s] = static_cast<double>(dp.v[s]);
                        r.v[s] = static_cast<double>(tp.v[s]);
                    }
                    if constexpr (Px::has_alpha) {
                        constexpr int AI = Px::alpha_index;
                        if (destination.premultiplied && static_cast<float>(d.v[AI]) > 0.0f) {
                            const double f = MAX / d.v[AI];
                            for (int c = 0; c < Px::colour_count; ++c) d.v[c] *= f;
                        }
                        if (refractionImage.premultiplied && static_cast<float>(r.v[AI]) > 0.0f) {
                            const double f = MAX / r.v[AI];
                            for (int c = 0; c < Px::colour_count; ++c) r.v[c] *= f;
                        }
                        blendPixel(r, d, BlendNormal);
                        if (destination.premultiplied) {
                            const double a = r.v[AI] * (1.0 / MAX);
                            for (int c = 0; c < Px::colour_count; ++c) r.v[c] = a * r.v[c];
                        }
                    } else {
                        r = d;  // the normal blend of a pixel without alpha is the laid-over pixel
                    }
                    for (int s = 0; s < NS; ++s) dp.v[s] = refract_detail::store_sample<T>(r.v[s]);
                }
            }
            // Blend rows keep the bar full: done = total = P x H (done never exceeds total).
            status = host->ReportProgress(full, full);
            if (status != ok) break;
        }
    }

    // Step 6: both blocks, on every road from here.
    host->FreeMemory(infoBlock);
    host->FreeMemory(twinBlock);
    return status;
}

}  // namespace ov

