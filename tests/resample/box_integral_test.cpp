// boxIntegral against a brute-force weighted sum from its own rule: column weights wl, 1, wr
// and row weights wt, 1, wb; the four corner cells folded by edge_index (read inside or in
// modes 1 to 3), every other cell folded as sumTableRect folds; the nominal total weight;
// then the cap.
//
// Tolerance: the strips and the inner block come from float prefix sums of at most the image
// sum each, four reads per rectangle and fold, so we allow 2^-24 * 256 * (image sum) *
// (1 + box area / (W H)) / total weight.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <random>
#include <vector>

#include "pixel/edge_mode.h"
#include "resample/box_integral.h"
#include "resample_test_util.h"

namespace {

using namespace ov;
using pel_test::Image;
using pel_test::TestHost;

template <class V>
struct Fixture {
    static constexpr int K = V::pixel_type::sample_count;
    TestHost host;
    Image<V> img;
    std::vector<float> t;
    SumTableView<K> tv;
    Fixture(uint32_t w, uint32_t h, uint32_t seed, bool premultiplied = false)
        : img(w, h, seed, premultiplied), t(size_t(w) * h * K + 1) {
        tv = makeSumTableView<K>(t.data(), img.view);
        EXPECT_EQ(fillSumTable(img.view, tv, 0, 1, &host), 0u);
    }
    void run(double* r, uint32_t mx, uint32_t my, double x0, double x1, double y0, double y1) const {
        boxIntegral(img.view, tv, r, mx, my, x0, x1, y0, y1);
    }
};

template <class V>
void bruteForce(const Image<V>& img, double* r, uint32_t mx, uint32_t my, double x0, double x1,
                double y0, double y1) {
    using P = typename V::pixel_type;
    constexpr int K = P::sample_count;
    const int64_t W = img.view.width, H = img.view.height;
    const int64_t ix0 = int64_t(std::floor(x0)), ix1 = int64_t(std::floor(x1));
    const int64_t iy0 = int64_t(std::floor(y0)), iy1 = int64_t(std::floor(y1));
    const double wl = 1 - (x0 - ix0), wr = x1 - ix1, wt = 1 - (y0 - iy0), wb = y1 - iy1;
    auto colWeight = [&](int64_t c) { return c == ix0 ? wl : c == ix1 + 1 ? wr : 1.0; };
    auto rowWeight = [&](int64_t c) { return c == iy0 ? wt : c == iy1 + 1 ? wb : 1.0; };
    for (int s = 0; s < K; ++s) r[s] = 0;
    for (int64_t y = iy0; y <= iy1 + 1; ++y)
        for (int64_t x = ix0; x <= ix1 + 1; ++x) {
            const bool corner = (x == ix0 || x == ix1 + 1) && (y == iy0 || y == iy1 + 1);
            int64_t fx = x, fy = y;
            bool readable;
            if (corner) {
                int32_t cx = int32_t(x), cy = int32_t(y);
                const bool inX = edge_index(cx, int32_t(W), int32_t(mx));
                const bool inY = edge_index(cy, int32_t(H), int32_t(my));
                readable = (inX || (mx >= 1 && mx <= 3)) && (inY || (my >= 1 && my <= 3));
                fx = cx;
                fy = cy;
            } else {
                readable = pel_test::foldTable(fx, W, mx) && pel_test::foldTable(fy, H, my);
            }
            if (!readable) continue;
            double c[K];
            img.samples(int32_t(fx), int32_t(fy), c);
            for (int s = 0; s < K; ++s) r[s] += c[s] * colWeight(x) * rowWeight(y);
        }
    const double total = (x1 - x0 + 1) * (y1 - y0 + 1);
    for (int s = 0; s < K; ++s) r[s] /= total;
    if constexpr (P::is_integer) {
        for (int s = 0; s < K; ++s) r[s] = std::min(r[s], P::max_value);
    } else if constexpr (P::has_alpha) {
        r[P::alpha_index] = std::min(r[P::alpha_index], 1.0);
    }
}

template <class V>
void checkRandom(uint32_t W, uint32_t H, uint32_t seed) {
    using P = typename V::pixel_type;
    constexpr int K = P::sample_count;
    for (bool premultiplied : {false, true}) {
        Fixture<V> s(W, H, seed, premultiplied);
        double imageSum = 0;
        for (uint32_t y = 0; y < H; ++y)
            for (uint32_t x = 0; x < W; ++x) {
                double c[K];
                s.img.samples(int32_t(x), int32_t(y), c);
                for (double v : c) imageSum += std::fabs(v);
            }
        std::mt19937 rng(seed);
        std::uniform_real_distribution<double> d(-2.5, 3.5);
        for (uint32_t mx = 1; mx <= 4; ++mx)
            for (uint32_t my = 1; my <= 4; ++my)
                for (int trial = 0; trial < 25; ++trial) {
                    double x0 = d(rng) * W, x1 = d(rng) * W, y0 = d(rng) * H, y1 = d(rng) * H;
                    if (x0 > x1) std::swap(x0, x1);
                    if (y0 > y1) std::swap(y0, y1);
                    if (trial % 5 == 0) x1 = x0;  // one column only
                    if (trial % 7 == 0) y0 = std::floor(y0), y1 = y0 + 2;  // integer edges
                    double got[K], ref[K];
                    s.run(got, mx, my, x0, x1, y0, y1);
                    bruteForce(s.img, ref, mx, my, x0, x1, y0, y1);
                    const double total = (x1 - x0 + 1) * (y1 - y0 + 1);
                    const double tol = std::ldexp(256.0, -24) * imageSum *
                                       (1 + total / (W * H)) / total;
                    for (int k = 0; k < K; ++k)
                        ASSERT_NEAR(got[k], ref[k], tol)
                            << "modes " << mx << my << " [" << x0 << ", " << x1 << "] x [" << y0 << ", "
                            << y1 << "] s " << k;
                }
    }
}

TEST(BoxIntegral, EveryModeAgainstBruteForce) {
    for (uint32_t W : {1u, 2u, 5u})
        for (uint32_t H : {1u, 3u, 4u}) {
            checkRandom<ImgPackedGray_U8>(W, H, W * 3 + H);
            checkRandom<ImgHostGrayA_U8>(W, H, W * 5 + H);
            checkRandom<ImgHostTwoChA_U16>(W, H, W * 7 + H);
            checkRandom<ImgHostRGBA_F1>(W, H, W * 11 + H);
            checkRandom<ImgHostRGB_U16>(W, H, W * 13 + H);
            checkRandom<ImgHostTwoCh_F1>(W, H, W * 17 + H);
        }
}

TEST(BoxIntegral, Cases) {
    // Step 1 centred on column c: (p[c-1] + 2 p[c] + p[c+1]) / 4 of row 0.
    {
        std::vector<float> px = {1, 2, 4, 8, 16, 32, 64, 128, 256, 512};
        const ImgWorkGray_F1 v = make_packed_view<ImgWorkGray_F1>(px.data(), 5, 2);
        std::vector<float> t(10);
        const auto tv = makeSumTableView<1>(t.data(), v);
        TestHost host;
        fillSumTable(v, tv, 0, 1, &host);
        double r[1];
        boxIntegral(v, tv, r, 4, 4, 1.5, 2.5, 0.0, 0.0);
        EXPECT_DOUBLE_EQ(r[0], (2 + 2 * 4 + 8) / 4.0);
        // A point: bilinear interpolation of the four pixels around it.
        boxIntegral(v, tv, r, 4, 4, 1.25, 1.25, 0.5, 0.5);
        EXPECT_DOUBLE_EQ(r[0], 0.75 * 0.5 * 2 + 0.25 * 0.5 * 4 + 0.75 * 0.5 * 64 + 0.25 * 0.5 * 128);
        // Both edges in column 2: columns 2 and 3 weigh 0.8 and 0.7.
        boxIntegral(v, tv, r, 4, 4, 2.2, 2.7, 0.0, 0.0);
        EXPECT_NEAR(r[0], (0.8 * 4 + 0.7 * 8) / 1.5, 1e-12);
        // Integer edges: columns 2, 3, 4 fully, column 5 with 0.
        boxIntegral(v, tv, r, 4, 4, 2.0, 4.0, 0.0, 0.0);
        EXPECT_DOUBLE_EQ(r[0], (4 + 8 + 16) / 3.0);
        // Wholly outside in mode 4: 0.
        boxIntegral(v, tv, r, 4, 4, -9.0, -7.5, 0.0, 0.5);
        EXPECT_EQ(r[0], 0.0);
    }
    // Mode 4, constant v, [-0.5, 0.5]: 0.75 v.
    {
        std::vector<float> px = {0.8f, 0.8f, 0.8f};
        const ImgWorkGray_F1 v = make_packed_view<ImgWorkGray_F1>(px.data(), 3, 1);
        std::vector<float> t(3);
        const auto tv = makeSumTableView<1>(t.data(), v);
        TestHost host;
        fillSumTable(v, tv, 0, 1, &host);
        double r[1];
        boxIntegral(v, tv, r, 4, 4, -0.5, 0.5, 0.0, 0.0);
        EXPECT_NEAR(r[0], 0.75 * 0.8f, 1e-7);
    }
    // Not premultiplied 8-bit gray with alpha: (255, 255) and (255, 0) at x = 0.5: 127.5, 127.5.
    {
        unsigned char px[4] = {255, 255, 255, 0};
        const ImgHostGrayA_U8 v(px, 2, 1, 4, 0, 0, false, 1.0, 1.0, 1.0, true, 2);
        std::vector<float> t(4);
        const auto tv = makeSumTableView<2>(t.data(), v);
        TestHost host;
        fillSumTable(v, tv, 0, 1, &host);
        double r[2];
        boxIntegral(v, tv, r, 4, 4, 0.5, 0.5, 0.0, 0.0);
        EXPECT_DOUBLE_EQ(r[0], 127.5);
        EXPECT_DOUBLE_EQ(r[1], 127.5);
    }
}

TEST(BoxIntegral, CapsAndGuards) {
    Fixture<ImgHostRGBA_F1> f(3, 3, 5);
    // Float colour may exceed 1; alpha never does.
    f.img.view.at(1, 1).v[0] = 7.0f;
    f.img.view.at(1, 1).v[3] = 1.0f;
    f.img.view.premultiplied = 1;
    std::vector<float> t(3 * 3 * 4);
    const auto tv = makeSumTableView<4>(t.data(), f.img.view);
    fillSumTable(f.img.view, tv, 0, 1, &f.host);
    double r[4];
    boxIntegral(f.img.view, tv, r, 4, 4, 1.0, 1.0, 1.0, 1.0);
    EXPECT_EQ(r[0], 7.0);
    EXPECT_LE(r[3], 1.0);
    // Non-finite edges and empty sources give zeros, in every mode.
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const double inf = std::numeric_limits<double>::infinity();
    for (uint32_t m = 1; m <= 4; ++m) {
        boxIntegral(f.img.view, tv, r, m, m, nan, 1.0, 0.0, 1.0);
        for (double v : r) EXPECT_EQ(v, 0.0);
        boxIntegral(f.img.view, tv, r, m, m, 0.0, inf, 0.0, 1.0);
        for (double v : r) EXPECT_EQ(v, 0.0);
        auto empty = f.img.view;
        empty.width = 0;
        const auto emptyTable = makeSumTableView<4>(t.data(), empty);
        boxIntegral(empty, emptyTable, r, m, m, 0.0, 1.0, 0.0, 1.0);
        for (double v : r) EXPECT_EQ(v, 0.0);
    }
    // Huge but finite edges are limited and stay defined.
    boxIntegral(f.img.view, tv, r, 4, 4, -1e300, 1e300, 0.0, 1.0);
    for (double v : r) EXPECT_TRUE(std::isfinite(v));
}

}  // namespace
