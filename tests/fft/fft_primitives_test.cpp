// complexFFT, realFFTSplit, scale_samples, nextPowerOfTwo against a naive DFT in long double
// and against their closed forms; the fast kernels against the reference forms, bit for bit.
//
// Tolerance of the DFT comparisons: every radix-2 stage rounds each value once or twice to
// float, and no intermediate exceeds the l1 norm of the input, so the error of one output is
// at most a few float ulps of that norm per stage: we allow 8 * 2^-24 * (stages + 1) * l1.
#include <gtest/gtest.h>

#include <cmath>
#include <complex>
#include <cstring>
#include <random>
#include <vector>

#include "fft/fft.h"
#include "fft/fft_guts.h"
#include "fft/fft_pixels.h"

namespace {

using namespace ov;
using cld = std::complex<long double>;

constexpr long double kPiL = 3.141592653589793238462643383279502884L;

std::vector<cld> naiveDFT(const std::vector<cld>& z, int sign) {
    const size_t n = z.size();
    std::vector<cld> out(n);
    for (size_t k = 0; k < n; ++k) {
        cld sum = 0;
        for (size_t j = 0; j < n; ++j) {
            const long double a = sign * 2 * kPiL * static_cast<long double>((j * k) % n) / n;
            sum += z[j] * cld(std::cos(a), std::sin(a));
        }
        out[k] = sum;
    }
    return out;
}

long double tolerance(size_t n, long double l1) {
    int stages = 0;
    while ((size_t{1} << stages) < n) ++stages;
    return 8.0L * std::ldexp(1.0L, -24) * (stages + 1) * l1;
}

std::vector<float> randomFloats(size_t count, uint32_t seed, float lo = -1.0f, float hi = 1.0f) {
    std::mt19937 rng(seed);
    std::uniform_real_distribution<float> d(lo, hi);
    std::vector<float> v(count);
    for (auto& x : v) x = d(rng);
    return v;
}

TEST(ComplexFFT, MatchesNaiveDFTBothDirections) {
    for (uint32_t nn = 1; nn <= 1024; nn *= 2) {
        for (int sign : {+1, -1}) {
            std::vector<FftGray> a(2 * nn);
            const auto r = randomFloats(2 * nn, nn * 7 + (sign > 0));
            std::vector<cld> z(nn);
            long double l1 = 0;
            for (uint32_t k = 0; k < nn; ++k) {
                a[2 * k].v[0] = r[2 * k];
                a[2 * k + 1].v[0] = r[2 * k + 1];
                z[k] = cld(r[2 * k], r[2 * k + 1]);
                l1 += std::abs(z[k]);
            }
            complexFFT(a.data(), nn, sign);
            const auto ref = naiveDFT(z, sign);
            const long double tol = tolerance(nn, l1);
            for (uint32_t k = 0; k < nn; ++k) {
                ASSERT_LE(std::abs(a[2 * k].v[0] - ref[k].real()), tol) << nn << " " << k;
                ASSERT_LE(std::abs(a[2 * k + 1].v[0] - ref[k].imag()), tol) << nn << " " << k;
            }
        }
    }
}

TEST(ComplexFFT, ImpulseAndShift) {
    // Only the real part of complex value 2 is 1: value k + 1 becomes e^(+2 pi i k / 4).
    std::vector<FftGray> a(8, FftGray{{0.0f}});
    a[2].v[0] = 1.0f;
    complexFFT(a.data(), 4, +1);
    const float expect[8] = {1, 0, 0, 1, -1, 0, 0, -1};
    for (int p = 0; p < 8; ++p) EXPECT_NEAR(a[p].v[0], expect[p], 1e-7) << p;
    std::vector<FftGray> b(8, FftGray{{0.0f}});
    b[2].v[0] = 1.0f;
    complexFFT(b.data(), 4, -1);
    const float expectInv[8] = {1, 0, 0, -1, -1, 0, 0, 1};
    for (int p = 0; p < 8; ++p) EXPECT_NEAR(b[p].v[0], expectInv[p], 1e-7) << p;
    // An impulse at value 1 gives 1 + 0i everywhere, exactly.
    std::vector<FftGray> c(64, FftGray{{0.0f}});
    c[0].v[0] = 1.0f;
    complexFFT(c.data(), 32, +1);
    for (int k = 0; k < 32; ++k) {
        EXPECT_EQ(c[2 * k].v[0], 1.0f);
        EXPECT_EQ(c[2 * k + 1].v[0], 0.0f);
    }
}

TEST(ComplexFFT, OneAndZeroValues) {
    FftRgbA two[2] = {{{1, 2, 3, 4}}, {{5, 6, 7, 8}}};
    complexFFT(two, 1, +1);
    EXPECT_EQ(two[0].v[3], 4.0f);
    EXPECT_EQ(two[1].v[0], 5.0f);
    complexFFT(two, 0, +1);  // touches nothing
    EXPECT_EQ(two[0].v[0], 1.0f);
}

TEST(ComplexFFT, RoundTripIsNnTimesInput) {
    for (uint32_t nn = 1; nn <= 1024; nn *= 2) {
        const auto r = randomFloats(2 * nn, 99 + nn);
        std::vector<FftGray> a(2 * nn);
        for (uint32_t p = 0; p < 2 * nn; ++p) a[p].v[0] = r[p];
        complexFFT(a.data(), nn, +1);
        complexFFT(a.data(), nn, -1);
        long double l1 = 0;
        for (float x : r) l1 += std::fabs(x);
        const long double tol = 2 * tolerance(nn, l1);
        for (uint32_t p = 0; p < 2 * nn; ++p)
            ASSERT_LE(std::fabs(a[p].v[0] - static_cast<long double>(nn) * r[p]), tol);
    }
}

// Forward real transform of n values: complexFFT(n/2, +1), realFFTSplit(n, +1).
TEST(RealFFT, MatchesNaiveDFTAndRoundTrips) {
    for (uint32_t n = 2; n <= 1024; n *= 2) {
        const auto r = randomFloats(n, 5 * n);
        std::vector<FftGray> a(n);
        std::vector<cld> z(n);
        long double l1 = 0;
        for (uint32_t j = 0; j < n; ++j) {
            a[j].v[0] = r[j];
            z[j] = r[j];
            l1 += std::fabs(r[j]);
        }
        complexFFT(a.data(), n / 2, +1);
        realFFTSplit(a.data(), n, +1);
        const auto F = naiveDFT(z, +1);
        const long double tol = tolerance(n, l1);
        EXPECT_LE(std::fabs(a[0].v[0] - F[0].real()), tol);
        EXPECT_LE(std::fabs(a[1].v[0] - F[n / 2].real()), tol);
        for (uint32_t k = 1; k < n / 2; ++k) {
            ASSERT_LE(std::fabs(a[2 * k].v[0] - F[k].real()), tol) << n << " " << k;
            ASSERT_LE(std::fabs(a[2 * k + 1].v[0] - F[k].imag()), tol) << n << " " << k;
        }
        realFFTSplit(a.data(), n, -1);
        complexFFT(a.data(), n / 2, -1);
        for (uint32_t j = 0; j < n; ++j)
            ASSERT_LE(std::fabs(a[j].v[0] - static_cast<long double>(n / 2) * r[j]), 2 * tol);
    }
}

TEST(RealFFT, ClosedForms) {
    FftGray two[2] = {{{3.0f}}, {{5.0f}}};
    realFFTSplit(two, 2, +1);
    EXPECT_EQ(two[0].v[0], 8.0f);
    EXPECT_EQ(two[1].v[0], -2.0f);
    realFFTSplit(two, 2, -1);
    EXPECT_EQ(two[0].v[0], 3.0f);
    EXPECT_EQ(two[1].v[0], 5.0f);

    const float x[4] = {1.5f, -2.0f, 4.0f, 0.25f};
    FftGray four[4];
    for (int i = 0; i < 4; ++i) four[i].v[0] = x[i];
    complexFFT(four, 2, +1);
    realFFTSplit(four, 4, +1);
    EXPECT_FLOAT_EQ(four[0].v[0], x[0] + x[1] + x[2] + x[3]);
    EXPECT_FLOAT_EQ(four[1].v[0], x[0] - x[1] + x[2] - x[3]);
    EXPECT_FLOAT_EQ(four[2].v[0], x[0] - x[2]);
    EXPECT_FLOAT_EQ(four[3].v[0], x[1] - x[3]);
}

TEST(ScaleSamples, RoundsTheDoubleProduct) {
    FftRgbAW p{{1.0f, -3.0f, 0.1f, 1e30f, 7.0f}};
    scale_samples(p, 1.0 / 3.0);
    EXPECT_EQ(p.v[0], static_cast<float>(1.0 / 3.0));
    EXPECT_EQ(p.v[1], static_cast<float>(-3.0 * (1.0 / 3.0)));
    EXPECT_EQ(p.v[2], static_cast<float>(static_cast<double>(0.1f) * (1.0 / 3.0)));
    EXPECT_EQ(p.v[3], static_cast<float>(static_cast<double>(1e30f) * (1.0 / 3.0)));
    EXPECT_EQ(p.v[4], static_cast<float>(7.0 * (1.0 / 3.0)));
}

TEST(NextPowerOfTwo, Table) {
    const struct { int32_t n, expect; } rows[] = {
        {-5, 2}, {0, 2}, {1, 1}, {2, 2}, {3, 4}, {5, 8}, {1000, 1024}, {1024, 1024},
        {1025, 2048}, {(1 << 30) - 1, 1 << 30}, {1 << 30, 1 << 30},
        // Past 2^30 no power of two fits: 0, never a wrong size.
        {(1 << 30) + 1, 0}, {INT32_MAX, 0}};
    for (const auto& r : rows) EXPECT_EQ(nextPowerOfTwo(r.n), r.expect) << r.n;
}

// ---- typed: every FFT pixel type ------------------------------------------------------

template <class P>
class FftTyped : public ::testing::Test {};
using FftTypes = ::testing::Types<FftGray, FftGrayW, FftGrayA, FftGrayAW, FftTwo, FftTwoW,
                                  FftTwoA, FftTwoAW, FftRgb, FftRgbW, FftRgbA, FftRgbAW>;
TYPED_TEST_SUITE(FftTyped, FftTypes);

template <class P>
std::vector<P> randomPixels(size_t count, uint32_t seed) {
    const auto r = randomFloats(count * P::sample_count, seed, -10.0f, 10.0f);
    std::vector<P> a(count);
    std::memcpy(a.data(), r.data(), r.size() * sizeof(float));
    return a;
}

// Transforming a pixel array is transforming each sample position by itself: bit for bit.
TYPED_TEST(FftTyped, SamplesNeverMix) {
    using P = TypeParam;
    constexpr int S = P::sample_count;
    for (uint32_t n : {2u, 4u, 64u, 512u}) {
        auto a = randomPixels<P>(n, n + S);
        std::vector<std::vector<FftGray>> single(S, std::vector<FftGray>(n));
        for (uint32_t p = 0; p < n; ++p)
            for (int s = 0; s < S; ++s) single[s][p].v[0] = a[p].v[s];
        complexFFT(a.data(), n / 2, +1);
        realFFTSplit(a.data(), n, +1);
        complexFFT(a.data(), n / 2, -1);
        for (int s = 0; s < S; ++s) {
            complexFFT(single[s].data(), n / 2, +1);
            realFFTSplit(single[s].data(), n, +1);
            complexFFT(single[s].data(), n / 2, -1);
        }
        for (uint32_t p = 0; p < n; ++p)
            for (int s = 0; s < S; ++s)
                ASSERT_EQ(std::memcmp(&a[p].v[s], &single[s][p].v[0], 4), 0) << n << " " << p;
    }
}

// The weight sample holds exactly twice the first colour: so it stays, bit for bit.
TYPED_TEST(FftTyped, TwiceTheColourStaysTwice) {
    using P = TypeParam;
    constexpr int S = P::sample_count;
    if constexpr (S >= 2) {
        auto a = randomPixels<P>(256, 3);
        for (auto& p : a) p.v[S - 1] = 2.0f * p.v[0];
        complexFFT(a.data(), 128, +1);
        realFFTSplit(a.data(), 256, +1);
        for (const auto& p : a) ASSERT_EQ(p.v[S - 1], 2.0f * p.v[0]);
    }
}

// Bit-equal floats, except that any NaN matches any NaN: when both operands of an operation
// are NaN, which payload survives depends on the operand order the compiler picked.
template <class P>
bool sameBits(const std::vector<P>& a, const std::vector<P>& b) {
    const float* x = reinterpret_cast<const float*>(a.data());
    const float* y = reinterpret_cast<const float*>(b.data());
    for (size_t i = 0; i < a.size() * P::sample_count; ++i) {
        if (std::isnan(x[i]) && std::isnan(y[i])) continue;
        if (std::memcmp(x + i, y + i, sizeof(float)) != 0) return false;
    }
    return true;
}

// Values that exercise signed zeros, infinities and subnormals as well as ordinary ones.
template <class P>
std::vector<P> awkwardPixels(size_t count, uint32_t seed) {
    auto a = randomPixels<P>(count, seed);
    std::mt19937 rng(seed);
    float* f = reinterpret_cast<float*>(a.data());
    const size_t total = count * P::sample_count;
    const float specials[] = {0.0f, -0.0f, 1e-40f, -1e-42f, 3e38f, -3e38f,
                              std::numeric_limits<float>::infinity()};
    for (size_t i = 0; i < total / 16; ++i) f[rng() % total] = specials[rng() % 7];
    return a;
}

TYPED_TEST(FftTyped, FastKernelsAreBitEqualToReference) {
    using P = TypeParam;
    constexpr int S = P::sample_count;
    for (int sign : {+1, -1}) {
        std::vector<double> tw(2 * fft_guts::complexTwiddlePairs(4096));
        fft_guts::fillComplexTwiddles(tw.data(), 4096, sign);
        for (uint32_t nn = 1; nn <= 4096; nn *= 2) {
            auto a = awkwardPixels<P>(2 * nn, nn * 3 + S);
            auto b = a;
            complexFFT(a.data(), nn, sign);
            fft_guts::complexFFT<S>(reinterpret_cast<float*>(b.data()), nn, tw.data());
            ASSERT_TRUE(sameBits(a, b)) << nn << " " << sign;

            const uint32_t n = 2 * nn;
            std::vector<double> stw(2 * fft_guts::splitTwiddlePairs(n) + 2);
            fft_guts::fillSplitTwiddles(stw.data(), n, sign);
            realFFTSplit(a.data(), n, sign);
            fft_guts::realFFTSplit<S>(reinterpret_cast<float*>(b.data()), n, sign, stw.data());
            ASSERT_TRUE(sameBits(a, b)) << n << " " << sign;
        }
    }
}

// The wide pixels of the column pass (G columns of S samples in one pixel).
TEST(FftGuts, WidePixelsAreBitEqualToReference) {
    using Wide15 = PixelRGB<LayoutEmptyPixel, float, 0, 15, 1>;
    using Wide16 = PixelRGB<LayoutEmptyPixel, float, 0, 16, 1>;
    std::vector<double> tw(2 * fft_guts::complexTwiddlePairs(512));
    fft_guts::fillComplexTwiddles(tw.data(), 512, -1);
    for (uint32_t nn = 1; nn <= 512; nn *= 2) {
        auto a = awkwardPixels<Wide15>(2 * nn, nn);
        auto b = a;
        complexFFT(a.data(), nn, -1);
        fft_guts::complexFFT<15>(reinterpret_cast<float*>(b.data()), nn, tw.data());
        ASSERT_TRUE(sameBits(a, b)) << nn;
        auto c = awkwardPixels<Wide16>(2 * nn, nn + 1);
        auto d = c;
        complexFFT(c.data(), nn, -1);
        fft_guts::complexFFT<16>(reinterpret_cast<float*>(d.data()), nn, tw.data());
        ASSERT_TRUE(sameBits(c, d)) << nn;
    }
}

}  // namespace
