// The glow filter against a brute-force tent blur, its edges, invariants and statuses.
#include "kernel/glow_filter.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <mutex>
#include <vector>

#include "kernel_test_util.h"

namespace {

using kernel_test::TestHost;
using namespace ov;

// A packed float work image over its own memory.
template <class View>
struct WorkImage {
  using Px = typename View::pixel_type;
  static constexpr int C = Px::sample_count;
  std::vector<float> v;
  View view;
  WorkImage(uint32_t w, uint32_t h) : v(static_cast<size_t>(w) * h * C, 0.0f) {
    view = View(v.data(), w, h, static_cast<int32_t>(w * sizeof(Px)), 3, -2, false, 1.0, 1.0,
                1.0, true, sizeof(Px));
  }
  float& at(uint32_t x, uint32_t y, int c) { return v[(static_cast<size_t>(y) * view.width + x) * C + c]; }
};

// The mirror with the edge pixel repeated: -1 reads 0, n reads n - 1, period 2n.
int32_t mirror(int64_t k, int32_t n) {
  const int64_t p = 2 * static_cast<int64_t>(n);
  int64_t m = ((k % p) + p) % p;
  return static_cast<int32_t>(m < n ? m : p - 1 - m);
}

// The tent blur of one line by its definition: weights r + 0.5 - |d| for |d| <= ri and
// f / 2 at |d| = ri + 1, normalised by their sum.
std::vector<double> tentLine(const std::vector<double>& s, double r) {
  const int32_t n = static_cast<int32_t>(s.size());
  const int32_t ri = static_cast<int32_t>(r);
  const double f = r - ri;
  double wsum = 0.0;
  for (int32_t d = -ri - 1; d <= ri + 1; ++d)
    wsum += std::abs(d) <= ri ? r + 0.5 - std::abs(d) : f / 2;
  std::vector<double> out(n);
  for (int32_t x = 0; x < n; ++x) {
    double acc = 0.0;
    for (int32_t d = -ri - 1; d <= ri + 1; ++d) {
      const double w = std::abs(d) <= ri ? r + 0.5 - std::abs(d) : f / 2;
      acc += w * s[mirror(x + d, n)];
    }
    out[x] = acc / wsum;
  }
  return out;
}

// Brute-force two-pass glow of channel c: rows (stored as float), then columns (negative
// results stored as 0).
template <class Img>
std::vector<float> bruteGlow(Img& img, int c, double rx, double ry) {
  const uint32_t W = img.view.width, H = img.view.height;
  std::vector<float> tmp(W * H), out(W * H);
  for (uint32_t y = 0; y < H; ++y) {
    std::vector<double> line(W);
    for (uint32_t x = 0; x < W; ++x) line[x] = img.at(x, y, c);
    const std::vector<double> b = tentLine(line, rx);
    for (uint32_t x = 0; x < W; ++x) tmp[y * W + x] = static_cast<float>(b[x]);
  }
  for (uint32_t x = 0; x < W; ++x) {
    std::vector<double> line(H);
    for (uint32_t y = 0; y < H; ++y) line[y] = tmp[y * W + x];
    const std::vector<double> b = tentLine(line, ry);
    for (uint32_t y = 0; y < H; ++y) out[y * W + x] = b[y] >= 0.0 ? static_cast<float>(b[y]) : 0.0f;
  }
  return out;
}

uint32_t seed = 99;
float rnd() {
  seed = seed * 1664525u + 1013904223u;
  return static_cast<float>((seed >> 8) / double(1 << 24));
}

template <class View>
uint32_t glow(TestHost& host, const View& image, double rx, double ry, double sx = 1.0,
              double sy = 1.0, const View* destination = nullptr, uint32_t pass = 0,
              uint32_t passCount = 1) {
  GlowFilter<View> g(&host);
  g.image = image;
  g.radius_x = rx;
  g.radius_y = ry;
  g.scaleFactorX = sx;
  g.scaleFactorY = sy;
  if (destination) g.destination = *destination;
  return g.render(pass, passCount);
}

template <class View>
void checkAgainstBruteForce(TestHost& host, uint32_t W, uint32_t H, double rx, double ry,
                            double sx, double sy) {
  SCOPED_TRACE(testing::Message() << W << "x" << H << " rx " << rx << " ry " << ry << " sx "
                                  << sx << " sy " << sy);
  WorkImage<View> img(W, H);
  for (float& f : img.v) f = rnd() * 2.0f - 0.3f;  // some negatives: the column pass clamps
  WorkImage<View> orig = img;
  std::vector<std::vector<float>> want;
  for (int c = 0; c < WorkImage<View>::C; ++c) want.push_back(bruteGlow(orig, c, rx / sx, ry / sy));
  ASSERT_EQ(glow(host, img.view, rx, ry, sx, sy), host.StatusOk());
  for (int c = 0; c < WorkImage<View>::C; ++c)
    for (uint32_t y = 0; y < H; ++y)
      for (uint32_t x = 0; x < W; ++x)
        ASSERT_NEAR(img.at(x, y, c), want[c][y * W + x], 1e-6) << x << "," << y << " c" << c;
}

TEST(GlowFilter, MatchesTheBruteForceTent) {
  const double radii[] = {0.0, 0.25, 0.5, 1.0, 1.5, 2.25, 3.7, 6.0, 17.3};
  const uint32_t sizes[][2] = {{1, 1}, {1, 7}, {7, 1}, {2, 3}, {5, 5}, {13, 4}, {9, 11}};
  TestHost host;
  int i = 0;
  for (const auto& sz : sizes) {
    for (double rx : radii) {
      const double ry = radii[(i++ * 5) % 9];
      checkAgainstBruteForce<ImgWorkGray_F1>(host, sz[0], sz[1], rx, ry, 1.0, 1.0);
    }
  }
  // Every layout; radii divided by the scale factors.
  checkAgainstBruteForce<ImgWorkGrayA_F255>(host, 8, 6, 2.5, 1.2, 1.0, 1.0);
  checkAgainstBruteForce<ImgWorkTwoCh_F32768>(host, 6, 9, 3.0, 4.5, 2.0, 3.0);
  checkAgainstBruteForce<ImgWorkTwoChA_F1>(host, 10, 3, 0.7, 2.2, 1.0, 1.0);
  checkAgainstBruteForce<ImgWorkRGB_F255>(host, 4, 12, 5.5, 0.3, 1.0, 1.0);
  checkAgainstBruteForce<ImgWorkRGBA_F32768>(host, 11, 7, 1.9, 2.9, 1.0, 1.0);
}

TEST(GlowFilter, TentWeightsFarFromTheEnds) {
  struct Case {
    double r;
    std::vector<double> w;  // weights of d = 0, 1, 2, ... before normalising
    double sum;
  };
  const Case cases[] = {
      {0.5, {1.0, 0.25}, 1.5},
      {1.0, {1.5, 0.5}, 2.5},
      {1.5, {2.0, 1.0, 0.25}, 4.5},
      {2.25, {2.75, 1.75, 0.75, 0.125}, 8.0},
  };
  for (const Case& c : cases) {
    WorkImage<ImgWorkGray_F1> img(21, 1);
    img.at(10, 0, 0) = 1.0f;
    TestHost host;
    ASSERT_EQ(glow(host, img.view, c.r, 0.0), host.StatusOk());
    for (int d = -10; d <= 10; ++d) {
      const size_t k = static_cast<size_t>(std::abs(d));
      const double want = k < c.w.size() ? c.w[k] / c.sum : 0.0;
      EXPECT_NEAR(img.at(10 + d, 0, 0), want, 1e-7) << c.r << " " << d;
    }
  }
  // Radius 1: a single 1.0 becomes 0.2, 0.6, 0.2.
  WorkImage<ImgWorkGray_F1> img(9, 1);
  img.at(4, 0, 0) = 1.0f;
  TestHost host;
  ASSERT_EQ(glow(host, img.view, 1.0, 0.0), host.StatusOk());
  EXPECT_FLOAT_EQ(img.at(3, 0, 0), 0.2f);
  EXPECT_FLOAT_EQ(img.at(4, 0, 0), 0.6f);
  EXPECT_FLOAT_EQ(img.at(5, 0, 0), 0.2f);
}

TEST(GlowFilter, EdgesFoldByTheMirrorThatRepeatsTheEdgePixel) {
  // Radius 1 on rows: the output at 0 is (0.5 s(0) + 1.5 s(0) + 0.5 s(1)) / 2.5, at n - 1
  // (0.5 s(n - 2) + 1.5 s(n - 1) + 0.5 s(n - 1)) / 2.5.
  WorkImage<ImgWorkGray_F1> img(5, 1);
  const float s[5] = {3.0f, 7.0f, 1.0f, 2.0f, 11.0f};
  for (int x = 0; x < 5; ++x) img.at(x, 0, 0) = s[x];
  TestHost host;
  ASSERT_EQ(glow(host, img.view, 1.0, 0.0), host.StatusOk());
  EXPECT_FLOAT_EQ(img.at(0, 0, 0), float((0.5 * 3 + 1.5 * 3 + 0.5 * 7) / 2.5));
  EXPECT_FLOAT_EQ(img.at(4, 0, 0), float((0.5 * 2 + 1.5 * 11 + 0.5 * 11) / 2.5));
  // The same along columns.
  WorkImage<ImgWorkGray_F1> col(1, 5);
  for (int y = 0; y < 5; ++y) col.at(0, y, 0) = s[y];
  ASSERT_EQ(glow(host, col.view, 0.0, 1.0), host.StatusOk());
  EXPECT_FLOAT_EQ(col.at(0, 0, 0), float((0.5 * 3 + 1.5 * 3 + 0.5 * 7) / 2.5));
  EXPECT_FLOAT_EQ(col.at(0, 4, 0), float((0.5 * 2 + 1.5 * 11 + 0.5 * 11) / 2.5));
  // A radius of several line lengths folds again and again: line 0 1 of length 2 with
  // radius 5 reads the period 0 1 1 0.
  WorkImage<ImgWorkGray_F1> two(2, 1);
  two.at(1, 0, 0) = 1.0f;
  ASSERT_EQ(glow(host, two.view, 5.0, 0.0), host.StatusOk());
  std::vector<double> line = {0.0, 1.0};
  const std::vector<double> want = tentLine(line, 5.0);
  EXPECT_NEAR(two.at(0, 0, 0), want[0], 1e-7);
  EXPECT_NEAR(two.at(1, 0, 0), want[1], 1e-7);
}

TEST(GlowFilter, ConstantImagesStayConstant) {
  for (double r : {0.0, 0.3, 1.0, 2.6, 9.0, 40.0}) {
    WorkImage<ImgWorkRGBA_F255> img(13, 9);
    for (size_t i = 0; i < img.v.size(); ++i) img.v[i] = (i % 4 == 3) ? 255.0f : 0.7f + (i % 4);
    TestHost host;
    ASSERT_EQ(glow(host, img.view, r, r * 0.7), host.StatusOk());
    for (size_t i = 0; i < img.v.size(); ++i) {
      const float want = (i % 4 == 3) ? 255.0f : 0.7f + (i % 4);
      ASSERT_NEAR(img.v[i], want, 4e-7 * want) << r << " " << i;
    }
  }
}

TEST(GlowFilter, RadiusZeroAndSingleSamples) {
  // Radius 0 copies; the column pass stores negative samples as 0.
  WorkImage<ImgWorkTwoCh_F1> img(4, 3);
  for (size_t i = 0; i < img.v.size(); ++i) img.v[i] = float(i) - 5.0f;
  const std::vector<float> before = img.v;
  TestHost host;
  ASSERT_EQ(glow(host, img.view, 0.0, 0.0), host.StatusOk());
  for (size_t i = 0; i < img.v.size(); ++i) EXPECT_EQ(img.v[i], std::max(before[i], 0.0f));
  // A single pixel is kept for any radius.
  WorkImage<ImgWorkGrayA_F1> one(1, 1);
  one.at(0, 0, 0) = 0.3f;
  one.at(0, 0, 1) = 1.0f;
  ASSERT_EQ(glow(host, one.view, 12.5, 3.25), host.StatusOk());
  EXPECT_EQ(one.at(0, 0, 0), 0.3f);
  EXPECT_EQ(one.at(0, 0, 1), 1.0f);
  // Not a number in the column pass is stored as 0.
  WorkImage<ImgWorkGray_F1> nan(1, 3);
  nan.at(0, 1, 0) = std::numeric_limits<float>::quiet_NaN();
  ASSERT_EQ(glow(host, nan.view, 0.0, 0.0), host.StatusOk());
  EXPECT_EQ(nan.at(0, 1, 0), 0.0f);
}

TEST(GlowFilter, ScaleFactorsDivideTheRadii) {
  WorkImage<ImgWorkGray_F1> a(15, 9), b(15, 9);
  for (size_t i = 0; i < a.v.size(); ++i) a.v[i] = b.v[i] = rnd();
  TestHost host;
  ASSERT_EQ(glow(host, a.view, 3.0, 2.0, 2.0, 1.0), host.StatusOk());
  ASSERT_EQ(glow(host, b.view, 1.5, 2.0, 1.0, 1.0), host.StatusOk());
  EXPECT_EQ(a.v, b.v);
  // Different horizontal and vertical radii blur the two directions differently.
  WorkImage<ImgWorkGray_F1> c(9, 9);
  c.at(4, 4, 0) = 1.0f;
  ASSERT_EQ(glow(host, c.view, 2.0, 0.5), host.StatusOk());
  EXPECT_GT(c.at(6, 4, 0), 0.0f);
  EXPECT_EQ(c.at(4, 6, 0), 0.0f);
}

TEST(GlowFilter, OneThreadEqualsEightBitForBit) {
  WorkImage<ImgWorkRGBA_F1> a(67, 41);
  for (float& f : a.v) f = rnd();
  WorkImage<ImgWorkRGBA_F1> b = a;
  b.view.data = reinterpret_cast<unsigned char*>(b.v.data());
  TestHost one(1), eight(8);
  ASSERT_EQ(glow(one, a.view, 4.3, 2.7), one.StatusOk());
  ASSERT_EQ(glow(eight, b.view, 4.3, 2.7), eight.StatusOk());
  EXPECT_EQ(std::memcmp(a.v.data(), b.v.data(), a.v.size() * sizeof(float)), 0);
}

TEST(GlowFilter, DestinationTempAndProgress) {
  WorkImage<ImgWorkGray_F1> img(6, 4), dst(6, 4), ref(6, 4);
  for (size_t i = 0; i < img.v.size(); ++i) img.v[i] = ref.v[i] = rnd();
  const std::vector<float> before = img.v;
  TestHost host;
  std::vector<std::pair<uint32_t, uint32_t>> reports;
  std::mutex lock;
  host.progressHook = [&](uint32_t d, uint32_t t) {
    std::lock_guard<std::mutex> g(lock);
    reports.emplace_back(d, t);
    return true;
  };
  ASSERT_EQ(glow(host, img.view, 1.7, 1.1, 1.0, 1.0, &dst.view, 1, 3), host.StatusOk());
  EXPECT_EQ(img.v, before);  // with a destination the image is left as it was
  ASSERT_EQ(glow(host, ref.view, 1.7, 1.1, 1.0, 1.0, static_cast<const ImgWorkGray_F1*>(nullptr), 1, 3),
            host.StatusOk());
  EXPECT_EQ(dst.v, ref.v);
  // Rows report 2 pass H + y of 2 passCount H, columns (2 pass + 1) W + x of 2 passCount W.
  std::sort(reports.begin(), reports.end());
  std::vector<std::pair<uint32_t, uint32_t>> want;
  for (int run = 0; run < 2; ++run) {
    for (uint32_t y = 0; y < 4; ++y) want.emplace_back(2 * 1 * 4 + y, 2 * 3 * 4);
    for (uint32_t x = 0; x < 6; ++x) want.emplace_back((2 * 1 + 1) * 6 + x, 2 * 3 * 6);
  }
  std::sort(want.begin(), want.end());
  EXPECT_EQ(reports, want);

  // A temp given by the caller is used and kept; the filter allocates nothing.
  int allocations = 0;
  host.progressHook = nullptr;
  host.allocateHook = [&](uint32_t) -> void* { ++allocations; return nullptr; };
  WorkImage<ImgWorkGray_F1> temp(6, 4), img2(6, 4);
  img2.v = before;
  GlowFilter<ImgWorkGray_F1> g(&host);
  g.image = img2.view;
  g.temp = temp.view;
  g.radius_x = 1.7;
  g.radius_y = 1.1;
  g.scaleFactorX = g.scaleFactorY = 1.0;
  ASSERT_EQ(g.render(0, 1), host.StatusOk());
  EXPECT_EQ(allocations, 0);
  EXPECT_EQ(img2.v, ref.v);
}

TEST(GlowFilter, ConstructorDefaults) {
  TestHost host;
  GlowFilter<ImgWorkRGB_F255> g(&host);
  EXPECT_EQ(g.host, &host);
  EXPECT_EQ(g.image.data, nullptr);
  EXPECT_EQ(g.image.width, 0u);
  EXPECT_EQ(g.image.scale, 1.0);
  EXPECT_EQ(g.image.valid, 0);
  EXPECT_EQ(g.temp.data, nullptr);
  EXPECT_EQ(g.temp.pixelBytes, 12);
  EXPECT_EQ(g.temp.valid, 1);
  EXPECT_EQ(g.destination.data, nullptr);
  EXPECT_EQ(g.edgeMode, 2);
  EXPECT_EQ(g.jobInput.data, nullptr);
  EXPECT_EQ(g.jobOutput.data, nullptr);
}

TEST(GlowFilter, OutOfMemoryAndCancelLeaveTheImage) {
  WorkImage<ImgWorkGray_F1> img(5, 5);
  for (float& f : img.v) f = rnd();
  const std::vector<float> before = img.v;
  {
    TestHost host;
    host.allocateHook = [](uint32_t) -> void* { return nullptr; };
    EXPECT_EQ(glow(host, img.view, 2.0, 2.0), host.StatusOutOfMemory());
    EXPECT_EQ(img.v, before);
  }
  {
    TestHost host;
    std::vector<void*> blocks;
    host.allocateHook = [&](uint32_t size) {
      EXPECT_EQ(size, 5u * 5 * 4);
      blocks.push_back(::operator new(size));
      return blocks.back();
    };
    int freed = 0;
    host.freeHook = [&](void* p) {
      EXPECT_EQ(p, blocks.back());
      ::operator delete(p);
      ++freed;
    };
    host.progressHook = [](uint32_t, uint32_t) { return false; };  // cancel in the row pass
    EXPECT_EQ(glow(host, img.view, 2.0, 2.0), host.StatusCancelled());
    EXPECT_EQ(img.v, before);
    EXPECT_EQ(freed, 1);
  }
}

}  // namespace

