// The refraction stage of the out-of-focus effect (Part 9.103).
//
// CONTRACT (agreed with the out-of-focus helper; ov::OutOfFocusEffect calls exactly this):
//
//   After the blur road has written `destination` with StatusOk, and only when the Effect's
//   `refractionImage` has data (non-null data pointer; never the `valid` flag), step 4 of the
//   blur road (Part 9.101) is
//
//       status = ov::renderRefractionStage(host, source, destination, refractionImage,
//                                          ov::refractionSettingsFrom(params), P);
//
//   with P = 3 (the Effect's refraction pass count). Its status becomes the Effect's result.
//
//   - host:            the Effect's host (ov::OstrovanneHost*), not owned.
//   - source:          the Effect's `source` view; only its originX/originY are read (they
//                      place the info buffer, Part 9.103's table).
//   - destination:     the Effect's `destination`, holding the blurred result. It is both the
//                      height and the strength image (selector 2, the alpha) and is then
//                      overwritten in place by the blend (blurred pixel over refracted pixel).
//   - refractionImage: the image seen through the blurred result; read only.
//   - settings:        what the stage reads of OutOfFocusParams; refractionSettingsFrom()
//                      copies the Part 4.104 fields (refraction_amount, refraction_samples,
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
//   32-bit rowBytes) is refused as StatusOutOfMemory before anything is allocated.
//
//   Results: StatusOk; StatusOutOfMemory (destination keeps the blurred result); or the first
//   other status of a filter or a progress call (rows blended so far stay blended).
//   Mended: a 1-pixel-wide or -high destination no longer makes the gradient taps read outside
//   the image (the taps are clamped into the image, Part 8.101's open case).
#pragma once

#include <cstdint>

#include "core/host.h"
#include "core/render_context.h"

namespace ov {

// The fields of OutOfFocusParams that the refraction stage reads (Part 9.101).
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

// Copies the refraction fields of an OutOfFocusParams (field names of piece-01 Part 4.104;
// the global ::OutOfFocusParams of outoffocus/out_of_focus_params.h).
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

// Part 9.103, steps 1 to 6. See the contract above.
template <class Src, class Dst>
Status renderRefractionStage(OstrovanneHost* host, const Src& source, Dst& destination,
                               const Src& refractionImage, const RefractionSettings& settings,
                               uint32_t passCount);

}  // namespace ov

// The definition follows in refract/refraction_stage_impl.h (included here once it lands).
