// The info buffer against hand-computed cases.
#include "refract/info_buffer.h"

#include <gtest/gtest.h>

#include <cmath>

#include "refract_test_util.h"

namespace {

using namespace refract_test;
using ov::InfoBuffer;

constexpr float kSentinel = 123.5f;

// cos(pi/2) as the run-time library computes it (the filter's value), not as the compiler
// folds it: the Windows runtime's cos differs from glibc's in the last bits of this tiny value.
double runtime_half_pi() {
    volatile double zero = 0.0;
    return std::acos(zero);
}
float runtime_cos_half_pi() { return float(std::cos(runtime_half_pi())); }

template <class V>
struct Fill {
    Fill(TestHost& host, const V& height, const V& strength, uint32_t w, uint32_t h)
        : info(w, h), filter(&host) {
        info.fill([](uint32_t, uint32_t, int) { return kSentinel; });
        filter.info = info.view;
        filter.heightImage = height;
        filter.strengthImage = strength;
    }
    ov::Status run(uint32_t pass = 0, uint32_t count = 1) { return filter.render(pass, count); }
    const ov::PxRefractInfo& at(uint32_t x, uint32_t y) const { return info.at(x, y); }
    Image<InfoBuffer> info;
    ov::FillInfoBufferFilter<V> filter;
};

// The direction the filter stores for a gradient (g1, g2), computed by the documented formula.
void expected_direction(double g1, double g2, double rotation, float& s, float& c) {
    if (g1 == 0 && g2 == 0) {
        s = c = 0;
        return;
    }
    double a = std::acos(g2 / std::sqrt(g1 * g1 + g2 * g2));
    if (g1 < 0) a = 6.283185307179586 - a;
    a += rotation;
    s = float(std::sin(a));
    c = float(std::cos(a));
}

// A ramp of 1 per column: g1 = 26 inside, 21 on the second column from either edge, 8 on the
// edge columns; every pixel stores (1, cos(pi/2) as a float).
TEST(InfoBuffer, ColumnRamp) {
    TestHost host;
    Image<ov::ImgHostGray_U8> img(8, 6);
    img.fill([](uint32_t x, uint32_t, int) { return 10 + x; });
    Fill<ov::ImgHostGray_U8> f(host, img.view, img.view, 8, 6);
    f.filter.heightChannel = 3;
    f.filter.strengthChannel = 3;
    ASSERT_EQ(f.run(), 0u);
    for (uint32_t y = 0; y < 6; ++y)
        for (uint32_t x = 0; x < 8; ++x) {
            EXPECT_EQ(f.at(x, y).v[0], 1.0f);
            EXPECT_EQ(f.at(x, y).v[1], runtime_cos_half_pi());
            EXPECT_NE(f.at(x, y).v[1], 0.0f);
        }
}

// A ramp of 1 per column plus 1 per row tells the gradient magnitudes apart: g2 = 26 inside
// (8 and 21 near the top and bottom), g1 as for the column ramp.
TEST(InfoBuffer, DiagonalRampGivesTheBorderGradients) {
    TestHost host;
    Image<ov::ImgHostGray_U16> img(8, 8);
    img.fill([](uint32_t x, uint32_t y, int) { return 100 + x + y; });
    Fill<ov::ImgHostGray_U16> f(host, img.view, img.view, 8, 8);
    ASSERT_EQ(f.run(), 0u);
    auto g = [](uint32_t i) { return i == 0 || i == 7 ? 8.0 : (i == 1 || i == 6 ? 21.0 : 26.0); };
    for (uint32_t y = 0; y < 8; ++y)
        for (uint32_t x = 0; x < 8; ++x) {
            float s, c;
            expected_direction(g(x), g(y), 0.0, s, c);
            EXPECT_EQ(f.at(x, y).v[0], s) << x << "," << y;
            EXPECT_EQ(f.at(x, y).v[1], c) << x << "," << y;
        }
    // Hand values: inside 45 degrees; on column 0 of an inside row the direction is (8, 26).
    EXPECT_NEAR(f.at(3, 3).v[0], std::sqrt(0.5), 1e-7);
    EXPECT_NEAR(f.at(0, 3).v[0], 8 / std::sqrt(8.0 * 8 + 26 * 26), 1e-7);
    EXPECT_NEAR(f.at(0, 3).v[1], 26 / std::sqrt(8.0 * 8 + 26 * 26), 1e-7);
    EXPECT_NEAR(f.at(1, 6).v[0], 21 / std::sqrt(2.0 * 21 * 21), 1e-7);
}

TEST(InfoBuffer, DownLeftRampsAndRotation) {
    TestHost host;
    Image<ov::ImgHostGray_F1> down(5, 5), left(5, 5);
    down.fill([](uint32_t, uint32_t y, int) { return 0.1 * y; });
    left.fill([](uint32_t x, uint32_t, int) { return 1.0 - 0.1 * x; });
    Fill<ov::ImgHostGray_F1> fd(host, down.view, down.view, 5, 5);
    ASSERT_EQ(fd.run(), 0u);
    Fill<ov::ImgHostGray_F1> fl(host, left.view, left.view, 5, 5);
    ASSERT_EQ(fl.run(), 0u);
    Fill<ov::ImgHostGray_F1> fr(host, down.view, down.view, 5, 5);
    fr.filter.rotation = runtime_half_pi();
    ASSERT_EQ(fr.run(), 0u);
    for (uint32_t y = 0; y < 5; ++y)
        for (uint32_t x = 0; x < 5; ++x) {
            EXPECT_EQ(fd.at(x, y).v[0], 0.0f);
            EXPECT_EQ(fd.at(x, y).v[1], 1.0f);
            EXPECT_EQ(fl.at(x, y).v[0], -1.0f);
            EXPECT_EQ(fr.at(x, y).v[0], 1.0f);
            EXPECT_EQ(fr.at(x, y).v[1], runtime_cos_half_pi());
        }
}

TEST(InfoBuffer, FlatRegionIsNotDisplaced) {
    TestHost host;
    Image<ov::ImgHostRGBA_U8> img(6, 6);
    img.fill([](uint32_t x, uint32_t, int s) { return x < 3 ? 40 + s : 200; });
    Fill<ov::ImgHostRGBA_U8> f(host, img.view, img.view, 6, 6);
    ASSERT_EQ(f.run(), 0u);
    // Columns 0 and 5 see only equal values (taps reach 2 columns inward at most: 0 .. 2).
    for (uint32_t y = 0; y < 6; ++y) {
        EXPECT_EQ(f.at(0, y).v[0], 0.0f);
        EXPECT_EQ(f.at(0, y).v[1], 0.0f);
        EXPECT_EQ(f.at(5, y).v[0], 0.0f);
        EXPECT_EQ(f.at(5, y).v[1], 0.0f);
        EXPECT_GT(f.at(2, y).v[0], 0.99f);  // the step lies to the right
    }
}

// Centring by sizes alone, truncating toward zero; outside the placed images (0, 0) and 0.
TEST(InfoBuffer, Centring) {
    TestHost host;
    Image<ov::ImgHostGray_U8> h7(7, 7), h10(10, 10);
    h7.fill([](uint32_t x, uint32_t, int) { return 5 * x; });
    h10.fill([](uint32_t x, uint32_t, int) { return 5 * x; });
    Image<ov::ImgHostGray_U8> s7(7, 7);
    s7.fill([](uint32_t x, uint32_t y, int) { return x == 0 && y == 0 ? 200 : 100; });

    Fill<ov::ImgHostGray_U8> f(host, h7.view, s7.view, 10, 10);  // offset 1 (3 / 2)
    f.filter.strengthChannel = 3;
    ASSERT_EQ(f.run(), 0u);
    for (uint32_t y = 0; y < 10; ++y)
        for (uint32_t x = 0; x < 10; ++x) {
            const bool in = x >= 1 && x < 8 && y >= 1 && y < 8;
            EXPECT_EQ(f.at(x, y).v[0], in ? 1.0f : 0.0f) << x << "," << y;
            if (!in) {
                EXPECT_EQ(f.at(x, y).v[1], 0.0f);
            }
            const float want = !in ? 0.0f : (x == 1 && y == 1 ? 1.0f : float(double(float(100 * (1.0 / 255))) / double(float(200 * (1.0 / 255)))));
            EXPECT_EQ(f.at(x, y).v[2], want) << x << "," << y;
        }

    // W = 7 with Wh = 10: offset -1 (not -2). The ramp's border columns 0 and 9 are not seen;
    // buffer column 0 shows image column 1, whose gradient is 21.
    Image<ov::ImgHostGray_U8> s10(10, 10);
    s10.fill([](uint32_t x, uint32_t y, int) { return x == 1 && y == 1 ? 255 : 0; });
    Fill<ov::ImgHostGray_U8> g(host, h10.view, s10.view, 7, 7);
    g.filter.strengthChannel = 3;
    ASSERT_EQ(g.run(), 0u);
    EXPECT_EQ(g.at(0, 0).v[2], 1.0f);   // image pixel (1, 1)
    EXPECT_EQ(g.at(1, 0).v[2], 0.0f);
    EXPECT_EQ(g.at(0, 0).v[0], 1.0f);
}

// 8-bit strengths of 128 inside a smaller strength image: exactly 1 inside after the
// normalisation, 0 outside.
TEST(InfoBuffer, StrengthNormalisation) {
    TestHost host;
    Image<ov::ImgHostGrayA_U8> h(6, 6), s(4, 4);
    h.fill([](uint32_t, uint32_t, int) { return 0; });
    s.fill([](uint32_t, uint32_t, int c) { return c == 1 ? 128 : 7; });
    Fill<ov::ImgHostGrayA_U8> f(host, h.view, s.view, 6, 6);
    f.filter.strengthChannel = 2;  // alpha
    ASSERT_EQ(f.run(), 0u);
    for (uint32_t y = 0; y < 6; ++y)
        for (uint32_t x = 0; x < 6; ++x) {
            const bool in = x >= 1 && x < 5 && y >= 1 && y < 5;
            EXPECT_EQ(f.at(x, y).v[2], in ? 1.0f : 0.0f);
        }
}

// Width 0: nothing written, StatusOk. Height 0: strength 0 everywhere, directions computed.
TEST(InfoBuffer, EmptyStrengthImages) {
    TestHost host;
    Image<ov::ImgHostGray_U8> h(4, 4);
    h.fill([](uint32_t x, uint32_t, int) { return x; });
    Image<ov::ImgHostGray_U8> w0(0, 3), h0(3, 0);
    Fill<ov::ImgHostGray_U8> f(host, h.view, w0.view, 4, 4);
    EXPECT_EQ(f.run(), 0u);
    for (int s = 0; s < 3; ++s) EXPECT_EQ(f.at(2, 2).v[s], kSentinel);
    EXPECT_TRUE(host.progress.empty());

    Fill<ov::ImgHostGray_U8> g(host, h.view, h0.view, 4, 4);
    EXPECT_EQ(g.run(), 0u);
    for (uint32_t y = 0; y < 4; ++y)
        for (uint32_t x = 0; x < 4; ++x) {
            EXPECT_EQ(g.at(x, y).v[0], 1.0f);
            EXPECT_EQ(g.at(x, y).v[2], 0.0f);
        }
}

// Non-positive float strengths are never the maximum; all of them leave max at 0.
TEST(InfoBuffer, NonPositiveStrengthsAreNotDivided) {
    TestHost host;
    Image<ov::ImgHostGray_F1> h(3, 3), s(3, 3);
    h.fill([](uint32_t, uint32_t, int) { return 0.5; });
    s.fill([](uint32_t x, uint32_t, int) { return -0.25 * x; });
    Fill<ov::ImgHostGray_F1> f(host, h.view, s.view, 3, 3);
    f.filter.strengthChannel = 3;
    ASSERT_EQ(f.run(), 0u);
    EXPECT_EQ(f.at(2, 1).v[2], -0.5f);
    EXPECT_EQ(f.at(0, 1).v[2], 0.0f);
    EXPECT_EQ(f.at(1, 1).v[0], 0.0f);
}

// The ChannelSelector table, one row per layout, selectors -3 .. 7.
template <class V>
void check_selectors(std::initializer_list<double> samples, std::initializer_list<double> want) {
    using Px = typename V::pixel_type;
    Px p{};
    int i = 0;
    for (double v : samples) p.v[i++] = static_cast<typename Px::sample_type>(v);
    int sel = -3;
    for (double w : want) {
        EXPECT_EQ(ov::channel_value(p, sel), w) << "selector " << sel;
        ++sel;
    }
}

TEST(InfoBuffer, ChannelSelectorTable) {
    const double i255 = 0.00392156862745098;
    // selectors:                    -3       -2       -1       0        1        2    3    4    5    6    7
    const double lumGA = (100 * i255) * 50;
    check_selectors<ov::ImgHostGrayA_U8>({50, 100}, {lumGA, lumGA, lumGA, lumGA, lumGA, 100, 50, 0, 0, 0, 0});
    check_selectors<ov::ImgHostGray_U8>({50}, {50, 50, 50, 50, 50, 255, 50, 0, 0, 0, 0});
    const double l2 = 0.292687786 * 1000 + 0.552149646 * 2000;
    check_selectors<ov::ImgHostTwoCh_U16>({1000, 2000}, {l2, l2, l2, l2, l2, 32768, 1000, 2000, 0, 0, 0});
    const double l2a = l2 * (16384 * 3.0517578125e-5);
    check_selectors<ov::ImgHostTwoChA_U16>({1000, 2000, 16384}, {l2a, l2a, l2a, l2a, l2a, 16384, 1000, 2000, 0, 0, 0});
    const double l3 = 0.292687786 * 0.25 + 0.552149646 * 0.5 + 0.155162568 * 0.75;
    check_selectors<ov::ImgHostRGB_F1>({0.25, 0.5, 0.75}, {l3, l3, l3, l3, l3, 1.0, 0.25, 0.5, 0.75, 0.75, 0.75});
    const double l3a = l3 * 0.5;
    check_selectors<ov::ImgHostRGBA_F1>({0.25, 0.5, 0.75, 0.5}, {l3a, l3a, l3a, l3a, l3a, 0.5, 0.25, 0.5, 0.75, 0.75, 0.75});
}

// heightChannel 2 without alpha and heightChannel 4 on gray read constants: no direction.
TEST(InfoBuffer, ConstantSelectorsGiveNoDirection) {
    TestHost host;
    Image<ov::ImgHostRGB_U8> rgb(5, 5);
    rgb.randomise(3);
    Fill<ov::ImgHostRGB_U8> f(host, rgb.view, rgb.view, 5, 5);
    f.filter.heightChannel = 2;
    ASSERT_EQ(f.run(), 0u);
    Image<ov::ImgHostGray_U16> gray(5, 5);
    gray.randomise(4);
    Fill<ov::ImgHostGray_U16> g(host, gray.view, gray.view, 5, 5);
    g.filter.heightChannel = 4;
    ASSERT_EQ(g.run(), 0u);
    for (uint32_t y = 0; y < 5; ++y)
        for (uint32_t x = 0; x < 5; ++x) {
            EXPECT_EQ(f.at(x, y).v[0], 0.0f);
            EXPECT_EQ(f.at(x, y).v[1], 0.0f);
            EXPECT_EQ(g.at(x, y).v[0], 0.0f);
            EXPECT_EQ(g.at(x, y).v[1], 0.0f);
        }
}

TEST(InfoBuffer, ProgressCalls) {
    TestHost host;
    Image<ov::ImgHostGray_U8> img(4, 3);
    img.randomise(1);
    Fill<ov::ImgHostGray_U8> f(host, img.view, img.view, 4, 3);
    ASSERT_EQ(f.run(1, 2), 0u);
    const std::vector<std::pair<uint32_t, uint32_t>> want = {{3, 6}, {4, 6}, {5, 6}};
    EXPECT_EQ(host.progress, want);
}

// A stop after row 0: rows 1 .. H-1 untouched, row 0 normalised by its own maximum, and the
// status passed up.
TEST(InfoBuffer, CancelAfterFirstRow) {
    TestHost host;
    host.cancelAtCall = 1;
    Image<ov::ImgHostGray_U8> h(3, 3), s(3, 3);
    h.fill([](uint32_t x, uint32_t, int) { return x; });
    s.fill([](uint32_t x, uint32_t y, int) { return y == 0 ? 50 * (x + 1) : 255; });
    Fill<ov::ImgHostGray_U8> f(host, h.view, s.view, 3, 3);
    f.filter.strengthChannel = 3;
    EXPECT_EQ(f.run(), host.StatusCancelled());
    EXPECT_EQ(host.progress.size(), 1u);
    EXPECT_EQ(f.at(2, 0).v[2], 1.0f);
    EXPECT_EQ(f.at(0, 0).v[2], float(double(float(50 * (1.0 / 255))) / double(float(150 * (1.0 / 255)))));
    for (uint32_t y = 1; y < 3; ++y)
        for (uint32_t x = 0; x < 3; ++x) {
            EXPECT_EQ(f.at(x, y).v[0], kSentinel);
            EXPECT_EQ(f.at(x, y).v[2], float(double(kSentinel) / double(float(150 * (1.0 / 255)))));
        }
}

// The mend: height images 1 pixel wide or high stay inside (ASan would catch a tap beyond)
// and differentiate along their long axis; 1 x 1 gives no direction.
TEST(InfoBuffer, OnePixelWideOrHighHeightImages) {
    TestHost host;
    for (int mode = 0; mode < 3; ++mode) {
        const uint32_t w = mode == 0 ? 1 : (mode == 1 ? 9 : 1);
        const uint32_t h = mode == 0 ? 9 : (mode == 1 ? 1 : 1);
        Image<ov::ImgHostGrayA_F1> img(w, h, 0, 0);
        img.fill([](uint32_t x, uint32_t y, int s) { return s == 1 ? 0.05 * (x + y) : 0.5; });
        Fill<ov::ImgHostGrayA_F1> f(host, img.view, img.view, w, h);
        f.filter.heightChannel = 2;
        f.filter.strengthChannel = 2;
        ASSERT_EQ(f.run(), 0u);
        for (uint32_t y = 0; y < h; ++y)
            for (uint32_t x = 0; x < w; ++x) {
                if (mode == 0) {
                    EXPECT_EQ(f.at(x, y).v[0], 0.0f);
                    EXPECT_EQ(f.at(x, y).v[1], 1.0f);
                } else if (mode == 1) {
                    EXPECT_EQ(f.at(x, y).v[0], 1.0f);
                } else {
                    EXPECT_EQ(f.at(x, y).v[0], 0.0f);
                    EXPECT_EQ(f.at(x, y).v[1], 0.0f);
                }
            }
    }
}

// Mend: non-finite float samples read as 0, so one infinity cannot zero every strength.
TEST(InfoBuffer, NonFiniteSamplesReadAsZero) {
    TestHost host;
    Image<ov::ImgHostGray_F1> h(4, 4), s(4, 4);
    h.fill([](uint32_t x, uint32_t y, int) { return x == 1 && y == 1 ? NAN : 0.25 * x; });
    s.fill([](uint32_t x, uint32_t y, int) { return x == 2 && y == 2 ? INFINITY : 0.5; });
    Fill<ov::ImgHostGray_F1> f(host, h.view, s.view, 4, 4);
    f.filter.strengthChannel = 3;
    ASSERT_EQ(f.run(), 0u);
    for (uint32_t y = 0; y < 4; ++y)
        for (uint32_t x = 0; x < 4; ++x) {
            EXPECT_TRUE(std::isfinite(f.at(x, y).v[0]));
            EXPECT_TRUE(std::isfinite(f.at(x, y).v[1]));
            EXPECT_EQ(f.at(x, y).v[2], x == 2 && y == 2 ? 0.0f : 1.0f);
        }
}

// Small float gradients along one axis give exactly that axis.
TEST(InfoBuffer, SmallFloatGradients) {
    TestHost host;
    Image<ov::ImgHostGray_F1> h(5, 5);
    h.fill([](uint32_t, uint32_t y, int) { return 0.1f * float(y) * 1e-3f; });
    Fill<ov::ImgHostGray_F1> f(host, h.view, h.view, 5, 5);
    ASSERT_EQ(f.run(), 0u);
    for (uint32_t y = 0; y < 5; ++y)
        for (uint32_t x = 0; x < 5; ++x) {
            EXPECT_EQ(f.at(x, y).v[0], 0.0f);
            EXPECT_EQ(f.at(x, y).v[1], 1.0f);
        }
}

}  // namespace