TEST(GlowFilter, RadiiBeyondFiveHundredLineLengthsCostNoMoreAndChangeNothingVisible) {
  // A softness far past the line's size: the result stays the tent's own up to 512 line
  // lengths, and a longer radius gives the result of 512 line lengths (its work bounded)
  // that is still the tent's own to within a 16-bit step.
  TestHost host;
  const uint32_t W = 7;
  std::vector<double> line(W);
  for (double& v : line) v = rnd();
  auto run = [&](double r) {
    WorkImage<ImgWorkGray_F1> img(W, 1);
    for (uint32_t x = 0; x < W; ++x) img.at(x, 0, 0) = static_cast<float>(line[x]);
    EXPECT_EQ(glow(host, img.view, r, 0.0), host.StatusOk());
    return std::vector<float>(img.v.begin(), img.v.end());
  };
  std::vector<double> exact(W);
  for (uint32_t x = 0; x < W; ++x) exact[x] = static_cast<float>(line[x]);
  const double below = 512.0 * W - 0.5;
  const std::vector<float> atBelow = run(below);
  const std::vector<double> tentBelow = tentLine(exact, below);
  for (uint32_t x = 0; x < W; ++x) EXPECT_NEAR(atBelow[x], tentBelow[x], 1e-6) << x;
  const double far = 2e5;
  const std::vector<float> atFar = run(far);
  EXPECT_EQ(atFar, run(1e12));
  EXPECT_EQ(atFar, run(512.0 * W));
  const std::vector<double> tentFar = tentLine(exact, far);
  for (uint32_t x = 0; x < W; ++x) EXPECT_NEAR(atFar[x], tentFar[x], 1.0 / 65536) << x;
}
