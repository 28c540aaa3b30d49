// The pixel formats in use: one alias per pixel type and per view type.
//
// Naming: Px<Role><Family>_<Samples> is an ov::PixelRGB, Img<Role><Family>_<Samples> the
// ov::PixelArray over it.
//   Role     Host (B = 1, step from pixelBytes), Work (packed float, B = 0),
//            Weighted (packed float work pixel + 1 EXTRA highlight weight, MAX 1),
//            PackedGray (packed gray copy of a host image), RefractInfo, Mask8.
//   Family   GrayA, Gray, TwoChA, TwoCh, RGBA, RGB ("A" = with alpha).
//   Samples  U8 = unsigned char at MAX 255, U16 = unsigned short at MAX 32768,
//            F1 / F255 / F32768 = float at MAX 1 / 255 / 32768.
//
// The 18 host formats (HostFormat value: view alias = PixelArray<PixelRGB<...>, 0, 1>):
//    0 HostFormat::GrayA_U8   ImgHostGrayA_U8   = LayoutGrayPixel<1>, unsigned char, 1, 0, 255
//    1 HostFormat::Gray_U8    ImgHostGray_U8    = LayoutGrayPixel<-1>, unsigned char, 0, 0, 255
//    2 HostFormat::TwoChA_U8  ImgHostTwoChA_U8  = Layout2ChannelPixel<2>, unsigned char, 1, 0, 255
//    3 HostFormat::TwoCh_U8   ImgHostTwoCh_U8   = Layout2ChannelPixel<0>, unsigned char, 0, 0, 255
//    4 HostFormat::RGBA_U8    ImgHostRGBA_U8    = LayoutRGBAPixel<0, 1, 2, 3>, unsigned char, 1, 0, 255
//    5 HostFormat::RGB_U8     ImgHostRGB_U8     = LayoutRGBAPixel<0, 1, 2, 3>, unsigned char, 0, 0, 255
//    6 HostFormat::GrayA_U16  ImgHostGrayA_U16  = LayoutGrayPixel<1>, unsigned short, 1, 0, 32768
//    7 HostFormat::Gray_U16   ImgHostGray_U16   = LayoutGrayPixel<-1>, unsigned short, 0, 0, 32768
//    8 HostFormat::TwoChA_U16 ImgHostTwoChA_U16 = Layout2ChannelPixel<2>, unsigned short, 1, 0, 32768
//    9 HostFormat::TwoCh_U16  ImgHostTwoCh_U16  = Layout2ChannelPixel<0>, unsigned short, 0, 0, 32768
//   10 HostFormat::RGBA_U16   ImgHostRGBA_U16   = LayoutRGBAPixel<0, 1, 2, 3>, unsigned short, 1, 0, 32768
//   11 HostFormat::RGB_U16    ImgHostRGB_U16    = LayoutRGBAPixel<0, 1, 2, 3>, unsigned short, 0, 0, 32768
//   12 HostFormat::GrayA_F1   ImgHostGrayA_F1   = LayoutGrayPixel<1>, float, 1, 0, 1
//   13 HostFormat::Gray_F1    ImgHostGray_F1    = LayoutGrayPixel<-1>, float, 0, 0, 1
//   14 HostFormat::TwoChA_F1  ImgHostTwoChA_F1  = Layout2ChannelPixel<2>, float, 1, 0, 1
//   15 HostFormat::TwoCh_F1   ImgHostTwoCh_F1   = Layout2ChannelPixel<0>, float, 0, 0, 1
//   16 HostFormat::RGBA_F1    ImgHostRGBA_F1    = LayoutRGBAPixel<0, 1, 2, 3>, float, 1, 0, 1
//   17 HostFormat::RGB_F1     ImgHostRGB_F1     = LayoutRGBAPixel<0, 1, 2, 3>, float, 0, 0, 1
//
// Work formats (packed, B = 0): Work<Family>_F1/_F255/_F32768 (18 colour work formats; the
// no-alpha host layouts map to Layout2ChannelPixel<-1> and LayoutRGBAPixel<0, 1, 2, -1>),
// Weighted<Family>_F1 (6, EXTRA 1, MAX 1), RefractInfo (LayoutEmptyPixel, EXTRA 3, MAX 1),
// PackedGray_U8 (MAX 255) and PackedGray_U16 (MAX 32768). The float packed gray at MAX 1
// is WorkGray_F1. The host's selection mask is ImgMask8 (8-bit gray, B = 1, pixelBytes 1).
//
// Mapping templates: WorkPixelOf<HostPx [, EXTRA [, MAX]]>, PackedGrayOf<HostPx>,
// HostView<Px>, WorkView<Px>. Run-time dispatch: dispatch_host_format() below is the single
// place that maps a run-time HostFormat to its template instance.
#pragma once

