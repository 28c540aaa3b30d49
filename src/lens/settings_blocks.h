// The two settings blocks, filled from the lens filter's parameters (OutOfFocusParams in
// outoffocus/out_of_focus_params.h, DepthOfFieldParams in depthoffield/depth_of_field_params.h).
//
// Conversions (both blocks alike):
//   scale_x = GetScaleFactorX() + GetPreviewLevel(), scale_y likewise (whole numbers);
//   blur_radius = Radius * sqrt((w * scale_x)^2 + (h * scale_y)^2) / sqrt(640000), w and h
//     the destination view's size: the radius is relative to an 800-pixel diagonal;
//   iris_angle = IrisAngle * (-pi) * 2 * (1/360), multiplied in that order;
//   lightness window = HighlightSelectionLow/High * (1/255);
//   outside_color = ColorOutside's r, g, b as float, then 1.0;
//   edge modes = the Outside selection, unchanged;
//   view: depth-of-field the Show selection; out-of-focus the Show selection, 9 above 5.
#pragma once

#include <cstdint>

#include "depthoffield/depth_of_field_params.h"
#include "outoffocus/out_of_focus_params.h"

namespace ov {

class pfFilterPelidorn;

OutOfFocusParams MakeOutOfFocusParams(const pfFilterPelidorn& filter, uint32_t destinationWidth,
                                      uint32_t destinationHeight);
DepthOfFieldParams MakeDepthOfFieldParams(const pfFilterPelidorn& filter, uint32_t destinationWidth,
                                          uint32_t destinationHeight);
// The highlight-selection record both blocks carry; mask mode as given.
HighlightSelectionParams MakeHighlightSelection(const pfFilterPelidorn& filter, bool maskMode);

}  // namespace ov
