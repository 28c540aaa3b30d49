// Settings block of the out-of-focus path: a plain record that the render entry fills from
// the lens filter's parameters, and that is copied by value into ov::OutOfFocusEffect and
// from there into ov::OutOfFocusFilter and buildIrisKernelImage. The engines only read it.
//
// Units: radii in full-image pixels, angles in radians (sign reversed against the dialog),
// colours and windows in 0..1. Widths: i32 = int32_t, f64 = double, f32 = float,
// flag = uint8_t (0 or 1).
#pragma once

#include <cstdint>

#include "kernel/highlight_selection.h"

struct OutOfFocusParams {
  // View: 1 "normal blur", 2 "iris", any other value the highlight-selection view (the
  // render entry delivers 3 and 4, and stores 5 or 9 for values of the long Show list).
  int32_t view;
  // Uniform blur radius in full-image pixels.
  double blur_radius;
  // Blur in linear light (BT.709 transfer).
  uint8_t gamma_correction;
  // Refraction stage: displacement amount and sub-sample setting (0 and 0 from the render
  // entry, which offers no refraction image).
  double refraction_amount;
  int32_t refraction_samples;
  // Edge modes for columns and rows outside the image: 1 clamp, 2 mirror, 3 wrap, 4 the
  // outside colour.
  int32_t edge_mode_x;
  int32_t edge_mode_y;
  // Colour outside the image for edge mode 4: red, green, blue, alpha in 0..1.
  float outside_color[4];
  // With an iris image: one kernel plane per colour channel instead of one gray kernel.
  uint8_t keep_color;
  // Softening of the iris kernel (0 and up).
  double iris_softness;
  // Iris shape: facet rounding 0..1, rim width 0..1, rim brightness -1..1, rotation in
  // radians (sign reversed), aspect -0.75..0.75, number of facets.
  double iris_roundness;
  double iris_border;
  double iris_border_brightness;
  double iris_angle;
  double iris_aspect;
  int32_t iris_facets;
  // Highlight weight strength and additive highlight gain.
  double highlight_preservative;
  double highlight_additive;
  // Which pixels count as highlights, and the mask switch of the selection views.
  HighlightSelectionParams highlight_selection;
  // Full-image pixels per rendered pixel, horizontally and vertically (1 in the final render).
  double scale_x;
  double scale_y;
};
