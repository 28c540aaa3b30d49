// ov::RealFFFFilter: the half spectrum against a naive two-dimensional DFT, its layout, the
// round trip, progress, cancellation and allocation failures; the fast path against the
// reference path and one thread against many, bit for bit.
//
// Tolerance of the DFT comparisons: each of the log2 N + log2 M stages adds at most a few
// float ulps of the l1 norm of the input, so we allow 8 * 2^-24 * (stages + 2) * l1.
#include <gtest/gtest.h>

#include <cmath>
#include <complex>
#include <memory>
#include <cstring>
#include <random>
#include <vector>

#include "fft/real_fft_filter.h"
#include "fft_test_host.h"

namespace {

using namespace ov;
using pel_test::TestHost;
using cld = std::complex<long double>;
constexpr long double kPiL = 3.141592653589793238462643383279502884L;

template <class P>
struct Grid {
    uint32_t N, M;
    std::vector<P> px;
    Grid(uint32_t n, uint32_t m) : N(n), M(m), px(size_t(n + 2) * m) {
        std::memset(static_cast<void*>(px.data()), 0, px.size() * sizeof(P));
    }
    WorkView<P> view() { return make_packed_view<WorkView<P>>(px.data(), N + 2, M); }
    P& at(uint32_t x, uint32_t y) { return px[size_t(y) * (N + 2) + x]; }
    void randomise(uint32_t rows, uint32_t seed) {
        std::mt19937 rng(seed);
        std::uniform_real_distribution<float> d(-1.0f, 1.0f);
        for (uint32_t y = 0; y < rows; ++y)
            for (uint32_t x = 0; x < N; ++x)
                for (int s = 0; s < P::sample_count; ++s) at(x, y).v[s] = d(rng);
    }
};

template <class P>
uint32_t runForward(TestHost& host, Grid<P>& g, uint32_t rowsUsed, bool reference = false,
                    uint32_t pass = 0, uint32_t passCount = 1) {
    RealFFFFilter<WorkView<P>> f(&host);
    f.array = g.view();
    f.rowsUsed = rowsUsed;
    f.referencePath = reference;
    return f.forward(pass, passCount);
}

template <class P>
uint32_t runInverse(TestHost& host, Grid<P>& g, uint32_t rowsUsed, bool reference = false,
                    uint32_t pass = 0, uint32_t passCount = 1) {
    RealFFFFilter<WorkView<P>> f(&host);
    f.array = g.view();
    f.rowsUsed = rowsUsed;
    f.referencePath = reference;
    return f.inverse(pass, passCount);
}

int log2u(uint32_t n) {
    int k = 0;
    while ((1u << k) < n) ++k;
    return k;
}

TEST(RealFFFFilter, HalfSpectrumMatchesNaiveDFT) {
    const struct { uint32_t N, M; } sizes[] = {{2, 1}, {2, 2}, {4, 4}, {8, 2}, {2, 16},
                                               {16, 8}, {4, 32}, {32, 4}, {32, 32}};
    TestHost host(3);
    for (const auto& sz : sizes) {
        const uint32_t N = sz.N, M = sz.M;
        Grid<FftRgbAW> g(N, M);
        g.randomise(M, N * 100 + M);
        const Grid<FftRgbAW> input = g;
        ASSERT_EQ(runForward(host, g, M), 0u);
        for (int s = 0; s < FftRgbAW::sample_count; ++s) {
            long double l1 = 0;
            for (uint32_t y = 0; y < M; ++y)
                for (uint32_t x = 0; x < N; ++x)
                    l1 += std::fabs(const_cast<Grid<FftRgbAW>&>(input).at(x, y).v[s]);
            const long double tol = 8.0L * std::ldexp(1.0L, -24) * (log2u(N) + log2u(M) + 2) * l1;
            for (uint32_t l = 0; l < M; ++l)
                for (uint32_t k = 0; k <= N / 2; ++k) {
                    cld sum = 0;
                    for (uint32_t y = 0; y < M; ++y)
                        for (uint32_t j = 0; j < N; ++j) {
                            const long double a =
                                2 * kPiL * (static_cast<long double>((j * k) % N) / N +
                                            static_cast<long double>((y * l) % M) / M);
                            sum += static_cast<long double>(
                                       const_cast<Grid<FftRgbAW>&>(input).at(j, y).v[s]) *
                                   cld(std::cos(a), std::sin(a));
                        }
                    ASSERT_LE(std::fabs(g.at(2 * k, l).v[s] - sum.real()), tol)
                        << N << "x" << M << " l " << l << " k " << k << " s " << s;
                    ASSERT_LE(std::fabs(g.at(2 * k + 1, l).v[s] - sum.imag()), tol)
                        << N << "x" << M << " l " << l << " k " << k << " s " << s;
                }
        }
        EXPECT_TRUE(host.live.empty());
    }
}

TEST(RealFFFFilter, RowLayoutOfAnImpulseAndOfTwoValues) {
    TestHost host(2);
    Grid<FftGray> g(16, 1);
    g.at(0, 0).v[0] = 1.0f;
    ASSERT_EQ(runForward(host, g, 1), 0u);  // M = 1: the column pass is the identity
    for (uint32_t k = 0; k <= 8; ++k) {
        EXPECT_EQ(g.at(2 * k, 0).v[0], 1.0f) << k;
        EXPECT_EQ(g.at(2 * k + 1, 0).v[0], 0.0f) << k;
    }
    Grid<FftGray> two(2, 1);
    two.at(0, 0).v[0] = 3.0f;
    two.at(1, 0).v[0] = 5.0f;
    two.at(2, 0).v[0] = 99.0f;  // overwritten without being read
    ASSERT_EQ(runForward(host, two, 1), 0u);
    EXPECT_EQ(two.at(0, 0).v[0], 8.0f);
    EXPECT_EQ(two.at(1, 0).v[0], 0.0f);
    EXPECT_EQ(two.at(2, 0).v[0], -2.0f);
    EXPECT_EQ(two.at(3, 0).v[0], 0.0f);
}

TEST(RealFFFFilter, ConstantImageGoesToValueZero) {
    TestHost host(4);
    const uint32_t N = 16, M = 8;
    Grid<FftGrayA> g(N, M);
    for (uint32_t y = 0; y < M; ++y)
        for (uint32_t x = 0; x < N; ++x) g.at(x, y) = FftGrayA{{0.25f, 0.5f}};
    ASSERT_EQ(runForward(host, g, M), 0u);
    EXPECT_FLOAT_EQ(g.at(0, 0).v[0], N * M * 0.25f);
    EXPECT_FLOAT_EQ(g.at(0, 0).v[1], N * M * 0.5f);
    for (uint32_t y = 0; y < M; ++y)
        for (uint32_t x = 0; x < N + 2; ++x)
            if (x != 0 || y != 0) {
                ASSERT_NEAR(g.at(x, y).v[0], 0.0f, 1e-5) << x << " " << y;
            }
}

TEST(RealFFFFilter, RoundTripIsHalfNMTimesInput) {
    TestHost host(8);
    const struct { uint32_t N, M; } sizes[] = {{2, 1}, {4, 8}, {64, 16}, {8, 128}, {256, 256}};
    for (const auto& sz : sizes) {
        Grid<FftRgbA> g(sz.N, sz.M);
        g.randomise(sz.M, sz.N + sz.M);
        Grid<FftRgbA> input = g;
        ASSERT_EQ(runForward(host, g, sz.M), 0u);
        ASSERT_EQ(runInverse(host, g, sz.M), 0u);
        const double scale = double(sz.N) * sz.M / 2;
        const double tol = 8.0 * std::ldexp(1.0, -24) * (log2u(sz.N) + log2u(sz.M) + 2) * 2 *
                           scale;  // inputs are at most 1 in magnitude
        for (uint32_t y = 0; y < sz.M; ++y)
            for (uint32_t x = 0; x < sz.N; ++x)
                for (int s = 0; s < 4; ++s)
                    ASSERT_NEAR(g.at(x, y).v[s], scale * input.at(x, y).v[s], tol)
                        << sz.N << "x" << sz.M << " " << x << "," << y;
    }
    EXPECT_TRUE(host.live.empty());
}

// Rows from rowsUsed on are zero: the forward result is the plain transform; the inverse row
// pass reaches rows 0 .. rowsUsed and leaves later rows column-transformed.
TEST(RealFFFFilter, RowsUsedBelowM) {
    TestHost host(3);
    const uint32_t N = 16, M = 16, used = 5;
    Grid<FftGray> a(N, M), b(N, M);
    a.randomise(used, 7);
    b.px = a.px;
    ASSERT_EQ(runForward(host, a, used), 0u);
    ASSERT_EQ(runForward(host, b, M), 0u);
    for (size_t i = 0; i < a.px.size(); ++i) ASSERT_EQ(a.px[i].v[0], b.px[i].v[0]) << i;
    Grid<FftGray> c = a;
    ASSERT_EQ(runInverse(host, a, used), 0u);
    // Reference: the inverse column pass alone, through the plain primitives.
    for (uint32_t x = 0; x <= N / 2; ++x) {
        std::vector<FftGray> col(2 * M);
        for (uint32_t r = 0; r < M; ++r) {
            col[2 * r] = c.at(2 * x, r);
            col[2 * r + 1] = c.at(2 * x + 1, r);
        }
        complexFFT(col.data(), M, -1);
        for (uint32_t r = used + 1; r < M; ++r) {
            ASSERT_EQ(a.at(2 * x, r).v[0], col[2 * r].v[0]);
            ASSERT_EQ(a.at(2 * x + 1, r).v[0], col[2 * r + 1].v[0]);
        }
    }
}

// ---- bit equality: fast path, reference path, thread counts --------------------------------

template <class P>
class RealFFFTyped : public ::testing::Test {};
using FftTypes = ::testing::Types<FftGray, FftGrayW, FftGrayA, FftGrayAW, FftTwo, FftTwoW,
                                  FftTwoA, FftTwoAW, FftRgb, FftRgbW, FftRgbA, FftRgbAW>;
TYPED_TEST_SUITE(RealFFFTyped, FftTypes);

template <class P>
bool sameBits(const Grid<P>& a, const Grid<P>& b) {
    return std::memcmp(a.px.data(), b.px.data(), a.px.size() * sizeof(P)) == 0;
}

TYPED_TEST(RealFFFTyped, FastPathAndThreadCountsKeepEveryBit) {
    using P = TypeParam;
    const struct { uint32_t N, M, used; } cases[] = {{2, 1, 1},    {4, 2, 2},   {8, 64, 40},
                                                     {64, 8, 8},   {32, 32, 7}, {128, 16, 16},
                                                     {16, 128, 100}};
    // One host (one pool) per thread count for all cases: pools are slow to build under Wine.
    std::vector<std::unique_ptr<TestHost>> hosts;
    for (int threads : {1, 3, 8, 64}) hosts.push_back(std::make_unique<TestHost>(threads));
    for (const auto& c : cases) {
        // A kernel-like grid: zero rows around a band of data, and one row of -0.0 (not skipped).
        Grid<P> input(c.N, c.M);
        input.randomise(c.used, c.N * 7 + c.M);
        for (uint32_t y = 0; y < c.used; y += 3)
            for (uint32_t x = 0; x < c.N; ++x) input.at(x, y) = P{};
        if (c.used > 1)
            for (uint32_t x = 0; x < c.N; ++x)
                for (int s = 0; s < P::sample_count; ++s) input.at(x, 1).v[s] = -0.0f;
        TestHost ref1(1);
        Grid<P> ref = input;
        ASSERT_EQ(runForward(ref1, ref, c.used, true), 0u);
        Grid<P> refBack = ref;
        ASSERT_EQ(runInverse(ref1, refBack, c.used, true), 0u);
        for (auto& hostPtr : hosts) {
            TestHost& host = *hostPtr;
            const int threads = host.threadCountSetting;
            Grid<P> g = input;
            ASSERT_EQ(runForward(host, g, c.used), 0u);
            ASSERT_TRUE(sameBits(g, ref)) << c.N << "x" << c.M << " threads " << threads;
            ASSERT_EQ(runInverse(host, g, c.used), 0u);
            ASSERT_TRUE(sameBits(g, refBack)) << c.N << "x" << c.M << " threads " << threads;
            Grid<P> r = input;  // the reference path on many threads, too
            ASSERT_EQ(runForward(host, r, c.used, true), 0u);
            ASSERT_TRUE(sameBits(r, ref));
            EXPECT_TRUE(host.live.empty());
        }
    }
}

// The weight sample holds exactly twice the first colour: so does every spectrum value.
TYPED_TEST(RealFFFTyped, SamplesNeverMix) {
    using P = TypeParam;
    constexpr int S = P::sample_count;
    if constexpr (S >= 2) {
        TestHost host(4);
        Grid<P> g(32, 16);
        g.randomise(16, 5);
        for (auto& p : g.px) p.v[S - 1] = 2.0f * p.v[0];
        ASSERT_EQ(runForward(host, g, 16), 0u);
        for (const auto& p : g.px) ASSERT_EQ(p.v[S - 1], 2.0f * p.v[0]);
    }
}

// ---- progress, cancellation, allocation failure --------------------------------------------

TEST(RealFFFFilter, ProgressValuesOncePerRowAndColumn) {
    for (bool reference : {false, true}) {
        TestHost host(3);
        const uint32_t N = 32, M = 16, used = 10, pass = 2, passCount = 5;
        const uint32_t steps = used + N / 2 + 1;
        Grid<FftRgb> g(N, M);
        g.randomise(used, 1);
        ASSERT_EQ(runForward(host, g, used, reference, pass, passCount), 0u);
        auto done = host.sortedDone();
        ASSERT_EQ(done.size(), steps);
        for (uint32_t i = 0; i < steps; ++i) EXPECT_EQ(done[i], pass * steps + i);
        for (const auto& r : host.reports) EXPECT_EQ(r.second, passCount * steps);
        host.reset();
        ASSERT_EQ(runInverse(host, g, used, reference, pass, passCount), 0u);
        done = host.sortedDone();
        ASSERT_EQ(done.size(), steps + 1);  // rows 0 .. used: one more than stepsPerPass
        EXPECT_EQ(done.back(), (pass + 1) * steps);
    }
}

TEST(RealFFFFilter, SizesItCannotTakeAreRefusedUntouched) {
    TestHost host(2);
    const struct { uint32_t width, height; } bad[] = {{3, 4}, {2, 4}, {0, 4}, {7, 4}, {6, 3}, {10, 0}};
    for (const auto& b : bad) {
        std::vector<FftGray> px(size_t(b.width) * b.height + 1, FftGray{{1.5f}});
        RealFFFFilter<WorkView<FftGray>> f(&host);
        f.array = make_packed_view<WorkView<FftGray>>(px.data(), b.width, b.height);
        f.rowsUsed = b.height;
        EXPECT_EQ(f.forward(0, 1), host.StatusOutOfMemory()) << b.width << "x" << b.height;
        EXPECT_EQ(f.inverse(0, 1), host.StatusOutOfMemory());
        for (const auto& p : px) EXPECT_EQ(p.v[0], 1.5f);
    }
    EXPECT_EQ(host.allocations, 0u);
    EXPECT_TRUE(host.reports.empty());
}

TEST(RealFFFFilter, MoreChunksThanColumns) {
    TestHost host(8);
    Grid<FftGray> g(4, 4);  // N/2 = 2 columns, 8 chunks: the last does all three
    g.randomise(4, 3);
    Grid<FftGray> ref = g;
    ASSERT_EQ(runForward(host, g, 4), 0u);
    EXPECT_EQ(host.reports.size(), 4u + 3u);
    TestHost one(1);
    ASSERT_EQ(runForward(one, ref, 4, true), 0u);
    EXPECT_TRUE(sameBits(g, ref));
}

TEST(RealFFFFilter, CancellationStopsAndLeaksNothing) {
    for (bool reference : {false, true})
        for (size_t after : {1u, 5u, 20u, 40u}) {
            TestHost host(4);
            host.cancelAfter = after;
            Grid<FftRgbA> g(32, 32);
            g.randomise(32, 9);
            EXPECT_EQ(runForward(host, g, 32, reference), host.StatusCancelled()) << after;
            EXPECT_TRUE(host.live.empty());
            host.reset();
            host.cancelAfter = after;
            EXPECT_EQ(runInverse(host, g, 32, reference), host.StatusCancelled()) << after;
            EXPECT_TRUE(host.live.empty());
        }
}

TEST(RealFFFFilter, EveryAllocationFailureIsOutOfMemoryWithoutLeaks) {
    for (bool reference : {false, true})
        for (int threads : {1, 3, 8}) {
            TestHost probe(threads);
            Grid<FftGrayAW> g(16, 16);
            g.randomise(16, 2);
            ASSERT_EQ(runForward(probe, g, 16, reference), 0u);
            const uint32_t forwardAllocations = probe.allocations;
            probe.reset();
            ASSERT_EQ(runInverse(probe, g, 16, reference), 0u);
            const uint32_t inverseAllocations = probe.allocations;
            ASSERT_GE(forwardAllocations, uint32_t(reference ? threads : threads + 1));
            for (uint32_t j = 1; j <= forwardAllocations; ++j) {
                TestHost host(threads);
                host.failAt = j;
                EXPECT_EQ(runForward(host, g, 16, reference), host.StatusOutOfMemory());
                EXPECT_TRUE(host.live.empty());
                EXPECT_EQ(host.allocations, j);  // no allocation after the failed one
            }
            for (uint32_t j = 1; j <= inverseAllocations; ++j) {
                TestHost host(threads);
                host.failAt = j;
                EXPECT_EQ(runInverse(host, g, 16, reference), host.StatusOutOfMemory());
                EXPECT_TRUE(host.live.empty());
                EXPECT_TRUE(host.reports.empty());  // no column or row job ran
            }
        }
}

}  // namespace
