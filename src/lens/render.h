// The per-format render and the engine choice, written once as a template over
// the host pixel-array type; lens/render/*.cpp instantiate it, one translation unit per
// format, and SelectRenderTemplate (lens/render_template.cpp) calls the instance.
//
// Engine choice: the depth-of-field path when the mask view is valid and SelectionIs is 1
// (the selection is the depth map); otherwise the out-of-focus effect, with the mask as iris
// image when it is valid and an empty refraction image.
//
// On the depth-of-field path Render fills the DepthOfFieldParams block and runs
// ov::DepthOfFieldFilter with the source (also as highlight selection), the destination and
// the mask as depth map.
//
// Statuses: the engine's, truncated to 16 bits (0, -108 out of memory, ...). Render itself
// allocates nothing.
#pragma once

#include <cstdint>

#include "host/host_api.h"
#include "pixel/formats.h"

namespace ov {

class pfFilterPelidorn;

// Which engine Render would run for a mask view and the filter's parameters.
enum class RenderEngine { DepthOfField, OutOfFocus };
RenderEngine ChooseEngine(const pfFilterPelidorn& filter, const ImgMask8& mask);

template <class Img>
int16_t Render(pfFilterPelidorn* filter, const Img& source, const Img& destination, const ImgMask8& mask,
               FilterRecord* record);

// The empty view of a format: no data, size 0, the format's packed size as pixelBytes,
// scales 1.0, valid 1 (an engine tests the data pointer, so it counts as absent).
template <class Img>
Img EmptyView() {
    using Px = typename Img::pixel_type;
    return Img(nullptr, 0, 0, 0, 0, 0, false, 1.0, 1.0, 1.0, true,
               int32_t(Px::base_count * sizeof(typename Px::sample_type)));
}

}  // namespace ov
