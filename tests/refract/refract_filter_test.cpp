// The refract filter: copies, one-pixel shifts under every edge mode, sub-sample
// mixing, progress, and images one pixel wide or high.
#include "refract/refract_filter.h"

#include <gtest/gtest.h>

#include <cmath>
#include <random>

#include "refract/refract_formats.h"
#include "refract_test_util.h"

namespace {

using namespace refract_test;
using ov::InfoBuffer;

constexpr double kOneForAmount = 1000.0 / 255.0;  // amount that moves direction 1 by exactly 1 px

template <class V>
struct Refract {
    using Twin = ov::TwinViewOf<V>;
    using Px = typename V::pixel_type;
    Refract(TestHost& host, uint32_t w, uint32_t h)
        : src(w, h, 1, 2), dst(w, h), info(w, h), filter(&host) {
        filter.source = src.view;
        filter.destination = dst.view;
        filter.info = info.view;
    }
    void uniform_info(float s, float c, float k) {
        info.fill([&](uint32_t, uint32_t, int i) { return i == 0 ? s : (i == 1 ? c : k); });
    }
    Image<V> src;
    Image<Twin> dst;
    Image<InfoBuffer> info;
    ov::RefractFilter<V, Twin> filter;
};

template <class V>
class RefractTyped : public ::testing::Test {};
TYPED_TEST_SUITE(RefractTyped, HostViewTypes, HostViewNames);

// Amount 0 and one sub-sample: every pixel is re-read at its own centre, so the destination
// is exactly the float copy of the source, whatever the directions.
TYPED_TEST(RefractTyped, AmountZeroCopiesExactly) {
    using V = TypeParam;
    TestHost host;
    Refract<V> r(host, 9, 7);
    r.src.randomise(17);
    std::mt19937 rng(5);
    std::uniform_real_distribution<float> u(-1.0f, 1.0f);
    r.info.fill([&](uint32_t, uint32_t, int i) { return i == 2 ? std::fabs(u(rng)) : u(rng); });
    r.filter.amount = 0.0;
    r.filter.edgeModeX = 4;
    r.filter.edgeModeY = 4;
    ASSERT_EQ(r.filter.render(0, 1), 0u);
    for (uint32_t y = 0; y < 7; ++y)
        for (uint32_t x = 0; x < 9; ++x)
            for (int s = 0; s < V::pixel_type::sample_count; ++s)
                ASSERT_EQ(r.dst.at(x, y).v[s], static_cast<float>(r.src.at(x, y).v[s]));
}

// A shift of exactly one pixel left, right, up and down under each edge mode. Inside, pixel x
// takes the source pixel x + 1; at the edge: clamp reads the edge pixel, the continuous mirror
// reads 1 for -1 and (W - 0.0001, i.e. the last pixel) for W, wrap reads the
// opposite edge, mode 4 gives the outside colour.
TYPED_TEST(RefractTyped, OnePixelShiftUnderEachEdgeMode) {
    using V = TypeParam;
    using Px = typename V::pixel_type;
    constexpr uint32_t W = 6, H = 5;
    const double outsideColor[4] = {0.25, 0.5, 0.75, 1.0};
    auto outside = [&](int s) {
        const int comp = (Px::has_alpha && s == Px::alpha_index) ? 3 : s;
        return static_cast<float>(outsideColor[comp] * Px::max_value);
    };
    auto map = [](int t, int n, int mode) -> int {  // -1: outside colour
        if (t >= 0 && t < n) return t;
        switch (mode) {
            case 1: return t < 0 ? 0 : n - 1;
            case 2: return t < 0 ? -t : n - 1;
            case 3: return t < 0 ? t + n : t - n;
            default: return -1;
        }
    };
    const int dirs[4][2] = {{1, 0}, {-1, 0}, {0, 1}, {0, -1}};
    for (int mode = 1; mode <= 4; ++mode)
        for (auto& d : dirs) {
            TestHost host;
            Refract<V> r(host, W, H);
            r.src.randomise(mode * 10 + d[0] + 3 * d[1]);
            r.uniform_info(float(d[0]), float(d[1]), 1.0f);
            r.filter.amount = kOneForAmount;
            r.filter.edgeModeX = mode;
            r.filter.edgeModeY = mode;
            for (int i = 0; i < 4; ++i) r.filter.outsideColor[i] = outsideColor[i];
            ASSERT_EQ(r.filter.render(0, 1), 0u);
            for (uint32_t y = 0; y < H; ++y)
                for (uint32_t x = 0; x < W; ++x) {
                    const int tx = map(int(x) + d[0], W, mode), ty = map(int(y) + d[1], H, mode);
                    for (int s = 0; s < Px::sample_count; ++s) {
                        const float want = (tx < 0 || ty < 0)
                                               ? outside(s)
                                               : static_cast<float>(r.src.at(tx, ty).v[s]);
                        ASSERT_EQ(r.dst.at(x, y).v[s], want)
                            << "mode " << mode << " dir " << d[0] << "," << d[1] << " at " << x
                            << "," << y << " sample " << s;
                    }
                }
        }
}

// Edge mode 4 on the one axis that is outside is enough for the outside colour; a mapping
// mode on that axis reads the source.
TEST(Refract, OneAxisOutside) {
    TestHost host;
    Refract<ov::ImgHostRGB_U8> r(host, 4, 4);
    r.src.randomise(2);
    r.uniform_info(1.0f, 1.0f, 1.0f);
    r.filter.amount = kOneForAmount;
    r.filter.outsideColor[0] = 1.0;
    r.filter.edgeModeX = 4;
    r.filter.edgeModeY = 1;
    ASSERT_EQ(r.filter.render(0, 1), 0u);
    EXPECT_EQ(r.dst.at(3, 1).v[0], 255.0f);                      // x = 4 outside, mode 4
    EXPECT_EQ(r.dst.at(2, 1).v[1], float(r.src.at(3, 2).v[1]));  // both inside
    EXPECT_EQ(r.dst.at(2, 3).v[2], float(r.src.at(3, 3).v[2]));  // y = 4 clamped

    Refract<ov::ImgHostRGB_U8> q(host, 4, 4);
    q.src.randomise(2);
    q.uniform_info(1.0f, 1.0f, 1.0f);
    q.filter.amount = kOneForAmount;
    q.filter.edgeModeX = 1;
    q.filter.edgeModeY = 4;
    ASSERT_EQ(q.filter.render(0, 1), 0u);
    EXPECT_EQ(q.dst.at(3, 1).v[0], float(q.src.at(3, 2).v[0]));  // x clamped, y inside
    EXPECT_EQ(q.dst.at(1, 3).v[0], 0.0f);                        // y = 4 outside, mode 4
}

// An outside colour of (1, 1, 1, 1) contributes MAX to every sample.
TEST(Refract, WhiteOutsideIsMax) {
    TestHost host;
    Refract<ov::ImgHostRGBA_U16> a(host, 2, 2);
    Refract<ov::ImgHostGrayA_U8> b(host, 2, 2);
    Refract<ov::ImgHostTwoChA_F1> c(host, 2, 2);
    auto run = [](auto& r) {
        r.src.randomise(1);
        r.uniform_info(-1.0f, 0.0f, 1.0f);
        r.filter.amount = 5 * kOneForAmount;
        r.filter.edgeModeX = 4;
        for (double& v : r.filter.outsideColor) v = 1.0;
        ASSERT_EQ(r.filter.render(0, 1), 0u);
    };
    run(a);
    run(b);
    run(c);
    for (int s = 0; s < 4; ++s) EXPECT_EQ(a.dst.at(1, 1).v[s], 32768.0f);
    for (int s = 0; s < 2; ++s) EXPECT_EQ(b.dst.at(0, 0).v[s], 255.0f);
    for (int s = 0; s < 3; ++s) EXPECT_EQ(c.dst.at(1, 0).v[s], 1.0f);
}

// n = 2: the left sub-samples of column 0 lie at x = -0.25. When they are counted (the info
// reaches there) they take the outside colour under mode 4 even with amount 0.
TEST(Refract, SubSamplesBeforeTheImage) {
    TestHost host;
    constexpr uint32_t W = 4, H = 4;
    Image<ov::ImgHostGray_U8> src(W, H);
    src.fill([](uint32_t, uint32_t, int) { return 100; });
    Image<ov::TwinViewOf<ov::ImgHostGray_U8>> dst(W, H);
    Image<InfoBuffer> info(W + 2, H + 2);
    info.fill([](uint32_t, uint32_t, int i) { return i == 0 ? 1.0f : 0.0f; });  // moved, k = 0
    info.view.originX = -1;
    info.view.originY = -1;
    ov::RefractFilter<ov::ImgHostGray_U8, ov::TwinViewOf<ov::ImgHostGray_U8>> f(&host);
    f.source = src.view;
    f.destination = dst.view;
    f.info = info.view;
    f.subSamples = 1;
    f.edgeModeX = 4;
    f.edgeModeY = 1;
    f.outsideColor[0] = 0.2;  // 51
    ASSERT_EQ(f.render(0, 1), 0u);
    for (uint32_t y = 0; y < H; ++y) {
        EXPECT_NEAR(dst.at(0, y).v[0], (2 * 51.0 + 2 * 100.0) / 4, 1e-4);  // two of four outside
        for (uint32_t x = 1; x < W; ++x) EXPECT_NEAR(dst.at(x, y).v[0], 100.0, 1e-4);
    }
}

// Sub-samples outside the info are not counted: the corner pixel with info at the image's
// place has one of four sub-samples moved, so it keeps 3/4 of its own value.
TEST(Refract, ShareOfMovedSubSamples) {
    TestHost host;
    Refract<ov::ImgHostGray_F1> r(host, 4, 4);
    r.src.fill([](uint32_t x, uint32_t y, int) { return 0.1 * x + 0.01 * y; });
    r.uniform_info(1.0f, 0.0f, 1.0f);
    r.filter.amount = kOneForAmount;
    r.filter.subSamples = 1;
    ASSERT_EQ(r.filter.render(0, 1), 0u);
    auto p = [&](int x, int y) { return double(r.src.at(x, y).v[0]); };
    // The one moved sub-sample of pixel (0, 0) sits at (0.25, 0.25) and reads (1.25, 0.25).
    const double read = 0.5625 * p(1, 0) + 0.1875 * p(2, 0) + 0.0625 * p(2, 1) + 0.1875 * p(1, 1);
    EXPECT_NEAR(r.dst.at(0, 0).v[0], 0.75 * p(0, 0) + 0.25 * read, 1e-7);
}

TEST(Refract, NoDisplacementKeepsTheSource) {
    TestHost host;
    for (int variant = 0; variant < 4; ++variant) {
        Refract<ov::ImgHostRGBA_U8> r(host, 5, 3);
        r.src.randomise(variant);
        r.uniform_info(variant == 0 ? 0.0f : 1.0f, 0.0f, 1.0f);
        r.filter.amount = 3 * kOneForAmount;
        r.filter.subSamples = 2;
        if (variant == 1) r.info.view.originX = 1000;  // info elsewhere
        if (variant == 2) r.filter.subSamples = -1;    // n = 0
        if (variant == 3) r.filter.subSamples = -7;
        r.filter.info = r.info.view;
        ASSERT_EQ(r.filter.render(0, 1), 0u);
        for (uint32_t y = 0; y < 3; ++y)
            for (uint32_t x = 0; x < 5; ++x)
                for (int s = 0; s < 4; ++s)
                    ASSERT_EQ(r.dst.at(x, y).v[s], float(r.src.at(x, y).v[s])) << variant;
    }
}

TEST(Refract, ProgressAndCancel) {
    TestHost host;
    Refract<ov::ImgHostGray_U8> r(host, 3, 4);
    r.src.randomise(1);
    r.uniform_info(0.0f, 0.0f, 0.0f);
    ASSERT_EQ(r.filter.render(2, 3), 0u);
    const std::vector<std::pair<uint32_t, uint32_t>> want = {{8, 12}, {9, 12}, {10, 12}, {11, 12}};
    EXPECT_EQ(host.progress, want);

    TestHost stop;
    stop.cancelAtCall = 2;
    Refract<ov::ImgHostGray_U8> c(stop, 3, 4);
    c.src.randomise(1);
    c.uniform_info(0.0f, 0.0f, 0.0f);
    c.filter.host = &stop;
    EXPECT_EQ(c.filter.render(0, 1), stop.StatusCancelled());
    EXPECT_EQ(stop.progress.size(), 2u);
    EXPECT_EQ(c.dst.at(2, 1).v[0], float(c.src.at(2, 1).v[0]));
    const unsigned char* row2 = c.dst.view.row_bytes(2);
    for (int b = 0; b < 12; ++b) EXPECT_EQ(row2[b], 0xCD);  // rows below untouched
}

// Images 1 pixel wide or high, random directions and strengths, several sub-sample counts,
// amounts and every edge mode: nothing outside the images is read (AddressSanitizer) and every
// result is finite.
TEST(Refract, OnePixelWideOrHighImages) {
    const uint32_t sizes[][2] = {{1, 9}, {9, 1}, {1, 1}};
    std::mt19937 rng(77);
    std::uniform_real_distribution<float> u(-1.0f, 1.0f);
    for (auto& sz : sizes)
        for (int mode = 0; mode <= 5; ++mode)
            for (double amount : {0.0, 1.0, 37.0, 1e6, 1e300})
                for (int sub : {0, 1, 3}) {
                    TestHost host;
                    Refract<ov::ImgHostRGBA_F1> r(host, sz[0], sz[1]);
                    r.src.randomise(sz[0] + mode);
                    r.info.fill([&](uint32_t, uint32_t, int i) { return i == 2 ? std::fabs(u(rng)) : u(rng); });
                    r.filter.amount = amount;
                    r.filter.subSamples = sub;
                    r.filter.edgeModeX = mode;
                    r.filter.edgeModeY = 5 - mode;
                    ASSERT_EQ(r.filter.render(0, 1), 0u);
                    for (uint32_t y = 0; y < sz[1]; ++y)
                        for (uint32_t x = 0; x < sz[0]; ++x)
                            for (int s = 0; s < 4; ++s) ASSERT_TRUE(std::isfinite(r.dst.at(x, y).v[s]));
                }
}

// Broken limits never read outside: other sizes write nothing; a zero scale factor or an
// infinite amount moves nothing.
TEST(Refract, BrokenLimits) {
    TestHost host;
    Refract<ov::ImgHostGray_U8> r(host, 4, 4);
    r.src.randomise(3);
    r.uniform_info(1.0f, 0.0f, 1.0f);
    Image<ov::ImgHostGray_U8> small(2, 2);
    r.filter.source = small.view;
    EXPECT_EQ(r.filter.render(0, 1), 0u);
    EXPECT_EQ(r.dst.bytes[0], 0xCD);

    r.filter.source = r.src.view;
    r.filter.scaleFactorX = 0.0;
    r.filter.amount = kOneForAmount;
    ASSERT_EQ(r.filter.render(0, 1), 0u);
    for (uint32_t x = 0; x < 4; ++x) EXPECT_EQ(r.dst.at(x, 2).v[0], float(r.src.at(x, 2).v[0]));

    r.filter.scaleFactorX = 1.0;
    r.filter.amount = INFINITY;
    ASSERT_EQ(r.filter.render(0, 1), 0u);
    for (uint32_t x = 0; x < 4; ++x) EXPECT_EQ(r.dst.at(x, 2).v[0], float(r.src.at(x, 2).v[0]));
}

}  // namespace
