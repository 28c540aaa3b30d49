// The highlight selection filter: both views, positions, premultiplication and threads.
#include "kernel/hsl_range_selection_filter.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <mutex>
#include <vector>

#include "kernel_test_util.h"

namespace {

using kernel_test::TestHost;
using namespace ov;

// An image of host pixels over its own memory; pixelBytes may exceed the packed size.
template <class Px>
struct HostImage {
  std::vector<unsigned char> bytes;
  HostView<Px> view;
  HostImage(uint32_t w, uint32_t h, int32_t originX = 0, int32_t originY = 0,
            int32_t pixelBytes = sizeof(Px)) {
    const int32_t rowBytes = static_cast<int32_t>(w) * pixelBytes + 4;
    bytes.assign(static_cast<size_t>(rowBytes) * h + 16, 0x5a);
    view = HostView<Px>(bytes.data(), w, h, rowBytes, originX, originY, false, 1.0, 1.0, 1.0,
                        true, pixelBytes);
  }
  Px& at(uint32_t x, uint32_t y) { return view.at(x, y); }
  void fill(const Px& p) {
    for (uint32_t y = 0; y < view.height; ++y)
      for (uint32_t x = 0; x < view.width; ++x) at(x, y) = p;
  }
};

HighlightSelectionParams block(uint8_t maskMode, uint8_t enabled, double lo, double hi,
                               double climax = 0.0, double soften = 0.0) {
  HighlightSelectionParams b{};
  b.maskMode = maskMode;
  b.enabled = enabled;
  b.hueHigh = 1.0;
  b.hueClimax = 1.0;
  b.saturationHigh = 1.0;
  b.saturationClimax = 1.0;
  b.lightnessLow = lo;
  b.lightnessHigh = hi;
  b.lightnessClimax = climax;
  b.lightnessSoften = soften;
  return b;
}

// Lightness window [0.375, 0.875] with its tent peaking at 0.625: lightness 0.5 (a pure
// primary at full intensity) weighs exactly 0.5, lightness 0.625 weighs 1.
HighlightSelectionParams halfBlock(uint8_t maskMode) {
  return block(maskMode, 1, 0.375, 0.875, 0.0, 1.0);
}

template <class Px>
uint32_t run(TestHost& host, const HostView<Px>& src, const HostView<Px>& dst,
             const HostView<Px>& sel, const HighlightSelectionParams& b) {
  HslRangeSelectionFilter<HostView<Px>, HostView<Px>, HostView<Px>> f(&host, src, dst, sel, b);
  return f.render(0, 1);
}

TEST(HslRangeSelectionFilter, DisabledShowsWhiteOrTheSource) {
  TestHost host;
  HostImage<PxHostRGBA_U8> src(3, 2), dst(4, 3), sel(3, 2);
  src.fill(PxHostRGBA_U8{{200, 100, 50, 255}});
  src.at(1, 1) = PxHostRGBA_U8{{255, 255, 255, 128}};
  // Mask mode: white inside the source, 0 outside it.
  ASSERT_EQ(run(host, src.view, dst.view, sel.view, block(1, 0, 0, 1)), host.StatusOk());
  EXPECT_EQ(dst.at(0, 0).v[0], 255);
  EXPECT_EQ(dst.at(2, 1).v[2], 255);
  EXPECT_EQ(dst.at(3, 0).v[0], 0);  // right of the source
  EXPECT_EQ(dst.at(0, 2).v[1], 0);  // below it
  EXPECT_EQ(dst.at(0, 0).v[3], 255);
  // Colour mode: the source times its alpha; an opaque pixel unchanged.
  ASSERT_EQ(run(host, src.view, dst.view, sel.view, block(0, 0, 0, 1)), host.StatusOk());
  EXPECT_EQ(dst.at(0, 0).v[0], 200);
  EXPECT_EQ(dst.at(0, 0).v[1], 100);
  EXPECT_EQ(dst.at(0, 0).v[2], 50);
  EXPECT_EQ(dst.at(1, 1).v[0], 128);  // 255 x (128 x (1/255^2) x 255) = 128.00000000000003
  EXPECT_EQ(dst.at(3, 2).v[0], 0);
}

TEST(HslRangeSelectionFilter, MaskModeShowsTheWeight) {
  TestHost host;
  {
    HostImage<PxHostRGB_U8> src(2, 1), dst(2, 1), sel(2, 1);
    sel.at(0, 0) = PxHostRGB_U8{{255, 0, 0}};      // lightness 0.5: w = 0.5
    sel.at(1, 0) = PxHostRGB_U8{{255, 255, 0}};    // hue 1/6 and lightness 0.5: w = 0.5
    ASSERT_EQ(run(host, src.view, dst.view, sel.view, halfBlock(1)), host.StatusOk());
    EXPECT_EQ(dst.at(0, 0).v[0], 127);  // 127.5 truncated
    EXPECT_EQ(dst.at(0, 0).v[2], 127);
    sel.at(0, 0) = PxHostRGB_U8{{255, 255, 255}};  // lightness 1: outside the window
    sel.at(1, 0) = PxHostRGB_U8{{255, 64, 64}};
    HighlightSelectionParams wide = block(1, 1, 0.0, 1.0);  // hard window: w = 1
    ASSERT_EQ(run(host, src.view, dst.view, sel.view, wide), host.StatusOk());
    EXPECT_EQ(dst.at(0, 0).v[0], 255);
    EXPECT_EQ(dst.at(1, 0).v[1], 255);
  }
  {
    HostImage<PxHostRGB_U16> src(1, 1), dst(1, 1), sel(1, 1);
    sel.at(0, 0) = PxHostRGB_U16{{32768, 0, 0}};
    ASSERT_EQ(run(host, src.view, dst.view, sel.view, halfBlock(1)), host.StatusOk());
    EXPECT_EQ(dst.at(0, 0).v[0], 16384);
  }
  {
    HostImage<PxHostGrayA_F1> src(1, 1), dst(1, 1), sel(1, 1);
    sel.at(0, 0) = PxHostGrayA_F1{{0.5f, 1.0f}};  // gray 0.5: lightness 0.5
    ASSERT_EQ(run(host, src.view, dst.view, sel.view, halfBlock(1)), host.StatusOk());
    EXPECT_EQ(dst.at(0, 0).v[0], 0.5f);
    EXPECT_EQ(dst.at(0, 0).v[1], 1.0f);
  }
  // An 8-bit gray image under the default block (Low 200): gray v has lightness v, so white
  // and 210 are highlights, as they are in an RGB image, and 199 is not.
  {
    HostImage<PxHostGray_U8> src(3, 1), dst(3, 1), sel(3, 1);
    sel.at(0, 0) = PxHostGray_U8{{255}};
    sel.at(1, 0) = PxHostGray_U8{{210}};
    sel.at(2, 0) = PxHostGray_U8{{199}};
    ASSERT_EQ(run(host, src.view, dst.view, sel.view, block(1, 1, 200.0 / 255, 1.0)),
              host.StatusOk());
    EXPECT_EQ(dst.at(0, 0).v[0], 255);
    EXPECT_EQ(dst.at(1, 0).v[0], 255);
    EXPECT_EQ(dst.at(2, 0).v[0], 0);
  }
}

TEST(HslRangeSelectionFilter, ColourModeWeightsTheSource) {
  TestHost host;
  HostImage<PxHostRGB_U8> src(2, 1), dst(3, 1), sel(3, 1);
  src.fill(PxHostRGB_U8{{200, 100, 50}});
  sel.at(0, 0) = PxHostRGB_U8{{255, 0, 0}};   // w = 0.5
  sel.at(1, 0) = PxHostRGB_U8{{0, 0, 0}};     // w = 0
  sel.at(2, 0) = PxHostRGB_U8{{255, 0, 0}};   // w = 0.5, but outside the source
  ASSERT_EQ(run(host, src.view, dst.view, sel.view, halfBlock(0)), host.StatusOk());
  EXPECT_EQ(dst.at(0, 0).v[0], 100);
  EXPECT_EQ(dst.at(0, 0).v[1], 50);
  EXPECT_EQ(dst.at(0, 0).v[2], 25);
  EXPECT_EQ(dst.at(1, 0).v[0], 0);
  EXPECT_EQ(dst.at(2, 0).v[0], 0);  // colour mode reads the source: 0 outside it
  // Mask mode still shows the weight outside the source.
  ASSERT_EQ(run(host, src.view, dst.view, sel.view, halfBlock(1)), host.StatusOk());
  EXPECT_EQ(dst.at(2, 0).v[0], 127);
  // The alpha of the source multiplies its colour: 255 at alpha 128 with w = 1 gives 128.
  HostImage<PxHostRGBA_U8> s4(1, 1), d4(1, 1), l4(1, 1);
  s4.at(0, 0) = PxHostRGBA_U8{{255, 255, 255, 128}};
  l4.at(0, 0) = PxHostRGBA_U8{{255, 255, 255, 255}};
  ASSERT_EQ(run(host, s4.view, d4.view, l4.view, block(0, 1, 0.0, 1.0)), host.StatusOk());
  EXPECT_EQ(d4.at(0, 0).v[0], 128);
}

TEST(HslRangeSelectionFilter, SelectionPositionsAndOutside) {
  TestHost host;
  // Destination origin (10, 0), selection origin (0, 0): destination (x, y) takes its weight
  // from selection (x + 10, y) and its colour from source (x, y).
  HostImage<PxHostRGB_U8> src(4, 2), dst(4, 2, 10, 0), sel(16, 2);
  src.fill(PxHostRGB_U8{{200, 100, 50}});
  sel.at(10, 1) = PxHostRGB_U8{{255, 0, 0}};
  sel.at(12, 1) = PxHostRGB_U8{{255, 0, 0}};
  ASSERT_EQ(run(host, src.view, dst.view, sel.view, halfBlock(0)), host.StatusOk());
  EXPECT_EQ(dst.at(0, 1).v[0], 100);
  EXPECT_EQ(dst.at(1, 1).v[0], 0);
  EXPECT_EQ(dst.at(2, 1).v[0], 100);
  EXPECT_EQ(dst.at(0, 0).v[0], 0);
  // Destination pixels whose selection position lies outside the selection weigh 0.
  HostImage<PxHostRGB_U8> far(4, 2, 14, 0);
  ASSERT_EQ(run(host, src.view, far.view, sel.view, block(1, 1, 0.0, 1.0)), host.StatusOk());
  EXPECT_EQ(far.at(1, 0).v[0], 255);  // selection (15, 0): inside, w = 1
  EXPECT_EQ(far.at(2, 0).v[0], 0);    // selection (16, 0): outside
  HostImage<PxHostRGB_U8> above(2, 2, 0, -1);
  ASSERT_EQ(run(host, src.view, above.view, sel.view, block(1, 1, 0.0, 1.0)), host.StatusOk());
  EXPECT_EQ(above.at(0, 0).v[0], 0);  // selection row -1
  EXPECT_EQ(above.at(0, 1).v[0], 255);
}

TEST(HslRangeSelectionFilter, SelectionPremultipliedFlag) {
  TestHost host;
  HostImage<PxHostRGBA_U8> src(1, 1), dst(1, 1), sel(1, 1);
  src.at(0, 0) = PxHostRGBA_U8{{10, 10, 10, 255}};
  // A transparent white selection pixel: multiplied by its alpha it is black (lightness 0).
  sel.at(0, 0) = PxHostRGBA_U8{{255, 255, 255, 0}};
  const HighlightSelectionParams b = block(1, 1, 200.0 / 255, 1.0);
  ASSERT_EQ(run(host, src.view, dst.view, sel.view, b), host.StatusOk());
  EXPECT_EQ(dst.at(0, 0).v[0], 0);
  // Flagged premultiplied, it is weighted as it stands: white, w = 1.
  HostView<PxHostRGBA_U8> flagged = sel.view;
  flagged.premultiplied = 1;
  ASSERT_EQ(run(host, src.view, dst.view, flagged, b), host.StatusOk());
  EXPECT_EQ(dst.at(0, 0).v[0], 255);
  // Half alpha: 255 x (128 x 0.003921569f) = 128.00001 in single precision -> 128; the
  // lightness 128/255 lies in [0.5, 0.51] (127 would not).
  sel.at(0, 0) = PxHostRGBA_U8{{255, 255, 255, 128}};
  ASSERT_EQ(run(host, src.view, dst.view, sel.view, block(1, 1, 0.5, 0.51)), host.StatusOk());
  EXPECT_EQ(dst.at(0, 0).v[0], 255);
}

TEST(HslRangeSelectionFilter, WidePixelsAndThreads) {
  // Host views whose pixelBytes exceeds the pixel; 1 thread and 8 threads agree bit for bit,
  // and every row reports (pass H + y, passCount H).
  HostImage<PxHostRGB_F1> src(37, 23, 0, 0, 20), sel(37, 23, 0, 0, 20);
  uint32_t seed = 7;
  auto rnd = [&seed]() {
    seed = seed * 1664525u + 1013904223u;
    return float((seed >> 8) / double(1 << 24));
  };
  for (uint32_t y = 0; y < 23; ++y)
    for (uint32_t x = 0; x < 37; ++x) {
      src.at(x, y) = PxHostRGB_F1{{rnd(), rnd(), rnd()}};
      sel.at(x, y) = PxHostRGB_F1{{rnd(), rnd(), rnd()}};
    }
  const HighlightSelectionParams b = block(0, 1, 0.2, 0.9, 0.3, 1.7);
  std::vector<unsigned char> outs[2];
  for (int t = 0; t < 2; ++t) {
    TestHost host(t == 0 ? 1 : 8);
    std::vector<uint32_t> done;
    std::mutex lock;
    host.progressHook = [&](uint32_t d, uint32_t total) {
      std::lock_guard<std::mutex> g(lock);
      EXPECT_EQ(total, 3u * 23);
      done.push_back(d);
      return true;
    };
    HostImage<PxHostRGB_F1> dst(37, 23, 0, 0, 20);
    HslRangeSelectionFilter<ImgHostRGB_F1, ImgHostRGB_F1, ImgHostRGB_F1> f(&host, src.view,
                                                                          dst.view, sel.view, b);
    ASSERT_EQ(f.render(2, 3), host.StatusOk());
    std::sort(done.begin(), done.end());
    ASSERT_EQ(done.size(), 23u);
    for (uint32_t y = 0; y < 23; ++y) EXPECT_EQ(done[y], 2 * 23 + y);
    outs[t] = dst.bytes;
    // The padding bytes of each wide pixel are never written.
    EXPECT_EQ(dst.bytes[12], 0x5a);
  }
  EXPECT_EQ(outs[0], outs[1]);
}

TEST(HslRangeSelectionFilter, CancelledRowIsReported) {
  TestHost host;
  host.progressHook = [](uint32_t, uint32_t) { return false; };
  HostImage<PxHostGray_U16> src(2, 3), dst(2, 3), sel(2, 3);
  EXPECT_EQ(run(host, src.view, dst.view, sel.view, block(1, 1, 0, 1)), host.StatusCancelled());
}

}  // namespace
