// The iris kernel image: polygon or selection, then the glow.
#include "kernel/iris_kernel_image.h"

#include <cmath>

#include "kernel/glow_filter.h"
#include "kernel/iris_kernel.h"
#include "pixel/clear_fill_filter.h"
#include "pixel/colour.h"
#include "resample/zoom_filter.h"

namespace {

// The polygon path: rasterise the iris settings and integrate the kernel's rows into the
// image. The block is the path's one allocation and is given back on every path.
template <class View>
uint32_t drawPolygon(View& image, const OutOfFocusParams& params, double d, uint32_t pass,
                     uint32_t passCount, ov::OstrovanneHost* host) {
  using Pixel = typename View::pixel_type;
  const double sx = params.scale_x;
  const double sy = params.scale_y;
  const double a = params.iris_aspect;
  const double rx = (d + 2.0 - 2.0 * std::fabs(a)) / (2.0 * sx * image.scale) * (1.0 + a);
  const double ry = (d + 2.0 - 2.0 * std::fabs(a)) / (2.0 * sy) * (1.0 - a);
  const double aspect = rx != 0.0 ? ry / rx : ry;

  const uint32_t bytes = kernelBufferSize(rx, params.iris_border_brightness, aspect);
  void* block = bytes != 0 ? host->AllocateMemory(bytes) : nullptr;
  if (block == nullptr) return host->StatusOutOfMemory();

  uint32_t status = host->StatusOk();
  const int64_t W = image.width;
  const int64_t H = image.height;
  if constexpr (Pixel::has_alpha) {
    Pixel fill{};
    fill.set_alpha(static_cast<float>(Pixel::max_value));
    ov::FillImageFilter<View> filler(host, image, fill);
    status = filler.render(3 * pass + 1, 3 * passCount);
  }

  IrisKernel kernel;
  if (status == host->StatusOk()) {
    status = buildIrisKernel(&kernel, block, rx, params.iris_roundness, params.iris_facets,
                             params.iris_angle, params.iris_border,
                             params.iris_border_brightness, aspect, host);
  }
  if (status == host->StatusOk()) {
    // Each kernel row from its first column: runs of equal weight between the change records,
    // the changes left of column 0 still raising the running value; the row's last change
    // column takes the final value (0 once the row has closed), the rest keeps what it held.
    auto put = [](Pixel& p, double v) {
      const float s = static_cast<float>(v * Pixel::max_value);
      for (int c = 0; c < Pixel::colour_count; ++c) p.v[c] = s;
    };
    for (int32_t r = kernel.top_row; r <= kernel.bottom_row; ++r) {
      const int64_t y = r + H / 2;
      if (y < 0 || y >= H) continue;
      Pixel* row = image.row(y);
      const KernelDeltaRecord* rec = kernel.rowRecords(r);
      const int32_t count = kernel.rowCount(r);
      double v = 0.0;
      int64_t x = 0;
      for (int32_t k = 0; k < count; ++k) {
        const int64_t e = rec[k].x + W / 2;
        for (int64_t i = x; i < std::min(e, W); ++i) put(row[i], v);
        if (e > x) x = e;
        v += rec[k].weight_delta;
      }
      if (x < W) put(row[x], v);
    }
  }
  kernel.clear();
  host->FreeMemory(block);
  return status;
}

// The selection path: zoom the 8-bit selection into the kernel image (every colour sample the
// mean selection value scaled to 0 .. MAX, alpha MAX), then turn it grey row by row.
template <class View>
uint32_t drawSelection(View& image, const ov::ImgMask8& iris, const OutOfFocusParams& params,
                       double d, uint32_t pass, uint32_t passCount, ov::OstrovanneHost* host) {
  using Pixel = typename View::pixel_type;
  const double sx = params.scale_x;
  const double sy = params.scale_y;
  // The selection's shorter side (in full-resolution pixels) spans d + 1 kernel pixels.
  double n = std::trunc(iris.width * sx);
  if (n > iris.height * sy) n = std::trunc(iris.height * sy);
  const double stepY = n / (d + 1.0);
  const double stepX = stepY * image.scale / iris.scale;

  ov::ZoomFilter<ov::ImgMask8, View> zoom(host);
  zoom.source = iris;
  zoom.destination = image;
  zoom.stepX = stepX;
  zoom.stepY = stepY;
  zoom.edgeModeX = ov::EdgeModeColour;
  zoom.edgeModeY = ov::EdgeModeColour;
  uint32_t status = zoom.render(3 * pass, 3 * passCount);
  if (status != host->StatusOk()) return status;

  const bool keep = params.keep_color != 0;
  const uint32_t H = image.height;
  for (uint32_t y = 0; y < H; ++y) {
    Pixel* row = image.row(y);
    for (uint32_t x = 0; x < image.width; ++x) {
      Pixel& p = row[x];
      if (!keep) {
        double lum = p.v[0];
        // The weighted colour alone (not renormalised for two channels); alpha follows.
        if constexpr (Pixel::colour_count == 2) lum = ov::kLumaR * p.v[0] + ov::kLumaG * p.v[1];
        if constexpr (Pixel::colour_count == 3)
          lum = ov::kLumaR * p.v[0] + ov::kLumaG * p.v[1] + ov::kLumaB * p.v[2];
        for (int c = 0; c < Pixel::colour_count; ++c) p.v[c] = static_cast<float>(lum);
      }
      if constexpr (Pixel::has_alpha) {
        const double f = static_cast<double>(p.alpha()) / Pixel::max_value;
        for (int c = 0; c < Pixel::colour_count; ++c)
          p.v[c] = static_cast<float>(static_cast<double>(p.v[c]) * f);
        p.set_alpha(static_cast<float>(Pixel::max_value));
      }
    }
    status = host->ReportProgress((3 * pass + 1) * H + y, 3 * passCount * H);
    if (status != host->StatusOk()) return status;
  }
  return status;
}

}  // namespace

