// ov::MultiplyComplexHalfFilter: the convolution theorem through forward transforms, the
// spectrum product and the inverse, against a direct circular convolution, for each kernel
// rule; the rule's factors and its edge cases as a table; progress.
//
// Tolerance of the convolution comparisons: the transforms err by at most a few float ulps
// of l1(x) and l1(k) per stage (see real_fft_filter_test.cpp), so a convolved value, scaled by
// N M / 2, errs by at most 16 * 2^-24 * (stages + 4) * l1(x) * l1(k) * N M / 2.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <functional>
#include <random>
#include <vector>

#include "fft/multiply_complex_half_filter.h"
#include "fft/real_fft_filter.h"
#include "fft_test_host.h"

namespace {

using namespace ov;
using pel_test::TestHost;

template <class P>
struct Grid {
    uint32_t N, M;
    std::vector<P> px;
    Grid(uint32_t n, uint32_t m) : N(n), M(m), px(size_t(n + 2) * m) {
        std::memset(static_cast<void*>(px.data()), 0, px.size() * sizeof(P));
    }
    WorkView<P> view() { return make_packed_view<WorkView<P>>(px.data(), N + 2, M); }
    P& at(uint32_t x, uint32_t y) { return px[size_t(y) * (N + 2) + x]; }
};

template <class P>
void transform(TestHost& host, Grid<P>& g, bool forward) {
    RealFFFFilter<WorkView<P>> f(&host);
    f.array = g.view();
    f.rowsUsed = g.M;
    ASSERT_EQ(forward ? f.forward(0, 1) : f.inverse(0, 1), 0u);
}

// Convolves image x with kernel k through the spectra; compares every sample s with the
// direct circular convolution of x's sample s with the kernel plane kernelValue(pixel, s).
template <class SP, class KP>
void checkConvolution(uint32_t N, uint32_t M, uint32_t seed,
                      const std::function<double(const KP&, int)>& kernelValue) {
    TestHost host(3);
    std::mt19937 rng(seed);
    std::uniform_real_distribution<float> d(-1.0f, 1.0f);
    Grid<SP> x(N, M);
    Grid<KP> k(N, M);
    for (uint32_t y = 0; y < M; ++y)
        for (uint32_t i = 0; i < N; ++i)
            for (int s = 0; s < SP::sample_count; ++s) x.at(i, y).v[s] = d(rng);
    // A small kernel around (0, 0), wrapping: support of 3 x 3.
    for (int dy = -1; dy <= 1; ++dy)
        for (int dx = -1; dx <= 1; ++dx)
            for (int s = 0; s < KP::sample_count; ++s)
                k.at((dx + N) % N, (dy + M) % M).v[s] = d(rng) * 0.5f + 0.5f;
    const Grid<SP> x0 = x;
    const Grid<KP> k0 = k;
    transform(host, x, true);
    transform(host, k, true);
    MultiplyComplexHalfFilter<WorkView<SP>, WorkView<KP>> product(&host);
    product.spectrum = x.view();
    product.kernel = k.view();
    ASSERT_EQ(product.render(0, 1), 0u);
    transform(host, x, false);

    const double scale = double(N) * M / 2;
    int stages = 0;
    while ((1u << stages) < N * M) ++stages;
    for (int s = 0; s < SP::sample_count; ++s) {
        double l1x = 0, l1k = 0;
        for (uint32_t y = 0; y < M; ++y)
            for (uint32_t i = 0; i < N; ++i) {
                l1x += std::fabs(const_cast<Grid<SP>&>(x0).at(i, y).v[s]);
                l1k += std::fabs(kernelValue(const_cast<Grid<KP>&>(k0).at(i, y), s));
            }
        const double tol = 16 * std::ldexp(1.0, -24) * (stages + 4) * l1x * l1k * scale;
        for (uint32_t b = 0; b < M; ++b)
            for (uint32_t a = 0; a < N; ++a) {
                double sum = 0;
                for (uint32_t y = 0; y < M; ++y)
                    for (uint32_t i = 0; i < N; ++i)
                        sum += double(const_cast<Grid<SP>&>(x0).at(i, y).v[s]) *
                               kernelValue(const_cast<Grid<KP>&>(k0).at((a - i + N) % N, (b - y + M) % M), s);
                ASSERT_NEAR(x.at(a, b).v[s], scale * sum, tol) << "s " << s << " at " << a << "," << b;
            }
    }
    EXPECT_TRUE(host.live.empty());
}

TEST(MultiplyComplexHalf, ConvolutionPerChannel) {
    // Colours with colours, alpha and the weight sample with the kernel's alpha.
    checkConvolution<FftRgbAW, FftRgbA>(16, 8, 1, [](const FftRgbA& p, int s) {
        return double(p.v[s < 3 ? s : 3]);
    });
    checkConvolution<FftTwoA, FftTwoA>(8, 16, 2, [](const FftTwoA& p, int s) { return double(p.v[s]); });
    checkConvolution<FftGrayAW, FftGrayA>(16, 16, 3, [](const FftGrayA& p, int s) {
        return double(p.v[s < 1 ? 0 : 1]);
    });
}

TEST(MultiplyComplexHalf, ConvolutionSingleGrayKernel) {
    checkConvolution<FftRgbAW, FftGray>(16, 8, 4, [](const FftGray& p, int) { return double(p.v[0]); });
    checkConvolution<FftGray, FftGray>(32, 4, 5, [](const FftGray& p, int) { return double(p.v[0]); });
    checkConvolution<FftTwoW, FftGray>(4, 32, 6, [](const FftGray& p, int) { return double(p.v[0]); });
}

TEST(MultiplyComplexHalf, ConvolutionMeanOfColourKernel) {
    checkConvolution<FftRgbW, FftRgb>(16, 16, 7, [](const FftRgb& p, int) {
        return (double(p.v[0]) + p.v[1] + p.v[2]) / 3.0;
    });
    checkConvolution<FftTwo, FftTwo>(16, 8, 8, [](const FftTwo& p, int) {
        return (double(p.v[0]) + p.v[1]) / 2.0;
    });
}

// The rule's factors, as a table: kernel value -> factor of every sample.
TEST(MultiplyComplexHalf, KernelFactorTable) {
    using Mean3 = MultiplyComplexHalfFilter<WorkView<FftRgbW>, WorkView<FftRgb>>;
    using Mean2 = MultiplyComplexHalfFilter<WorkView<FftTwoW>, WorkView<FftTwo>>;
    using PerCh = MultiplyComplexHalfFilter<WorkView<FftRgbAW>, WorkView<FftRgbA>>;
    using Single = MultiplyComplexHalfFilter<WorkView<FftRgbAW>, WorkView<FftGray>>;
    static_assert(Mean3::rule == KernelFactorRule::Mean && Mean2::rule == KernelFactorRule::Mean);
    static_assert(PerCh::rule == KernelFactorRule::PerChannel);
    static_assert(Single::rule == KernelFactorRule::Single);
    EXPECT_EQ(Mean3::factor(FftRgb{{1, 1, 1}}, 0), 1.0);
    EXPECT_EQ(Mean3::factor(FftRgb{{1, 1, 1}}, 3), 1.0);  // the weight sample too
    EXPECT_EQ(Mean3::factor(FftRgb{{0.5f, 0.25f, 0.0f}}, 2), double(0.75f) * 0.3333333333333333);
    EXPECT_EQ(Mean2::factor(FftTwo{{1, 1}}, 0), 1.0);  // the mean, not a third of the sum
    EXPECT_EQ(Mean2::factor(FftTwo{{1, 1}}, 2), 1.0);
    EXPECT_EQ(Mean2::factor(FftTwo{{0.5f, 0.25f}}, 1), 0.375);
    const FftRgbA k{{0.1f, 0.2f, 0.3f, 0.4f}};
    EXPECT_EQ(PerCh::factor(k, 0), double(0.1f));
    EXPECT_EQ(PerCh::factor(k, 2), double(0.3f));
    EXPECT_EQ(PerCh::factor(k, 3), double(0.4f));
    EXPECT_EQ(PerCh::factor(k, 4), double(0.4f));  // weight: the kernel's alpha
    for (int s = 0; s < 5; ++s) EXPECT_EQ(Single::factor(FftGray{{0.7f}}, s), double(0.7f));
}

TEST(MultiplyComplexHalf, ProductRoundsTheFirstTermToFloat) {
    FftGray re{{0.1f}}, im{{0.3f}};
    const FftGray kre{{0.7f}}, kim{{-0.9f}};
    MultiplyComplexHalfFilter<WorkView<FftGray>, WorkView<FftGray>>::multiply(re, im, kre, kim);
    const float t = static_cast<float>(double(0.1f) * double(0.7f));
    const float u = static_cast<float>(double(0.3f) * double(0.7f));
    EXPECT_EQ(re.v[0], static_cast<float>(double(t) - double(0.3f) * double(-0.9f)));
    EXPECT_EQ(im.v[0], static_cast<float>(double(u) + double(0.1f) * double(-0.9f)));
}

template <class SP, class KP>
std::vector<SP> multiplyRows(TestHost& host, std::vector<SP> s, std::vector<KP> k, uint32_t w,
                             uint32_t h, uint32_t pass = 0, uint32_t passCount = 1) {
    MultiplyComplexHalfFilter<WorkView<SP>, WorkView<KP>> f(&host);
    f.spectrum = make_packed_view<WorkView<SP>>(s.data(), w, h);
    f.kernel = make_packed_view<WorkView<KP>>(k.data(), w, h);
    EXPECT_EQ(f.render(pass, passCount), 0u);
    return s;
}

TEST(MultiplyComplexHalf, EdgeCases) {
    TestHost host(3);
    std::mt19937 rng(4);
    std::uniform_real_distribution<float> d(-1.0f, 1.0f);
    auto randomRgbA = [&](size_t n) {
        std::vector<FftRgbA> v(n);
        for (auto& p : v)
            for (float& f : p.v) f = d(rng);
        return v;
    };
    // Width 1 and odd widths leave the last pixel alone; each row still reports.
    for (uint32_t w : {1u, 5u}) {
        host.reset();
        const auto s = randomRgbA(w * 3);
        const auto k = randomRgbA(w * 3);
        const auto out = multiplyRows(host, s, k, w, 3);
        for (uint32_t y = 0; y < 3; ++y)
            EXPECT_EQ(std::memcmp(&out[y * w + w - 1], &s[y * w + w - 1], sizeof(FftRgbA)), 0);
        EXPECT_EQ(host.reports.size(), 3u);
    }
    // A zero kernel gives zeros; real parts 1 and imaginary parts 0 leave the spectrum alone.
    const auto s = randomRgbA(8 * 4);
    std::vector<FftRgbA> zero(8 * 4, FftRgbA{{0, 0, 0, 0}});
    for (const auto& p : multiplyRows(host, s, zero, 8, 4))
        for (float f : p.v) EXPECT_EQ(std::fabs(f), 0.0f);
    std::vector<FftRgbA> one(8 * 4, FftRgbA{{0, 0, 0, 0}});
    for (size_t i = 0; i < one.size(); i += 2) one[i] = FftRgbA{{1, 1, 1, 1}};
    const auto same = multiplyRows(host, s, one, 8, 4);
    EXPECT_EQ(std::memcmp(same.data(), s.data(), s.size() * sizeof(FftRgbA)), 0);
}

TEST(MultiplyComplexHalf, KernelSmallerThanSpectrumIsRefused) {
    TestHost host(2);
    std::vector<FftGray> s(4 * 4, FftGray{{2.0f}}), k(4 * 3, FftGray{{3.0f}});
    MultiplyComplexHalfFilter<WorkView<FftGray>, WorkView<FftGray>> f(&host);
    f.spectrum = make_packed_view<WorkView<FftGray>>(s.data(), 4, 4);
    f.kernel = make_packed_view<WorkView<FftGray>>(k.data(), 4, 3);
    EXPECT_EQ(f.render(0, 1), host.StatusOutOfMemory());
    f.kernel = make_packed_view<WorkView<FftGray>>(k.data(), 2, 6);
    EXPECT_EQ(f.render(0, 1), host.StatusOutOfMemory());
    for (const auto& p : s) EXPECT_EQ(p.v[0], 2.0f);
    EXPECT_TRUE(host.reports.empty());
}

TEST(MultiplyComplexHalf, ProgressPerRow) {
    TestHost host(4);
    std::vector<FftGray> s(4 * 512, FftGray{{1.0f}}), k(4 * 512, FftGray{{1.0f}});
    multiplyRows(host, s, k, 4, 512, 6, 9);
    const auto done = host.sortedDone();
    ASSERT_EQ(done.size(), 512u);
    EXPECT_EQ(done.front(), 3072u);
    EXPECT_EQ(done.back(), 3583u);
    for (const auto& r : host.reports) EXPECT_EQ(r.second, 4608u);
    host.reset();
    host.cancelAfter = 10;
    MultiplyComplexHalfFilter<WorkView<FftGray>, WorkView<FftGray>> f(&host);
    f.spectrum = make_packed_view<WorkView<FftGray>>(s.data(), 4, 512);
    f.kernel = make_packed_view<WorkView<FftGray>>(k.data(), 4, 512);
    EXPECT_EQ(f.render(0, 1), host.StatusCancelled());
}

}  // namespace
