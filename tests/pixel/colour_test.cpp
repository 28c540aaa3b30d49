// luminance, premultiplication, the BT.709 transfer, clamps and HSL.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "pixel/colour.h"
#include "pixel/formats.h"

using namespace ov;

namespace {

TEST(Luminance, Cases) {
    PxHostRGBA_U8 white{{255, 255, 255, 255}};
    EXPECT_EQ(luminance(white), 255.0 * 0.292687786 + 255.0 * 0.552149646 + 255.0 * 0.155162568);
    EXPECT_NEAR(luminance(white), 255.0, 1e-9);
    PxHostRGBA_U8 clear{{255, 255, 255, 0}};
    EXPECT_EQ(luminance(clear), 0.0);
    PxHostTwoCh_U8 two{{255, 255}};
    EXPECT_NEAR(luminance(two), 0.844837432 * 255, 1e-9);
    DoublePixel<PxWorkTwoChA_F255> twoA{{255, 255, 127.5}};
    EXPECT_EQ(luminance(twoA), (0.292687786 * 255 + 0.552149646 * 255) * (127.5 * (1.0 / 255)));
    DoublePixel<PxWorkGrayA_F32768> grayA{{1000.0, 16384.0}};
    EXPECT_EQ(luminance(grayA), 500.0);
    DoublePixel<PxWorkGray_F1> gray{{0.3}};
    EXPECT_EQ(luminance(gray), 0.3);
    PxHostRGB_U16 rgb{{32768, 0, 0}};
    EXPECT_EQ(luminance(rgb), 0.292687786 * 32768);
}

TEST(Premultiply, RoundTripAndTransparent) {
    DoublePixel<PxWorkRGBA_F255> p{{200.0, 100.0, 50.0, 127.5}};
    premultiply(p);
    EXPECT_EQ(p.v[0], 200.0 * (127.5 * (1.0 / 255)));
    EXPECT_EQ(p.v[3], 127.5);
    unpremultiply(p);
    EXPECT_NEAR(p.v[0], 200.0, 1e-12);
    EXPECT_NEAR(p.v[2], 50.0, 1e-12);
    DoublePixel<PxWorkGrayA_F1> t{{0.7, 0.0}};
    unpremultiply(t);
    EXPECT_EQ(t.v[0], 0.7);  // alpha 0: unchanged
    DoublePixel<PxWorkGrayA_F1> tiny{{0.7, 1e-50}};  // rounds to 0 in single precision
    unpremultiply(tiny);
    EXPECT_EQ(tiny.v[0], 0.7);
    DoublePixel<PxWorkTwoChA_F32768> two{{8192.0, 4096.0, 16384.0}};
    unpremultiply(two);
    EXPECT_EQ(two.v[0], 16384.0);
    EXPECT_EQ(two.v[1], 8192.0);
}

TEST(Premultiply, Fixup) {
    struct Case { double c0, c1, a, e0, e1, ea; };
    const Case cases[] = {
        {0.5, 0.2, 0.4, 1.0, double(0.2 * (1.0 / double(0.5f))), double(0.5f)},
        {0.2, 0.1, 0.4, 0.5, 0.25, 0.4},   // colour below alpha: plain unpremultiply
        {1.5, 0.2, 0.4, 1.5, 0.2, 1.0},    // m >= MAX: alpha MAX, colour unchanged
        {0.0, 0.0, 0.0, 0.0, 0.0, 0.0},    // nothing
        {-0.5, -0.2, -0.1, -0.5, -0.2, -0.1},  // m = 0 (max with 0), af < 0: mf > af, mf == 0 -> alpha MAX
    };
    for (const Case& c : cases) {
        DoublePixel<PxWorkTwoChA_F1> p{{c.c0, c.c1, c.a}};
        unpremultiply_fixup(p);
        if (c.c0 == -0.5) {
            EXPECT_EQ(p.v[2], 1.0);
            EXPECT_EQ(p.v[0], -0.5);
            continue;
        }
        EXPECT_NEAR(p.v[0], c.e0, 1e-7) << c.c0;
        EXPECT_NEAR(p.v[1], c.e1, 1e-7) << c.c0;
        EXPECT_NEAR(p.v[2], c.ea, 1e-7) << c.c0;
    }
    DoublePixel<PxWorkRGBA_F255> rgb{{100.0, 200.0, 50.0, 100.0}};
    unpremultiply_fixup(rgb);
    EXPECT_EQ(rgb.v[3], 200.0);
    EXPECT_DOUBLE_EQ(rgb.v[1], 255.0);
    EXPECT_DOUBLE_EQ(rgb.v[0], 127.5);
    DoublePixel<PxWorkGrayA_F32768> g{{40000.0, 100.0}};
    unpremultiply_fixup(g);
    EXPECT_EQ(g.v[1], 32768.0);
    EXPECT_EQ(g.v[0], 40000.0);
}

// The transfer curve: both branches and the knee.
TEST(Transfer, Table) {
    struct Case { double x, toLinear, fromLinear; };
    const auto pw = [](double b, double e) { return std::pow(b, e); };
    const Case cases[] = {
        {0.0, 0.0, 0.0},
        {0.05, 0.05 * 0.2222222222222222, pw(0.05, 0.45) * 1.099 - 0.099},
        {0.081, 0.081 * 0.2222222222222222, pw(0.081, 0.45) * 1.099 - 0.099},  // knee of to-linear: linear
        {0.0810001, pw((0.0810001 + 0.099) * 0.9099181073703367, 2.2222222222222223), pw(0.0810001, 0.45) * 1.099 - 0.099},
        {0.018, 0.018 * 0.2222222222222222, pw(0.018, 0.45) * 1.099 - 0.099},  // knee of from-linear: power
        {0.0179999, 0.0179999 * 0.2222222222222222, 0.0179999 * 4.5},
        {0.5, pw((0.5 + 0.099) * 0.9099181073703367, 2.2222222222222223), pw(0.5, 0.45) * 1.099 - 0.099},
        {1.0, pw(1.099 * 0.9099181073703367, 2.2222222222222223), 1.099 - 0.099},
        {-0.2, -0.2 * 0.2222222222222222, -0.2 * 4.5},  // negatives stay on the linear segments
    };
    for (const Case& c : cases) {
        EXPECT_EQ(rec709_to_linear(c.x), c.toLinear) << c.x;
        EXPECT_EQ(linear_to_rec709(c.x), c.fromLinear) << c.x;
    }
    EXPECT_NEAR(rec709_to_linear(0.081), 0.018, 1e-15);
    EXPECT_NEAR(linear_to_rec709(0.018), 0.081, 1e-3);
    EXPECT_NEAR(rec709_to_linear(1.0), 1.0, 1e-12);
    for (double x = -0.1; x <= 1.2; x += 0.01)
        EXPECT_NEAR(linear_to_rec709(rec709_to_linear(x)), x, 1e-12) << x;
}

TEST(Transfer, Pixels) {
    DoublePixel<PxWorkRGBA_F255> p{{127.5, 255.0, 10.0, 77.0}};
    rec709_to_linear(p);
    EXPECT_EQ(p.v[0], rec709_to_linear(127.5 * (1.0 / 255)) * 255.0);
    EXPECT_EQ(p.v[2], rec709_to_linear(10.0 * (1.0 / 255)) * 255.0);
    EXPECT_EQ(p.v[3], 77.0);  // alpha untouched
    linear_to_rec709(p);
    EXPECT_NEAR(p.v[0], 127.5, 1e-9);
    EXPECT_NEAR(p.v[1], 255.0, 1e-9);
    PxWorkRGB_F1 f{{0.25f, 0.5f, 0.75f}};
    linear_to_rec709(f);
    EXPECT_EQ(f.v[1], float(linear_to_rec709(0.5)));
    DoublePixel<PxWorkTwoCh_F32768> t{{16384.0, 0.0}};
    rec709_to_linear(t);
    EXPECT_EQ(t.v[0], rec709_to_linear(0.5) * 32768.0);
}

TEST(Clamps, Table) {
    DoublePixel<PxWorkRGBA_F255> p{{-1.0, 300.0, 20.0, 260.0}};
    auto q = p;
    clamp_alpha(q);
    EXPECT_EQ(q.v[3], 255.0);
    EXPECT_EQ(q.v[0], -1.0);
    q = p;
    q.v[3] = -5;
    clamp_alpha(q);
    EXPECT_EQ(q.v[3], 0.0);
    q = p;
    clamp_colour_nonnegative(q);
    EXPECT_EQ(q.v[0], 0.0);
    EXPECT_EQ(q.v[1], 300.0);
    q = p;
    clamp_to_max(q);
    EXPECT_EQ(q.v[0], -1.0);
    EXPECT_EQ(q.v[1], 255.0);
    EXPECT_EQ(q.v[3], 255.0);
    PxWorkRGBA_F32768 f{{-1.0f, 40000.0f, 5.0f, 32769.0f}};
    clamp_pixel(f);
    EXPECT_EQ(f.v[0], 0.0f);
    EXPECT_EQ(f.v[1], 32768.0f);
    EXPECT_EQ(f.v[2], 5.0f);
    EXPECT_EQ(f.v[3], 32768.0f);
    DoublePixel<PxWorkGrayA_F1> g{{0.5, 0.2}};
    raise_alpha(g, 0.1);
    EXPECT_EQ(g.v[1], 0.2);
    raise_alpha(g, 0.7);
    EXPECT_EQ(g.v[1], 0.7);
}

TEST(Hsl, Cases) {
    struct Case { double r, g, b, h, s, l; };
    const Case cases[] = {
        {1, 0, 0, 0, 1, 0.5},
        {0, 0, 1, 4, 1, 0.5},
        {0, 1, 0, 2, 1, 0.5},
        {1, 0, 0.5, 5.5, 1, 0.5},
        {0.5, 0.5, 0.5, 0, 0, 0.5},
        {1, 1, 1, 0, 0, 1},
        {0.75, 0.5, 0.25, (0.5 - 0.25) / 0.5, 0.5 / (2.0 - 0.75 - 0.25), 0.5},
        {0.2, 0.1, 0.1, 0, 0.1 / 0.30000000000000004, 0.15000000000000002},
    };
    for (const Case& c : cases) {
        double h, s, l;
        rgb_to_hsl(c.r, c.g, c.b, h, s, l);
        EXPECT_NEAR(h, c.h, 1e-12) << c.r << " " << c.g << " " << c.b;
        EXPECT_NEAR(s, c.s, 1e-12);
        EXPECT_NEAR(l, c.l, 1e-12);
    }
}

TEST(Hsl, RoundTrips) {
    const double values[] = {0.0, 0.1, 0.25, 0.5, 0.6, 0.9, 1.0};
    for (double r : values)
        for (double g : values)
            for (double b : values) {
                double h, s, l, R, G, B;
                rgb_to_hsl(r, g, b, h, s, l);
                EXPECT_GE(h, 0.0);
                EXPECT_LT(h, 6.0);
                hsl_to_rgb(h, s, l, R, G, B);
                EXPECT_NEAR(R, r, 1e-6) << r << " " << g << " " << b;
                EXPECT_NEAR(G, g, 1e-6) << r << " " << g << " " << b;
                EXPECT_NEAR(B, b, 1e-6) << r << " " << g << " " << b;
                EXPECT_EQ(R, double(float(R)));  // rounded to single precision
            }
}

TEST(Hsl, HueToRgb) {
    EXPECT_EQ(hue_to_rgb(0.1, 0.9, 6.0), 0.1);  // 6.0 is not wrapped
    EXPECT_EQ(hue_to_rgb(0.1, 0.9, -1.0), 0.1);  // -1 -> 5
    EXPECT_EQ(hue_to_rgb(0.0, 1.0, 0.5), 0.5);
    EXPECT_EQ(hue_to_rgb(0.0, 1.0, 2.0), 1.0);
    EXPECT_EQ(hue_to_rgb(0.0, 1.0, 3.5), 0.5);
    EXPECT_EQ(hue_to_rgb(0.0, 1.0, 7.5), 1.0);  // 7.5 -> 1.5, below 3: m2
    double R, G, B;
    hsl_to_rgb(1.0, 0.0, 0.3, R, G, B);
    EXPECT_EQ(R, double(0.3f));
    EXPECT_EQ(G, R);
    EXPECT_EQ(B, R);
}

}  // namespace
