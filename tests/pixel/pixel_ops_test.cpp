// the double pixel and its operations.
#include <gtest/gtest.h>

#include <cmath>

#include "pixel/formats.h"
#include "pixel/pixel_ops.h"

using namespace ov;

namespace {

using DRGBA = DoublePixel<PxWorkRGBA_F255>;
using DRGB = DoublePixel<PxWorkRGB_F255>;
using DTwoA = DoublePixel<PxWorkTwoChA_F1>;
using DGray = DoublePixel<PxWorkGray_F32768>;

TEST(PixelOps, DoublePixelSampleCounts) {
    EXPECT_EQ(DoublePixel<PxWorkGray_F1>::sample_count, 1);
    EXPECT_EQ(DoublePixel<PxWorkGrayA_F1>::sample_count, 2);
    EXPECT_EQ(DoublePixel<PxWorkTwoCh_F1>::sample_count, 2);
    EXPECT_EQ(DoublePixel<PxWorkTwoChA_F1>::sample_count, 3);
    EXPECT_EQ(DoublePixel<PxWorkRGB_F1>::sample_count, 3);
    EXPECT_EQ(DoublePixel<PxWorkRGBA_F1>::sample_count, 4);
    EXPECT_EQ(DoublePixel<PxHostTwoCh_U8>::sample_count, 2);
    EXPECT_EQ(DoublePixel<PxHostRGB_U8>::sample_count, 3);
    EXPECT_EQ(sizeof(DRGBA), 4 * sizeof(double));
}

TEST(PixelOps, AccumulateThenSubtractIsExactlyZero) {
    PxWorkRGBA_F255 f{{0.1f, 254.9f, 1e-7f, 3.3f}};
    DRGBA sum{};
    accumulate(sum, f);
    subtract_pixel(sum, f);
    for (double v : sum.v) EXPECT_EQ(v, 0.0);
    accumulate(sum, f);
    for (int i = 0; i < 4; ++i) EXPECT_EQ(sum.v[i], double(f.v[i]));
}

TEST(PixelOps, AccumulateWeighted) {
    PxWorkRGB_F255 f{{1.5f, 2.0f, -4.0f}};
    DRGB sum{{1.0, 1.0, 1.0}};
    accumulateWeighted(sum, f, 0.5);
    EXPECT_EQ(sum.v[0], 1.75);
    EXPECT_EQ(sum.v[1], 2.0);
    EXPECT_EQ(sum.v[2], -1.0);
    const DRGB before = sum;
    accumulateWeighted(sum, f, 0.0);  // w = 0 leaves a double sum unchanged
    for (int i = 0; i < 3; ++i) EXPECT_EQ(sum.v[i], before.v[i]);
    // double into double
    DRGB src{{2.0, 4.0, 8.0}};
    accumulateWeighted(sum, src, 0.25);
    EXPECT_EQ(sum.v[0], 2.25);
    // into a float pixel with the EXTRA sample (5 samples), rounded once
    PxWeightedRGBA_F1 dst{{0.1f, 0.2f, 0.3f, 0.4f, 0.5f}};
    const PxWeightedRGBA_F1 keep = dst;
    PxWeightedRGBA_F1 s5{{1.0f, 1.0f, 1.0f, 1.0f, 1.0f}};
    accumulateWeighted(dst, s5, 0.0);
    for (int i = 0; i < 5; ++i) EXPECT_EQ(dst.v[i], keep.v[i]);
    accumulateWeighted(dst, s5, 0.1);
    for (int i = 0; i < 5; ++i) EXPECT_EQ(dst.v[i], float(1.0 * 0.1 + double(keep.v[i])));
    DoublePixel<PxWeightedRGBA_F1> d5{{1.0, 2.0, 3.0, 4.0, 5.0}};
    accumulateWeighted(dst, d5, 2.0);
    EXPECT_EQ(dst.v[4], float(2.0 * 5.0 + double(float(0.1 + double(keep.v[4])))));
}

TEST(PixelOps, LerpScaleAssign) {
    DTwoA p{{0.8, 0.4, 0.9}}, q{{0.2, 0.0, 0.1}};
    DTwoA r = p;
    lerp(r, q, 1.0);
    EXPECT_EQ(r.v[0], 0.8);
    EXPECT_EQ(r.v[1], 0.4);
    r = p;
    lerp(r, q, 0.0);
    EXPECT_EQ(r.v[0], 0.2);
    EXPECT_EQ(r.v[1], 0.0);
    EXPECT_EQ(r.v[2], 0.9);  // alpha unchanged
    r = p;
    lerp(r, q, 0.5);
    EXPECT_EQ(r.v[0], (0.8 - 0.2) * 0.5 + 0.2);
    r = p;
    scale_alpha(r, 0.5);
    EXPECT_EQ(r.v[0], 0.8);
    EXPECT_EQ(r.v[1], 0.4);
    EXPECT_EQ(r.v[2], 0.45);
    scale_colour(r, 2.0);
    EXPECT_EQ(r.v[0], 1.6);
    EXPECT_EQ(r.v[2], 0.45);
    DTwoA a{};
    assign(a, p);
    EXPECT_EQ(a.v[2], 0.9);
    DTwoA c{{0, 0, 0.3}};
    assign_colour(c, q);
    EXPECT_EQ(c.v[0], 0.2);
    EXPECT_EQ(c.v[2], 0.3);
}

TEST(PixelOps, AssignOpaque) {
    DoublePixel<PxWorkRGB_F32768> rgb{{1.0, 2.0, 3.0}};
    DoublePixel<PxWorkRGBA_F32768> out{};
    assign_opaque(out, rgb);
    EXPECT_EQ(out.v[3], 32768.0);
    EXPECT_EQ(out.v[2], 3.0);
    DoublePixel<PxWorkGray_F255> g{{7.0}};
    DoublePixel<PxWorkGrayA_F255> ga{};
    assign_opaque(ga, g);
    EXPECT_EQ(ga.v[1], 255.0);
    DoublePixel<PxWorkTwoCh_F1> t{{0.5, 0.25}};
    DoublePixel<PxWorkTwoChA_F1> ta{};
    assign_opaque(ta, t);
    EXPECT_EQ(ta.v[2], 1.0);
    EXPECT_EQ(ta.v[1], 0.25);
}

TEST(PixelOps, ToDouble) {
    PxHostRGBA_U16 p{{1, 2, 32768, 65535}};
    auto d = to_double(p);
    static_assert(std::is_same_v<decltype(d), DoublePixel<PxHostRGBA_U16>>);
    EXPECT_EQ(d.v[3], 65535.0);
    (void)DGray{};
}

}  // namespace
