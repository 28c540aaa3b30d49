// ov::HslRangeSelectionFilter: the two highlight-selection views.
//
// "highlight selection" (maskMode 0) shows the source multiplied by each pixel's highlight
// weight; "highlight selection only" (maskMode 1) shows the weight itself as grey, w x MAX.
// The weight of destination pixel (x, y) is that of the selection pixel at the same document
// position (x, y shifted by the destination's origin minus the selection's), 0 outside the
// selection; the source pixel is (x, y) itself. A selection not flagged premultiplied is
// first multiplied by its alpha; the source colour is always multiplied by its alpha.
// With the selection disabled the view is the source (colour mode) or white (mask mode).
//
// Skeleton: render(pass, passCount) stores both and runs render_slice once per destination
// row through ParallelRun; each row prepares its own HslRangeSettings, writes every sample
// of its row (alpha: MAX; both callers overwrite it afterwards) and returns the status of
// ReportProgress(pass H + y, passCount H). Allocates nothing; owns none of its views.
//
// Store: 8-bit and 16-bit samples take the value truncated toward zero, float samples the
// value rounded to single precision.
#pragma once

#include <cstdint>
#include <type_traits>

#include "core/ostrovanne_filter.h"
#include "kernel/highlight_selection.h"
#include "pixel/formats.h"

namespace ov {

template <class Src, class Dst, class Sel>
class HslRangeSelectionFilter : public OstrovanneFilter {
public:
  HslRangeSelectionFilter(OstrovanneHost* host_, const Src& source_, const Dst& destination_,
                          const Sel& selection_, const HighlightSelectionParams& block)
      : OstrovanneFilter(host_),
        source(source_),
        destination(destination_),
        selection(selection_),
        highlightSelection(block) {}

  uint32_t render(uint32_t pass_, uint32_t passCount_) override {
    pass = pass_;
    passCount = passCount_;
    return run_slices(destination.height);
  }

  uint32_t render_slice(uint32_t thread_index, uint32_t thread_iterations,
                        uint32_t threadID) override;

