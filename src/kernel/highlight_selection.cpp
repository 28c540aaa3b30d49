// The highlight selection window: setup of the prepared record and the per-pixel weight.
#include "kernel/highlight_selection.h"

#include <algorithm>
#include <cmath>

namespace {

// Orders the two ends, adds the offset and, when `wrap`, shifts the window into one turn:
// by k = trunc(lo) for lo >= 0, trunc(lo) - 1 below (a negative whole lo lands on 1), and
// caps a window of a whole turn or more at [lo, lo + 1.00001].
HslRangeWindow makeWindow(double low, double high, double climax, double soften,
                          double offset, bool wrap) {
  HslRangeWindow w;
  w.lo = (low > high ? high : low) + offset;
  w.hi = (low > high ? low : high) + offset;
  if (wrap) {
    // The shift is a whole number; formed in double it equals the 32-bit integer of the
    // setup for every lo in range and stays defined beyond it.
    const double k = w.lo >= 0.0 ? std::trunc(w.lo) : std::trunc(w.lo) - 1.0;
    w.hi -= k;
    w.lo -= k;
    if (w.hi >= w.lo + 1.0) w.hi = w.lo + 1.00001;
  }
  w.invWidth = w.hi == w.lo ? 1.0 : 1.0 / (w.hi - w.lo);
  w.peak = (climax + 1.0) * 0.5;
  w.exponent = soften;
  return w;
}

}  // namespace

void hslRangeSetup(HslRangeSettings& settings, const HighlightSelectionParams& block,
                   HslRangeForm form) {
  settings.hue = makeWindow(block.hueLow, block.hueHigh, block.hueClimax, block.hueSoften,
                            block.hueOffset, true);
  settings.saturation =
      makeWindow(block.saturationLow, block.saturationHigh, block.saturationClimax,
                 block.saturationSoften, block.saturationOffset, true);
  settings.lightness =
      makeWindow(block.lightnessLow, block.lightnessHigh, block.lightnessClimax,
                 block.lightnessSoften, block.lightnessOffset, form == HslRangeForm::Integer);
  settings.enabled = block.enabled;
}

namespace hsl_detail {

double weight(const HslRangeSettings& s, double r, double g, double b, bool floatPixel) {
  // Double-hexcone hue, saturation and lightness; red is tested first, then green.
  const double mx = std::max(std::max(r, g), b);
  const double mn = std::min(std::min(r, g), b);
  double L = (mx + mn) * 0.5;
  double S = 0.0;
  double H = 0.0;
  if (mn != mx) {
    const double d = mx - mn;
    S = L > 0.5 ? d / (2.0 - mx - mn) : d / (mx + mn);
    double h6;
    if (r == mx) h6 = (g - b) / d;
    else if (g == mx) h6 = (b - r) / d + 2.0;
    else h6 = (r - g) / d + 4.0;
    if (h6 < 0.0) h6 += 6.0;
    H = h6 * 0.16666666666666666;
  }
  if (floatPixel) {
    S = std::clamp(S, 0.0, 1.0);
    H = std::clamp(H, 0.0, 1.0);
    if (L < 0.0) L = 0.0;
  }

  if (!insideWrapped(H, s.hue)) return 0.0;
  if (!insideWrapped(S, s.saturation)) return 0.0;
  if (floatPixel) {
    if (!(L >= s.lightness.lo && L <= s.lightness.hi)) return 0.0;
  } else if (!insideWrapped(L, s.lightness)) {
    return 0.0;
  }

  double result = 1.0;
  if (s.hue.exponent > 0.0) result *= softFactor(H, s.hue);
  if (s.saturation.exponent > 0.0) result *= softFactor(S, s.saturation);
  if (s.lightness.exponent > 0.0) result *= softFactor(L, s.lightness);
  return result;
}

}  // namespace hsl_detail
