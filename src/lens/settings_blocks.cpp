// The settings blocks, and the engine choice.
#include "lens/settings_blocks.h"

#include <cmath>
#include <numbers>

#include "lens/pelidorn_filter.h"
#include "lens/render.h"

namespace ov {

namespace {

struct Common {
    double scaleX, scaleY, blurRadius, irisAngle;
    float outside[4];
    int32_t edgeMode;
};

Common Convert(const pfFilterPelidorn& f, uint32_t w, uint32_t h) {
    Common c{};
    // 1. Whole-number scale factors plus the preview level.
    c.scaleX = double(f.GetScaleFactorX() + f.GetPreviewLevel());
    c.scaleY = double(f.GetScaleFactorY() + f.GetPreviewLevel());
    // 2. The radius is relative to an 800-pixel diagonal of the full image.
    const double fw = double(w) * c.scaleX, fh = double(h) * c.scaleY;
    c.blurRadius = f.Radius.GetValue() * std::sqrt(fw * fw + fh * fh) / std::sqrt(640000.0);
    // 3. Degrees to radians, sign reversed, multiplied in this order.
    c.irisAngle = f.IrisAngle.GetValue() * -std::numbers::pi * 2.0 * (1.0 / 360.0);
    // 5. The outside colour, alpha 1.
    double r, g, b;
    f.ColorOutside.GetColor(r, g, b);
    c.outside[0] = float(r), c.outside[1] = float(g), c.outside[2] = float(b), c.outside[3] = 1.0f;
    // 6.
    c.edgeMode = f.Outside.GetSelection();
    return c;
}

}  // namespace

HighlightSelectionParams MakeHighlightSelection(const pfFilterPelidorn& f, bool maskMode) {
    HighlightSelectionParams s{};
    s.maskMode = maskMode ? 1 : 0;
    s.enabled = 1;
    s.hueLow = 0.0, s.hueHigh = 1.0, s.hueClimax = 1.0, s.hueSoften = 0.0;
    s.saturationLow = 0.0, s.saturationHigh = 1.0, s.saturationClimax = 1.0, s.saturationSoften = 0.0;
    // 4. The lightness window in 0..1.
    s.lightnessLow = f.HighlightSelectionLow.GetValue() * (1.0 / 255.0);
    s.lightnessHigh = f.HighlightSelectionHigh.GetValue() * (1.0 / 255.0);
    s.lightnessClimax = f.HighlightSelectionClimax.GetValue();
    s.lightnessSoften = f.HighlightSelectionSoften.GetValue();
    s.hueOffset = s.saturationOffset = s.lightnessOffset = 0.0;
    return s;
}

OutOfFocusParams MakeOutOfFocusParams(const pfFilterPelidorn& f, uint32_t w, uint32_t h) {
    const Common c = Convert(f, w, h);
    OutOfFocusParams p{};
    // 7. The short list's numbering; values of the long list above 5 show the selection.
    const int32_t show = f.Show.GetSelection();
    p.view = show > 5 ? 9 : show;
    p.blur_radius = c.blurRadius;
    p.gamma_correction = f.GammaCorrection.GetValue() ? 1 : 0;
    p.refraction_amount = 0.0;
    p.refraction_samples = 0;
    p.edge_mode_x = p.edge_mode_y = c.edgeMode;
    for (int i = 0; i < 4; ++i) p.outside_color[i] = c.outside[i];
    p.keep_color = 0;
    p.iris_softness = f.IrisSoftness.GetValue();
    p.iris_roundness = f.IrisRoundFacets.GetValue();
    p.iris_border = f.IrisBorder.GetValue();
    p.iris_border_brightness = f.IrisBorderBrightness.GetValue();
    p.iris_angle = c.irisAngle;
    p.iris_aspect = f.IrisAspect.GetValue();
    p.iris_facets = f.IrisFacets.GetValue();
    p.highlight_preservative = f.HighlightPreservative.GetValue();
    p.highlight_additive = f.HighlightAdditive.GetValue();
    p.highlight_selection = MakeHighlightSelection(f, p.view == 4);
    p.scale_x = c.scaleX;
    p.scale_y = c.scaleY;
    return p;
}

DepthOfFieldParams MakeDepthOfFieldParams(const pfFilterPelidorn& f, uint32_t w, uint32_t h) {
    const Common c = Convert(f, w, h);
    DepthOfFieldParams p{};
    p.view = f.Show.GetSelection();
    p.gamma_correction = f.GammaCorrection.GetValue() ? 1 : 0;
    p.blur_radius = c.blurRadius;
    p.iris_roundness = f.IrisRoundFacets.GetValue();
    p.iris_border = f.IrisBorder.GetValue();
    p.iris_border_brightness = f.IrisBorderBrightness.GetValue();
    p.iris_angle = c.irisAngle;
    p.iris_aspect = f.IrisAspect.GetValue();
    p.iris_facets = f.IrisFacets.GetValue();
    p.depth_invert = f.DepthInvert.GetValue() ? 1 : 0;
    p.depth_curve = f.DepthCurve.GetValue();
    p.depth_mode = 1;
    p.focal_point = f.FocalPoint.GetValue();
    p.depth_low = 0.0;
    p.depth_high = 1.0;
    p.highlight_preservative = f.HighlightPreservative.GetValue();
    p.highlight_selection = MakeHighlightSelection(f, p.view == 5);
    p.edge_mode_x = p.edge_mode_y = c.edgeMode;
    for (int i = 0; i < 4; ++i) p.outside_color[i] = c.outside[i];
    p.scale_x = c.scaleX;
    p.scale_y = c.scaleY;
    p.radius_table = nullptr;
    return p;
}

RenderEngine ChooseEngine(const pfFilterPelidorn& filter, const ImgMask8& mask) {
    return (mask.valid && filter.SelectionIs.GetSelection() == 1) ? RenderEngine::DepthOfField
                                                                  : RenderEngine::OutOfFocus;
}

}  // namespace ov