  Src source;
  Dst destination;
  Sel selection;
  HighlightSelectionParams highlightSelection;
};

namespace hsl_filter_detail {

// 1 / MAX as the single-precision factor of the selection's premultiplication.
template <class Pixel>
constexpr float inverseMaxF() {
  using T = typename Pixel::sample_type;
  if constexpr (std::is_same_v<T, unsigned char>) return 1.0f / 255.0f;
  else if constexpr (std::is_same_v<T, unsigned short>) return 1.0f / 32768.0f;
  else return 1.0f;
}

// 1 / MAX^2 as a double: the double nearest 1/255^2, exactly 2^-30, or 1.
template <class Pixel>
constexpr double inverseMaxSquared() {
  using T = typename Pixel::sample_type;
  if constexpr (std::is_same_v<T, unsigned char>) return 1.0 / (255.0 * 255.0);
  else if constexpr (std::is_same_v<T, unsigned short>) return 1.0 / 1073741824.0;
  else return 1.0;
}

// The source colour's alpha factor: alpha x (1 / MAX^2) x MAX in double, alpha itself for
// float samples; 1 without alpha.
template <class Pixel>
inline double sourceAlphaFactor(const Pixel& p) {
  if constexpr (!Pixel::has_alpha) {
    return 1.0;
  } else if constexpr (Pixel::is_float) {
    return static_cast<double>(p.v[Pixel::alpha_index]);
  } else {
    return static_cast<double>(p.v[Pixel::alpha_index]) * inverseMaxSquared<Pixel>() *
           Pixel::max_value;
  }
}

template <class T>
inline T storeSample(double v) {
  if constexpr (std::is_floating_point_v<T>) return static_cast<T>(v);
  else return static_cast<T>(v);  // truncated toward zero; 0..MAX needs no clamp
}

}  // namespace hsl_filter_detail

template <class Src, class Dst, class Sel>
uint32_t HslRangeSelectionFilter<Src, Dst, Sel>::render_slice(uint32_t thread_index, uint32_t,
                                                              uint32_t) {
  using SrcPx = typename Src::pixel_type;
  using DstPx = typename Dst::pixel_type;
  using SelPx = typename Sel::pixel_type;
  using DT = typename DstPx::sample_type;
  using namespace hsl_filter_detail;
  constexpr int colours = DstPx::colour_count;
  static_assert(SrcPx::colour_count == colours, "source and destination of one layout");

  const int64_t y = thread_index;
  const int64_t W = destination.width;
  const bool yInSource = y < static_cast<int64_t>(source.height);
  const bool maskMode = highlightSelection.maskMode != 0;

  HslRangeSettings settings;
  hslRangeSetup<SelPx>(settings, highlightSelection);

  unsigned char* dstRow = destination.row_bytes(y);
  for (int64_t x = 0; x < W; ++x) {
    DstPx& out = *destination.in_row(dstRow, x);
    const bool inSource = yInSource && x < static_cast<int64_t>(source.width);
    double colour[3] = {0.0, 0.0, 0.0};

    if (highlightSelection.enabled == 0) {
      if (inSource) {
        if (maskMode) {
          for (int c = 0; c < colours; ++c) colour[c] = DstPx::max_value;
        } else {
          const SrcPx& s = source.at(x, y);
          const double f = sourceAlphaFactor(s);
          for (int c = 0; c < colours; ++c) colour[c] = static_cast<double>(s.v[c]) * f;
        }
      }
    } else {
      double w = 0.0;
      const int64_t sx = x + destination.originX - selection.originX;
      const int64_t sy = y + destination.originY - selection.originY;
      if (selection.contains(sx, sy)) {
        SelPx p = selection.at(sx, sy);
        if constexpr (SelPx::has_alpha) {
          if (selection.premultiplied == 0) {
            using ST = typename SelPx::sample_type;
            const float fa = static_cast<float>(p.v[SelPx::alpha_index]) * inverseMaxF<SelPx>();
            for (int c = 0; c < SelPx::colour_count; ++c)
              p.v[c] = static_cast<ST>(static_cast<float>(p.v[c]) * fa);
          }
        }
        w = hslRangeWeight(settings, p);
      }
      if (maskMode) {
        for (int c = 0; c < colours; ++c) colour[c] = w * DstPx::max_value;
      } else if (inSource) {
        const SrcPx& s = source.at(x, y);
        const double f = sourceAlphaFactor(s);
        for (int c = 0; c < colours; ++c) colour[c] = static_cast<double>(s.v[c]) * f * w;
      }
    }

    for (int c = 0; c < colours; ++c) out.v[c] = storeSample<DT>(colour[c]);
    out.set_alpha(static_cast<DT>(DstPx::max_value));
  }
  return host->ReportProgress(pass * destination.height + thread_index,
                              passCount * destination.height);
}

// The 18 instances: one host format for all three views.
#define PEL_HSL_SELECTION_FORMATS(X)                                                        \
  X(ImgHostGrayA_U8) X(ImgHostGray_U8) X(ImgHostTwoChA_U8) X(ImgHostTwoCh_U8)               \
  X(ImgHostRGBA_U8) X(ImgHostRGB_U8) X(ImgHostGrayA_U16) X(ImgHostGray_U16)                 \
  X(ImgHostTwoChA_U16) X(ImgHostTwoCh_U16) X(ImgHostRGBA_U16) X(ImgHostRGB_U16)             \
  X(ImgHostGrayA_F1) X(ImgHostGray_F1) X(ImgHostTwoChA_F1) X(ImgHostTwoCh_F1)               \
  X(ImgHostRGBA_F1) X(ImgHostRGB_F1)

#define PEL_HSL_SELECTION_EXTERN(V) extern template class HslRangeSelectionFilter<V, V, V>;
PEL_HSL_SELECTION_FORMATS(PEL_HSL_SELECTION_EXTERN)
#undef PEL_HSL_SELECTION_EXTERN

}  // namespace ov
