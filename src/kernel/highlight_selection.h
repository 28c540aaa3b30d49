// The highlight selection window: how strongly a pixel counts as a highlight.
//
// A pixel's colour is taken to hue, saturation and lightness; each component is tested
// against a window, and inside all three the pixel gets a weight in 0..1 that can fall off
// softly (a tent raised to a power) towards the window's ends.
//
// Use: a user turns the parameter block into a prepared record once per unit of parallel
// work (a row, a band, a tile) with hslRangeSetup, in the form that matches the sample type
// of the pixels it will weight, and then calls hslRangeWeight once per pixel. Both are pure:
// any number of threads may weight pixels against one prepared record at once.
//
// Forms: the integer form (8-bit and 16-bit images) wraps all three windows into one turn;
// the float form (float images) wraps hue and saturation but leaves lightness unwrapped, so
// a float pixel brighter than 1.0 can fall outside the window.
#pragma once

#include <cmath>
#include <cstdint>
#include <type_traits>

// The selection as the render entry fills it (a plain record, copied by value). Hue and
// saturation are in turns / 0..1, lightness in 0..1 for samples 0..MAX.
struct HighlightSelectionParams {
  uint8_t maskMode;  // 1: the selection views show the weight itself as grey
  uint8_t enabled;   // 0: no selection (weight 0 everywhere)
  double hueLow;
  double hueHigh;     // the two ends may come in either order
  double hueClimax;   // -1 peak at the low end, 0 in the middle, +1 at the high end
  double hueSoften;   // exponent of the soft fall-off; <= 0 is a hard-edged window
  double saturationLow;
  double saturationHigh;
  double saturationClimax;
  double saturationSoften;
  double lightnessLow;
  double lightnessHigh;
  double lightnessClimax;
  double lightnessSoften;
  double hueOffset;         // added to both ends of the hue window
  double saturationOffset;  // added to both ends of the saturation window
  double lightnessOffset;   // added to both ends of the lightness window
};

// One prepared window: lo <= hi; a wrapped window has hi <= lo + 1.00001.
struct HslRangeWindow {
  double lo;
  double hi;
  double invWidth;  // 1 / (hi - lo), exactly 1.0 when hi == lo
  double peak;      // (climax + 1) / 2: where the tent peaks, 0 at lo .. 1 at hi
  double exponent;  // the soften value
};

// The prepared form of HighlightSelectionParams; written by hslRangeSetup only.
struct HslRangeSettings {
  uint8_t enabled;
  HslRangeWindow hue;
  HslRangeWindow saturation;
  HslRangeWindow lightness;
};

enum class HslRangeForm {
  Integer,  // 8-bit and 16-bit images: all three windows wrap
  Float,    // float images: the lightness window does not wrap
};

// Fills every field of `settings` from `block` (maskMode is not carried over).
void hslRangeSetup(HslRangeSettings& settings, const HighlightSelectionParams& block,
                   HslRangeForm form);

// The form that matches the samples of Pixel (an ov::PixelRGB): float form for float samples.
template <class Pixel>
inline void hslRangeSetup(HslRangeSettings& settings, const HighlightSelectionParams& block) {
  hslRangeSetup(settings, block,
                std::is_floating_point_v<typename Pixel::sample_type> ? HslRangeForm::Float
                                                                      : HslRangeForm::Integer);
}

namespace hsl_detail {

// The window test of one component: x at or above lo is inside up to hi inclusive; below lo
// it is taken one turn on (x + 1, written back) and is inside when that is below hi.
inline bool insideWrapped(double& x, const HslRangeWindow& w) {
  if (x >= w.lo) return x <= w.hi;
  x += 1.0;
  return x < w.hi;
}

// The tent at x (x >= lo), raised to the window's exponent.
inline double softFactor(double x, const HslRangeWindow& w) {
  const double t = (x - w.lo) * w.invWidth;
  double base;
  if (t < w.peak) base = t / w.peak;
  else if (w.peak == 1.0) base = 1.0;
  else base = 1.0 - (t - w.peak) / (1.0 - w.peak);
  return std::pow(base, w.exponent);
}

// Weight of the colour (r, g, b) on the scale 0..1. `floatPixel`: clamp H and S to 0..1,
// raise negative L to 0, and test lightness without the wrap.
double weight(const HslRangeSettings& s, double r, double g, double b, bool floatPixel);

}  // namespace hsl_detail

namespace hsl_detail {

// The weight of the first `colours` samples of a pixel (one body per sample type and colour
// count, shared by the layouts with and without alpha).
template <class T, int colours, int max>
inline double sampleWeight(const HslRangeSettings& settings, const T* v) {
  static_assert(colours >= 1 && colours <= 3, "a pixel with colour samples");
  // 8-bit samples times 1/255, 16-bit times 1/32768; float samples as they are (MAX 1).
  constexpr double scale = std::is_same_v<T, unsigned char>    ? 1.0 / 255.0
                           : std::is_same_v<T, unsigned short> ? 1.0 / 32768.0
                                                               : 1.0 / double(max);
  // A gray sample is the colour (v, v, v): a gray image's white is full lightness. A
  // two-channel pixel lacks its third sample, which counts as 0.
  const double r = double(v[0]) * scale;
  const double g = colours >= 2 ? double(v[1]) * scale : r;
  const double b = colours >= 3 ? double(v[2]) * scale : (colours == 1 ? r : 0.0);
  return weight(settings, r, g, b, std::is_floating_point_v<T>);
}

}  // namespace hsl_detail

// The highlight weight (0..1) of one pixel (an ov::PixelRGB: gray, two-channel or RGB; 8-bit,
// 16-bit or float samples) against a record prepared in the matching form. Alpha is not read:
// hand in a pixel already multiplied by its alpha. A gray pixel v is the colour (v, v, v):
// lightness v, saturation 0, hue 0. A two-channel pixel (c0, c1) is the colour (c0, c1, 0).
template <class Pixel>
inline double hslRangeWeight(const HslRangeSettings& settings, const Pixel& pixel) {
  if (settings.enabled == 0) return 0.0;
  return hsl_detail::sampleWeight<typename Pixel::sample_type, Pixel::colour_count,
                                  Pixel::max_int>(settings, pixel.v);
}
