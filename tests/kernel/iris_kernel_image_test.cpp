// The iris kernel image: the polygon drawn from the settings, its softening and statuses.
#include "kernel/iris_kernel_image.h"

#include <gtest/gtest.h>

#include <cmath>
#include <algorithm>
#include <cstring>
#include <mutex>
#include <vector>

#include "kernel/glow_filter.h"
#include "kernel/iris_kernel.h"
#include "kernel_test_util.h"
#include "resample/zoom_filter.h"

namespace {

using kernel_test::TestHost;
using namespace ov;

OutOfFocusParams irisParams(double radius, int32_t facets = 6, double round = 0.4,
                            double aspect = 0.0) {
  OutOfFocusParams p{};
  p.view = 1;
  p.blur_radius = radius;
  p.keep_color = 0;
  p.iris_softness = 0.0;
  p.iris_roundness = round;
  p.iris_border = 0.2;
  p.iris_border_brightness = 0.5;
  p.iris_angle = 0.3;
  p.iris_aspect = aspect;
  p.iris_facets = facets;
  p.scale_x = 1.0;
  p.scale_y = 1.0;
  return p;
}

template <class View>
struct KernelImage {
  using Px = typename View::pixel_type;
  static constexpr int C = Px::sample_count;
  std::vector<float> v;
  View view;
  KernelImage(uint32_t w, uint32_t h, float init = 0.0f, double scale = 1.0)
      : v(static_cast<size_t>(w) * h * C, init) {
    view = View(v.data(), w, h, static_cast<int32_t>(w * sizeof(Px)), 0, 0, true, scale, 1.0, 1.0,
                true, sizeof(Px));
  }
  float at(uint32_t x, uint32_t y, int c) const {
    return v[(static_cast<size_t>(y) * view.width + x) * C + c];
  }
};

// What the polygon path must draw: the kernel of the settings' radii, each row from column 0
// to the row's last change, the running weight times MAX in every colour sample.
template <class View>
void expectPolygon(const KernelImage<View>& img, const OutOfFocusParams& p, double d,
                   float untouched) {
  using Px = typename View::pixel_type;
  const double a = p.iris_aspect;
  const double rx = (d + 2 - 2 * std::fabs(a)) / (2 * p.scale_x * img.view.scale) * (1 + a);
  const double ry = (d + 2 - 2 * std::fabs(a)) / (2 * p.scale_y) * (1 - a);
  const double aspect = rx != 0 ? ry / rx : ry;
  TestHost host;
  std::vector<unsigned char> block(kernelBufferSize(rx, p.iris_border_brightness, aspect));
  IrisKernel k;
  ASSERT_EQ(buildIrisKernel(&k, block.data(), rx, p.iris_roundness, p.iris_facets, p.iris_angle,
                            p.iris_border, p.iris_border_brightness, aspect, &host),
            host.StatusOk());
  const int32_t W = static_cast<int32_t>(img.view.width);
  const int32_t H = static_cast<int32_t>(img.view.height);
  const kernel_test::Dense dense =
      kernel_test::dense(k, -W, W, 2 * k.half_height + 1);
  int drawn = 0;
  for (int32_t y = 0; y < H; ++y) {
    const int32_t r = y - H / 2;
    const bool inKernel = r >= k.top_row && r <= k.bottom_row && k.rowCount(r) > 0;
    const int32_t last = inKernel ? k.rowRecords(r)[k.rowCount(r) - 1].x + W / 2 : -1;
    for (int32_t x = 0; x < W; ++x) {
      for (int c = 0; c < Px::colour_count; ++c) {
        const float want = x <= last ? static_cast<float>(dense.at(x - W / 2, r) * Px::max_value)
                                     : untouched;
        ASSERT_EQ(img.at(x, y, c), want) << x << "," << y;
      }
      if constexpr (Px::has_alpha) {
        ASSERT_EQ(img.at(x, y, Px::alpha_index), float(Px::max_value));
      }
      if (x <= last && dense.at(x - W / 2, r) > 0) ++drawn;
    }
  }
  EXPECT_GT(drawn, 0);
}

TEST(IrisKernelImage, PolygonPathDrawsTheKernel) {
  TestHost host;
  {
    KernelImage<ImgWorkGray_F1> img(64, 48, 7.0f);  // no alpha: the caller's pixels stay
    const OutOfFocusParams p = irisParams(12.0);
    ASSERT_EQ(buildIrisKernelImage(img.view, ImgMask8(), p, 0, 1, &host), host.StatusOk());
    expectPolygon(img, p, 24.0, 7.0f);
  }
  {
    KernelImage<ImgWorkRGBA_F255> img(40, 50, 9.0f);  // alpha: filled with 0, alpha MAX first
    const OutOfFocusParams p = irisParams(10.0, 5, 0.7, 0.5);
    ASSERT_EQ(buildIrisKernelImage(img.view, ImgMask8(), p, 0, 1, &host), host.StatusOk());
    expectPolygon(img, p, 20.0, 0.0f);
  }
  {
    KernelImage<ImgWorkTwoChA_F32768> img(33, 31, 0.0f, 2.0);  // the horizontal radius / scale
    OutOfFocusParams p = irisParams(9.0, 7, 0.1, -0.3);
    p.scale_x = 1.5;
    p.scale_y = 2.0;
    ASSERT_EQ(buildIrisKernelImage(img.view, ImgMask8(), p, 0, 1, &host), host.StatusOk());
    expectPolygon(img, p, 18.0, 0.0f);
  }
  {
    // A kernel larger than the image: rows outside are skipped, and the changes left of
    // column 0 still raise the running value, so column 0 holds the true kernel value.
    KernelImage<ImgWorkGray_F1> img(20, 14);
    const OutOfFocusParams p = irisParams(30.0, 8, 0.5);
    ASSERT_EQ(buildIrisKernelImage(img.view, ImgMask8(), p, 0, 1, &host), host.StatusOk());
    expectPolygon(img, p, 60.0, 0.0f);
    EXPECT_NEAR(img.at(0, 7, 0), 0.5, 1e-6);  // inside the dimmed centre (1 - border bias)
  }
}

TEST(IrisKernelImage, DiameterAndRadii) {
  OutOfFocusParams p = irisParams(50.0);
  EXPECT_EQ(irisKernelDiameter(p, 640, 480), 100.0);
  p.view = 2;  // the iris view: the diameter follows the view's size
  EXPECT_EQ(irisKernelDiameter(p, 640, 480), 200.0);
  EXPECT_EQ(irisKernelDiameter(p, 1000, 100), 49.0);  // 177.08, then half the height less 1
  EXPECT_EQ(irisKernelDiameter(p, 100, 1000), 49.0);  // half the width less 1
  p.scale_x = p.scale_y = 2.0;
  EXPECT_EQ(irisKernelDiameter(p, 320, 240), 200.0);

  // Radius 0, aspect 0: rx = ry = 1, a kernel of about one pixel's radius.
  TestHost host;
  KernelImage<ImgWorkGray_F1> img(9, 9);
  OutOfFocusParams z = irisParams(0.0, 6, 0.0);
  z.iris_border_brightness = 0.0;
  ASSERT_EQ(buildIrisKernelImage(img.view, ImgMask8(), z, 0, 1, &host), host.StatusOk());
  expectPolygon(img, z, 0.0, 0.0f);
  for (uint32_t y = 0; y < 9; ++y)
    for (uint32_t x = 0; x < 9; ++x)
      if (std::abs(int(x) - 4) > 2 || std::abs(int(y) - 4) > 2) {
        EXPECT_EQ(img.at(x, y, 0), 0.0f);
      }
  EXPECT_GT(img.at(4, 4, 0), 0.0f);
}

TEST(IrisKernelImage, SofteningRunsTheGlow) {
  TestHost host;
  OutOfFocusParams p = irisParams(10.0);
  p.iris_softness = 2.0;
  p.scale_x = 1.0;
  p.scale_y = 2.0;
  KernelImage<ImgWorkRGB_F1> soft(40, 30), hard(40, 30);
  ASSERT_EQ(buildIrisKernelImage(soft.view, ImgMask8(), p, 0, 1, &host), host.StatusOk());
  OutOfFocusParams q = p;
  q.iris_softness = 0.0;
  ASSERT_EQ(buildIrisKernelImage(hard.view, ImgMask8(), q, 0, 1, &host), host.StatusOk());
  expectPolygon(hard, q, 20.0, 0.0f);  // softness 0: the hard kernel
  // The glow of radius g = d softness 2 / (H sy + W sx), divided by the scale factors.
  GlowFilter<ImgWorkRGB_F1> glow(&host);
  glow.image = hard.view;
  glow.radius_x = glow.radius_y = 20.0 * 2.0 * 2.0 / (30 * 2.0 + 40 * 1.0);
  glow.scaleFactorX = 1.0;
  glow.scaleFactorY = 2.0;
  ASSERT_EQ(glow.render(0, 1), host.StatusOk());
  EXPECT_EQ(soft.v, hard.v);
  // d = 0 with any softness: no glow (and a kernel of about one pixel).
  KernelImage<ImgWorkGray_F1> a(9, 9), b(9, 9);
  OutOfFocusParams zero = irisParams(0.0);
  zero.iris_softness = 5.0;
  ASSERT_EQ(buildIrisKernelImage(a.view, ImgMask8(), zero, 0, 1, &host), host.StatusOk());
  zero.iris_softness = 0.0;
  ASSERT_EQ(buildIrisKernelImage(b.view, ImgMask8(), zero, 0, 1, &host), host.StatusOk());
  EXPECT_EQ(a.v, b.v);
}

TEST(IrisKernelImage, ProgressPasses) {
  TestHost host;
  std::mutex lock;
  std::vector<std::pair<uint32_t, uint32_t>> reports;
  host.progressHook = [&](uint32_t d, uint32_t t) {
    std::lock_guard<std::mutex> g(lock);
    reports.emplace_back(d, t);
    return true;
  };
  OutOfFocusParams p = irisParams(3.0);
  p.iris_softness = 1.0;
  KernelImage<ImgWorkGrayA_F1> img(8, 6);
  ASSERT_EQ(buildIrisKernelImage(img.view, ImgMask8(), p, 1, 3, &host), host.StatusOk());
  // Fill rows as pass 3 + 1 of 9, the rasteriser's (0, 1) per kernel row, the glow's rows
  // and columns in pass 3 + 2 of 9.
  int fill = 0, raster = 0, glowRows = 0, glowCols = 0;
  for (auto [d, t] : reports) {
    if (t == 9u * 6 && d >= 4u * 6 && d < 5u * 6) ++fill;
    else if (d == 0 && t == 1) ++raster;
    else if (t == 2u * 9 * 6 && d >= 2u * 5 * 6 && d < 2u * 5 * 6 + 6) ++glowRows;
    else if (t == 2u * 9 * 8 && d >= 11u * 8 && d < 12u * 8) ++glowCols;
    else ADD_FAILURE() << d << " of " << t;
  }
  EXPECT_EQ(fill, 6);
  EXPECT_GT(raster, 0);
  EXPECT_EQ(glowRows, 6);
  EXPECT_EQ(glowCols, 8);
}

TEST(IrisKernelImage, StatusesAndTheBlock) {
  KernelImage<ImgWorkGrayA_F255> img(16, 16, 3.0f);
  const std::vector<float> before = img.v;
  const OutOfFocusParams p = irisParams(5.0);
  {
    // No block: out of memory before anything is drawn or any filter runs.
    TestHost host;
    host.allocateHook = [](uint32_t) -> void* { return nullptr; };
    int progress = 0;
    host.progressHook = [&](uint32_t, uint32_t) { ++progress; return true; };
    EXPECT_EQ(buildIrisKernelImage(img.view, ImgMask8(), p, 0, 1, &host), host.StatusOutOfMemory());
    EXPECT_EQ(img.v, before);
    EXPECT_EQ(progress, 0);
  }
  {
    // A kernel whose block would not fit in 32 bits is refused without asking for it.
    TestHost host;
    int asked = 0;
    host.allocateHook = [&](uint32_t) -> void* { ++asked; return nullptr; };
    OutOfFocusParams huge = p;
    huge.blur_radius = 1e12;
    EXPECT_EQ(buildIrisKernelImage(img.view, ImgMask8(), huge, 0, 1, &host),
              host.StatusOutOfMemory());
    EXPECT_EQ(asked, 0);
    EXPECT_EQ(img.v, before);
  }
  {
    // A cancel inside the rasteriser: its status comes back and the block is given back.
    TestHost host;
    std::vector<void*> live;
    host.allocateHook = [&](uint32_t n) {
      live.push_back(::operator new(n));
      return live.back();
    };
    host.freeHook = [&](void* q) {
      live.erase(std::find(live.begin(), live.end(), q));
      ::operator delete(q);
    };
    int calls = 0;
    host.progressHook = [&](uint32_t d, uint32_t t) { return !(d == 0 && t == 1 && ++calls == 3); };
    OutOfFocusParams soft = p;
    soft.iris_softness = 3.0;
    EXPECT_EQ(buildIrisKernelImage(img.view, ImgMask8(), soft, 0, 1, &host), host.StatusCancelled());
    EXPECT_TRUE(live.empty());
  }
}

TEST(IrisKernelImage, EmptyApertureDrawsNothing) {
  // Settings within the parameters' limits whose aperture is empty: the kernel has sum 0 and
  // no rows, the image keeps its cleared state (its consumers then copy the source).
  TestHost host;
  for (auto [border, brightness] : {std::pair{0.0, 1.0}, std::pair{1.0, -1.0}}) {
    OutOfFocusParams p = irisParams(12.0);
    p.iris_border = border;
    p.iris_border_brightness = brightness;
    p.iris_softness = 1.5;
    KernelImage<ImgWorkGray_F1> img(40, 40);
    ASSERT_EQ(buildIrisKernelImage(img.view, ImgMask8(), p, 0, 1, &host), host.StatusOk());
    for (float f : img.v) ASSERT_EQ(f, 0.0f);
    KernelImage<ImgWorkRGBA_F1> rgba(20, 20, 5.0f);
    ASSERT_EQ(buildIrisKernelImage(rgba.view, ImgMask8(), p, 0, 1, &host), host.StatusOk());
    for (size_t i = 0; i < rgba.v.size(); ++i) ASSERT_EQ(rgba.v[i], i % 4 == 3 ? 1.0f : 0.0f);
  }
}

// ---- the selection path -------------------------------------------------------------------

struct Selection {
  std::vector<unsigned char> s;
  ImgMask8 view;
  Selection(uint32_t w, uint32_t h, unsigned char value, double scale = 1.0)
      : s(static_cast<size_t>(w) * h * 2, value) {
    // Pixel step 2: a host mask whose planes interleave.
    view = ImgMask8(s.data(), w, h, static_cast<int32_t>(w * 2), 0, 0, false, scale, 1.0, 1.0,
                    true, 2);
  }
};

TEST(IrisKernelImage, SelectionPathGreyConversion) {
  TestHost host;
  Selection sel(60, 60, 255);
  OutOfFocusParams p = irisParams(15.0);
  {
    KernelImage<ImgWorkTwoCh_F1> img(41, 41);
    ASSERT_EQ(buildIrisKernelImage(img.view, sel.view, p, 0, 1, &host), host.StatusOk());
    EXPECT_FLOAT_EQ(img.at(20, 20, 0), 0.844837432f);  // two weights, not renormalised
    EXPECT_FLOAT_EQ(img.at(20, 20, 1), 0.844837432f);
    p.keep_color = 1;
    ASSERT_EQ(buildIrisKernelImage(img.view, sel.view, p, 0, 1, &host), host.StatusOk());
    EXPECT_EQ(img.at(20, 20, 0), 1.0f);  // the value itself
    p.keep_color = 0;
  }
  {
    KernelImage<ImgWorkRGBA_F255> img(41, 41, 3.0f);
    ASSERT_EQ(buildIrisKernelImage(img.view, sel.view, p, 0, 1, &host), host.StatusOk());
    EXPECT_FLOAT_EQ(img.at(20, 20, 0), 255.0f);
    EXPECT_EQ(img.at(20, 20, 3), 255.0f);
    EXPECT_EQ(img.at(0, 0, 0), 0.0f);  // outside the selection: 0, alpha MAX
    EXPECT_EQ(img.at(0, 0, 3), 255.0f);
  }
  {
    KernelImage<ImgWorkGray_F32768> img(41, 41);
    ASSERT_EQ(buildIrisKernelImage(img.view, sel.view, p, 0, 1, &host), host.StatusOk());
    EXPECT_EQ(img.at(20, 20, 0), 32768.0f);
  }
}

TEST(IrisKernelImage, SelectionPathMatchesTheZoom) {
  // The selection's shorter side spans d + 1 kernel pixels: step n / (d + 1) with n the
  // shorter side in full-resolution pixels; the horizontal step scaled by the kernel image's
  // scale over the selection's.
  uint32_t seed = 5;
  Selection sel(70, 40, 0, 2.0);
  for (auto& v : sel.s) {
    seed = seed * 1664525u + 1013904223u;
    v = static_cast<unsigned char>(seed >> 24);
  }
  OutOfFocusParams p = irisParams(12.0);  // d = 24
  p.scale_x = 1.0;
  p.scale_y = 1.0;
  TestHost host;
  KernelImage<ImgWorkRGB_F1> img(37, 33, 0.0f, 0.5);
  ASSERT_EQ(buildIrisKernelImage(img.view, sel.view, p, 0, 1, &host), host.StatusOk());

  KernelImage<ImgWorkRGB_F1> ref(37, 33, 0.0f, 0.5);
  ZoomFilter<ImgMask8, ImgWorkRGB_F1> zoom(&host);
  zoom.source = sel.view;
  zoom.destination = ref.view;
  zoom.stepY = 40.0 / 25.0;
  zoom.stepX = zoom.stepY * 0.5 / 2.0;
  zoom.edgeModeX = zoom.edgeModeY = 4;
  ASSERT_EQ(zoom.render(0, 1), host.StatusOk());
  for (size_t i = 0; i < ref.v.size(); i += 3) {
    const float lum = static_cast<float>(0.292687786 * ref.v[i] + 0.552149646 * ref.v[i + 1] +
                                         0.155162568 * ref.v[i + 2]);
    for (int c = 0; c < 3; ++c) ASSERT_EQ(img.v[i + c], lum) << i;
  }

  // A uniform selection: the centre row is lit over d + 1 columns at step 1.
  Selection square(50, 50, 255);
  OutOfFocusParams q = irisParams(10.0);  // d = 20, step 50 / 21 each way
  KernelImage<ImgWorkGray_F1> k(41, 41);
  ASSERT_EQ(buildIrisKernelImage(k.view, square.view, q, 0, 1, &host), host.StatusOk());
  double lit = 0.0;
  for (uint32_t x = 0; x < 41; ++x) lit += k.at(x, 20, 0);
  EXPECT_NEAR(lit, 21.0, 1e-4);
}

TEST(IrisKernelImage, SelectionPathProgressAndGlow) {
  TestHost host;
  std::mutex lock;
  std::vector<std::pair<uint32_t, uint32_t>> reports;
  host.progressHook = [&](uint32_t d, uint32_t t) {
    std::lock_guard<std::mutex> g(lock);
    reports.emplace_back(d, t);
    return true;
  };
  Selection sel(30, 20, 200);
  OutOfFocusParams p = irisParams(4.0);
  p.iris_softness = 1.0;
  KernelImage<ImgWorkGrayA_F1> img(12, 10);
  ASSERT_EQ(buildIrisKernelImage(img.view, sel.view, p, 2, 5, &host), host.StatusOk());
  // Zoom: pass 6 of 15 (its table and resampling halves of 2 x 15 x 20); grey rows: pass 7
  // of 15 over the kernel height; glow: pass 8 of 15.
  int zoom = 0, grey = 0, glow = 0;
  for (auto [d, t] : reports) {
    if (t == 2u * 15 * 20 && d >= 12u * 20 && d < 14u * 20) ++zoom;
    else if (t == 15u * 10 && d >= 7u * 10 && d < 8u * 10) ++grey;
    else if ((t == 2u * 15 * 10 && d >= 16u * 10 && d < 17u * 10) ||
             (t == 2u * 15 * 12 && d >= 17u * 12 && d < 18u * 12)) ++glow;
    else ADD_FAILURE() << d << " of " << t;
  }
  EXPECT_EQ(zoom, 20 + 10);
  EXPECT_EQ(grey, 10);
  EXPECT_EQ(glow, 10 + 12);
  // A cancelled grey conversion stops the rows and skips the glow.
  int rows = 0;
  host.progressHook = [&](uint32_t, uint32_t t) { return !(t == 15u * 10 && ++rows == 3); };
  EXPECT_EQ(buildIrisKernelImage(img.view, sel.view, p, 2, 5, &host), host.StatusCancelled());
  EXPECT_EQ(rows, 3);
}

}  // namespace
