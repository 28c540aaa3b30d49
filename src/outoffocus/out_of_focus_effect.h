// ov::OutOfFocusEffect: the out-of-focus pipeline, the lens blur used when no depth map is in
// force. The render entry builds one on its stack per render for the document's host format,
// assigns its five views and its settings and calls render(0, 1) once.
//
// Roads, chosen by params.view:
//   1   the blur: a copy of the source when the radius is not a positive number, otherwise
//       ov::OutOfFocusFilter (the colour-kernel form only when the iris image has data and
//       keep_color is set), then the refraction stage when refractionImage has data;
//   2   the iris view: the aperture drawn into a float twin of the destination (cleared,
//       drawn, copied as passes 0, 1, 2 of 3);
//   any other value: the highlight-selection view (ov::HslRangeSelectionFilter, then alpha
//       made opaque row by row with ReportProgress(100, 100) after each row).
// An empty destination (width or height 0) returns StatusOk at once on the blur and iris
// roads.
//
// Ownership: the views are the caller's and only read (the destination written); the
// iris view's float twin is taken through AllocateMemory and freed on every road after it
// was had. Statuses: StatusOk, StatusOutOfMemory, or the first other status of a step.
// Both arguments of render are ignored: every filter of a road gets its own pass numbers.
#pragma once

#include <cstdint>

#include "core/ostrovanne_filter.h"
#include "outoffocus/out_of_focus_params.h"
#include "pixel/formats.h"

namespace ov {

// Src: the document's host view type (source, highlightSource, refractionImage); Dst: the
// same type (destination); Sel: the 8-bit gray selection (irisImage).
template <class Src, class Dst, class Sel>
class OutOfFocusEffect : public OstrovanneFilter {
public:
    using SrcPixel = typename Src::pixel_type;
    // The float twin of the destination: its samples as floats at its own MAX, packed.
    using FloatTwin = WorkView<WorkPixelOf<typename Dst::pixel_type>>;

    // Stores the host; the five views are empty. The caller assigns views and params.
    explicit OutOfFocusEffect(OstrovanneHost* host_);

    uint32_t render(uint32_t pass_, uint32_t passCount_) override;

    Src source;
    Dst destination;
    Src highlightSource;
    Sel irisImage;
    Src refractionImage;
    OutOfFocusParams params{};

private:
    uint32_t renderBlur();
    uint32_t renderIrisView();
    uint32_t renderSelectionView();
};

template <class Src>
using OutOfFocusEffectOf = OutOfFocusEffect<Src, Src, ImgMask8>;

#define PEL_EXTERN_OOF_EFFECT(F, H, WS) \
    extern template class OutOfFocusEffect<ImgHost##F##_##H, ImgHost##F##_##H, ImgMask8>;
PEL_FOR_EACH_HOST_FORMAT(PEL_EXTERN_OOF_EFFECT)
#undef PEL_EXTERN_OOF_EFFECT

}  // namespace ov
