// The tile renderer of ov::DepthOfFieldFilter: render_callback (the parallel-run job of the
// tiled blur) and render_chunk (one tile). Included by the per-format instance files only.
//
// This build has no tile renderer yet: every work item answers kStatusTileRendererMissing at
// once without taking a tile or writing a pixel, so the blur views ("normal blur", "info
// density") fail with that status instead of returning an unwritten image.
#pragma once

#include "depthoffield/depth_of_field_filter.h"

namespace ov {

template <class Img, class Depth>
template <bool Highlights>
uint32_t DepthOfFieldFilter<Img, Depth>::render_callback(uint32_t, uint32_t, uint32_t) {
    return kStatusTileRendererMissing;
}

template <class Img, class Depth>
template <bool Highlights>
uint32_t DepthOfFieldFilter<Img, Depth>::render_chunk(int32_t, uint32_t, uint32_t) {
    return kStatusTileRendererMissing;
}

}  // namespace ov
