// The highlight selection window: setup, window bounds, wrap, softening and grey pixels.
#include "kernel/highlight_selection.h"

#include <gtest/gtest.h>

#include <cmath>

#include "pixel/formats.h"

namespace {

using ov::PxHostGray_F1;
using ov::PxHostGray_U16;
using ov::PxHostGray_U8;
using ov::PxHostRGB_F1;
using ov::PxHostRGB_U16;
using ov::PxHostRGB_U8;
using ov::PxHostRGBA_U8;
using ov::PxHostTwoCh_U8;

// The block as the render entry fills it, with the lightness window low .. high in 0..255.
HighlightSelectionParams renderBlock(double low = 200, double high = 255, double climax = 0,
                                     double soften = 0) {
  HighlightSelectionParams b{};
  b.maskMode = 0;
  b.enabled = 1;
  b.hueLow = 0.0;
  b.hueHigh = 1.0;
  b.hueClimax = 1.0;
  b.hueSoften = 0.0;
  b.saturationLow = 0.0;
  b.saturationHigh = 1.0;
  b.saturationClimax = 1.0;
  b.saturationSoften = 0.0;
  b.lightnessLow = low * (1.0 / 255);
  b.lightnessHigh = high * (1.0 / 255);
  b.lightnessClimax = climax;
  b.lightnessSoften = soften;
  return b;
}

HslRangeSettings setup(const HighlightSelectionParams& b, HslRangeForm form) {
  HslRangeSettings s;
  hslRangeSetup(s, b, form);
  return s;
}

// A float RGB pixel (r, g, b) with lightness L and saturation 0: gray r = g = b = L.
PxHostRGB_F1 greyF(double L) {
  const float v = static_cast<float>(L);
  return PxHostRGB_F1{{v, v, v}};
}

TEST(HslRangeSetup, RenderBlockDefaults) {
  for (HslRangeForm form : {HslRangeForm::Integer, HslRangeForm::Float}) {
    const HslRangeSettings s = setup(renderBlock(), form);
    EXPECT_EQ(s.enabled, 1);
    EXPECT_EQ(s.lightness.lo, 200.0 / 255);
    EXPECT_EQ(s.lightness.hi, 1.0);
    EXPECT_EQ(s.lightness.invWidth, 1.0 / (1.0 - 200.0 / 255));
    EXPECT_EQ(s.lightness.peak, 0.5);
    EXPECT_EQ(s.lightness.exponent, 0.0);
    // Hue and saturation 0 .. 1: a whole turn, capped at lo + 1.00001.
    EXPECT_EQ(s.hue.lo, 0.0);
    EXPECT_EQ(s.hue.hi, 1.00001);
    EXPECT_EQ(s.hue.invWidth, 1.0 / 1.00001);
    EXPECT_EQ(s.hue.peak, 1.0);
    EXPECT_EQ(s.saturation.lo, 0.0);
    EXPECT_EQ(s.saturation.hi, 1.00001);
  }
}

TEST(HslRangeSetup, Cases) {
  struct Case {
    double low, high, offset;
    HslRangeForm form;
    double lo, hi;
  };
  const Case cases[] = {
      {255.0 / 255, 200.0 / 255, 0.0, HslRangeForm::Integer, 200.0 / 255, 1.0},  // ends swapped
      {0.9, 1.1, 0.0, HslRangeForm::Integer, 0.9, 1.1},        // k = 0, below lo + 1: unchanged
      {1.0, 1.0, 0.0, HslRangeForm::Float, 1.0, 1.0},          // float lightness: no wrap
      {1.0, 1.0, 0.0, HslRangeForm::Integer, 0.0, 0.0},        // integer: wraps to [0, 0]
      {1.25, 1.5, 0.0, HslRangeForm::Integer, 0.25, 0.5},      // shifted by one turn
      {0.25, 0.5, 2.0, HslRangeForm::Integer, 0.25, 0.5},      // the offset, then the shift
      {-1.0, -0.5, 0.0, HslRangeForm::Integer, 1.0, 1.5},      // a negative whole lo lands on 1
      {-0.25, 0.1, 0.0, HslRangeForm::Integer, 0.75, 1.1},     // k = -1
      {0.2, 3.0, 0.0, HslRangeForm::Integer, 0.2, 1.20001},    // more than a turn: capped
      {-0.5, 0.5, 0.0, HslRangeForm::Integer, 0.5, 1.50001},   // exactly a turn: capped
      {0.3, 0.3, 0.0, HslRangeForm::Integer, 0.3, 0.3},        // zero width
      {-0.5, 2.0, 0.0, HslRangeForm::Float, -0.5, 2.0},        // float lightness as given
  };
  for (const Case& c : cases) {
    HighlightSelectionParams b = renderBlock();
    b.lightnessLow = c.low;
    b.lightnessHigh = c.high;
    b.lightnessOffset = c.offset;
    const HslRangeWindow w = setup(b, c.form).lightness;
    EXPECT_NEAR(w.lo, c.lo, 1e-15) << c.low << " " << c.high;
    EXPECT_NEAR(w.hi, c.hi, 1e-15) << c.low << " " << c.high;
    EXPECT_GE(w.hi, w.lo);
    if (w.hi == w.lo) {
      EXPECT_EQ(w.invWidth, 1.0);
    } else {
      EXPECT_EQ(w.invWidth, 1.0 / (w.hi - w.lo));
    }
  }
  // The same rules serve hue and saturation, always wrapped, with their own offsets.
  HighlightSelectionParams b = renderBlock();
  b.hueLow = 0.1;
  b.hueHigh = 0.3;
  b.hueOffset = 0.8;
  b.saturationLow = 0.5;
  b.saturationHigh = 0.2;
  b.saturationOffset = -1.0;
  b.saturationClimax = -0.5;
  b.saturationSoften = 2.5;
  const HslRangeSettings s = setup(b, HslRangeForm::Float);
  EXPECT_NEAR(s.hue.lo, 0.9, 1e-15);
  EXPECT_NEAR(s.hue.hi, 1.1, 1e-15);
  EXPECT_NEAR(s.saturation.lo, 0.2, 1e-15);
  EXPECT_NEAR(s.saturation.hi, 0.5, 1e-15);
  EXPECT_EQ(s.saturation.peak, 0.25);
  EXPECT_EQ(s.saturation.exponent, 2.5);
  b.enabled = 0;
  EXPECT_EQ(setup(b, HslRangeForm::Integer).enabled, 0);
}

TEST(HslRangeSetup, FormFollowsTheSampleType) {
  HighlightSelectionParams b = renderBlock();
  b.lightnessLow = b.lightnessHigh = 1.0;
  HslRangeSettings s8, s16, sf;
  hslRangeSetup<PxHostRGB_U8>(s8, b);
  hslRangeSetup<PxHostRGB_U16>(s16, b);
  hslRangeSetup<PxHostRGB_F1>(sf, b);
  EXPECT_EQ(s8.lightness.lo, 0.0);
  EXPECT_EQ(s16.lightness.lo, 0.0);
  EXPECT_EQ(sf.lightness.lo, 1.0);
}

TEST(HslRangeWeight, RenderBlockExamples) {
  const HslRangeSettings si = setup(renderBlock(), HslRangeForm::Integer);
  EXPECT_EQ(hslRangeWeight(si, PxHostRGB_U8{{255, 255, 255}}), 1.0);  // L 1
  EXPECT_EQ(hslRangeWeight(si, PxHostRGB_U8{{204, 204, 204}}), 1.0);  // L 0.8
  EXPECT_EQ(hslRangeWeight(si, PxHostRGB_U8{{255, 0, 0}}), 0.0);      // L 0.5
  EXPECT_EQ(hslRangeWeight(si, PxHostGray_U8{{255}}), 1.0);           // gray white: L 1
  EXPECT_EQ(hslRangeWeight(si, PxHostGray_U8{{199}}), 0.0);           // L 0.78, below 200/255
  EXPECT_EQ(hslRangeWeight(si, PxHostTwoCh_U8{{255, 255}}), 0.0);     // (255, 255, 0): L 0.5
  EXPECT_EQ(hslRangeWeight(si, PxHostRGBA_U8{{255, 255, 255, 0}}), 1.0);  // alpha not read
  EXPECT_EQ(hslRangeWeight(si, PxHostRGB_U16{{32768, 32768, 32768}}), 1.0);
  EXPECT_EQ(hslRangeWeight(si, PxHostRGB_U16{{32768, 0, 0}}), 0.0);
}

TEST(HslRangeWeight, BoundsOfTheWindow) {
  // Lightness [0.5, 0.75]; grey float pixels carry their lightness exactly.
  HighlightSelectionParams b = renderBlock();
  b.lightnessLow = 0.5;
  b.lightnessHigh = 0.75;
  const HslRangeSettings sf = setup(b, HslRangeForm::Float);
  EXPECT_EQ(hslRangeWeight(sf, greyF(0.5)), 1.0);      // at lo: inside
  EXPECT_EQ(hslRangeWeight(sf, greyF(0.75)), 1.0);     // at hi: inside (inclusive)
  EXPECT_EQ(hslRangeWeight(sf, greyF(0.4999)), 0.0);   // below lo
  EXPECT_EQ(hslRangeWeight(sf, greyF(0.7501)), 0.0);   // beyond hi
  EXPECT_EQ(hslRangeWeight(sf, greyF(1.5)), 0.0);      // a float highlight above 1
  EXPECT_EQ(hslRangeWeight(sf, greyF(-0.2)), 0.0);     // L raised to 0, below lo

  // Integer form: a value below lo is taken one turn on and must then lie below hi.
  const HslRangeSettings si = setup(b, HslRangeForm::Integer);
  EXPECT_EQ(hslRangeWeight(si, PxHostRGB_U16{{16384, 16384, 16384}}), 1.0);  // 0.5
  EXPECT_EQ(hslRangeWeight(si, PxHostRGB_U16{{24576, 24576, 24576}}), 1.0);  // 0.75
  EXPECT_EQ(hslRangeWeight(si, PxHostRGB_U16{{16383, 16383, 16383}}), 0.0);
  EXPECT_EQ(hslRangeWeight(si, PxHostRGB_U16{{24577, 24577, 24577}}), 0.0);

  // An integer window reaching past 1 admits the low lightnesses that wrap below hi - 1.
  b.lightnessLow = 0.75;
  b.lightnessHigh = 1.2;
  const HslRangeSettings sw = setup(b, HslRangeForm::Integer);
  EXPECT_EQ(hslRangeWeight(sw, PxHostRGB_U8{{0, 0, 0}}), 1.0);        // 0 + 1 < 1.2
  EXPECT_EQ(hslRangeWeight(sw, PxHostRGB_U8{{51, 51, 51}}), 0.0);     // 0.2 + 1, not < 1.2
  EXPECT_EQ(hslRangeWeight(sw, PxHostRGB_U8{{50, 50, 50}}), 1.0);
  EXPECT_EQ(hslRangeWeight(sw, PxHostRGB_U8{{180, 180, 180}}), 0.0);  // 0.706 < lo
  // The float form keeps [0.75, 1.2] and does not wrap.
  const HslRangeSettings sfw = setup(b, HslRangeForm::Float);
  EXPECT_EQ(hslRangeWeight(sfw, greyF(0.0)), 0.0);
  EXPECT_EQ(hslRangeWeight(sfw, greyF(1.1)), 1.0);

  // Zero-width window.
  b.lightnessLow = b.lightnessHigh = 0.5;
  HslRangeSettings sz = setup(b, HslRangeForm::Float);
  EXPECT_EQ(sz.lightness.invWidth, 1.0);
  EXPECT_EQ(hslRangeWeight(sz, greyF(0.5)), 1.0);
  EXPECT_EQ(hslRangeWeight(sz, greyF(0.5001)), 0.0);
  b.lightnessSoften = 1.0;
  b.lightnessClimax = 0.0;
  EXPECT_EQ(hslRangeWeight(setup(b, HslRangeForm::Float), greyF(0.5)), 0.0);  // t 0, peak 0.5
  b.lightnessClimax = -1.0;
  EXPECT_EQ(hslRangeWeight(setup(b, HslRangeForm::Float), greyF(0.5)), 1.0);  // peak 0

  // Low = High = 255: float pixels of lightness exactly 1, integer pixels of lightness 0.
  b = renderBlock(255, 255);
  EXPECT_EQ(hslRangeWeight(setup(b, HslRangeForm::Float), greyF(1.0)), 1.0);
  EXPECT_EQ(hslRangeWeight(setup(b, HslRangeForm::Float), greyF(0.0)), 0.0);
  EXPECT_EQ(hslRangeWeight(setup(b, HslRangeForm::Integer), PxHostRGB_U8{{0, 0, 0}}), 1.0);
  EXPECT_EQ(hslRangeWeight(setup(b, HslRangeForm::Integer), PxHostRGB_U8{{255, 255, 255}}), 0.0);
}

TEST(HslRangeWeight, WrappedHueWindow) {
  // Hue [0.9, 1.1]: the hues in [0.9, 1) and, one turn on, those in [0, 0.1).
  HighlightSelectionParams b = renderBlock(0, 255);
  b.hueLow = 0.9;
  b.hueHigh = 1.1;
  const HslRangeSettings s = setup(b, HslRangeForm::Float);
  auto hue = [](double h) {
    // A saturated colour of hue h (in turns), lightness 0.5.
    const double h6 = h * 6.0;
    double r = 0, g = 0, bl = 0;
    if (h6 < 1) { r = 1; g = h6; }
    else if (h6 < 2) { r = 2 - h6; g = 1; }
    else if (h6 < 3) { g = 1; bl = h6 - 2; }
    else if (h6 < 4) { g = 4 - h6; bl = 1; }
    else if (h6 < 5) { r = h6 - 4; bl = 1; }
    else { r = 1; bl = 6 - h6; }
    return PxHostRGB_F1{{float(r), float(g), float(bl)}};
  };
  EXPECT_EQ(hslRangeWeight(s, hue(0.95)), 1.0);
  EXPECT_EQ(hslRangeWeight(s, hue(0.0)), 1.0);   // red: 0 + 1 inside
  EXPECT_EQ(hslRangeWeight(s, hue(0.05)), 1.0);
  EXPECT_EQ(hslRangeWeight(s, hue(0.15)), 0.0);
  EXPECT_EQ(hslRangeWeight(s, hue(0.85)), 0.0);
  EXPECT_EQ(hslRangeWeight(s, hue(0.5)), 0.0);
  // With a soft hue the wrapped value's tent position is measured from lo: hue 0 lies
  // halfway (t 0.5), as does hue 1.0 itself.
  b.hueSoften = 1.0;
  b.hueClimax = 0.0;
  const HslRangeSettings soft = setup(b, HslRangeForm::Float);
  EXPECT_NEAR(hslRangeWeight(soft, hue(0.0)), 1.0, 1e-9);
  EXPECT_NEAR(hslRangeWeight(soft, hue(0.95)), 0.5, 1e-6);
  EXPECT_NEAR(hslRangeWeight(soft, hue(0.05)), 0.5, 1e-6);
}

TEST(HslRangeWeight, SofteningAndClimax) {
  HighlightSelectionParams b = renderBlock();
  b.lightnessLow = 0.5;
  b.lightnessHigh = 1.0;
  b.lightnessSoften = 1.0;
  b.lightnessClimax = 0.0;
  HslRangeSettings s = setup(b, HslRangeForm::Float);
  EXPECT_EQ(hslRangeWeight(s, greyF(0.75)), 1.0);
  EXPECT_EQ(hslRangeWeight(s, greyF(0.625)), 0.5);
  EXPECT_EQ(hslRangeWeight(s, greyF(0.5)), 0.0);
  EXPECT_EQ(hslRangeWeight(s, greyF(0.875)), 0.5);
  EXPECT_EQ(hslRangeWeight(s, greyF(1.0)), 0.0);
  b.lightnessSoften = 2.0;
  s = setup(b, HslRangeForm::Float);
  EXPECT_EQ(hslRangeWeight(s, greyF(0.625)), 0.25);
  b.lightnessSoften = 0.5;
  s = setup(b, HslRangeForm::Float);
  EXPECT_NEAR(hslRangeWeight(s, greyF(0.625)), std::sqrt(0.5), 1e-15);
  // Climax -1: peak at the low end, weight 1 there falling to 0 at 1.
  b.lightnessSoften = 1.0;
  b.lightnessClimax = -1.0;
  s = setup(b, HslRangeForm::Float);
  EXPECT_EQ(hslRangeWeight(s, greyF(0.5)), 1.0);
  EXPECT_EQ(hslRangeWeight(s, greyF(0.75)), 0.5);
  EXPECT_EQ(hslRangeWeight(s, greyF(1.0)), 0.0);
  // Climax +1: the tent is t itself.
  b.lightnessClimax = 1.0;
  s = setup(b, HslRangeForm::Float);
  EXPECT_EQ(hslRangeWeight(s, greyF(0.5)), 0.0);
  EXPECT_EQ(hslRangeWeight(s, greyF(0.75)), 0.5);
  EXPECT_EQ(hslRangeWeight(s, greyF(1.0)), 1.0);
  // An exponent of 0 or less contributes nothing: a hard window.
  b.lightnessSoften = -2.0;
  s = setup(b, HslRangeForm::Float);
  EXPECT_EQ(hslRangeWeight(s, greyF(0.5)), 1.0);
  // The factors of the three components multiply.
  b = renderBlock(0, 255, 0.0, 1.0);  // lightness tent over 0 .. 1, peak 0.5
  b.saturationSoften = 1.0;
  b.saturationClimax = 1.0;  // saturation factor = S / 1.00001
  s = setup(b, HslRangeForm::Float);
  const PxHostRGB_F1 px{{0.5f, 0.25f, 0.25f}};  // L 0.375, S 0.25 / 0.75
  const double L = 0.375, S = 0.25 / 0.75;
  EXPECT_NEAR(hslRangeWeight(s, px), (S / 1.00001) * (L / 0.5), 1e-12);
}

TEST(HslRangeWeight, GreyAndTwoChannelPixels) {
  // A gray pixel v is the colour (v, v, v): lightness v, saturation 0, hue 0, as the RGB
  // pixel (v, v, v) of every sample type. Two channels (c0, c1) are (c0, c1, 0).
  HighlightSelectionParams b = renderBlock();
  auto window = [&](double lo, double hi) {
    b.lightnessLow = lo;
    b.lightnessHigh = hi;
    return setup(b, HslRangeForm::Integer);
  };
  EXPECT_EQ(hslRangeWeight(window(1.0, 1.0), PxHostGray_U8{{255}}), 0.0);  // [1, 1] wraps to [0, 0]
  EXPECT_EQ(hslRangeWeight(window(0.5, 0.5), PxHostGray_U16{{16384}}), 1.0);
  EXPECT_EQ(hslRangeWeight(window(0.0, 0.0), PxHostGray_U8{{0}}), 1.0);
  EXPECT_EQ(hslRangeWeight(window(0.51, 0.6), PxHostGray_U8{{128}}), 0.0);  // L 0.502
  EXPECT_EQ(hslRangeWeight(window(0.5, 0.6), PxHostGray_U8{{128}}), 1.0);
  for (const double lo : {0.1, 0.3, 0.5, 0.7, 0.9}) {
    const HslRangeSettings w = window(lo, lo + 0.05);
    for (int v = 0; v <= 255; v += 5) {
      const auto u = uint8_t(v);
      EXPECT_EQ(hslRangeWeight(w, PxHostGray_U8{{u}}), hslRangeWeight(w, PxHostRGB_U8{{u, u, u}})) << v;
      const auto u16 = uint16_t(v * 128);
      EXPECT_EQ(hslRangeWeight(w, ov::PxHostGrayA_U16{{u16, 0}}), hslRangeWeight(w, ov::PxHostRGBA_U16{{u16, u16, u16, 0}})) << v;
    }
  }
  // Saturation: a gray pixel is unsaturated.
  b = renderBlock(0, 255);
  b.saturationLow = 0.99;
  b.saturationHigh = 1.0;
  HslRangeSettings s = setup(b, HslRangeForm::Integer);
  EXPECT_EQ(hslRangeWeight(s, PxHostGray_U8{{10}}), 0.0);
  EXPECT_EQ(hslRangeWeight(s, PxHostGray_U8{{0}}), 0.0);
  EXPECT_EQ(hslRangeWeight(s, PxHostTwoCh_U8{{10, 0}}), 1.0);  // (10, 0, 0): fully saturated
  // Hue: gray is hue 0; a two-channel pixel (0, c1) is green (1/3).
  b = renderBlock(0, 255);
  b.hueLow = 0.3;
  b.hueHigh = 0.4;
  s = setup(b, HslRangeForm::Integer);
  EXPECT_EQ(hslRangeWeight(s, PxHostGray_U8{{200}}), 0.0);
  EXPECT_EQ(hslRangeWeight(s, PxHostTwoCh_U8{{0, 200}}), 1.0);
  EXPECT_EQ(hslRangeWeight(s, PxHostTwoCh_U8{{200, 200}}), 0.0);  // yellow, 1/6
  // Float gray: the same rule on unscaled samples.
  b = renderBlock();
  b.lightnessLow = b.lightnessHigh = 0.5;
  EXPECT_EQ(hslRangeWeight(setup(b, HslRangeForm::Float), PxHostGray_F1{{0.5f}}), 1.0);
}

TEST(HslRangeWeight, FloatClampsAndDisabled) {
  // A negative channel can push S outside 0..1; it is clamped into the window [0.99, 1].
  HighlightSelectionParams b = renderBlock(0, 255);
  b.saturationLow = 0.99;
  b.saturationHigh = 1.0;
  const HslRangeSettings s = setup(b, HslRangeForm::Float);
  // (1, -0.5, -0.5): L 0.25, S = 1.5 / 0.5 = 3 -> 1.
  EXPECT_EQ(hslRangeWeight(s, PxHostRGB_F1{{1.0f, -0.5f, -0.5f}}), 1.0);
  // Disabled: weight 0 whatever the windows.
  b = renderBlock(0, 255);
  b.enabled = 0;
  const HslRangeSettings off = setup(b, HslRangeForm::Integer);
  EXPECT_EQ(hslRangeWeight(off, PxHostRGB_U8{{255, 255, 255}}), 0.0);
  EXPECT_EQ(hslRangeWeight(off, PxHostGray_U8{{100}}), 0.0);
}

}  // namespace
