// ov::GlowFilter: a separable tent blur of fractional radius over a packed float image.
//
// Skeleton: render(pass, passCount) allocates the temporary image when none is given
// (width x height x pixel size bytes through AllocateMemory; StatusOutOfMemory with nothing
// blurred when there is none, or when the size does not fit in 32 bits), divides the radii
// by the scale factors in place, runs blur_row once per row (image -> temp) and, when that
// answered StatusOk, blur_column once per column (temp -> destination when it has data, else
// image), frees the temporary block it allocated and returns the first status that was not
// StatusOk.
//
// The line blur of radius r (ri = trunc(r), f = r - ri; r at most 512 line lengths, where the
// result is the line's mean to well within a 16-bit step) weights the samples at distance
// |d| <= ri by r + 0.5 - |d| and the two at ri + 1 by f / 2, normalised to sum 1; it runs
// on four running sums per float sample (cost independent of the radius). Coordinates
// outside the line are folded by edge_index in mirror mode (the edge pixel repeats:
// -1 reads sample 0, n reads n - 1), again and again for radii longer than the line.
// Every float of a pixel, alpha included, is blurred alike; no view flag is read. The row
// pass stores its results as they are; the column pass stores a result that is not >= 0
// (negative, or not a number) as 0.
//
// Ownership: image, destination and a caller-supplied temp belong to the caller; the filter
// owns only the temporary block of one render. Progress: the row pass reports
// (2 pass H + row, 2 passCount H), the column pass ((2 pass + 1) W + column, 2 passCount W).
#pragma once

#include <cstdint>

#include "core/ostrovanne_filter.h"
#include "pixel/edge_mode.h"
#include "pixel/formats.h"

namespace ov {

namespace glow_detail {

// Blurs one line of n pixels of C floats each: sample k of channel c is read at
// src[k * srcStride + c] (strides in floats) and written at dst[x * dstStride + c].
template <int C>
void blurLine(const float* src, std::ptrdiff_t srcStride, float* dst, std::ptrdiff_t dstStride,
              int32_t n, double r, int32_t mode, bool zeroNegative);

}  // namespace glow_detail

template <class View>
class GlowFilter : public OstrovanneFilter {
public:
  using Pixel = typename View::pixel_type;
  static_assert(View::b_flag == 0, "the glow works on packed views");
  static_assert(Pixel::is_float && Pixel::extra_count == 0, "float kernel pixels");
  static constexpr int kFloats = Pixel::sample_count;
  static constexpr int32_t kPixelBytes = static_cast<int32_t>(sizeof(Pixel));

  explicit GlowFilter(OstrovanneHost* host_) : OstrovanneFilter(host_) {
    temp.pixelBytes = kPixelBytes;
    temp.valid = 1;
  }

  uint32_t render(uint32_t pass_, uint32_t passCount_) override;

  // Row thread_index of jobInput -> the same row of jobOutput, radius radius_x.
  uint32_t blur_row(uint32_t thread_index, uint32_t thread_iterations, uint32_t threadID);
  // Column thread_index of jobInput -> the same column of jobOutput, radius radius_y.
  uint32_t blur_column(uint32_t thread_index, uint32_t thread_iterations, uint32_t threadID);

  View image;        // softened in place unless destination has data
  View temp;         // the row pass's output; allocated by render when it has no data
  View destination;  // optional output of the column pass
  double radius_x = 0.0;  // full-size pixels; render divides by scaleFactorX
  double radius_y = 0.0;
  int32_t edgeMode = EdgeModeMirror;
  double scaleFactorX = 1.0;
  double scaleFactorY = 1.0;
  View jobInput;   // what the jobs of the current pass read
  View jobOutput;  // what they write
};

// The 18 float kernel formats (six layouts at MAX 1, 255 and 32768): the glow's instances and
// those of the kernel image.
#define PEL_KERNEL_FORMATS(X)                                                                 \
  X(ImgWorkGrayA_F1) X(ImgWorkGray_F1) X(ImgWorkTwoChA_F1) X(ImgWorkTwoCh_F1)               \
  X(ImgWorkRGBA_F1) X(ImgWorkRGB_F1) X(ImgWorkGrayA_F255) X(ImgWorkGray_F255)               \
  X(ImgWorkTwoChA_F255) X(ImgWorkTwoCh_F255) X(ImgWorkRGBA_F255) X(ImgWorkRGB_F255)         \
  X(ImgWorkGrayA_F32768) X(ImgWorkGray_F32768) X(ImgWorkTwoChA_F32768)                      \
  X(ImgWorkTwoCh_F32768) X(ImgWorkRGBA_F32768) X(ImgWorkRGB_F32768)

#define PEL_GLOW_EXTERN(V) extern template class GlowFilter<V>;
PEL_KERNEL_FORMATS(PEL_GLOW_EXTERN)
#undef PEL_GLOW_EXTERN

}  // namespace ov
