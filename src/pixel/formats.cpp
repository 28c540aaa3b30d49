// Compile-time checks of the pixel model: packed sizes and traits of every format.
#include "pixel/formats.h"

namespace ov {
namespace {

template <class P, std::size_t Bytes>
constexpr bool packed() {
    return sizeof(P) == Bytes && std::is_trivially_copyable_v<P> && std::is_standard_layout_v<P>;
}

static_assert(packed<PxHostGrayA_U8, 2>() && packed<PxHostGray_U8, 1>());
static_assert(packed<PxHostTwoChA_U8, 3>() && packed<PxHostTwoCh_U8, 2>());
static_assert(packed<PxHostRGBA_U8, 4>() && packed<PxHostRGB_U8, 3>());
static_assert(packed<PxHostRGBA_U16, 8>() && packed<PxHostRGB_U16, 6>());
static_assert(packed<PxHostRGBA_F1, 16>() && packed<PxHostRGB_F1, 12>());
static_assert(packed<PxWorkRGB_F255, 12>() && packed<PxWorkTwoCh_F32768, 8>());
static_assert(packed<PxWeightedRGBA_F1, 20>() && packed<PxWeightedGray_F1, 8>());
static_assert(packed<PxRefractInfo, 12>());
static_assert(packed<PxPackedGray_U8, 1>() && packed<PxPackedGray_U16, 2>());
static_assert(std::is_same_v<WorkPixelOf<PxHostRGB_U8>, PxWorkRGB_F255>);
static_assert(std::is_same_v<WorkPixelOf<PxHostTwoCh_U16>, PxWorkTwoCh_F32768>);
static_assert(std::is_same_v<WorkPixelOf<PxHostRGBA_F1, 1>, PxWeightedRGBA_F1>);
static_assert(std::is_same_v<WorkPixelOf<PxHostGrayA_U8, 0, 1>, PxWorkGrayA_F1>);
static_assert(std::is_same_v<PackedGrayOf<PxHostRGBA_U16>, PxPackedGray_U16>);
static_assert(std::is_same_v<PackedGrayOf<PxHostRGBA_F1>, PxWorkGray_F1>);
static_assert(PxHostTwoCh_U8::alpha_index == -1 && !PxHostTwoCh_U8::has_alpha);
static_assert(PxHostRGB_U8::alpha_index == -1 && PxHostRGBA_U8::alpha_index == 3);
static_assert(PxHostRGBA_U16::inverse_max == 3.0517578125e-05);
static_assert(PxHostRGBA_U8::inverse_max == 0.00392156862745098);

}  // namespace
}  // namespace ov
