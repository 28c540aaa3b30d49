// The dialog's window-free rules: zoom, the preview bitmap, the render turn, numeric and angle
// fields, placement, registry data and the last used values.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <map>
#include <vector>

#include "host/parameter.h"
#include "ui/preview_logic.h"

namespace ov::ui {
namespace {

TEST(Zoom, FactorsLabelsAndRatios) {
  struct Case {
    int32_t factor;
    uint32_t level;
    const char* label;
    double ratio;
    int32_t effective;
  } cases[] = {
      {1, 0, "100%", 1.0, 1},          {3, 0, "33.33%", 1.0, 3},        {2, 0, "50%", 1.0, 2},
      {0, 0, "133.3%", 0.75, 1},       {-1, 0, "200%", 0.5, 1},         {-2, 0, "266.7%", 0.375, 1},
      {2, 1, "50%", 2.0 / 3.0, 3},     {0, 1, "133.3%", 0.375, 2},
  };
  for (const Case& c : cases) {
    const Zoom z = ComputeZoom(c.factor, c.level);
    EXPECT_EQ(ZoomLabelText(z.label), c.label) << c.factor;
    EXPECT_DOUBLE_EQ(z.displayRatio, c.ratio) << c.factor << " " << c.level;
    EXPECT_EQ(z.effectiveFactor, c.effective) << c.factor;
  }
  // A coarser proxy keeps the apparent size: proxy size / ratio is the same at level 0 and 1.
  const double full = 600.0 / 2 / ComputeZoom(2, 0).displayRatio;
  const double coarse = 600.0 / 3 / ComputeZoom(2, 1).displayRatio;
  EXPECT_DOUBLE_EQ(full, coarse);
}

TEST(Zoom, FitStrideAndRecentre) {
  EXPECT_EQ(FitFactor(400, 100, 400, 400), 2); // fits exactly: the next factor
  EXPECT_EQ(FitFactor(399, 399, 400, 400), 1);
  EXPECT_EQ(FitFactor(1000, 3000, 400, 400), 8);
  EXPECT_EQ(FitFactor(100, 100, 0, 400), 1);
  EXPECT_EQ(BufferStride(64), 96);
  EXPECT_EQ(BufferStride(63), 64);
  EXPECT_EQ(BufferStride(1), 32);
  // All of a 100-pixel proxy visible in a 400-pixel frame: the centre is its middle.
  EXPECT_EQ(ViewCentre(400, 1.0, 37, 100), 50);
  // A 1000-pixel proxy panned by 100: centre 300; halving the proxy keeps that point centred.
  const int32_t c = ViewCentre(400, 1.0, 100, 1000);
  EXPECT_EQ(c, 300);
  EXPECT_EQ(PanForCentre(c, 500, 1000, 1.0, 400), 150 - 200);
  EXPECT_EQ(PanForCentre(c, 500, 0, 1.0, 400), 0);
}

// Changing the zoom keeps the image point under the frame's centre in the centre, whatever
// the display ratio before and after (magnified, reduced, a coarser proxy) and whether or not
// the proxy changes. The oracle is the point the user sees there, through the same mapping
// the mouse uses.
TEST(Zoom, ZoomKeepsThePointUnderTheCentre) {
  const FrameGeometry frame{5, 7, 300, 200};
  const int32_t imageW = 1200, imageH = 900;
  struct Change {
    int32_t fromFactor;
    uint32_t fromLevel;
    int32_t toFactor;
    uint32_t toLevel;
    int32_t panX, panY; // before, in old proxy pixels
  } changes[] = {
      {1, 0, 0, 0, 300, 200},   {0, 0, -1, 0, 500, 300},  {-1, 0, 0, 0, 800, 500},  {-1, 0, -2, 0, 400, 600},
      {0, 0, 1, 0, 420, 310},   {2, 0, 1, 0, 150, 100},   {1, 0, 2, 0, 600, 400},   {0, 1, 0, 0, 200, 150},
      {2, 1, 3, 0, 100, 80},    {-2, 0, 2, 1, 650, 420},
  };
  auto proxy = [&](int32_t factor, uint32_t level, int32_t& w, int32_t& h) {
    const int32_t f = ComputeZoom(factor, level).effectiveFactor;
    w = (imageW + f - 1) / f;
    h = (imageH + f - 1) / f;
  };
  for (const Change& c : changes) {
    const Zoom from = ComputeZoom(c.fromFactor, c.fromLevel), to = ComputeZoom(c.toFactor, c.toLevel);
    int32_t oldW, oldH, newW, newH;
    proxy(c.fromFactor, c.fromLevel, oldW, oldH);
    proxy(c.toFactor, c.toLevel, newW, newH);
    const int32_t mx = frame.left + frame.width / 2, my = frame.top + frame.height / 2;
    double u0, v0, u1, v1;
    PreviewToImagePoint(frame, oldW, oldH, from.displayRatio, c.panX, c.panY, mx, my, u0, v0);
    const int32_t cx = ViewCentre(frame.width, from.displayRatio, c.panX, oldW);
    const int32_t cy = ViewCentre(frame.height, from.displayRatio, c.panY, oldH);
    const int32_t panX = PanForCentre(cx, newW, oldW, to.displayRatio, frame.width);
    const int32_t panY = PanForCentre(cy, newH, oldH, to.displayRatio, frame.height);
    PreviewToImagePoint(frame, newW, newH, to.displayRatio, panX, panY, mx, my, u1, v1);
    // Within two screen pixels of the larger display (rounding of the pans and the proxies).
    const double tolerance = 2.0 / std::min(oldW / from.displayRatio, newW / to.displayRatio);
    const std::string where = std::to_string(c.fromFactor) + "/" + std::to_string(c.fromLevel) + " -> " +
                              std::to_string(c.toFactor) + "/" + std::to_string(c.toLevel);
    EXPECT_NEAR(u1, u0, tolerance) << where;
    EXPECT_NEAR(v1, v0, 2.0 / std::min(oldH / from.displayRatio, newH / to.displayRatio)) << where;
    EXPECT_GT(u0, 0.05) << where; // the cases look at inner points, away from the pan's clamp
    EXPECT_LT(u0, 0.95) << where;
    EXPECT_GT(v0, 0.05) << where;
    EXPECT_LT(v0, 0.95) << where;
  }
}

// A host output of w x h pixels in one format.
struct Output {
  FilterRecord record{};
  std::vector<uint8_t> data;
  Output(int w, int h, int16_t mode, int32_t depth, int16_t colours, bool alpha) {
    record.imageMode = mode;
    record.depth = depth;
    record.planes = int16_t(colours + (alpha ? 1 : 0));
    if (alpha) {
      record.inLayerPlanes = colours;
      record.inTransparencyMask = 1;
    } else {
      record.inNonLayerPlanes = colours;
    }
    record.outRect = Rect{0, 0, int16_t(h), int16_t(w)};
    record.imageSize = Point{int16_t(h), int16_t(w)};
    const int bytes = depth == 16 ? 2 : depth == 32 ? 4 : 1;
    record.outRowBytes = w * record.planes * bytes;
    data.assign(size_t(record.outRowBytes) * h, 0);
    record.outData = data.data();
  }
  template <typename T>
  void Set(int x, int y, int plane, T v) {
    std::memcpy(data.data() + size_t(y) * record.outRowBytes + (size_t(x) * record.planes + plane) * sizeof(T), &v,
                sizeof(T));
  }
};

TEST(DrawToPreview, SamplesBecomeClampedBytes) {
  struct Case {
    int32_t depth;
    double sample;
    uint8_t expected;
  } cases[] = {
      {8, 200, 200},      {16, 32768, 255},  {16, 16384, 127}, {16, 65535, 255},
      {32, 1.5, 255},     {32, 0.5, 127},    {32, -0.25, 0},   {32, std::numeric_limits<double>::quiet_NaN(), 0},
      {32, -1e30, 0},
  };
  for (const Case& c : cases) {
    Output out(1, 1, c.depth == 8 ? 1 : c.depth == 16 ? 10 : 17, c.depth, 1, false);
    if (c.depth == 8) out.Set<uint8_t>(0, 0, 0, uint8_t(c.sample));
    else if (c.depth == 16) out.Set<uint16_t>(0, 0, 0, uint16_t(c.sample));
    else out.Set<float>(0, 0, 0, float(c.sample));
    std::vector<uint8_t> bitmap(32 * 3, 77);
    ASSERT_TRUE(DrawToPreviewBuffer(out.record, bitmap.data(), 32, 1, false));
    EXPECT_EQ(bitmap[0], c.expected) << c.depth << " " << c.sample;
    EXPECT_EQ(bitmap[1], c.expected);
    EXPECT_EQ(bitmap[2], c.expected);
  }
}

TEST(DrawToPreview, ByteOrderRowOrderAndCheckerboard) {
  // RGB: bottom-up BGR without the host's display callback, top-down RGB with it.
  Output rgb(2, 2, 3, 8, 3, false);
  rgb.Set<uint8_t>(0, 0, 0, 10);
  rgb.Set<uint8_t>(0, 0, 1, 20);
  rgb.Set<uint8_t>(0, 0, 2, 30);
  std::vector<uint8_t> b(32 * 2 * 3, 0);
  ASSERT_TRUE(DrawToPreviewBuffer(rgb.record, b.data(), 32, 2, false));
  EXPECT_EQ((std::vector<uint8_t>{b[96], b[97], b[98]}), (std::vector<uint8_t>{30, 20, 10}));
  ASSERT_TRUE(DrawToPreviewBuffer(rgb.record, b.data(), 32, 2, true));
  EXPECT_EQ((std::vector<uint8_t>{b[0], b[1], b[2]}), (std::vector<uint8_t>{10, 20, 30}));

  // Grey with alpha 0 everywhere: the board alone, squares of 16 full-image pixels. The proxy
  // is a quarter of the image, so its squares are 4 proxy pixels wide.
  Output grey(16, 8, 1, 8, 1, true);
  grey.record.imageSize = Point{32, 64};
  std::vector<uint8_t> g(32 * 8 * 3, 0);
  ASSERT_TRUE(DrawToPreviewBuffer(grey.record, g.data(), 32, 8, true));
  auto at = [&](int x, int y) { return g[(size_t(y) * 32 + x) * 3]; };
  EXPECT_EQ(at(0, 0), 208);
  EXPECT_EQ(at(3, 3), 208);
  EXPECT_EQ(at(4, 0), 255);
  EXPECT_EQ(at(0, 4), 255);
  EXPECT_EQ(at(4, 4), 208);
  // Opaque pixels show their own value.
  for (int y = 0; y < 8; ++y)
    for (int x = 0; x < 16; ++x) grey.Set<uint8_t>(x, y, 1, 255);
  grey.Set<uint8_t>(5, 5, 0, 42);
  ASSERT_TRUE(DrawToPreviewBuffer(grey.record, g.data(), 32, 8, true));
  EXPECT_EQ(at(5, 5), 42);
  EXPECT_EQ(at(4, 0), 0);
}

// The board's squares are 16 full-image pixels at every zoom, also when the proxy's size does
// not divide the image's: along the proxy's top row and left column the squares alternate from
// 208, there are as many as the image holds, and each whole one spans 16 image pixels' worth
// of proxy pixels (16 / scale rounded either way).
TEST(DrawToPreview, CheckerboardSquaresKeepTheirSizeInTheImage) {
  struct Case {
    int32_t imageW, imageH, factor;
  } cases[] = {{1000, 48, 3}, {48, 1000, 3}, {100, 100, 1}, {999, 40, 2}, {1001, 1001, 5}, {640, 480, 4}, {37, 70, 7}};
  for (const Case& c : cases) {
    const int32_t outW = (c.imageW + c.factor - 1) / c.factor, outH = (c.imageH + c.factor - 1) / c.factor;
    Output board(outW, outH, 1, 8, 1, true); // grey, alpha 0 everywhere
    board.record.imageSize = Point{int16_t(c.imageH), int16_t(c.imageW)};
    const int32_t stride = BufferStride(outW);
    std::vector<uint8_t> bitmap(size_t(stride) * outH * 3, 0);
    ASSERT_TRUE(DrawToPreviewBuffer(board.record, bitmap.data(), stride, outH, true));
    auto runs = [&](int32_t count, bool alongRow) {
      std::vector<std::pair<uint8_t, int32_t>> r; // colour, length
      for (int32_t i = 0; i < count; ++i) {
        const uint8_t v = alongRow ? bitmap[size_t(i) * 3] : bitmap[size_t(i) * stride * 3];
        if (r.empty() || r.back().first != v) r.push_back({v, 0});
        ++r.back().second;
      }
      return r;
    };
    for (const bool alongRow : {true, false}) {
      const int32_t image = alongRow ? c.imageW : c.imageH, proxy = alongRow ? outW : outH;
      const auto r = runs(proxy, alongRow);
      const std::string where = std::to_string(c.imageW) + "x" + std::to_string(c.imageH) + " /" +
                                std::to_string(c.factor) + (alongRow ? " row" : " column");
      // The last proxy pixel starts at image pixel image - image / proxy.
      EXPECT_EQ(int32_t(r.size()), int32_t((image - double(image) / proxy) / 16) + 1) << where;
      const double span = 16.0 * proxy / image;
      for (size_t k = 0; k < r.size(); ++k) {
        EXPECT_EQ(r[k].first, k % 2 ? 255 : 208) << where << " square " << k;
        EXPECT_LE(r[k].second, int32_t(std::ceil(span))) << where << " square " << k;
        if (k + 1 < r.size()) {
          EXPECT_GE(r[k].second, int32_t(std::floor(span))) << where << " square " << k;
        }
      }
    }
  }
}

// Two colour planes and partly transparent pixels in each depth: a two-plane pixel shows its
// second plane first; alpha (8-bit / 255, 16-bit / 32767, float as is) lays the value over the
// board's square (208 at the top-left).
TEST(DrawToPreview, TwoPlanesAndPartialAlpha) {
  Output two(1, 1, 3, 8, 2, false);
  two.Set<uint8_t>(0, 0, 0, 10);
  two.Set<uint8_t>(0, 0, 1, 20);
  for (const bool hostDisplay : {false, true}) {
    std::vector<uint8_t> b(32 * 3, 99);
    ASSERT_TRUE(DrawToPreviewBuffer(two.record, b.data(), 32, 1, hostDisplay));
    EXPECT_EQ((std::vector<uint8_t>{b[0], b[1], b[2]}), (std::vector<uint8_t>{20, 10, 0})) << hostDisplay;
  }
  struct Case {
    int32_t depth;
    double value, alpha;
    uint8_t expected;
  } cases[] = {
      {8, 100, 128, 153},      // (100 - 208) * 128 / 255 + 208
      {8, 100, 255, 100},      {8, 100, 0, 208},
      {16, 16384, 16384, 167}, // (127.5 - 208) * 16384 / 32767 + 208
      {16, 16384, 32768, 127}, // alpha above 1 counts as 1
      {32, 0.25, 0.5, 135},    // (63.75 - 208) * 0.5 + 208
      {32, 0.25, 2.0, 63},     {32, 0.25, -1.0, 208},
  };
  for (const Case& c : cases) {
    Output out(1, 1, c.depth == 8 ? 1 : c.depth == 16 ? 10 : 17, c.depth, 1, true);
    if (c.depth == 8) {
      out.Set<uint8_t>(0, 0, 0, uint8_t(c.value));
      out.Set<uint8_t>(0, 0, 1, uint8_t(c.alpha));
    } else if (c.depth == 16) {
      out.Set<uint16_t>(0, 0, 0, uint16_t(c.value));
      out.Set<uint16_t>(0, 0, 1, uint16_t(c.alpha));
    } else {
      out.Set<float>(0, 0, 0, float(c.value));
      out.Set<float>(0, 0, 1, float(c.alpha));
    }
    std::vector<uint8_t> b(32 * 3, 99);
    ASSERT_TRUE(DrawToPreviewBuffer(out.record, b.data(), 32, 1, false));
    EXPECT_EQ(b[0], c.expected) << c.depth << " " << c.value << " alpha " << c.alpha;
    EXPECT_EQ(b[2], c.expected) << c.depth << " " << c.value << " alpha " << c.alpha;
  }
}

// Colour planes and alpha from the record's layer description, limited by the image mode: the
// grey modes 1, 10 and 17 to one plane, the RGB-like modes 3, 7, 11, 14 and 16 to three; any
// other mode cannot be shown.
TEST(DrawToPreview, PlanesFromLayerDescriptionAndMode) {
  struct Case {
    int16_t mode, planes, layer, nonLayer, mask;
    int32_t colours;
    bool alpha, valid;
  } cases[] = {
      {3, 3, 0, 3, 0, 3, false, true},  {3, 4, 3, 0, 1, 3, true, true},   {3, 3, 3, 0, 1, 3, false, true},
      {3, 3, 0, 0, 0, 3, false, true},  {3, 5, 3, 0, 1, 3, true, true},   {16, 4, 4, 0, 0, 3, false, true},
      {7, 3, 0, 3, 0, 3, false, true},  {11, 3, 0, 3, 0, 3, false, true}, {14, 3, 0, 3, 0, 3, false, true},
      {1, 2, 1, 0, 1, 1, true, true},   {10, 1, 0, 1, 0, 1, false, true}, {17, 3, 0, 3, 0, 1, false, true},
      {3, 2, 0, 2, 0, 2, false, true},  {3, 3, 0, 2, 0, 2, false, true},  {1, 2, 0, 1, 0, 1, false, true},
      {2, 1, 0, 1, 0, 1, false, false}, {4, 4, 0, 4, 0, 3, false, false},
      {8, 2, 0, 2, 0, 2, false, false}, {9, 3, 0, 3, 0, 3, false, false}, {0, 1, 0, 1, 0, 1, false, false},
  };
  for (const Case& c : cases) {
    FilterRecord r{};
    r.imageMode = c.mode;
    r.planes = c.planes;
    r.inLayerPlanes = c.layer;
    r.inNonLayerPlanes = c.nonLayer;
    r.inTransparencyMask = c.mask;
    const PreviewPlanes p = PreviewPlanesOf(r);
    EXPECT_EQ(p.valid, c.valid) << "mode " << c.mode << " planes " << c.planes;
    if (!c.valid) continue;
    EXPECT_EQ(p.colours, c.colours) << "mode " << c.mode << " planes " << c.planes;
    EXPECT_EQ(p.alpha, c.alpha) << "mode " << c.mode << " planes " << c.planes;
  }
}

TEST(DrawToPreview, RefusesWithoutBufferDataOrKnownMode) {
  Output out(4, 4, 3, 8, 3, false);
  std::vector<uint8_t> b(32 * 4 * 3, 9);
  EXPECT_FALSE(DrawToPreviewBuffer(out.record, nullptr, 32, 4, false));
  EXPECT_FALSE(DrawToPreviewBuffer(out.record, b.data(), 2, 4, false)); // larger than the bitmap
  out.record.imageMode = 2;                                              // indexed
  EXPECT_FALSE(DrawToPreviewBuffer(out.record, b.data(), 32, 4, false));
  out.record.imageMode = 3;
  out.record.outData = nullptr;
  EXPECT_FALSE(DrawToPreviewBuffer(out.record, b.data(), 32, 4, false));
  EXPECT_EQ(b[0], 9);
}

// A bitmap with fewer rows than the output is refused before anything is written, with the
// rows in either order (bottom-up would write its first row past the bitmap's end); one of
// exactly the output's height is drawn, and its last row is the image's.
TEST(DrawToPreview, RefusesABufferShorterThanTheImage) {
  Output out(4, 4, 3, 8, 3, false);
  std::fill(out.data.begin(), out.data.end(), uint8_t(200));
  for (bool hostDisplay : {false, true}) {
    SCOPED_TRACE(hostDisplay ? "top-down" : "bottom-up");
    // Three rows of the bitmap, then a guard row that no call may touch.
    std::vector<uint8_t> b(32 * 3 * 4, 9);
    EXPECT_FALSE(DrawToPreviewBuffer(out.record, b.data(), 32, 3, hostDisplay));
    EXPECT_EQ(std::count(b.begin(), b.end(), uint8_t(9)), std::ptrdiff_t(b.size()));
    ASSERT_TRUE(DrawToPreviewBuffer(out.record, b.data(), 32, 4, hostDisplay));
    EXPECT_EQ(b[32 * 3 * 3], 200);
    EXPECT_EQ(b[32 * 3 * 3 + 4 * 3 - 1], 200);
  }
}

TEST(PreviewPoint, CentredAndPannedImages) {
  const FrameGeometry frame{10, 20, 400, 300};
  double u, v;
  // A 200 x 100 image in a 400 x 300 frame is centred: the frame's centre is (0.5, 0.5).
  PreviewToImagePoint(frame, 200, 100, 1.0, 0, 0, 10 + 200, 20 + 150, u, v);
  EXPECT_DOUBLE_EQ(u, 0.5);
  EXPECT_DOUBLE_EQ(v, 0.5);
  // A 1000 x 600 image panned by 100 horizontally; the vertical pan counts from the bottom.
  PreviewToImagePoint(frame, 1000, 600, 1.0, 100, 0, 10, 20, u, v);
  EXPECT_DOUBLE_EQ(u, 0.1);
  EXPECT_DOUBLE_EQ(v, 0.5); // pan 0 from the bottom: the frame's top is row 300 of 600
  EXPECT_DOUBLE_EQ(TitleCoordinate(0.33333, 300, 2), 199.9);
}

// An image smaller than the frame is drawn centred at its proxy size over the display ratio,
// rounded to the nearest pixel; its first column and row are 0, the column and row just past
// it 1 (the rounded size decides both where it starts and how it divides).
TEST(PreviewPoint, SmallImagesSpanTheirRoundedDisplaySize) {
  const FrameGeometry frame{10, 20, 100, 80};
  struct Case {
    int32_t inW, inH;
    double ratio;
    int32_t dispW, dispH; // inW / ratio and inH / ratio to the nearest pixel
  } cases[] = {
      {5, 11, 0.75, 7, 15},        // 6.67 and 14.67 round up
      {7, 9, 2.0 / 3.0, 11, 14},   // 10.5 and 13.5: halves round up
      {7, 5, 0.375, 19, 13},       // 18.67 up, 13.33 down
      {3, 6, 0.75, 4, 8},          // whole sizes
  };
  for (const Case& c : cases) {
    const int32_t left = frame.left + (frame.width - c.dispW) / 2;
    const int32_t top = frame.top + (frame.height - c.dispH) / 2;
    double u, v;
    PreviewToImagePoint(frame, c.inW, c.inH, c.ratio, 0, 0, left, top, u, v);
    EXPECT_DOUBLE_EQ(u, 0.0) << c.inW << "x" << c.inH << " at " << c.ratio;
    EXPECT_DOUBLE_EQ(v, 0.0) << c.inW << "x" << c.inH << " at " << c.ratio;
    PreviewToImagePoint(frame, c.inW, c.inH, c.ratio, 0, 0, left + c.dispW, top + c.dispH, u, v);
    EXPECT_DOUBLE_EQ(u, 1.0) << c.inW << "x" << c.inH << " at " << c.ratio;
    EXPECT_DOUBLE_EQ(v, 1.0) << c.inW << "x" << c.inH << " at " << c.ratio;
  }
}

// The pan's ends show the image's edges at the frame's edges, at every display ratio: pan 0 the
// left edge and (the vertical pan counting from the bottom) the bottom edge; the largest pan
// (proxy size - frame x ratio) the right and the top edge.
TEST(PreviewPoint, PanEndsShowTheImageEdges) {
  const FrameGeometry frame{10, 20, 300, 200};
  for (const double ratio : {1.0, 0.5, 0.375, 2.0, 0.75, 2.0 / 3.0}) {
    const int32_t inW = int32_t(900 * ratio), inH = int32_t(700 * ratio); // larger than the frame
    const int32_t maxX = int32_t(inW - frame.width * ratio), maxY = int32_t(inH - frame.height * ratio);
    const double dispW = int32_t(inW / ratio + 0.5), dispH = int32_t(inH / ratio + 0.5);
    // One proxy pixel of the whole-pixel pan, and the rounding of the displayed size.
    const double tu = (1.0 / ratio + 1.5) / dispW, tv = (1.0 / ratio + 1.5) / dispH;
    const int32_t right = frame.left + frame.width, bottom = frame.top + frame.height;
    double u, v;
    PreviewToImagePoint(frame, inW, inH, ratio, 0, 0, frame.left, bottom, u, v);
    EXPECT_NEAR(u, 0.0, tu) << ratio;
    EXPECT_NEAR(v, 1.0, tv) << ratio;
    PreviewToImagePoint(frame, inW, inH, ratio, maxX, maxY, right, frame.top, u, v);
    EXPECT_NEAR(u, 1.0, tu) << ratio;
    EXPECT_NEAR(v, 0.0, tv) << ratio;
    // Half-way pans show the image's middle at the frame's centre.
    PreviewToImagePoint(frame, inW, inH, ratio, maxX / 2, maxY / 2, frame.left + frame.width / 2,
                        frame.top + frame.height / 2, u, v);
    EXPECT_NEAR(u, 0.5, tu) << ratio;
    EXPECT_NEAR(v, 0.5, tv) << ratio;
  }
}

TEST(RenderTurn, InterruptedRendersGoCoarserAndEndWithAFullOne) {
  std::vector<uint32_t> levels;
  std::vector<int16_t> answers;
  size_t next = 0;
  int shows = 0, reassigns = 0;
  RenderHooks hooks{[&](uint32_t level) {
                      levels.push_back(level);
                      return next < answers.size() ? answers[next++] : int16_t(0);
                    },
                    [&] { ++reassigns; }, [&] { ++shows; }};
  uint32_t level = 0;
  bool changed = true;
  answers = {-128, -128, 0, 0};
  EXPECT_EQ(RunRenderTurn(level, 0, changed, hooks), 0);
  EXPECT_EQ(levels, (std::vector<uint32_t>{0, 1, 2, 0}));
  EXPECT_EQ(shows, 2);
  EXPECT_EQ(reassigns, 3);
  EXPECT_EQ(level, 0u);
  EXPECT_FALSE(changed);

  // Nothing changed: nothing renders.
  levels.clear();
  EXPECT_EQ(RunRenderTurn(level, 0, changed, hooks), 0);
  EXPECT_TRUE(levels.empty());

  // Another failure keeps the last image and ends the turn.
  changed = true;
  answers = {-108};
  next = 0;
  shows = 0;
  EXPECT_EQ(RunRenderTurn(level, 0, changed, hooks), -108);
  EXPECT_EQ(levels, (std::vector<uint32_t>{0}));
  EXPECT_EQ(shows, 0);

  // A change arriving during a render is rendered again at once.
  levels.clear();
  answers.clear();
  int changesLeft = 1;
  RenderHooks again{[&](uint32_t l) {
                      levels.push_back(l);
                      if (changesLeft-- > 0) changed = true;
                      return int16_t(0);
                    },
                    [] {}, [] {}};
  changed = true;
  RunRenderTurn(level, 0, changed, again);
  EXPECT_EQ(levels.size(), 2u);
}

TEST(NumericFields, TypedTextAndTrackbarUnits) {
  struct Parse {
    const char* text;
    bool ok;
    double value;
  } parses[] = {
      {"12", true, 12},   {" 12", true, 12}, {"1e-1", true, 0.1}, {"-3", true, -3},   {"12abc", false, 0},
      {"12 ", false, 0},  {"", false, 0},    {"abc", false, 0},   {"nan", false, 0},  {"inf", false, 0},
      {"-INF", false, 0}, {"1e999", false, 0}, {"NaN(1)", false, 0},
  };
  for (const Parse& p : parses) {
    double v = -99;
    EXPECT_EQ(ParseFieldNumber(p.text, v), p.ok) << p.text;
    if (p.ok) EXPECT_DOUBLE_EQ(v, p.value) << p.text;
    else EXPECT_EQ(v, -99) << p.text;
  }
  EXPECT_EQ(FormatFloatField(5), "5");
  EXPECT_EQ(FormatFloatField(0.2), "0.2");
  EXPECT_EQ(FormatFloatField(1234567), "1.23457e+06");
  EXPECT_EQ(FormatFloatField(0.123456789), "0.123457");
  EXPECT_EQ(FloatTrackbarPosition(2.555), 255);
  EXPECT_EQ(FloatTrackbarPosition(-0.75), -75);
  EXPECT_EQ(FloatTrackbarPosition(1e300), INT32_MAX);
  EXPECT_EQ(IntPageSize(3, 15), 1);
  EXPECT_EQ(IntPageSize(0, 5), 1);
  EXPECT_EQ(FloatPageSize(0, 255), 2550);
  EXPECT_EQ(FloatPageSize(0, 3), 30);
  EXPECT_EQ(FloatPageSize(-0.75, 0.75), 15);
  // Only a hard limit clamps a typed number; a soft one bounds the trackbar alone.
  struct Typed {
    double typed, minimum;
    bool minimumHard;
    double maximum;
    bool maximumHard, expected;
    double value;
  };
  const Typed typed[] = {
      {80, 0, true, 50, false, true, 80},      // Radius: 0 hard, 50 soft
      {-3, 0, true, 50, false, true, 0},
      {1.5, 0, true, 1, true, true, 1},        // IrisRoundFacets: 0..1 hard
      {-0.5, 0, true, 1, true, true, 0},
      {-5, 0, false, 255, false, true, -5},    // FocalPoint: 0..255 soft
      {300, 0, false, 255, false, true, 300},
      {-5, 0, false, 255, true, true, -5},     // soft minimum, hard maximum
      {300, 0, true, 255, false, true, 300},   // hard minimum, soft maximum
  };
  for (const Typed& t : typed)
    EXPECT_EQ(ClampTypedFloat(t.typed, t.minimum, t.minimumHard, t.maximum, t.maximumHard), t.value)
        << t.typed << " in " << t.minimum << (t.minimumHard ? " hard" : " soft") << " .. " << t.maximum
        << (t.maximumHard ? " hard" : " soft");
  EXPECT_EQ(TypedInt(7.9), 7);
  EXPECT_EQ(TypedInt(-7.9), -7);
  EXPECT_EQ(TypedInt(1e12), INT32_MAX);
}

TEST(Angle, TurnsDegreesAndDialPoints) {
  // Whole turns and the remainder as the fields show them; 0 and whole turns show 0.00 in
  // their own turn, never 360.00 in the turn below.
  struct Split {
    double value;
    int32_t turns;
    const char* degrees;
  } splits[] = {
      {725, 2, "5.00"},     {-30, -1, "330.00"}, {0, 0, "0.00"},      {-0.0, 0, "0.00"},   {360, 1, "0.00"},
      {720, 2, "0.00"},     {-360, -1, "0.00"},  {-720, -2, "0.00"},  {359.5, 0, "359.50"}, {-0.5, -1, "359.50"},
      {3600, 10, "0.00"},   {45, 0, "45.00"},
  };
  for (const Split& c : splits) {
    int32_t t = 99;
    double d = -1;
    SplitTurns(c.value, t, d);
    EXPECT_EQ(t, c.turns) << c.value;
    EXPECT_EQ(FormatDegrees(d), c.degrees) << c.value;
    EXPECT_GE(d, 0.0) << c.value;
    EXPECT_LT(d, 360.0) << c.value;
    EXPECT_EQ(360.0 * t + d, c.value) << c.value;
  }
  EXPECT_EQ(FormatDegrees(45), "45.00");
  EXPECT_EQ(FormatDegrees(40), "40.00");

  double a;
  EXPECT_FALSE(AngleFromDialPoint(0, 0, 0, a));
  ASSERT_TRUE(AngleFromDialPoint(0, 10, 0, a));
  EXPECT_NEAR(a, 90.00000000257, 1e-9);
  ASSERT_TRUE(AngleFromDialPoint(0, 0, 10, a));
  EXPECT_DOUBLE_EQ(a, 180.0);
  // Straight left of the centre from 0: the direction nearest to the current value, -90.
  ASSERT_TRUE(AngleFromDialPoint(0, -10, 0, a));
  EXPECT_NEAR(a, -90.0, 1e-8);
  ASSERT_TRUE(AngleFromDialPoint(200, -10, 0, a));
  EXPECT_NEAR(a, 270.0, 1e-8);
  // Across the top: from 350 a point just right of the top continues past 360 ...
  ASSERT_TRUE(AngleFromDialPoint(350, 1, -20, a));
  EXPECT_GT(a, 360);
  EXPECT_LT(a, 365);
  // ... and from there a point just left of the top comes back below 360.
  ASSERT_TRUE(AngleFromDialPoint(a, -1, -20, a));
  EXPECT_LT(a, 360);
  EXPECT_GT(a, 355);
  ASSERT_TRUE(AngleFromDialPoint(10, -1, -20, a));
  EXPECT_LT(a, 0);
  EXPECT_GT(a, -5);

  int32_t x, y;
  DialHandEnd(0, 50, 50, 10, x, y);
  EXPECT_EQ(x, 50);
  EXPECT_EQ(y, 40);
  DialHandEnd(180, 50, 50, 10, x, y);
  EXPECT_EQ(x, 50);
  EXPECT_EQ(y, 60);
  // The hand is drawn where a drag to its end puts the angle: pressing the hand's end point
  // gives back the value (within the integer end point of a long hand), whole turns included.
  for (const double value : {0.0, 30.0, 90.0, 135.0, 180.0, 225.0, 270.0, 315.0, 359.0, 45.5, 725.0, -30.0, -400.0}) {
    DialHandEnd(value, 0, 0, 100000, x, y);
    ASSERT_TRUE(AngleFromDialPoint(value, x, y, a)) << value;
    EXPECT_NEAR(a, value, 0.002) << value;
  }
}

TEST(PositionFields, TextKeptWhileItMeansThePoint) {
  EXPECT_EQ(PositionFieldText("", 0.25, 1000), "250");
  EXPECT_EQ(PositionFieldText("500", 0.5, 1000), "500");
  EXPECT_EQ(PositionFieldText("500.0", 0.5, 1000), "500.0");
  EXPECT_EQ(PositionFieldText("501", 0.5, 1000), "500");
  EXPECT_EQ(PositionFieldText("nan", 0.5, 1000), "500");
}

TEST(Placement, VirtualScreenClampAndFirstUse) {
  int32_t x = -20, y = 5000;
  ClampToVirtualScreen(x, y, 1920, 1080);
  EXPECT_EQ(x, 0);
  EXPECT_EQ(y, 1030);
  x = 3000;
  y = 10;
  ClampToVirtualScreen(x, y, 1920, 1080);
  EXPECT_EQ(x, 1870);
  EXPECT_EQ(y, 10);
  x = -5;
  ClampToVirtualScreen(x, y, 0, 1080);
  EXPECT_EQ(x, -5);
  // Each coordinate is checked against its own side of the screen: on a wide screen a y
  // between its height and its width is off the screen too, and on a tall one an x between
  // its width and its height.
  struct ClampCase {
    int32_t x, y, screenW, screenH, wantX, wantY;
  } clamps[] = {
      {100, 1500, 1920, 1080, 100, 1030}, {1500, 100, 1080, 1920, 1030, 100},
      {1920, 1080, 1920, 1080, 1920, 1080}, {1921, 1081, 1920, 1080, 1870, 1030},
  };
  for (const ClampCase& c : clamps) {
    x = c.x;
    y = c.y;
    ClampToVirtualScreen(x, y, c.screenW, c.screenH);
    EXPECT_EQ(x, c.wantX) << c.x << "," << c.y << " on " << c.screenW << "x" << c.screenH;
    EXPECT_EQ(y, c.wantY) << c.x << "," << c.y << " on " << c.screenW << "x" << c.screenH;
  }
  int32_t side;
  DefaultPreviewPlacement(1920, 1080, x, y, side);
  EXPECT_EQ(side, 1280);
  EXPECT_EQ(x, 320);
  EXPECT_EQ(y, -100);
  EXPECT_TRUE(IsGreySwatchMode(1));
  EXPECT_TRUE(IsGreySwatchMode(10));
  EXPECT_FALSE(IsGreySwatchMode(17));
  EXPECT_FALSE(IsGreySwatchMode(3));
  EXPECT_NEAR(SwatchGrey(1, 1, 1), 1.0, 1e-8);
  // The published weights, each on its own component.
  EXPECT_DOUBLE_EQ(SwatchGrey(1, 0, 0), 0.292687786);
  EXPECT_DOUBLE_EQ(SwatchGrey(0, 1, 0), 0.552149646);
  EXPECT_DOUBLE_EQ(SwatchGrey(0, 0, 1), 0.155162568);
}

RegistryData Data(uint32_t type, std::vector<uint8_t> bytes) { return RegistryData{type, std::move(bytes)}; }

TEST(RegistryData, SizeCheckedTypeNot) {
  // The stored type is never looked at: a value written with another type is read by its
  // bytes alone. A size other than the reader's is refused and leaves the target alone.
  constexpr uint32_t kRegExpandString = 2, kRegNone = 0;
  struct DwordCase {
    uint32_t type;
    std::vector<uint8_t> bytes;
    bool ok;
    int32_t value;
  } dwords[] = {
      {kRegDword, {0xEC, 0xFF, 0xFF, 0xFF}, true, -20},
      {kRegBinary, {1, 0, 0, 0}, true, 1},
      {kRegString, {'1', '2', '3', 0}, true, 0x00333231},
      {kRegNone, {0, 1, 0, 0}, true, 256},
      {kRegDword, {1, 0, 0, 0, 0, 0, 0, 0}, false, 7},
      {kRegDword, {1, 0, 0, 0, 0}, false, 7},
      // Shorter than the buffer: read into a zeroed buffer, so a 2-byte value gives its two
      // bytes (a sign bit in them is not extended); an empty one is read and writes nothing,
      // so the starting value (a window default) stands.
      {kRegDword, {0x34, 0x12}, true, 0x1234},
      {kRegDword, {0xFF, 0xFF}, true, 0xFFFF},
      {kRegBinary, {0x80}, true, 0x80},
      {kRegDword, {}, true, 7},
  };
  for (const DwordCase& c : dwords) {
    int32_t v = 7;
    EXPECT_EQ(DecodeDword(Data(c.type, c.bytes), v), c.ok) << c.type << " " << c.bytes.size();
    EXPECT_EQ(v, c.value) << c.type << " " << c.bytes.size();
  }

  std::string s = "old";
  EXPECT_TRUE(DecodeString(Data(kRegString, {'a', 'b', 0}), 256, s));
  EXPECT_EQ(s, "ab");
  EXPECT_TRUE(DecodeString(Data(kRegString, {'a', 'b'}), 256, s)); // unterminated: cut at its end
  EXPECT_EQ(s, "ab");
  EXPECT_TRUE(DecodeString(Data(kRegString, {'x', 0, 'y', 'z'}), 256, s));
  EXPECT_EQ(s, "x");
  std::vector<uint8_t> longPath(300, 'p');
  s = "old";
  EXPECT_FALSE(DecodeString(Data(kRegString, longPath), 256, s)); // does not fit: ignored
  longPath.resize(256); // fills the buffer but leaves no room for the terminator
  s = "old";
  EXPECT_FALSE(DecodeString(Data(kRegString, longPath), 256, s));
  EXPECT_EQ(s, "old");
  longPath.resize(255);
  EXPECT_TRUE(DecodeString(Data(kRegString, longPath), 256, s));
  EXPECT_EQ(s.size(), 255u);
  EXPECT_TRUE(DecodeString(Data(kRegBinary, {'a', 0}), 256, s));
  EXPECT_EQ(s, "a");
  EXPECT_TRUE(DecodeString(Data(kRegExpandString, {'%', 'T', '%', 0}), 256, s));
  EXPECT_EQ(s, "%T%");
  uint8_t b = 9;
  EXPECT_FALSE(DecodeBinary(Data(kRegBinary, {1, 2}), 1, &b));
  EXPECT_EQ(b, 9);
  EXPECT_TRUE(DecodeBinary(Data(kRegBinary, {}), 1, &b)); // an empty value writes nothing
  EXPECT_EQ(b, 9);
  double d = 7.0;
  EXPECT_FALSE(DecodeBinary(Data(kRegBinary, std::vector<uint8_t>(9, 0x40)), 8, &d));
  EXPECT_EQ(d, 7.0);
  // Four bytes of a double's eight: the low half, the high half zero.
  EXPECT_TRUE(DecodeBinary(Data(kRegBinary, {0, 0, 0, 0x40}), 8, &d));
  uint64_t bits = 0;
  std::memcpy(&bits, &d, 8);
  EXPECT_EQ(bits, 0x40000000ull);
  EXPECT_TRUE(DecodeBinary(Data(kRegDword, {5}), 1, &b)); // the live-preview byte as stored
  EXPECT_EQ(b, 5);
  EXPECT_TRUE(DecodeBinary(Data(kRegBinary, {0}), 1, &b));
  EXPECT_EQ(b, 0);
}

TEST(LastUsed, EachKindRoundTripsThroughItsPublishedLayout) {
  pfParameterFloat radius;
  radius.SetName("Radius");
  radius.SetValue(12.5);
  pfParameterInt facets;
  facets.SetName("IrisFacets");
  facets.SetMaximum(100, false);
  facets.SetValue(-7);
  pfParameterBool invert;
  invert.SetName("DepthInvert");
  invert.SetValue(true);
  pfParameterList show;
  show.SetName("Show");
  for (const char* item : {"a", "b", "c"}) show.AddItem(item);
  show.Select(3);
  pfParameterRGB colour;
  colour.SetName("ColorOutside");
  colour.SetColor(0.25, 0.5, 0.75);
  pfParameterPosition point;
  point.SetName("Centre");
  point.SetPosition(0.125, 0.875);

  std::map<std::string, RegistryData> store;
  for (pfParameter* p : std::initializer_list<pfParameter*>{&radius, &facets, &invert, &show, &colour, &point})
    for (NamedValue& v : EncodeLastUsed(*p)) store[v.name] = v.data;
  // The published layout: little-endian binary values of fixed sizes.
  const double half = 0.5;
  std::vector<uint8_t> halfBytes(8);
  std::memcpy(halfBytes.data(), &half, 8);
  EXPECT_EQ(store.at("ColorOutside_green").bytes, halfBytes);
  EXPECT_EQ(store.at("IrisFacets").bytes, (std::vector<uint8_t>{0xF9, 0xFF, 0xFF, 0xFF}));
  EXPECT_EQ(store.at("DepthInvert").bytes, (std::vector<uint8_t>{1}));
  EXPECT_EQ(store.at("Show").bytes, (std::vector<uint8_t>{3, 0, 0, 0}));
  EXPECT_EQ(store.at("Radius").bytes.size(), 8u);
  EXPECT_EQ(store.size(), 9u);
  for (auto& [name, data] : store) EXPECT_EQ(data.type, kRegBinary) << name;

  auto lookup = [&](const std::string& name, RegistryData& d) {
    auto it = store.find(name);
    if (it == store.end()) return false;
    d = it->second;
    return true;
  };
  radius.SetValue(1);
  facets.SetValue(5);
  invert.SetValue(false);
  show.Select(1);
  colour.SetColor(1, 1, 1);
  point.SetPosition(0, 0);
  for (pfParameter* p : std::initializer_list<pfParameter*>{&radius, &facets, &invert, &show, &colour, &point})
    EXPECT_TRUE(ApplyLastUsed(*p, lookup)) << p->GetName();
  EXPECT_EQ(radius.GetValue(), 12.5);
  EXPECT_EQ(facets.GetValue(), -7);
  EXPECT_TRUE(invert.GetValue());
  EXPECT_EQ(show.GetSelection(), 3);
  double r, g, b;
  colour.GetColor(r, g, b);
  EXPECT_EQ(r, 0.25);
  EXPECT_EQ(g, 0.5);
  EXPECT_EQ(b, 0.75);
  EXPECT_EQ(point.GetX(), 0.125);
  EXPECT_EQ(point.GetY(), 0.875);

  // A value stored with another type is read by its bytes.
  store["IrisFacets"].type = kRegDword;
  facets.SetValue(5);
  EXPECT_TRUE(ApplyLastUsed(facets, lookup));
  EXPECT_EQ(facets.GetValue(), -7);
  // A value longer than its buffer, a missing component, a selection beyond the list:
  // ignored. A value shorter than its buffer reads into a zeroed buffer (-7 without its
  // high byte is 0x00FFFFF9).
  store["Radius"].bytes.push_back(0);
  store["IrisFacets"].bytes.pop_back();
  store.erase("ColorOutside_green");
  store["Show"].bytes = {7, 0, 0, 0};
  radius.SetValue(3);
  colour.SetColor(1, 0, 0);
  EXPECT_FALSE(ApplyLastUsed(radius, lookup));
  EXPECT_TRUE(ApplyLastUsed(facets, lookup));
  EXPECT_FALSE(ApplyLastUsed(colour, lookup));
  ApplyLastUsed(show, lookup);
  EXPECT_EQ(radius.GetValue(), 3);
  EXPECT_EQ(facets.GetValue(), 0x00FFFFF9);
  colour.GetColor(r, g, b);
  EXPECT_EQ(r, 1);
  EXPECT_EQ(g, 0);
  EXPECT_EQ(show.GetSelection(), 3);
}

TEST(Presets, NamesAndNeighbours) {
  EXPECT_EQ(PresetNameFromInput("my preset"), "my_preset");
  EXPECT_EQ(PresetNameFromInput(" a  b "), "_a__b_");
  EXPECT_EQ(NeighbourAfterDelete(0), 1);
  EXPECT_EQ(NeighbourAfterDelete(2), 1);
  const std::vector<std::string> names{"Alpha", "beta", "Gamma"};
  EXPECT_EQ(FindPresetName(names, "BETA"), 1);
  EXPECT_EQ(FindPresetName(names, "gamma"), 2);
  EXPECT_EQ(FindPresetName(names, "delta"), -1);
}

} // namespace
} // namespace ov::ui