#include <type_traits>
#include <utility>

#include "pixel/pixel_array.h"
#include "pixel/pixel_rgb.h"

namespace ov {

template <class Px> using HostView = PixelArray<Px, 0, 1>;
template <class Px> using WorkView = PixelArray<Px, 0, 0>;

// ---- host formats (18) -------------------------------------------------------------------
using PxHostGrayA_U8 = PixelRGB<LayoutGrayPixel<1>, unsigned char, 1, 0, 255>;
using PxHostGray_U8 = PixelRGB<LayoutGrayPixel<-1>, unsigned char, 0, 0, 255>;
using PxHostTwoChA_U8 = PixelRGB<Layout2ChannelPixel<2>, unsigned char, 1, 0, 255>;
using PxHostTwoCh_U8 = PixelRGB<Layout2ChannelPixel<0>, unsigned char, 0, 0, 255>;
using PxHostRGBA_U8 = PixelRGB<LayoutRGBAPixel<0, 1, 2, 3>, unsigned char, 1, 0, 255>;
using PxHostRGB_U8 = PixelRGB<LayoutRGBAPixel<0, 1, 2, 3>, unsigned char, 0, 0, 255>;
using ImgHostGrayA_U8 = HostView<PxHostGrayA_U8>;
using ImgHostGray_U8 = HostView<PxHostGray_U8>;
using ImgHostTwoChA_U8 = HostView<PxHostTwoChA_U8>;
using ImgHostTwoCh_U8 = HostView<PxHostTwoCh_U8>;
using ImgHostRGBA_U8 = HostView<PxHostRGBA_U8>;
using ImgHostRGB_U8 = HostView<PxHostRGB_U8>;
using PxHostGrayA_U16 = PixelRGB<LayoutGrayPixel<1>, unsigned short, 1, 0, 32768>;
using PxHostGray_U16 = PixelRGB<LayoutGrayPixel<-1>, unsigned short, 0, 0, 32768>;
using PxHostTwoChA_U16 = PixelRGB<Layout2ChannelPixel<2>, unsigned short, 1, 0, 32768>;
using PxHostTwoCh_U16 = PixelRGB<Layout2ChannelPixel<0>, unsigned short, 0, 0, 32768>;
using PxHostRGBA_U16 = PixelRGB<LayoutRGBAPixel<0, 1, 2, 3>, unsigned short, 1, 0, 32768>;
using PxHostRGB_U16 = PixelRGB<LayoutRGBAPixel<0, 1, 2, 3>, unsigned short, 0, 0, 32768>;
using ImgHostGrayA_U16 = HostView<PxHostGrayA_U16>;
using ImgHostGray_U16 = HostView<PxHostGray_U16>;
using ImgHostTwoChA_U16 = HostView<PxHostTwoChA_U16>;
using ImgHostTwoCh_U16 = HostView<PxHostTwoCh_U16>;
using ImgHostRGBA_U16 = HostView<PxHostRGBA_U16>;
using ImgHostRGB_U16 = HostView<PxHostRGB_U16>;
using PxHostGrayA_F1 = PixelRGB<LayoutGrayPixel<1>, float, 1, 0, 1>;
using PxHostGray_F1 = PixelRGB<LayoutGrayPixel<-1>, float, 0, 0, 1>;
using PxHostTwoChA_F1 = PixelRGB<Layout2ChannelPixel<2>, float, 1, 0, 1>;
using PxHostTwoCh_F1 = PixelRGB<Layout2ChannelPixel<0>, float, 0, 0, 1>;
using PxHostRGBA_F1 = PixelRGB<LayoutRGBAPixel<0, 1, 2, 3>, float, 1, 0, 1>;
using PxHostRGB_F1 = PixelRGB<LayoutRGBAPixel<0, 1, 2, 3>, float, 0, 0, 1>;
using ImgHostGrayA_F1 = HostView<PxHostGrayA_F1>;
using ImgHostGray_F1 = HostView<PxHostGray_F1>;
using ImgHostTwoChA_F1 = HostView<PxHostTwoChA_F1>;
using ImgHostTwoCh_F1 = HostView<PxHostTwoCh_F1>;
using ImgHostRGBA_F1 = HostView<PxHostRGBA_F1>;
using ImgHostRGB_F1 = HostView<PxHostRGB_F1>;

// ---- colour work formats (18: six layouts at MAX 1, 255, 32768) ---------------------------
using PxWorkGrayA_F1 = PixelRGB<LayoutGrayPixel<1>, float, 1, 0, 1>;
using PxWorkGray_F1 = PixelRGB<LayoutGrayPixel<-1>, float, 0, 0, 1>;
using PxWorkTwoChA_F1 = PixelRGB<Layout2ChannelPixel<2>, float, 1, 0, 1>;
using PxWorkTwoCh_F1 = PixelRGB<Layout2ChannelPixel<-1>, float, 0, 0, 1>;
using PxWorkRGBA_F1 = PixelRGB<LayoutRGBAPixel<0, 1, 2, 3>, float, 1, 0, 1>;
using PxWorkRGB_F1 = PixelRGB<LayoutRGBAPixel<0, 1, 2, -1>, float, 0, 0, 1>;
using ImgWorkGrayA_F1 = WorkView<PxWorkGrayA_F1>;
using ImgWorkGray_F1 = WorkView<PxWorkGray_F1>;
using ImgWorkTwoChA_F1 = WorkView<PxWorkTwoChA_F1>;
using ImgWorkTwoCh_F1 = WorkView<PxWorkTwoCh_F1>;
using ImgWorkRGBA_F1 = WorkView<PxWorkRGBA_F1>;
using ImgWorkRGB_F1 = WorkView<PxWorkRGB_F1>;
using PxWorkGrayA_F255 = PixelRGB<LayoutGrayPixel<1>, float, 1, 0, 255>;
using PxWorkGray_F255 = PixelRGB<LayoutGrayPixel<-1>, float, 0, 0, 255>;
using PxWorkTwoChA_F255 = PixelRGB<Layout2ChannelPixel<2>, float, 1, 0, 255>;
using PxWorkTwoCh_F255 = PixelRGB<Layout2ChannelPixel<-1>, float, 0, 0, 255>;
using PxWorkRGBA_F255 = PixelRGB<LayoutRGBAPixel<0, 1, 2, 3>, float, 1, 0, 255>;
using PxWorkRGB_F255 = PixelRGB<LayoutRGBAPixel<0, 1, 2, -1>, float, 0, 0, 255>;
using ImgWorkGrayA_F255 = WorkView<PxWorkGrayA_F255>;
using ImgWorkGray_F255 = WorkView<PxWorkGray_F255>;
using ImgWorkTwoChA_F255 = WorkView<PxWorkTwoChA_F255>;
using ImgWorkTwoCh_F255 = WorkView<PxWorkTwoCh_F255>;
using ImgWorkRGBA_F255 = WorkView<PxWorkRGBA_F255>;
using ImgWorkRGB_F255 = WorkView<PxWorkRGB_F255>;
using PxWorkGrayA_F32768 = PixelRGB<LayoutGrayPixel<1>, float, 1, 0, 32768>;
using PxWorkGray_F32768 = PixelRGB<LayoutGrayPixel<-1>, float, 0, 0, 32768>;
using PxWorkTwoChA_F32768 = PixelRGB<Layout2ChannelPixel<2>, float, 1, 0, 32768>;
using PxWorkTwoCh_F32768 = PixelRGB<Layout2ChannelPixel<-1>, float, 0, 0, 32768>;
using PxWorkRGBA_F32768 = PixelRGB<LayoutRGBAPixel<0, 1, 2, 3>, float, 1, 0, 32768>;
using PxWorkRGB_F32768 = PixelRGB<LayoutRGBAPixel<0, 1, 2, -1>, float, 0, 0, 32768>;
using ImgWorkGrayA_F32768 = WorkView<PxWorkGrayA_F32768>;
using ImgWorkGray_F32768 = WorkView<PxWorkGray_F32768>;
using ImgWorkTwoChA_F32768 = WorkView<PxWorkTwoChA_F32768>;
using ImgWorkTwoCh_F32768 = WorkView<PxWorkTwoCh_F32768>;
using ImgWorkRGBA_F32768 = WorkView<PxWorkRGBA_F32768>;
using ImgWorkRGB_F32768 = WorkView<PxWorkRGB_F32768>;

// ---- work formats with the highlight weight (EXTRA 1, MAX 1) -----------------------------
using PxWeightedGrayA_F1 = PixelRGB<LayoutGrayPixel<1>, float, 1, 1, 1>;
using PxWeightedGray_F1 = PixelRGB<LayoutGrayPixel<-1>, float, 0, 1, 1>;
using PxWeightedTwoChA_F1 = PixelRGB<Layout2ChannelPixel<2>, float, 1, 1, 1>;
using PxWeightedTwoCh_F1 = PixelRGB<Layout2ChannelPixel<-1>, float, 0, 1, 1>;
using PxWeightedRGBA_F1 = PixelRGB<LayoutRGBAPixel<0, 1, 2, 3>, float, 1, 1, 1>;
using PxWeightedRGB_F1 = PixelRGB<LayoutRGBAPixel<0, 1, 2, -1>, float, 0, 1, 1>;
using ImgWeightedGrayA_F1 = WorkView<PxWeightedGrayA_F1>;
using ImgWeightedGray_F1 = WorkView<PxWeightedGray_F1>;
using ImgWeightedTwoChA_F1 = WorkView<PxWeightedTwoChA_F1>;
using ImgWeightedTwoCh_F1 = WorkView<PxWeightedTwoCh_F1>;
using ImgWeightedRGBA_F1 = WorkView<PxWeightedRGBA_F1>;
using ImgWeightedRGB_F1 = WorkView<PxWeightedRGB_F1>;

// ---- refraction information (three floats: sine, cosine, strength) -----------------------
using PxRefractInfo = PixelRGB<LayoutEmptyPixel, float, 0, 3, 1>;
using ImgRefractInfo = WorkView<PxRefractInfo>;

// ---- packed gray work formats -------------------------------------------------------------
using PxPackedGray_U8 = PixelRGB<LayoutGrayPixel<-1>, unsigned char, 0, 0, 255>;
using PxPackedGray_U16 = PixelRGB<LayoutGrayPixel<-1>, unsigned short, 0, 0, 32768>;
using ImgPackedGray_U8 = WorkView<PxPackedGray_U8>;
using ImgPackedGray_U16 = WorkView<PxPackedGray_U16>;

// ---- the host's 8-bit selection mask ------------------------------------------------------
using PxMask8 = PixelRGB<LayoutGrayPixel<-1>, unsigned char, 0, 0, 255>;
using ImgMask8 = HostView<PxMask8>;

// ---- mapping templates --------------------------------------------------------------------

// The work layout serving a host layout: the no-alpha two-channel and RGB host layouts map
// to the layouts without an alpha slot.
template <class Layout, bool HasAlpha> struct WorkLayoutOf { using type = Layout; };
template <> struct WorkLayoutOf<Layout2ChannelPixel<0>, false> { using type = Layout2ChannelPixel<-1>; };
template <> struct WorkLayoutOf<Layout2ChannelPixel<2>, false> { using type = Layout2ChannelPixel<-1>; };
template <> struct WorkLayoutOf<LayoutRGBAPixel<0, 1, 2, 3>, false> { using type = LayoutRGBAPixel<0, 1, 2, -1>; };

// The float work pixel serving host pixel HostPx: same family and alpha, float samples,
// EXTRA further samples, full intensity MAXW (by default the host's MAX).
template <class HostPx, int EXTRA = 0, int MAXW = HostPx::max_int>
using WorkPixelOf = PixelRGB<typename WorkLayoutOf<typename HostPx::layout_type, HostPx::has_alpha>::type,
                             float, HostPx::has_alpha ? 1 : 0, EXTRA, MAXW>;

// The packed gray pixel of a host pixel's sample type and MAX (gray pairs).
template <class HostPx>
using PackedGrayOf = PixelRGB<LayoutGrayPixel<-1>, typename HostPx::sample_type, 0, 0, HostPx::max_int>;

// ---- type lists ---------------------------------------------------------------------------
template <class... Ts> struct TypeList { static constexpr std::size_t size = sizeof...(Ts); };
template <class T> struct TypeTag { using type = T; };

using HostPixelTypes = TypeList<PxHostGrayA_U8,
                                  PxHostGray_U8,
                                  PxHostTwoChA_U8,
                                  PxHostTwoCh_U8,
                                  PxHostRGBA_U8,
                                  PxHostRGB_U8,
                                  PxHostGrayA_U16,
                                  PxHostGray_U16,
                                  PxHostTwoChA_U16,
                                  PxHostTwoCh_U16,
                                  PxHostRGBA_U16,
                                  PxHostRGB_U16,
                                  PxHostGrayA_F1,
                                  PxHostGray_F1,
                                  PxHostTwoChA_F1,
                                  PxHostTwoCh_F1,
                                  PxHostRGBA_F1,
                                  PxHostRGB_F1>;
using WorkPixelTypes = TypeList<PxWorkGrayA_F1,
                                  PxWorkGray_F1,
                                  PxWorkTwoChA_F1,
                                  PxWorkTwoCh_F1,
                                  PxWorkRGBA_F1,
                                  PxWorkRGB_F1,
                                  PxWorkGrayA_F255,
                                  PxWorkGray_F255,
                                  PxWorkTwoChA_F255,
                                  PxWorkTwoCh_F255,
                                  PxWorkRGBA_F255,
                                  PxWorkRGB_F255,
                                  PxWorkGrayA_F32768,
                                  PxWorkGray_F32768,
                                  PxWorkTwoChA_F32768,
                                  PxWorkTwoCh_F32768,
                                  PxWorkRGBA_F32768,
                                  PxWorkRGB_F32768>;
using WeightedPixelTypes = TypeList<PxWeightedGrayA_F1, PxWeightedGray_F1, PxWeightedTwoChA_F1, PxWeightedTwoCh_F1, PxWeightedRGBA_F1, PxWeightedRGB_F1>;

// X-macro over the 18 host formats: X(Family, HostSamples, WorkSamples), for example
// X(RGBA, U8, F255) names PxHostRGBA_U8 / ImgHostRGBA_U8 and its work format PxWorkRGBA_F255.
// Explicit instantiation lists use it so that they cannot drift from the format list.
#define PEL_FOR_EACH_HOST_FORMAT(X) \
    X(GrayA, U8, F255) \
    X(Gray, U8, F255) \
    X(TwoChA, U8, F255) \
    X(TwoCh, U8, F255) \
    X(RGBA, U8, F255) \
    X(RGB, U8, F255) \
    X(GrayA, U16, F32768) \
    X(Gray, U16, F32768) \
    X(TwoChA, U16, F32768) \
    X(TwoCh, U16, F32768) \
    X(RGBA, U16, F32768) \
    X(RGB, U16, F32768) \
    X(GrayA, F1, F1) \
    X(Gray, F1, F1) \
    X(TwoChA, F1, F1) \
    X(TwoCh, F1, F1) \
    X(RGBA, F1, F1) \
    X(RGB, F1, F1)

// ---- run-time host format and the one dispatch place --------------------------------------
enum class HostFormat : int {
    GrayA_U8 = 0,
    Gray_U8 = 1,
    TwoChA_U8 = 2,
    TwoCh_U8 = 3,
    RGBA_U8 = 4,
    RGB_U8 = 5,
    GrayA_U16 = 6,
    Gray_U16 = 7,
    TwoChA_U16 = 8,
    TwoCh_U16 = 9,
    RGBA_U16 = 10,
    RGB_U16 = 11,
    GrayA_F1 = 12,
    Gray_F1 = 13,
    TwoChA_F1 = 14,
    TwoCh_F1 = 15,
    RGBA_F1 = 16,
    RGB_F1 = 17,
};
inline constexpr int kHostFormatCount = 18;

// Calls fn(TypeTag<ImgHost...>{}) for the view type of `format` and returns its result.
// Every run-time-to-template mapping of host formats goes through here.
template <class Fn>
decltype(auto) dispatch_host_format(HostFormat format, Fn&& fn) {
    switch (format) {
        case HostFormat::GrayA_U8: return std::forward<Fn>(fn)(TypeTag<ImgHostGrayA_U8>{});
        case HostFormat::Gray_U8: return std::forward<Fn>(fn)(TypeTag<ImgHostGray_U8>{});
        case HostFormat::TwoChA_U8: return std::forward<Fn>(fn)(TypeTag<ImgHostTwoChA_U8>{});
        case HostFormat::TwoCh_U8: return std::forward<Fn>(fn)(TypeTag<ImgHostTwoCh_U8>{});
        case HostFormat::RGBA_U8: return std::forward<Fn>(fn)(TypeTag<ImgHostRGBA_U8>{});
        case HostFormat::RGB_U8: return std::forward<Fn>(fn)(TypeTag<ImgHostRGB_U8>{});
        case HostFormat::GrayA_U16: return std::forward<Fn>(fn)(TypeTag<ImgHostGrayA_U16>{});
        case HostFormat::Gray_U16: return std::forward<Fn>(fn)(TypeTag<ImgHostGray_U16>{});
        case HostFormat::TwoChA_U16: return std::forward<Fn>(fn)(TypeTag<ImgHostTwoChA_U16>{});
        case HostFormat::TwoCh_U16: return std::forward<Fn>(fn)(TypeTag<ImgHostTwoCh_U16>{});
        case HostFormat::RGBA_U16: return std::forward<Fn>(fn)(TypeTag<ImgHostRGBA_U16>{});
        case HostFormat::RGB_U16: return std::forward<Fn>(fn)(TypeTag<ImgHostRGB_U16>{});
        case HostFormat::GrayA_F1: return std::forward<Fn>(fn)(TypeTag<ImgHostGrayA_F1>{});
        case HostFormat::Gray_F1: return std::forward<Fn>(fn)(TypeTag<ImgHostGray_F1>{});
        case HostFormat::TwoChA_F1: return std::forward<Fn>(fn)(TypeTag<ImgHostTwoChA_F1>{});
        case HostFormat::TwoCh_F1: return std::forward<Fn>(fn)(TypeTag<ImgHostTwoCh_F1>{});
        case HostFormat::RGBA_F1: return std::forward<Fn>(fn)(TypeTag<ImgHostRGBA_F1>{});
        case HostFormat::RGB_F1: return std::forward<Fn>(fn)(TypeTag<ImgHostRGB_F1>{});
    }
    // Unreachable for valid values; the first format keeps the return type well formed.
    return std::forward<Fn>(fn)(TypeTag<ImgHostGrayA_U8>{});
}

// Human-readable name of a host format ("GrayA_U8", ...).
constexpr const char* host_format_name(HostFormat format) {
    switch (format) {
        case HostFormat::GrayA_U8: return "GrayA_U8";
        case HostFormat::Gray_U8: return "Gray_U8";
        case HostFormat::TwoChA_U8: return "TwoChA_U8";
        case HostFormat::TwoCh_U8: return "TwoCh_U8";
        case HostFormat::RGBA_U8: return "RGBA_U8";
        case HostFormat::RGB_U8: return "RGB_U8";
        case HostFormat::GrayA_U16: return "GrayA_U16";
        case HostFormat::Gray_U16: return "Gray_U16";
        case HostFormat::TwoChA_U16: return "TwoChA_U16";
        case HostFormat::TwoCh_U16: return "TwoCh_U16";
        case HostFormat::RGBA_U16: return "RGBA_U16";
        case HostFormat::RGB_U16: return "RGB_U16";
        case HostFormat::GrayA_F1: return "GrayA_F1";
        case HostFormat::Gray_F1: return "Gray_F1";
        case HostFormat::TwoChA_F1: return "TwoChA_F1";
        case HostFormat::TwoCh_F1: return "TwoCh_F1";
        case HostFormat::RGBA_F1: return "RGBA_F1";
        case HostFormat::RGB_F1: return "RGB_F1";
    }
    return "?";
}

}  // namespace ov
