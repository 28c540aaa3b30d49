// The 18 host view types of the refraction family, as one X-macro, for the explicit
// instantiations of info_buffer.cpp, refract_filter.cpp and refraction_stage.cpp.
#pragma once

#include "pixel/formats.h"

// X(view type) once per host format.
#define PEL_REFRACT_HOST_VIEWS(X) \
    X(ImgHostGrayA_U8)            \
    X(ImgHostGray_U8)             \
    X(ImgHostTwoChA_U8)           \
    X(ImgHostTwoCh_U8)            \
    X(ImgHostRGBA_U8)             \
    X(ImgHostRGB_U8)              \
    X(ImgHostGrayA_U16)           \
    X(ImgHostGray_U16)            \
    X(ImgHostTwoChA_U16)          \
    X(ImgHostTwoCh_U16)           \
    X(ImgHostRGBA_U16)            \
    X(ImgHostRGB_U16)             \
    X(ImgHostGrayA_F1)            \
    X(ImgHostGray_F1)             \
    X(ImgHostTwoChA_F1)           \
    X(ImgHostTwoCh_F1)            \
    X(ImgHostRGBA_F1)             \
    X(ImgHostRGB_F1)

namespace ov {
// The packed float twin of a host view type (the refract filter's destination).
template <class HostView>
using TwinViewOf = WorkView<WorkPixelOf<typename HostView::pixel_type>>;
}  // namespace ov
