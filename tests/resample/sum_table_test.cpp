// fillSumTable and sumTableRect against brute-force sums, with folding for every edge mode.
//
// Tolerance: the table holds float prefix sums, each within 2^-24 of its value, which is at
// most the sum of the whole image; a rectangle reads four values per fold, and whole periods
// multiply one period's reads, so we allow 2^-24 * 64 * (image sum) * (1 + area / (W H)).
#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <vector>

#include "resample/sum_table.h"
#include "resample_test_util.h"

namespace {

using namespace ov;
using pel_test::Image;
using pel_test::TestHost;

template <class V>
std::vector<float> buildTable(TestHost& host, const V& view, uint32_t pass = 0, uint32_t passCount = 1) {
    constexpr int K = V::pixel_type::sample_count;
    std::vector<float> t(size_t(view.width) * view.height * K + 1, -7.0f);
    const auto tv = makeSumTableView<K>(t.data(), view);
    EXPECT_EQ(fillSumTable(view, tv, pass, passCount, &host), 0u);
    return t;
}

TEST(FillSumTable, TwoByTwoGray) {
    TestHost host;
    std::vector<unsigned char> px = {10, 20, 30, 40};
    ImgPackedGray_U8 v = make_packed_view<ImgPackedGray_U8>(px.data(), 2, 2);
    const auto t = buildTable(host, v);
    EXPECT_EQ(t[0], 10.0f);
    EXPECT_EQ(t[1], 30.0f);
    EXPECT_EQ(t[2], 40.0f);
    EXPECT_EQ(t[3], 100.0f);
}

TEST(FillSumTable, AlphaWeighsColourUnlessPremultiplied) {
    struct Row { unsigned char g, a; bool premultiplied; float gray, alpha; };
    const Row rows[] = {{200, 0, false, 0, 0}, {200, 255, false, 200, 255},
                        {200, 0, true, 200, 0}, {200, 128, true, 200, 128},
                        {200, 51, false, float(200.0 * (51.0 * (1.0 / 255.0))), 51}};
    TestHost host;
    for (const auto& r : rows) {
        unsigned char px[2] = {r.g, r.a};
        ImgHostGrayA_U8 v(px, 1, 1, 2, 0, 0, r.premultiplied, 1.0, 1.0, 1.0, true, 2);
        const auto t = buildTable(host, v);
        EXPECT_EQ(t[0], r.gray);
        EXPECT_EQ(t[1], r.alpha);
    }
}

TEST(FillSumTable, EmptySourcesAndProgress) {
    TestHost host;
    std::vector<unsigned char> px(16, 1);
    ImgPackedGray_U8 noRows = make_packed_view<ImgPackedGray_U8>(px.data(), 4, 0);
    buildTable(host, noRows);
    EXPECT_TRUE(host.reports.empty());
    ImgPackedGray_U8 noColumns = make_packed_view<ImgPackedGray_U8>(px.data(), 0, 3);
    buildTable(host, noColumns, 2, 6);
    ASSERT_EQ(host.reports.size(), 3u);
    for (uint32_t y = 0; y < 3; ++y) {
        EXPECT_EQ(host.reports[y].first, 3 * 2 + y);
        EXPECT_EQ(host.reports[y].second, 3u * 6);
    }
    host.reset();
    host.cancelAfter = 2;
    ImgPackedGray_U8 v = make_packed_view<ImgPackedGray_U8>(px.data(), 4, 4);
    std::vector<float> t(16);
    EXPECT_EQ(fillSumTable(v, makeSumTableView<1>(t.data(), v), 0, 1, &host), host.StatusCancelled());
    EXPECT_EQ(host.reports.size(), 2u);
}

// Every source format: the table against brute-force prefix sums. Each row adds its double
// row sum to the float value above, one rounding per row: y + 1 roundings of at most half an
// ulp of the sum.
template <class V>
class FillSumTableTyped : public ::testing::Test {};
using SourceViews = ::testing::Types<
    ImgHostGrayA_U8, ImgHostGray_U8, ImgHostTwoChA_U8, ImgHostTwoCh_U8, ImgHostRGBA_U8,
    ImgHostRGB_U8, ImgHostGrayA_U16, ImgHostGray_U16, ImgHostTwoChA_U16, ImgHostTwoCh_U16,
    ImgHostRGBA_U16, ImgHostRGB_U16, ImgHostGrayA_F1, ImgHostGray_F1, ImgHostTwoChA_F1,
    ImgHostTwoCh_F1, ImgHostRGBA_F1, ImgHostRGB_F1, ImgPackedGray_U8, ImgPackedGray_U16,
    ImgWorkGray_F1>;
TYPED_TEST_SUITE(FillSumTableTyped, SourceViews);

TYPED_TEST(FillSumTableTyped, MatchesBruteForce) {
    using V = TypeParam;
    constexpr int K = V::pixel_type::sample_count;
    TestHost host;
    for (bool premultiplied : {false, true}) {
        Image<V> img(7, 5, 11 + premultiplied, premultiplied);
        const auto t = buildTable(host, img.view);
        for (uint32_t y = 0; y < 5; ++y)
            for (uint32_t x = 0; x < 7; ++x)
                for (int s = 0; s < K; ++s) {
                    double sum = 0;
                    for (uint32_t j = 0; j <= y; ++j)
                        for (uint32_t i = 0; i <= x; ++i) {
                            double c[K];
                            img.samples(int32_t(i), int32_t(j), c);
                            sum += c[s];
                        }
                    ASSERT_NEAR(t[(y * 7 + x) * K + s], sum, std::ldexp(std::fabs(sum), -24) * (y + 2))
                        << x << "," << y << " s " << s;
                }
    }
}

// ---- sumTableRect ---------------------------------------------------------------------

template <class V>
void checkRects(uint32_t W, uint32_t H, uint32_t seed, int64_t reach) {
    constexpr int K = V::pixel_type::sample_count;
    TestHost host;
    Image<V> img(W, H, seed);
    const auto t = buildTable(host, img.view);
    const auto tv = makeSumTableView<K>(const_cast<float*>(t.data()), img.view);
    double imageSum = 0;
    for (uint32_t y = 0; y < H; ++y)
        for (uint32_t x = 0; x < W; ++x) {
            double c[K];
            img.samples(int32_t(x), int32_t(y), c);
            for (double v : c) imageSum += std::fabs(v);
        }
    std::mt19937 rng(seed);
    auto coord = [&](int64_t n) {
        return int32_t(int64_t(rng() % uint32_t(2 * reach * n + 2 * n + 1)) - reach * n - 1);
    };
    for (uint32_t modeX = 1; modeX <= 4; ++modeX)
        for (uint32_t modeY = 1; modeY <= 4; ++modeY)
            for (int trial = 0; trial < 40; ++trial) {
                int32_t x0 = coord(W), x1 = coord(W), y0 = coord(H), y1 = coord(H);
                if (x0 > x1) std::swap(x0, x1);
                if (y0 > y1) std::swap(y0, y1);
                double out[K];
                const int64_t area = sumTableRect<K>(tv, out, modeX, modeY, x0, x1, y0, y1, int32_t(W), int32_t(H));
                ASSERT_EQ(area, (int64_t(x1) - x0) * (int64_t(y1) - y0));
                double ref[K] = {};
                for (int64_t y = int64_t(y0) + 1; y <= y1; ++y)
                    for (int64_t x = int64_t(x0) + 1; x <= x1; ++x) {
                        int64_t fx = x, fy = y;
                        if (!pel_test::foldTable(fx, W, modeX) || !pel_test::foldTable(fy, H, modeY)) continue;
                        double c[K];
                        img.samples(int32_t(fx), int32_t(fy), c);
                        for (int s = 0; s < K; ++s) ref[s] += c[s];
                    }
                const double tol = std::ldexp(64.0, -24) * imageSum * (1.0 + double(area) / (W * H));
                for (int s = 0; s < K; ++s)
                    ASSERT_NEAR(out[s], ref[s], tol) << "modes " << modeX << modeY << " (" << x0 << ", "
                                                      << x1 << "] x (" << y0 << ", " << y1 << "] s " << s;
            }
}

TEST(SumTableRect, EveryModeAgainstBruteForceNear) {
    for (uint32_t W : {1u, 2u, 3u, 5u})
        for (uint32_t H : {1u, 2u, 4u}) {
            checkRects<ImgPackedGray_U8>(W, H, W * 10 + H, 3);
            checkRects<ImgHostGrayA_U16>(W, H, W * 20 + H, 3);
            checkRects<ImgHostTwoChA_F1>(W, H, W * 30 + H, 3);
            checkRects<ImgHostRGBA_U8>(W, H, W * 40 + H, 3);
        }
}

TEST(SumTableRect, FarRangesCountWholePeriods) {
    for (uint32_t W : {1u, 3u, 4u}) {
        checkRects<ImgPackedGray_U8>(W, 3, 77 + W, 20);
        checkRects<ImgHostRGBA_F1>(W, 2, 99 + W, 20);
    }
}

// The listed cases, on a 4 x 3 gray image of distinct values.
TEST(SumTableRect, Cases) {
    TestHost host;
    std::vector<unsigned char> px = {1, 2, 4, 8, 16, 32, 64, 128, 3, 5, 7, 9};
    const ImgPackedGray_U8 v = make_packed_view<ImgPackedGray_U8>(px.data(), 4, 3);
    const auto t = buildTable(host, v);
    const auto tv = makeSumTableView<1>(const_cast<float*>(t.data()), v);
    struct Case { uint32_t mx, my; int32_t x0, x1, y0, y1; double sum; int64_t area; };
    const Case cases[] = {
        {4, 4, -1, 3, -1, 2, 279, 12},   // the whole image
        {4, 4, 1, 1, 0, 2, 0, 0},        // empty
        {4, 4, -5, -2, -1, 2, 0, 9},     // wholly outside: zero, full nominal area
        {4, 4, -3, 0, -1, 0, 1, 3},      // partly outside: the inside part
        {1, 1, -3, -1, -1, 0, 2, 2},     // clamp: 2 x the first pixel
        {1, 1, 3, 5, -1, 0, 16, 2},      // clamp: 2 x the last pixel of row 0
        {2, 2, -2, 0, -1, 0, 3, 2},      // mirror: pixel 1 + pixel 0
        {2, 2, 3, 4, -1, 0, 8, 1},       // mirror: column W is column W - 1
        {3, 3, -2, 0, -1, 0, 9, 2},      // wrap: pixel W - 1 + pixel 0
        {3, 3, 3, 4, -1, 0, 1, 1},       // wrap: column W is column 0
        {1, 1, -2, -1, -2, -1, 1, 1},    // corner (-1, -1) under clamp: pixel (0, 0)
        {4, 1, -2, -1, -2, -1, 0, 1},    // mode 4 on one axis: nothing
    };
    for (const auto& c : cases) {
        double out[1];
        EXPECT_EQ(sumTableRect<1>(tv, out, c.mx, c.my, c.x0, c.x1, c.y0, c.y1, 4, 3), c.area);
        EXPECT_EQ(out[0], c.sum) << c.mx << c.my << " (" << c.x0 << ", " << c.x1 << "] x (" << c.y0
                                 << ", " << c.y1 << "]";
    }
}

}  // namespace