double irisKernelDiameter(const OutOfFocusParams& params, uint32_t width, uint32_t height) {
  if (params.view != 2) return 2.0 * params.blur_radius;
  const double w = width * params.scale_x;
  const double h = height * params.scale_y;
  double d = 100.0 * (w / 640.0 + h / 480.0);
  if (2.0 * d > w) d = w * 0.5 - 1.0;
  if (2.0 * d > h) d = h * 0.5 - 1.0;
  return d;
}

template <class KernelView>
uint32_t buildIrisKernelImage(KernelView kernelImage, ov::ImgMask8 irisImage,
                              OutOfFocusParams params, uint32_t pass, uint32_t passCount,
                              ov::OstrovanneHost* host) {
  const double d = irisKernelDiameter(params, kernelImage.width, kernelImage.height);
  uint32_t status = irisImage.data != nullptr
                        ? drawSelection(kernelImage, irisImage, params, d, pass, passCount, host)
                        : drawPolygon(kernelImage, params, d, pass, passCount, host);
  if (status != host->StatusOk()) return status;

  const double g = d * params.iris_softness * 2.0 /
                   (kernelImage.height * params.scale_y + kernelImage.width * params.scale_x);
  if (g > 0.0) {
    ov::GlowFilter<KernelView> glow(host);
    glow.image = kernelImage;
    glow.radius_x = g;
    glow.radius_y = g;
    glow.scaleFactorX = params.scale_x;
    glow.scaleFactorY = params.scale_y;
    status = glow.render(3 * pass + 2, 3 * passCount);
  }
  return status;
}

#define PEL_KERNEL_IMAGE_INSTANCE(V)                                                       \
  template uint32_t buildIrisKernelImage<ov::V>(ov::V, ov::ImgMask8, OutOfFocusParams,      \
                                                uint32_t, uint32_t, ov::OstrovanneHost*);
PEL_KERNEL_FORMATS(PEL_KERNEL_IMAGE_INSTANCE)
#undef PEL_KERNEL_IMAGE_INSTANCE
