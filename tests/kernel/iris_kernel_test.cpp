// The sparse aperture kernel: sizing, structure, shape identities and empty apertures.
#include "kernel/iris_kernel.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <vector>

#include "kernel/iris_polygon.h"
#include "kernel_test_util.h"

namespace {

using kernel_test::Dense;
using kernel_test::TestHost;

constexpr double kPi = 3.14159265358979323846;

struct Shape {
  double radius, roundness;
  int32_t facets;
  double angle, border, bias, aspect;
};

// A kernel built into its own block.
struct Built {
  IrisKernel k;
  std::vector<unsigned char> block;
  uint32_t status = 0;
  int32_t n = 0;
  int32_t rows() const { return 2 * k.half_height + 1; }
  Dense weights() const { return kernel_test::dense(k, -n - 1, n + 1, rows()); }
};

Built build(const Shape& s, bool allowSkip = true, ov::OstrovanneHost* hostp = nullptr) {
  TestHost local;
  ov::OstrovanneHost* host = hostp ? hostp : &local;
  Built b;
  const uint32_t size = kernelBufferSize(s.radius, s.bias, s.aspect);
  EXPECT_GT(size, 0u);
  b.block.assign(size, 0xcd);
  b.status = iris_detail::rasterise(&b.k, b.block.data(), s.radius, s.roundness, s.facets,
                                    s.angle, s.border, s.bias, s.aspect, host, allowSkip);
  b.n = static_cast<int32_t>(std::trunc(s.radius + 1.0));
  return b;
}

const Shape kShapes[] = {
    {0.5, 0.0, 5, 0.0, 0.0, 0.0, 1.0},     {3.0, 0.3, 6, 0.2, 0.2, 0.5, 1.0},
    {10.0, 0.0, 3, 0.0, 0.0, 0.0, 1.0},    {10.0, 0.8, 7, 1.1, 0.3, -0.5, 0.6},
    {25.0, 0.5, 8, 0.3, 0.25, 0.8, 1.5},   {40.0, 1.0, 5, -0.7, 0.1, -1.0, 0.3},
    {17.3, 0.2, 1000, 0.0, 0.4, 0.3, 1.0}, {60.0, 0.6, 9, 2.0, 0.5, 1.0, 0.05},
    {33.0, 0.9, 4, 0.785, 0.0, 0.6, 2.5},  {12.0, 0.0, 12, 0.0, 0.9, -0.3, 4.0},
    {80.0, 0.4, 6, 0.5, 0.15, 0.2, 0.75},  {7.0, 0.5, 3, 3.0, 0.5, -0.9, 1.0},
    {150.0, 0.7, 6, 0.1, 0.05, 0.0, 1.0},  {6.0, 0.0, 5, 0.0, 0.3, 0.4, 0.1},
};

// ---- sizing ------------------------------------------------------------------------------

TEST(KernelBufferSize, Table) {
  struct Row {
    double radius, bias, aspect;
    uint32_t bytes;
  };
  // n = trunc(radius + 1), m = trunc(n a) + 1; 2 (8m + 4) + 1 + (24 max(n, m) + 12) K.
  const Row rows[] = {
      {0.0, 0.0, 1.0, 761},                      // n 1, m 2: 40 + 1 + 60 records
      {0.0, 0.5, 1.0, 41 + 60 * 22},             // 22 slots with a border bias
      {0.0, -0.5, 1.0, 41 + 60 * 22},            //
      {10.0, 0.0, 0.01, kernelBufferSize(10.0, 0.0, 0.05)},
      {10.0, 0.0, 0.0, kernelBufferSize(10.0, 0.0, 0.05)},
      {10.0, 0.0, -3.0, kernelBufferSize(10.0, 0.0, 0.05)},
      {10.0, 0.0, 0.05, 2 * (8 * 1 + 4) + 1 + (24 * 11 + 12) * 12},  // m = trunc(0.55) + 1
      {10.0, 0.0, 7.0, 2 * (8 * 78 + 4) + 1 + 12 * 157 * 12},        // m 78 > n 11
      {10.0, 1.0, 7.0, 2 * (8 * 78 + 4) + 1 + 22 * 157 * 12},
      {9.99, 0.0, 1.0, 2 * (8 * 11 + 4) + 1 + (24 * 11 + 12) * 12},  // n 10, m 11
      {100.0, 0.0, 0.5, 2 * (8 * 51 + 4) + 1 + (24 * 101 + 12) * 12},
  };
  for (const Row& r : rows) {
    EXPECT_EQ(kernelBufferSize(r.radius, r.bias, r.aspect), r.bytes)
        << r.radius << " " << r.bias << " " << r.aspect;
    EXPECT_EQ(kernelBufferSize64(r.radius, r.bias, r.aspect), r.bytes);
  }
}

TEST(KernelBufferSize, SizesBeyond32BitsAreRefused) {
  // The largest n whose block fits: 2 (8n' + 4) + 1 + (24 n' + 12) * 12 with m = n + 1 at
  // aspect 1. Find the boundary and check both sides.
  int64_t lo = 1, hi = 1 << 26;
  while (hi - lo > 1) {
    const int64_t mid = (lo + hi) / 2;
    if (kernelBufferSize64(double(mid), 0.0, 1.0) <= std::numeric_limits<uint32_t>::max()) lo = mid;
    else hi = mid;
  }
  EXPECT_GT(kernelBufferSize(double(lo), 0.0, 1.0), 0u);
  EXPECT_EQ(kernelBufferSize(double(hi), 0.0, 1.0), 0u);
  EXPECT_GT(kernelBufferSize64(double(hi), 0.0, 1.0), uint64_t(std::numeric_limits<uint32_t>::max()));
  // Radii that wrapped 32-bit arithmetic, and values that are not numbers.
  for (double r : {5e9, 1e12, 1e300, std::numeric_limits<double>::infinity(),
                   std::numeric_limits<double>::quiet_NaN()}) {
    EXPECT_EQ(kernelBufferSize(r, 0.0, 1.0), 0u) << r;
  }
  EXPECT_EQ(kernelBufferSize(10.0, 0.0, 1e12), 0u);
  EXPECT_EQ(kernelBufferSize(10.0, 0.0, std::numeric_limits<double>::infinity()), 0u);
  // A negative radius has no columns but still one row each side.
  EXPECT_EQ(kernelBufferSize(-5.0, 0.0, 1.0), 2u * (8 + 4) + 1 + 12 * 3 * 12);
}

TEST(BuildIrisKernel, OversizedIsRefusedBeforeWriting) {
  TestHost host;
  std::vector<unsigned char> block(64, 0xab);
  IrisKernel k;
  EXPECT_EQ(buildIrisKernel(&k, block.data(), 1e9, 0.5, 6, 0.0, 0.2, 0.0, 1.0, &host),
            host.StatusOutOfMemory());
  for (unsigned char c : block) ASSERT_EQ(c, 0xab);
  EXPECT_EQ(k.records, nullptr);
}

// ---- structure ---------------------------------------------------------------------------

TEST(BuildIrisKernel, StructuralInvariants) {
  for (const Shape& s : kShapes) {
    SCOPED_TRACE(testing::Message() << "radius " << s.radius << " facets " << s.facets
                                    << " bias " << s.bias << " aspect " << s.aspect);
    TestHost host;
    uint32_t progressCalls = 0;
    host.progressHook = [&](uint32_t done, uint32_t total) {
      EXPECT_EQ(done, 0u);
      EXPECT_EQ(total, 1u);
      ++progressCalls;
      return true;
    };
    Built b = build(s, true, &host);
    ASSERT_EQ(b.status, host.StatusOk());
    const IrisKernel& k = b.k;
    const int32_t m = k.half_height;
    const int32_t n = b.n;
    EXPECT_EQ(progressCalls, uint32_t(2 * m + 1));
    EXPECT_EQ(k.radius, s.radius);
    EXPECT_EQ(k.buffer, nullptr);

    // Layout inside the block.
    unsigned char* base = b.block.data();
    EXPECT_EQ(reinterpret_cast<unsigned char*>(k.row_count), base);
    EXPECT_EQ(reinterpret_cast<unsigned char*>(k.row_first), base + 4 * (2 * m + 1));
    EXPECT_EQ(reinterpret_cast<unsigned char*>(k.records), base + 8 * (2 * m + 1));
    const int64_t capacity = (2 * std::max<int64_t>(n, m) + 1) * (s.bias == 0.0 ? 12 : 22);
    int32_t expectFirst = 0;
    for (int32_t r = -m; r <= m; ++r) {
      const int32_t first = k.row_first[r + m];
      const int32_t count = k.row_count[r + m];
      ASSERT_EQ(first, expectFirst) << "row " << r;
      ASSERT_GE(count, 0);
      // Every row closed by its row end record, inside the block's record capacity.
      ASSERT_LT(first + count, capacity);
      const KernelDeltaRecord& end = k.records[first + count];
      EXPECT_EQ(end.x, kKernelRowEnd);
      EXPECT_EQ(end.weight_delta, 0.0f);
      EXPECT_EQ(end.coverage_delta, 0.0f);
      const unsigned char* endByte = reinterpret_cast<const unsigned char*>(&end + 1);
      ASSERT_LE(endByte, base + b.block.size());
      // Columns strictly increasing within -n .. n.
      for (int32_t i = 0; i < count; ++i) {
        const int32_t x = k.records[first + i].x;
        ASSERT_GE(x, -n);
        ASSERT_LE(x, n);
        if (i > 0) {
          ASSERT_GT(x, k.records[first + i - 1].x);
        }
        ASSERT_LT(x, kKernelRowEnd);
      }
      // Rows outside top .. bottom hold no change; the ends of the range do.
      if (r < k.top_row || r > k.bottom_row) {
        EXPECT_EQ(count, 0) << "row " << r;
      }
      if (r == k.top_row || r == k.bottom_row) {
        EXPECT_GT(count, 0) << "row " << r;
      }
      expectFirst = first + count + 1;
    }

    // The first change is the leftmost non-zero column; the last brings the row back to 0.
    const Dense d = b.weights();
    const double scale = k.inv_sum;
    for (int32_t r = k.top_row; r <= k.bottom_row; ++r) {
      const int32_t count = k.rowCount(r);
      if (count == 0) continue;
      const KernelDeltaRecord* rec = k.rowRecords(r);
      EXPECT_EQ(d.at(rec[0].x - 1, r), 0.0);
      EXPECT_NE(d.at(rec[0].x, r), 0.0);
      EXPECT_NEAR(d.at(rec[count - 1].x, r) * scale, 0.0, 2e-4 * scale + 1e-6) << "row " << r;
    }

    // Normalised weights add up to 1, up to the changes too small to be recorded.
    EXPECT_GT(k.sum, 0.0);
    EXPECT_EQ(k.inv_sum, 1.0 / k.sum);
    EXPECT_NEAR(d.total() * k.inv_sum, 1.0, 2e-3);
  }
}

TEST(BuildIrisKernel, RunSkipMatchesTheFullScan) {
  std::vector<Shape> shapes(std::begin(kShapes), std::end(kShapes));
  // A spread of further shapes across the parameters' ranges.
  uint32_t seed = 12345;
  auto rnd = [&seed]() {
    seed = seed * 1664525u + 1013904223u;
    return (seed >> 8) / double(1 << 24);
  };
  for (int i = 0; i < 60; ++i) {
    shapes.push_back(Shape{6.0 + 70.0 * rnd(), rnd(), 3 + int32_t(10 * rnd()), 6.3 * rnd(),
                           rnd(), 2.0 * rnd() - 1.0, 0.05 + 3.0 * rnd() * rnd()});
  }
  for (const Shape& s : shapes) {
    SCOPED_TRACE(testing::Message() << "radius " << s.radius << " round " << s.roundness
                                    << " facets " << s.facets << " angle " << s.angle
                                    << " border " << s.border << " bias " << s.bias
                                    << " aspect " << s.aspect);
    Built a = build(s, true);
    Built f = build(s, false);
    ASSERT_EQ(a.k.half_height, f.k.half_height);
    EXPECT_EQ(a.k.top_row, f.k.top_row);
    EXPECT_EQ(a.k.bottom_row, f.k.bottom_row);
    const int32_t m = a.k.half_height;
    for (int32_t r = -m; r <= m; ++r) {
      ASSERT_EQ(a.k.rowCount(r), f.k.rowCount(r)) << "row " << r;
      ASSERT_EQ(a.k.row_first[r + m], f.k.row_first[r + m]);
      for (int32_t i = 0; i <= a.k.rowCount(r); ++i) {
        const KernelDeltaRecord& x = a.k.rowRecords(r)[i];
        const KernelDeltaRecord& y = f.k.rowRecords(r)[i];
        ASSERT_EQ(x.x, y.x);
        ASSERT_EQ(x.weight_delta, y.weight_delta);
        ASSERT_EQ(x.coverage_delta, y.coverage_delta);
      }
    }
    EXPECT_NEAR(a.k.sum, f.k.sum, 1e-9 * f.k.sum);
  }
}

// ---- shape identities --------------------------------------------------------------------

double maxDiff(const Dense& a, const Dense& b) {
  double m = 0.0;
  for (int32_t r = std::min(a.r0, b.r0); r <= std::max(a.r1, b.r1); ++r)
    for (int32_t x = std::min(a.x0, b.x0); x <= std::max(a.x1, b.x1); ++x)
      m = std::max(m, std::fabs(a.at(x, r) - b.at(x, r)));
  return m;
}

TEST(BuildIrisKernel, RotationByTheFacetAngleLeavesTheKernel) {
  for (int32_t facets : {3, 5, 6, 8}) {
    for (double angle : {0.0, 0.4, 1.3}) {
      const Shape s{30.0, 0.4, facets, angle, 0.2, 0.5, 0.8};
      Shape t = s;
      t.angle = angle + 2.0 * kPi / facets;
      Built a = build(s), b = build(t);
      const Dense da = a.weights(), db = b.weights();
      // The same facet set in another order: equal up to the rounding of the directions.
      EXPECT_LT(maxDiff(da, db), 1e-6) << facets << " " << angle;
      EXPECT_NEAR(a.k.sum, b.k.sum, 1e-9 * a.k.sum);
    }
  }
}

TEST(BuildIrisKernel, AspectOneIsSymmetric) {
  // An aspect of 1 (the IrisAspect setting 0) draws the polygon round: at angle 0 every
  // facet set is symmetric left to right, and one whose count is a multiple of 4 is also
  // symmetric top to bottom and across the diagonal.
  for (int32_t facets : {3, 4, 5, 8, 12}) {
    const Shape s{24.0, 0.5, facets, 0.0, 0.3, -0.4, 1.0};
    Built b = build(s);
    const Dense d = b.weights();
    const int32_t m = b.k.half_height;
    double lr = 0.0, tb = 0.0, diag = 0.0;
    for (int32_t r = -m; r <= m; ++r) {
      for (int32_t x = -b.n; x <= b.n; ++x) {
        lr = std::max(lr, std::fabs(d.at(x, r) - d.at(-x, r)));
        tb = std::max(tb, std::fabs(d.at(x, r) - d.at(x, -r)));
        diag = std::max(diag, std::fabs(d.at(x, r) - d.at(r, x)));
      }
    }
    EXPECT_LT(lr, 1e-6) << facets;
    if (facets % 4 == 0) {
      EXPECT_LT(tb, 1e-6) << facets;
      EXPECT_LT(diag, 1e-6) << facets;
    }
  }
}

TEST(BuildIrisKernel, AreaOfAFinePolygonApproachesThePolygonsArea) {
  // A straight-sided polygon of circumradius r has area N r^2 sin(2 pi / N) / 2. The edge
  // ramps from 0 on the boundary to 1 one pixel inside, so the raw weight is the area of the
  // polygon inset by about half a pixel; relative to the area the gap shrinks like 1 / r.
  for (int32_t facets : {3, 5, 6, 9}) {
    double previous = 1.0;
    for (double r : {20.0, 60.0, 180.0}) {
      Built b = build(Shape{r, 0.0, facets, 0.3, 0.0, 0.0, 1.0});
      const double area = facets * r * r * std::sin(2.0 * kPi / facets) / 2.0;
      const double apothem = r * std::cos(kPi / facets);
      const double inset = area * ((apothem - 0.5) / apothem) * ((apothem - 0.5) / apothem);
      const double rel = std::fabs(b.k.sum - area) / area;
      EXPECT_LT(rel, previous) << facets << " " << r;
      EXPECT_LT(rel, 2.0 / apothem) << facets << " " << r;
      EXPECT_NEAR(b.k.sum, inset, 0.004 * area) << facets << " " << r;
      previous = rel;
    }
  }
  // The squeezed polygon keeps its area ratio to the aspect.
  Built wide = build(Shape{120.0, 0.0, 6, 0.2, 0.0, 0.0, 1.0});
  Built flat = build(Shape{120.0, 0.0, 6, 0.2, 0.0, 0.0, 0.5});
  EXPECT_NEAR(flat.k.sum / wide.k.sum, 0.5, 0.01);
}

TEST(BuildIrisKernel, BorderAndBrightnessIdentities) {
  const double r = 40.0;
  const Shape plain{r, 0.6, 7, 0.5, 0.3, 0.0, 0.9};
  Built p = build(plain);
  const Dense dp = p.weights();

  // Without a border weighting the border width does not matter.
  for (double border : {0.0, 0.5, 1.0}) {
    Shape s = plain;
    s.border = border;
    EXPECT_EQ(maxDiff(build(s).weights(), dp), 0.0) << border;
  }

  // Border 0: a positive bias scales every weight by 1 - bias, which inv_sum cancels.
  for (double bias : {0.25, 0.5, 0.9}) {
    Shape s = plain;
    s.border = 0.0;
    s.bias = bias;
    Built b = build(s);
    const Dense d = b.weights();
    double worst = 0.0;
    for (size_t i = 0; i < d.v.size(); ++i)
      worst = std::max(worst, std::fabs(d.v[i] - (1.0 - bias) * dp.v[i]));
    EXPECT_LT(worst, 0.0012) << bias;  // a weight at or below 0.001 drops to 0
    EXPECT_NEAR(b.k.sum * b.k.inv_sum, 1.0, 1e-12);
    EXPECT_NEAR(d.total() * b.k.inv_sum, dp.total() * p.k.inv_sum, 2e-4) << bias;
  }

  // Bias -1 leaves only the inner polygon: the kernel of radius r (1 - border).
  {
    Shape s = plain;
    s.bias = -1.0;
    Shape inner = plain;
    inner.radius = r * (1.0 - plain.border);
    const Dense a = build(s).weights();
    const Dense b = build(inner).weights();
    EXPECT_LT(maxDiff(a, b), 1e-6);
  }

  // Bias 1 leaves only the ring: the outer polygon minus the inner one.
  {
    Shape s = plain;
    s.bias = 1.0;
    Shape inner = plain;
    inner.radius = r * (1.0 - plain.border);
    const Dense ring = build(s).weights();
    const Dense in = build(inner).weights();
    double worst = 0.0;
    for (int32_t y = ring.r0; y <= ring.r1; ++y)
      for (int32_t x = ring.x0; x <= ring.x1; ++x)
        worst = std::max(worst, std::fabs(ring.at(x, y) - (dp.at(x, y) - in.at(x, y))));
    EXPECT_LT(worst, 0.0012);
  }

  // The plateaus: a positive bias dims the inside to 1 - bias, a negative one the ring to
  // 1 + bias; the other part keeps weight 1.
  for (double bias : {0.3, -0.3}) {
    Shape s{60.0, 0.0, 6, 0.0, 0.4, bias, 1.0};
    Built b = build(s);
    const Dense d = b.weights();
    const double inside = d.at(0, 0);      // the centre
    const double ring = d.at(0, 42);       // between the inner (apothem 31) and outer (52) edges
    EXPECT_NEAR(inside, bias > 0 ? 1.0 - bias : 1.0, 1e-6);
    EXPECT_NEAR(ring, bias > 0 ? 1.0 : 1.0 + bias, 1e-6);
  }

  // coverage_delta is the change of the plain coverage (the outer shape, no border weight)
  // from the pixel before, whatever the bias.
  for (double bias : {0.7, -0.6}) {
    Shape s = plain;
    s.bias = bias;
    Built b = build(s);
    std::vector<double> sn(s.facets), cs(s.facets);
    for (int i = 0; i < s.facets; ++i) {
      sn[i] = std::sin(s.angle + 2.0 * kPi * i / s.facets);
      cs[i] = std::cos(s.angle + 2.0 * kPi * i / s.facets);
    }
    const iris_detail::Polygon outer = iris_detail::polygonGeometry(s.radius, s.roundness, s.facets);
    auto p = [&](int32_t x, int32_t y) {
      if (x < -b.n) return 0.0;
      return iris_detail::polygonCoverage(outer, sn.data(), cs.data(), s.facets, x,
                                          y * (1.0 / s.aspect), s.aspect);
    };
    int records = 0;
    for (int32_t y = b.k.top_row; y <= b.k.bottom_row; ++y) {
      const KernelDeltaRecord* rec = b.k.rowRecords(y);
      for (int32_t i = 0; i < b.k.rowCount(y); ++i, ++records)
        ASSERT_EQ(rec[i].coverage_delta, float(p(rec[i].x, y) - p(rec[i].x - 1, y)))
            << y << " " << rec[i].x;
    }
    EXPECT_GT(records, 100);
  }
}

// ---- clamps and guards -------------------------------------------------------------------

bool sameKernel(const Built& a, const Built& b) {
  if (a.k.half_height != b.k.half_height || a.k.top_row != b.k.top_row ||
      a.k.bottom_row != b.k.bottom_row || a.k.sum != b.k.sum)
    return false;
  const int32_t m = a.k.half_height;
  const int32_t total = a.k.row_first[2 * m] + a.k.row_count[2 * m] + 1;
  return std::memcmp(a.k.records, b.k.records, sizeof(KernelDeltaRecord) * total) == 0;
}

TEST(BuildIrisKernel, ArgumentClamps) {
  const Shape base{15.0, 0.5, 7, 0.3, 0.2, 0.4, 1.0};
  auto with = [&](auto set) {
    Shape s = base;
    set(s);
    return build(s);
  };
  EXPECT_TRUE(sameKernel(with([](Shape& s) { s.facets = 1500; }),
                         with([](Shape& s) { s.facets = 1000; })));
  EXPECT_TRUE(sameKernel(with([](Shape& s) { s.roundness = 1.0; }),
                         with([](Shape& s) { s.roundness = 0.999; })));
  EXPECT_TRUE(sameKernel(with([](Shape& s) { s.aspect = 0.0; }),
                         with([](Shape& s) { s.aspect = 0.05; })));
  EXPECT_TRUE(sameKernel(with([](Shape& s) { s.aspect = 0.01; }),
                         with([](Shape& s) { s.aspect = 0.05; })));
  // Fewer than 3 facets make no polygon: they draw the triangle.
  const Built three = with([](Shape& s) { s.facets = 3; });
  for (int32_t f : {2, 1, 0, -4}) {
    const Built b = with([f](Shape& s) { s.facets = f; });
    EXPECT_EQ(b.status, 0u);
    EXPECT_TRUE(sameKernel(b, three)) << f;
  }
}

TEST(PolygonCoverage, GuardedPoints) {
  std::vector<double> sn(6), cs(6);
  for (int i = 0; i < 6; ++i) {
    sn[i] = std::sin(2.0 * kPi * i / 6);
    cs[i] = std::cos(2.0 * kPi * i / 6);
  }
  // A pixel exactly on an arc centre (here every centre sits on the kernel centre): deep
  // inside, coverage 1 rather than a division by zero.
  const iris_detail::Polygon atCentre{5.0, 0.0};
  EXPECT_EQ(iris_detail::polygonCoverage(atCentre, sn.data(), cs.data(), 6, 0.0, 0.0, 1.0), 1.0);
  EXPECT_EQ(iris_detail::polygonCoverage(atCentre, sn.data(), cs.data(), 6, 0.0, 0.0, 0.2), 1.0);
  // Near an arc: the ramp is finite and in 0..1.
  const double c = iris_detail::polygonCoverage(atCentre, sn.data(), cs.data(), 6, 4.5, 0.0, 1.0);
  EXPECT_NEAR(c, 0.5, 1e-12);
  // A pixel farther than the start value from every arc: coverage 1 without a direction.
  const iris_detail::Polygon huge{1e8, 0.0};
  EXPECT_EQ(iris_detail::polygonCoverage(huge, sn.data(), cs.data(), 6, 0.0, 0.0, 1.0), 1.0);
  // Outside one arc: 0, whatever the others say.
  EXPECT_EQ(iris_detail::polygonCoverage(atCentre, sn.data(), cs.data(), 6, 5.0, 0.0, 1.0), 0.0);
  EXPECT_EQ(iris_detail::polygonCoverage(atCentre, sn.data(), cs.data(), 6, 9.0, 0.0, 1.0), 0.0);
}

TEST(BuildIrisKernel, TheTableFormIgnoresItsTableAndFlag) {
  TestHost host;
  const Shape s{20.0, 0.3, 6, 0.2, 0.2, 0.5, 1.2};
  Built a = build(s);
  Built b;
  b.block.assign(kernelBufferSize(s.radius, s.bias, s.aspect), 0);
  const float table[4] = {9.0f, 9.0f, 9.0f, 9.0f};
  b.status = buildIrisKernel(&b.k, b.block.data(), s.radius, s.roundness, s.facets, s.angle,
                             s.border, s.bias, s.aspect, table, 4, &host, 7);
  EXPECT_EQ(b.status, host.StatusOk());
  EXPECT_TRUE(sameKernel(a, b));
}

// ---- small, empty and cancelled kernels --------------------------------------------------

TEST(BuildIrisKernel, SmallKernelsAreNormalised) {
  Built b = build(Shape{0.8, 0.0, 6, 0.0, 0.0, 0.0, 1.0});
  EXPECT_EQ(b.k.sum, 1.0);
  EXPECT_EQ(b.k.inv_sum, 1.0);
  EXPECT_NEAR(b.weights().total(), 1.0, 1e-4);
  // A large kernel keeps its raw changes.
  Built big = build(Shape{20.0, 0.0, 6, 0.0, 0.0, 0.0, 1.0});
  EXPECT_GT(big.k.sum, 1.0);
  EXPECT_EQ(big.k.inv_sum, 1.0 / big.k.sum);
  EXPECT_NEAR(big.weights().at(0, 0), 1.0, 1e-6);
}

void expectEmpty(const Built& b) {
  const IrisKernel& k = b.k;
  const int32_t m = k.half_height;
  EXPECT_EQ(k.sum, 0.0);
  EXPECT_EQ(k.inv_sum, 0.0);
  EXPECT_GT(k.top_row, k.bottom_row);
  EXPECT_TRUE(k.empty());
  for (int32_t r = -m; r <= m; ++r) {
    EXPECT_EQ(k.rowCount(r), 0);
    EXPECT_EQ(k.rowRecords(r)[0].x, kKernelRowEnd);
  }
  // A reader visiting top_row .. bottom_row finds nothing to walk.
  int visited = 0;
  for (int32_t r = k.top_row; r <= k.bottom_row; ++r) ++visited;
  EXPECT_EQ(visited, 0);
}

TEST(BuildIrisKernel, EmptyApertures) {
  {
    Built b = build(Shape{0.0, 0.5, 6, 0.0, 0.0, 0.0, 1.0});  // radius 0
    expectEmpty(b);
    EXPECT_EQ(b.k.top_row, b.k.half_height);
    EXPECT_EQ(b.k.bottom_row, 0);  // as constructed
  }
  // Within the parameters' limits: a ring of width 0 weighted alone, and the inside of a
  // ring as wide as the aperture dimmed to 0.
  expectEmpty(build(Shape{25.0, 0.5, 6, 0.0, 0.0, 1.0, 1.0}));
  expectEmpty(build(Shape{25.0, 0.5, 6, 0.0, 1.0, -1.0, 1.0}));
  expectEmpty(build(Shape{3.0, 0.0, 5, 0.3, 1.0, -1.0, 0.4}));

  // An empty build into a kernel that held an earlier one still leaves an empty range.
  TestHost host;
  const Shape full{25.0, 0.5, 6, 0.0, 0.0, 0.0, 1.0};
  Built b = build(full);
  ASSERT_FALSE(b.k.empty());
  std::vector<unsigned char> block(kernelBufferSize(25.0, 1.0, 1.0));
  EXPECT_EQ(buildIrisKernel(&b.k, block.data(), 25.0, 0.5, 6, 0.0, 0.0, 1.0, 1.0, &host),
            host.StatusOk());
  EXPECT_TRUE(b.k.empty());
  EXPECT_EQ(b.k.sum, 0.0);
}

TEST(BuildIrisKernel, CancelStopsBeforeTheRow) {
  TestHost host;
  int calls = 0;
  host.progressHook = [&](uint32_t, uint32_t) { return ++calls < 5; };
  Built b = build(Shape{20.0, 0.3, 6, 0.0, 0.0, 0.0, 1.0}, true, &host);
  EXPECT_EQ(b.status, host.StatusCancelled());
  EXPECT_EQ(calls, 5);
  EXPECT_EQ(b.k.inv_sum, 0.0);  // not written (as constructed)
  // The rows that were not processed keep the block's old bytes.
  const int32_t m = b.k.half_height;
  int32_t untouched;
  std::memset(&untouched, 0xcd, sizeof untouched);
  EXPECT_EQ(b.k.row_count[4], untouched);
  EXPECT_EQ(b.k.row_count[2 * m], untouched);
}

TEST(IrisKernel, ConstructClearRelease) {
  IrisKernel k;
  EXPECT_EQ(k.records, nullptr);
  EXPECT_EQ(k.row_count, nullptr);
  EXPECT_EQ(k.row_first, nullptr);
  EXPECT_EQ(k.buffer, nullptr);
  EXPECT_EQ(k.top_row, 0);
  EXPECT_EQ(k.bottom_row, 0);
  EXPECT_EQ(k.half_height, 0);

  TestHost host;
  std::vector<void*> freed;
  host.freeHook = [&](void* p) { freed.push_back(p); };
  int dummy = 0;
  k.records = reinterpret_cast<KernelDeltaRecord*>(&dummy);
  k.row_count = &dummy;
  k.row_first = &dummy;
  k.buffer = &dummy;
  k.clear();
  EXPECT_EQ(k.records, nullptr);
  EXPECT_EQ(k.row_count, nullptr);
  EXPECT_EQ(k.row_first, nullptr);
  EXPECT_EQ(k.buffer, &dummy);  // clear frees nothing
  releaseIrisKernel(&k, &host);
  ASSERT_EQ(freed.size(), 1u);
  EXPECT_EQ(freed[0], &dummy);
  EXPECT_EQ(k.buffer, nullptr);
  releaseIrisKernel(&k, &host);  // a null block is passed on and ignored
  EXPECT_EQ(freed.size(), 2u);
  EXPECT_EQ(freed[1], nullptr);
}

TEST(IrisKernel, RowEndComparesGreaterThanAnyOffset) {
  EXPECT_EQ(kKernelRowEnd, 1073741823);
  // The widest kernel that fits in 32 bits has offsets far below it.
  int64_t n = 1;
  while (kernelBufferSize(double(n * 2), 0.0, 0.05) != 0) n *= 2;
  EXPECT_LT(n * 2 + 1, int64_t(kKernelRowEnd));
}

TEST(IrisKernel, ForEachRunWalksTheRow) {
  Built b = build(Shape{9.0, 0.0, 4, 0.785398, 0.0, 0.0, 1.0});
  const Dense d = b.weights();
  for (int32_t r = b.k.top_row; r <= b.k.bottom_row; ++r) {
    int32_t covered = 0;
    b.k.forEachRun(r, [&](int32_t x0, int32_t x1, double w, double) {
      for (int32_t x = x0; x < x1; ++x) EXPECT_NEAR(d.at(x, r), w, 1e-12);
      covered += x1 - x0;
    });
    EXPECT_GT(covered, 0);
  }
}

}  // namespace
