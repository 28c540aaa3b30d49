// ov::GlowFilter: the line blur on running sums and the two parallel passes.
#include "kernel/glow_filter.h"

#include <cmath>
#include <limits>

namespace ov {

namespace glow_detail {

namespace {

// Radii beyond this are cut (a line of the system is far shorter, and the priming positions
// stay within 32 bits).
constexpr double kMaxRadius = 536870912.0;  // 2^29

// Past this many line lengths the folded tent weighs every sample of the line alike to within
// about (2 / 512)^2, far below a 16-bit step: a longer radius changes nothing that can be seen,
// and only costs time (the running sums walk 2 r samples). Radii up to it are kept as they are.
constexpr double kLinesPerRadius = 512.0;

// The index that coordinate k of a line of n samples reads: k itself inside, else folded by
// `mode` (1 clamp, 2 mirror, 3 wrap).
inline int32_t fold(int32_t k, int32_t n, int32_t mode) {
  edge_index(k, n, mode);
  return k;
}

}  // namespace

template <int C>
void blurLine(const float* src, std::ptrdiff_t srcStride, float* dst, std::ptrdiff_t dstStride,
              int32_t n, double r, int32_t mode, bool zeroNegative) {
  if (!(r >= 0.0)) r = 0.0;
  if (r > kMaxRadius) r = kMaxRadius;
  if (r > kLinesPerRadius * n) r = kLinesPerRadius * n;
  const int32_t ri = static_cast<int32_t>(r);
  const double f = r - ri;
  const double S = 0.5 * static_cast<double>(ri) * static_cast<double>(ri + 1);
  const double norm = 1.0 / (2.0 * S + (ri + 1) + (2.0 * ri + 1) * (f - 0.5) + f);
  const double fHalf = f / 2;
  const double fMinusHalf = f - 0.5;
  const int32_t first = -ri - 1;  // samples left of this are never added or removed

  auto s = [&](int32_t k, int c) {
    return static_cast<double>(src[static_cast<std::ptrdiff_t>(fold(k, n, mode)) * srcStride + c]);
  };

  double R[C] = {}, L[C] = {}, B[C] = {}, T[C] = {};
  for (int32_t x = -2 * ri - 4; x < n; ++x) {
    const int32_t kr = x + ri;
    const int32_t kl = x - ri;
    for (int c = 0; c < C; ++c) {
      if (kr >= first) {
        const double v = s(kr, c);
        R[c] += v;
        B[c] += v;
      }
      T[c] += R[c];
      if (x >= first) {
        const double v = s(x, c);
        R[c] -= v;
        L[c] += v;
      }
      if (x >= 0) {
        const double out =
            norm * (T[c] + fMinusHalf * B[c] + fHalf * (s(kl - 1, c) + s(kr + 1, c)));
        float stored = static_cast<float>(out);
        if (zeroNegative && !(out >= 0.0)) stored = 0.0f;
        dst[static_cast<std::ptrdiff_t>(x) * dstStride + c] = stored;
      }
      T[c] -= L[c];
      if (kl >= first) {
        const double v = s(kl, c);
        L[c] -= v;
        B[c] -= v;
      }
    }
  }
}

template void blurLine<1>(const float*, std::ptrdiff_t, float*, std::ptrdiff_t, int32_t, double,
                          int32_t, bool);
template void blurLine<2>(const float*, std::ptrdiff_t, float*, std::ptrdiff_t, int32_t, double,
                          int32_t, bool);
template void blurLine<3>(const float*, std::ptrdiff_t, float*, std::ptrdiff_t, int32_t, double,
                          int32_t, bool);
template void blurLine<4>(const float*, std::ptrdiff_t, float*, std::ptrdiff_t, int32_t, double,
                          int32_t, bool);

}  // namespace glow_detail

template <class View>
uint32_t GlowFilter<View>::render(uint32_t pass_, uint32_t passCount_) {
  pass = pass_;
  passCount = passCount_;

  void* block = nullptr;
  if (temp.data == nullptr) {
    const uint64_t bytes = static_cast<uint64_t>(image.width) * image.height * kPixelBytes;
    if (bytes <= std::numeric_limits<uint32_t>::max())
      block = host->AllocateMemory(static_cast<uint32_t>(bytes));
    if (block == nullptr) return host->StatusOutOfMemory();
    temp = View(block, image.width, image.height,
                static_cast<int32_t>(image.width * static_cast<uint32_t>(kPixelBytes)),
                image.originX, image.originY, true, 1.0, 1.0, 1.0, true, kPixelBytes);
  }

  jobInput = image;
  jobOutput = temp;
  radius_x = radius_x / scaleFactorX;
  radius_y = radius_y / scaleFactorY;

  uint32_t status = host->ParallelRun(
      image.height, [this](uint32_t i, uint32_t n, uint32_t id) { return blur_row(i, n, id); });
  if (status == host->StatusOk()) {
    jobInput = temp;
    jobOutput = destination.data != nullptr ? destination : image;
    status = host->ParallelRun(image.width, [this](uint32_t i, uint32_t n, uint32_t id) {
      return blur_column(i, n, id);
    });
  }

  if (block != nullptr) {
    host->FreeMemory(block);
    temp.data = nullptr;  // the block is gone; a later render allocates its own again
  }
  return status;
}

template <class View>
uint32_t GlowFilter<View>::blur_row(uint32_t thread_index, uint32_t, uint32_t) {
  const uint32_t y = thread_index;
  const float* in = reinterpret_cast<const float*>(jobInput.row_bytes(y));
  float* out = reinterpret_cast<float*>(jobOutput.row_bytes(y));
  glow_detail::blurLine<kFloats>(in, kFloats, out, kFloats, static_cast<int32_t>(jobInput.width),
                                 radius_x, EdgeModeMirror, false);
  const uint32_t H = jobInput.height;
  return host->ReportProgress(2 * pass * H + y, 2 * passCount * H);
}

template <class View>
uint32_t GlowFilter<View>::blur_column(uint32_t thread_index, uint32_t, uint32_t) {
  const uint32_t x = thread_index;
  const float* in = reinterpret_cast<const float*>(jobInput.data) + std::ptrdiff_t(x) * kFloats;
  float* out = reinterpret_cast<float*>(jobOutput.data) + std::ptrdiff_t(x) * kFloats;
  // Folding modes 1 to 3 keep every coordinate inside; any other value mirrors.
  const int32_t mode = edgeMode >= EdgeModeClamp && edgeMode <= EdgeModeWrap ? edgeMode
                                                                              : EdgeModeMirror;
  glow_detail::blurLine<kFloats>(in, jobInput.rowBytes / 4, out, jobOutput.rowBytes / 4,
                                 static_cast<int32_t>(jobOutput.height), radius_y, mode, true);
  const uint32_t W = jobOutput.width;
  return host->ReportProgress((2 * pass + 1) * W + x, 2 * passCount * W);
}

#define PEL_GLOW_INSTANCE(V) template class GlowFilter<V>;
PEL_KERNEL_FORMATS(PEL_GLOW_INSTANCE)
#undef PEL_GLOW_INSTANCE

}  // namespace ov
