// The sparse kernel from a gray mask: record tables, extents, statuses and round trips.
#include "kernel/sparse_kernel.h"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "kernel_test_util.h"

namespace {

using kernel_test::TestHost;
using namespace ov;

template <class View>
struct Mask {
  using T = typename View::sample_type;
  std::vector<T> s;
  View view;
  Mask(uint32_t w, uint32_t h, std::vector<T> samples = {}) : s(std::move(samples)) {
    s.resize(static_cast<size_t>(w) * h);
    // Odd pixel step and origins: neither is read.
    view = View(s.empty() ? nullptr : s.data(), w, h, static_cast<int32_t>(w * sizeof(T)), 7, -3,
                true, 2.0, 1.0, 1.0, true, 99);
  }
};

struct Rec {
  float w;
  int32_t x;
};

std::vector<Rec> rowRecords(const IrisKernel& k, int32_t r) {
  std::vector<Rec> out;
  for (int32_t i = 0; i < k.rowCount(r); ++i) {
    const KernelDeltaRecord& rec = k.rowRecords(r)[i];
    EXPECT_EQ(rec.weight_delta, rec.coverage_delta);
    out.push_back(Rec{rec.weight_delta, rec.x});
  }
  EXPECT_EQ(k.rowRecords(r)[k.rowCount(r)].x, kKernelRowEnd);
  return out;
}

template <class View>
IrisKernel build(TestHost& host, const Mask<View>& m, uint32_t* status = nullptr) {
  IrisKernel k;
  const uint32_t st = buildSparseKernelFromMask(&k, m.view, &host);
  if (status) {
    *status = st;
  } else {
    EXPECT_EQ(st, host.StatusOk());
  }
  return k;
}

TEST(SparseKernel, ExampleRows) {
  TestHost host;
  // 0, 0, 255, 255, 0: {1, 1, 0} and {-1, -1, 2}; no closing record; the row adds 2.
  {
    Mask<ImgPackedGray_U8> m(5, 1, {0, 0, 255, 255, 0});
    IrisKernel k = build(host, m);
    const std::vector<Rec> r = rowRecords(k, 0);
    ASSERT_EQ(r.size(), 2u);
    EXPECT_EQ(r[0].w, 1.0f);
    EXPECT_EQ(r[0].x, 0);
    EXPECT_EQ(r[1].w, -1.0f);
    EXPECT_EQ(r[1].x, 2);
    EXPECT_EQ(k.sum, 2.0);
    EXPECT_EQ(k.inv_sum, 0.5);
    EXPECT_EQ(k.top_row, 0);
    EXPECT_EQ(k.bottom_row, 0);
    EXPECT_EQ(k.half_height, 0);
    releaseIrisKernel(&k, &host);
  }
  // Width 4 at 255 throughout: {1, 1, -2} and the closing record {-1, -1, 2}; adds 4.
  {
    Mask<ImgPackedGray_U8> m(4, 1, {255, 255, 255, 255});
    IrisKernel k = build(host, m);
    const std::vector<Rec> r = rowRecords(k, 0);
    ASSERT_EQ(r.size(), 2u);
    EXPECT_EQ(r[0].w, 1.0f);
    EXPECT_EQ(r[0].x, -2);
    EXPECT_EQ(r[1].w, -1.0f);
    EXPECT_EQ(r[1].x, 2);
    EXPECT_EQ(k.sum, 4.0);
    releaseIrisKernel(&k, &host);
  }
}

TEST(SparseKernel, Thresholds) {
  TestHost host;
  // 8-bit: every unit step (1/255 = 0.0039) makes a record.
  {
    Mask<ImgPackedGray_U8> m(4, 1, {1, 2, 3, 3});
    IrisKernel k = build(host, m);
    EXPECT_EQ(k.rowCount(0), 4);  // three changes and the closing record
    releaseIrisKernel(&k, &host);
  }
  // 16-bit: 65 (0.00198) makes none, 66 (0.00201) one.
  {
    Mask<ImgPackedGray_U16> m(3, 2, {0, 65, 65, 0, 66, 66});
    IrisKernel k = build(host, m);
    EXPECT_EQ(k.row_count[0], 0);
    EXPECT_EQ(k.row_count[1], 2);
    EXPECT_EQ(k.top_row, 0);
    EXPECT_EQ(k.bottom_row, 0);
    releaseIrisKernel(&k, &host);
  }
  // Float: the single-precision value nearest 0.002 is slightly larger and makes a record.
  {
    Mask<ImgWorkGray_F1> m(2, 1, {0.0f, 0.002f});
    IrisKernel k = build(host, m);
    const std::vector<Rec> r = rowRecords(k, 0);
    ASSERT_EQ(r.size(), 2u);
    EXPECT_EQ(r[0].w, 0.002f);
    EXPECT_EQ(r[0].x, 0);
    EXPECT_EQ(r[1].x, 1);
    releaseIrisKernel(&k, &host);
  }
  // Levels are not clamped: 16-bit 65535 is about 2, float samples keep their sign.
  {
    Mask<ImgPackedGray_U16> m(1, 1, {65535});
    IrisKernel k = build(host, m);
    EXPECT_FLOAT_EQ(k.records[0].weight_delta, float(65535 * (1.0 / 32768)));
    releaseIrisKernel(&k, &host);
    Mask<ImgWorkGray_F1> f(2, 1, {-0.5f, 3.0f});
    IrisKernel kf = build(host, f);
    const std::vector<Rec> r = rowRecords(kf, 0);
    ASSERT_EQ(r.size(), 3u);
    EXPECT_EQ(r[0].w, -0.5f);
    EXPECT_EQ(r[1].w, 3.5f);
    EXPECT_EQ(r[2].w, -3.0f);
    EXPECT_DOUBLE_EQ(kf.sum, 2.5);
    releaseIrisKernel(&kf, &host);
  }
  // A slow rise (less than 0.002 per column) records only its accumulated drift.
  {
    std::vector<float> ramp(10);
    for (int i = 0; i < 10; ++i) ramp[i] = 0.0009f * (i + 1);
    Mask<ImgWorkGray_F1> m(10, 1, ramp);
    IrisKernel k = build(host, m);
    const std::vector<Rec> r = rowRecords(k, 0);
    // 0.0027 at column 2, 0.0054 at 5, 0.0081 at 8, then the closing record.
    ASSERT_EQ(r.size(), 4u);
    EXPECT_EQ(r[0].x, 2 - 5);
    EXPECT_EQ(r[1].x, 5 - 5);
    EXPECT_EQ(r[2].x, 8 - 5);
    EXPECT_EQ(r[3].x, 10 - 5);
    releaseIrisKernel(&k, &host);
  }
}

TEST(SparseKernel, ExtentsAndEmptyRows) {
  TestHost host;
  // Rows 0, 1 empty; row 2 holds a record; row 3 empty; row 4 holds one. H 5: rows -2 .. 2.
  Mask<ImgPackedGray_U8> m(3, 5, {0, 0, 0,  0, 0, 0,  0, 9, 0,  0, 0, 0,  9, 0, 0});
  IrisKernel k = build(host, m);
  EXPECT_EQ(k.half_height, 2);
  EXPECT_EQ(k.top_row, 0);
  EXPECT_EQ(k.bottom_row, 2);
  EXPECT_EQ(k.row_count[0], 0);
  EXPECT_EQ(k.row_count[3], 0);
  EXPECT_EQ(k.row_first[1], 1);  // one row end record before it
  EXPECT_EQ(k.row_first[2], 2);
  EXPECT_EQ(k.row_first[3], 5);  // row 2: two records and its row end
  EXPECT_EQ(k.records[k.row_first[3]].x, kKernelRowEnd);
  releaseIrisKernel(&k, &host);

  // An all-zero mask: only row ends, top_row = H - H/2, bottom_row = -H/2.
  Mask<ImgPackedGray_U16> zero(4, 6);
  IrisKernel z = build(host, zero);
  EXPECT_EQ(z.sum, 0.0);
  EXPECT_EQ(z.inv_sum, 0.0);
  EXPECT_EQ(z.top_row, 3);
  EXPECT_EQ(z.bottom_row, -3);
  for (int r = 0; r < 6; ++r) EXPECT_EQ(z.row_count[r], 0);
  releaseIrisKernel(&z, &host);

  // W = 0: every row empty, like an all-zero mask.
  Mask<ImgWorkGray_F1> thin(0, 3);
  IrisKernel t = build(host, thin);
  EXPECT_EQ(t.top_row, 2);
  EXPECT_EQ(t.bottom_row, -1);
  for (int r = 0; r < 3; ++r) EXPECT_EQ(t.row_count[r], 0);
  releaseIrisKernel(&t, &host);

  // H = 0: a kernel that claims no row (top_row above bottom_row).
  Mask<ImgPackedGray_U8> none(5, 0);
  IrisKernel n = build(host, none);
  EXPECT_GT(n.top_row, n.bottom_row);
  EXPECT_TRUE(n.empty());
  EXPECT_EQ(n.sum, 0.0);
  releaseIrisKernel(&n, &host);
}

TEST(SparseKernel, EvenSizedMask) {
  TestHost host;
  Mask<ImgPackedGray_U8> m(4, 4, std::vector<unsigned char>(16, 255));
  IrisKernel k = build(host, m);
  EXPECT_EQ(k.half_height, 2);
  EXPECT_EQ(k.top_row, -2);
  EXPECT_EQ(k.bottom_row, 1);
  for (int32_t r = -2; r <= 1; ++r) {
    const std::vector<Rec> rec = rowRecords(k, r);
    ASSERT_EQ(rec.size(), 2u);
    EXPECT_EQ(rec[0].x, -2);
    EXPECT_EQ(rec[1].x, 2);  // the closing record at W / 2
  }
  EXPECT_EQ(k.sum, 16.0);
  releaseIrisKernel(&k, &host);
}

TEST(SparseKernel, BlockStatusesAndProgress) {
  // The block: 48 H + 72 H (W + 92) bytes, owned by the kernel until released.
  EXPECT_EQ(sparseKernelBufferSize(5, 3), 48u * 3 + 72u * 3 * 97);
  TestHost host;
  uint32_t asked = 0;
  void* given = nullptr;
  host.allocateHook = [&](uint32_t size) {
    asked = size;
    given = ::operator new(size);
    return given;
  };
  int progress = 0;
  host.progressHook = [&](uint32_t d, uint32_t t) {
    EXPECT_EQ(d, 50u);
    EXPECT_EQ(t, 100u);
    return ++progress < 2;  // stop after the second row
  };
  void* freed = nullptr;
  host.freeHook = [&](void* p) {
    freed = p;
    ::operator delete(p);
  };
  Mask<ImgPackedGray_U8> m(5, 3, {255, 0, 0, 0, 0,  0, 255, 0, 0, 0,  0, 0, 255, 0, 0});
  IrisKernel k;
  EXPECT_EQ(buildSparseKernelFromMask(&k, m.view, &host), host.StatusCancelled());
  EXPECT_EQ(asked, 48u * 3 + 72u * 3 * 97);
  EXPECT_EQ(k.buffer, given);
  EXPECT_EQ(reinterpret_cast<void*>(k.row_count), given);
  EXPECT_EQ(progress, 2);
  EXPECT_EQ(k.sum, 2.0);  // the two rows built
  EXPECT_EQ(k.inv_sum, 0.5);
  EXPECT_EQ(k.bottom_row, 0);
  releaseIrisKernel(&k, &host);
  EXPECT_EQ(freed, given);
  EXPECT_EQ(k.buffer, nullptr);

  // No block: StatusOutOfMemory, buffer null, nothing else written.
  host.allocateHook = [](uint32_t) -> void* { return nullptr; };
  IrisKernel o;
  EXPECT_EQ(buildSparseKernelFromMask(&o, m.view, &host), host.StatusOutOfMemory());
  EXPECT_EQ(o.buffer, nullptr);
  EXPECT_EQ(o.records, nullptr);
  EXPECT_EQ(o.half_height, 0);
  // A block beyond 32 bits is refused the same way, without asking for it.
  int asks = 0;
  host.allocateHook = [&](uint32_t) -> void* { ++asks; return nullptr; };
  ImgPackedGray_U8 huge(nullptr, 70000, 70000, 70000, 0, 0, false, 1.0, 1.0, 1.0, true, 1);
  EXPECT_EQ(buildSparseKernelFromMask(&o, huge, &host), host.StatusOutOfMemory());
  EXPECT_EQ(asks, 0);
}

// Rebuilds every pixel's level from the records: level(x, r) = running sum at or left of x.
template <class View>
void checkRoundTrip(const Mask<View>& m, double tolerance, bool exact8) {
  TestHost host;
  IrisKernel k = build(host, m);
  const int32_t W = static_cast<int32_t>(m.view.width);
  const int32_t H = static_cast<int32_t>(m.view.height);
  double sum = 0.0;
  for (int32_t row = 0; row < H; ++row) {
    const int32_t r = row - k.half_height;
    const KernelDeltaRecord* rec = k.rowRecords(r);
    const int32_t count = k.rowCount(r);
    float run = 0.0f;
    int32_t i = 0;
    for (int32_t c = 0; c < W; ++c) {
      while (i < count && rec[i].x <= c - W / 2) run += rec[i++].weight_delta;
      const double want = [&] {
        const auto s = m.s[static_cast<size_t>(row) * W + c];
        if constexpr (std::is_same_v<typename View::sample_type, unsigned char>) return s / 255.0;
        else if constexpr (std::is_same_v<typename View::sample_type, unsigned short>) return s / 32768.0;
        else return double(s);
      }();
      ASSERT_NEAR(run, want, tolerance) << row << "," << c;
      if (exact8) {
        ASSERT_EQ(std::lround(run * 255.0), std::lround(want * 255.0));
      }
      sum += run;
    }
    while (i < count) run += rec[i++].weight_delta;
    EXPECT_EQ(run, 0.0f) << "row " << row;  // every row ends at exactly 0
    if (count > 0) {
      EXPECT_GE(r, k.top_row);
      EXPECT_LE(r, k.bottom_row);
    }
  }
  EXPECT_NEAR(k.sum, sum, 1e-9 * std::max(1.0, std::fabs(sum)));
  releaseIrisKernel(&k, &host);
}

TEST(SparseKernel, RoundTripReproducesTheMask) {
  uint32_t seed = 3;
  auto rnd = [&seed]() {
    seed = seed * 1664525u + 1013904223u;
    return (seed >> 8) / double(1 << 24);
  };
  // An 8-bit aperture-like mask (a soft disc with noise): reproduced exactly.
  {
    const uint32_t W = 23, H = 17;
    std::vector<unsigned char> s(W * H);
    for (uint32_t y = 0; y < H; ++y)
      for (uint32_t x = 0; x < W; ++x) {
        const double d = std::hypot(x - 11.0, (y - 8.0) * 1.3);
        s[y * W + x] = static_cast<unsigned char>(d < 7 ? 255 : d < 9 ? 120 + 50 * rnd() : 0);
      }
    checkRoundTrip(Mask<ImgPackedGray_U8>(W, H, s), 1e-6, true);
  }
  // Random 16-bit and float masks: within 0.002 of the mask everywhere.
  {
    const uint32_t W = 31, H = 9;
    std::vector<unsigned short> s(W * H);
    for (auto& v : s) v = static_cast<unsigned short>(rnd() < 0.3 ? 0 : 32768 * rnd());
    checkRoundTrip(Mask<ImgPackedGray_U16>(W, H, s), 0.002 + 1e-6, false);
    std::vector<float> f(W * H);
    for (size_t i = 0; i < f.size(); ++i) f[i] = float(0.5 + 0.5 * std::sin(i * 0.01) + 0.001 * rnd());
    checkRoundTrip(Mask<ImgWorkGray_F1>(W, H, f), 0.002 + 1e-6, false);
  }
}

}  // namespace
