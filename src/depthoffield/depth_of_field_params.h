// DepthOfFieldParams: the settings block of the depth-of-field path, filled by
// the render entry and copied whole into ov::DepthOfFieldFilter, which only reads it.
// Widths: i32 = int32_t, f64 = double, f32 = float, flag = uint8_t.
#pragma once

#include <cstdint>

#include "kernel/highlight_selection.h"

struct DepthOfFieldParams {
    int32_t view;                    // the Show selection of the 7-entry list, unchanged
    uint8_t gamma_correction;        // blur in linear light
    double blur_radius;              // full-image pixels per 255 depth levels from the focus
    double iris_roundness;           // 0..1
    double iris_border;              // 0..1
    double iris_border_brightness;   // -1..1
    double iris_angle;               // radians, sign reversed
    double iris_aspect;              // -0.75..0.75
    int32_t iris_facets;
    uint8_t depth_invert;
    double depth_curve;              // exponent of the depth curve
    int32_t depth_mode;              // 1: the depth-map pixel
    double focal_point;              // depth level in focus, 0..255
    double depth_low;                // 0.0
    double depth_high;               // 1.0
    double highlight_preservative;
    HighlightSelectionParams highlight_selection;
    int32_t edge_mode_x;             // EdgeMode 1..4
    int32_t edge_mode_y;
    float outside_color[4];          // red, green, blue, 1.0
    double scale_x;                  // full-image pixels per rendered pixel
    double scale_y;
    const double* radius_table;      // null: the focal-point rule
};
