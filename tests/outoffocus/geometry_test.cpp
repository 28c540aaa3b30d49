// Sizes of the out-of-focus grids and the transfer tables.
#include <gtest/gtest.h>

#include <cmath>

#include "oof_test_support.h"
#include "outoffocus/out_of_focus_filter.h"

using namespace ov;
using oof_test::plainParams;

namespace {

OutOfFocusGeometry sizes(uint32_t w, uint32_t h, double radius, double softness = 0.0,
                         double aspect = 0.0) {
    OutOfFocusParams p = plainParams(radius, true);
    p.iris_softness = softness;
    p.iris_aspect = aspect;
    OutOfFocusGeometry g;
    EXPECT_TRUE(computeOutOfFocusGeometry(w, h, p, 1.0, nullptr, g));
    return g;
}

struct SizeCase {
    uint32_t w, h;
    double radius, softness, aspect;
    int32_t margin, marginX, marginY, padW, padH, fftW, fftH;
};

class Sizes : public ::testing::TestWithParam<SizeCase> {};

TEST_P(Sizes, FollowTheMarginRule) {
    const SizeCase c = GetParam();
    const OutOfFocusGeometry g = sizes(c.w, c.h, c.radius, c.softness, c.aspect);
    EXPECT_EQ(g.margin, c.margin);
    EXPECT_EQ(g.marginX, c.marginX);
    EXPECT_EQ(g.marginY, c.marginY);
    EXPECT_EQ(g.paddedWidth, c.padW);
    EXPECT_EQ(g.paddedHeight, c.padH);
    EXPECT_EQ(g.fftWidth, c.fftW);
    EXPECT_EQ(g.fftHeight, c.fftH);
    EXPECT_EQ(g.fftRowLength, c.fftW + 2);
    EXPECT_EQ(g.imageX, (c.padW - int32_t(c.w)) / 2);
    EXPECT_EQ(g.imageY, (c.padH - int32_t(c.h)) / 2);
    // The padded sides are even, capped at three image sides (plus one for evenness), and
    // the image has at least the kernel's reach on each side unless the cap cut it.
    EXPECT_EQ(g.paddedWidth % 2, 0);
    EXPECT_LE(g.paddedWidth, 3 * int32_t(c.w) + 1);
    EXPECT_GE(g.imageX, std::min(g.reachX, int32_t(c.w)));
    EXPECT_GE(g.imageY, std::min(g.reachY, int32_t(c.h)));
}

// Without softness and aspect the kernel reaches exactly trunc(r + 1): the sizes are those
// of the plain margin rule. Softness and aspect reach further than the plain rule allows
// for, and the sizes grow with them.
INSTANTIATE_TEST_SUITE_P(
    OutOfFocus, Sizes,
    ::testing::Values(
        // 100 x 80, radius 10: margin 11, padded 122 x 102, transform 128 x 128.
        SizeCase{100, 80, 10.0, 0.0, 0.0, 11, 11, 11, 122, 102, 128, 128},
        // Radius 5 on 100 x 80: margin 6, padded 112 x 92.
        SizeCase{100, 80, 5.0, 0.0, 0.0, 6, 6, 6, 112, 92, 128, 128},
        // Radius 0.5 on 63 x 40: width 65 rounded up to 66; transform 128 x 64.
        SizeCase{63, 40, 0.5, 0.0, 0.0, 1, 1, 1, 66, 42, 128, 64},
        // The cap before the rounding: radius 20 on 5 x 4 gives 15 -> 16 and 12.
        SizeCase{5, 4, 20.0, 0.0, 0.0, 21, 21, 21, 16, 12, 16, 16},
        // One column, radius 20: 43 capped to 3, raised to 4.
        SizeCase{1, 80, 20.0, 0.0, 0.0, 21, 21, 21, 4, 122, 4, 128},
        // 3000 x 2000, radius 50: margin 51, padded 3102 x 2102, transform 4096 x 4096.
        SizeCase{3000, 2000, 50.0, 0.0, 0.0, 51, 51, 51, 3102, 2102, 4096, 4096},
        // Softness, changed by the real reach: radius 10, softness 10 on 100 x 100. The
        // plain allowance adds trunc(2 r s / (W + H)) = 1 (margin 12, padded 124); the
        // softening radius 2 d s / (124 + 124) = 1.61 blurs 2 pixels beyond the aperture's 11,
        // so the margin is 13 and the padded side 126.
        SizeCase{100, 100, 10.0, 10.0, 0.0, 12, 13, 13, 126, 126, 128, 128},
        // Radius 10, softness 100 on 800 x 600: the plain rule gives margin 12 (824 x 624);
        // the softening radius 4000 / 1448 = 2.76 reaches 3 beyond 11: margin 14.
        SizeCase{800, 600, 10.0, 100.0, 0.0, 12, 14, 14, 828, 628, 1024, 1024},
        // Aspect 0.75 stretches the aperture to a horizontal radius of 17.94.
        SizeCase{100, 80, 10.0, 0.0, 0.75, 11, 17, 11, 134, 102, 256, 128},
        // Aspect -0.75 stretches it vertically.
        SizeCase{100, 80, 10.0, 0.0, -0.75, 11, 11, 17, 122, 114, 128, 128}));

TEST(OutOfFocusSizes, SelectionAsIrisReachesItsZoomedExtent) {
    OutOfFocusParams p = plainParams(10.0, true);
    // A 50 x 50 selection spans d + 1 = 21 kernel pixels: half of it and the zoom's partial
    // pixels at most 12 from the centre.
    IrisImageExtent iris{50, 50, 1.0};
    OutOfFocusGeometry g;
    ASSERT_TRUE(computeOutOfFocusGeometry(100, 100, p, 1.0, &iris, g));
    EXPECT_EQ(g.reachX, 12);
    EXPECT_EQ(g.reachY, 12);
    EXPECT_EQ(g.marginX, 12);
    // A selection 90 x 50 spans 1.8 times as many columns as rows.
    IrisImageExtent wide{90, 50, 1.0};
    ASSERT_TRUE(computeOutOfFocusGeometry(100, 100, p, 1.0, &wide, g));
    EXPECT_EQ(g.reachX, 20);
    EXPECT_EQ(g.reachY, 12);
}

TEST(OutOfFocusSizes, TheIrisViewSizesAreCappedAtThreeSides) {
    OutOfFocusParams p = plainParams(10.0, true);
    p.view = 2;  // the aperture follows the window's size: it may fill the window
    OutOfFocusGeometry g;
    ASSERT_TRUE(computeOutOfFocusGeometry(40, 30, p, 1.0, nullptr, g));
    EXPECT_EQ(g.paddedWidth, 120);
    EXPECT_EQ(g.paddedHeight, 90);
    EXPECT_EQ(g.imageX, 40);
    EXPECT_EQ(g.imageY, 30);
}

TEST(OutOfFocusSizes, EmptyAndOversizedImagesAreRefused) {
    const OutOfFocusParams p = plainParams(5.0, true);
    OutOfFocusGeometry g;
    EXPECT_FALSE(computeOutOfFocusGeometry(0, 10, p, 1.0, nullptr, g));
    EXPECT_FALSE(computeOutOfFocusGeometry(10, 0, p, 1.0, nullptr, g));
    // A side beyond 2^30 cannot be transformed (nextPowerOfTwo's domain).
    EXPECT_FALSE(computeOutOfFocusGeometry(1u << 30, 4, p, 1.0, nullptr, g));
    EXPECT_TRUE(computeOutOfFocusGeometry((1u << 30) - 64, 4, p, 1.0, nullptr, g));
    EXPECT_EQ(g.fftWidth, 1 << 30);
}

TEST(OutOfFocusSizes, NotANumberRadiusOrScaleStaysFinite) {
    OutOfFocusParams p = plainParams(std::nan(""), true);
    OutOfFocusGeometry g;
    ASSERT_TRUE(computeOutOfFocusGeometry(10, 10, p, 1.0, nullptr, g));
    EXPECT_EQ(g.margin, 0);
    p = plainParams(5.0, true);
    p.scale_x = p.scale_y = 0.0;
    ASSERT_TRUE(computeOutOfFocusGeometry(10, 10, p, 1.0, nullptr, g));
    EXPECT_EQ(g.paddedWidth, 30);  // an unbounded reach is capped at three sides
}

TEST(TransferTables, IdentityWithoutGamma) {
    std::vector<float> to(kTransferTableSize), from(kTransferTableSize);
    for (double max : {255.0, 32768.0, 1.0}) {
        fillTransferTables(to.data(), from.data(), false, max);
        for (int i : {0, 1, 12914, 16383, 32766, 32767}) {
            EXPECT_EQ(to[i], float(i * (1.0 / 32767)));
            EXPECT_EQ(from[i], float(i * (1.0 / 32767) * max));
        }
        EXPECT_EQ(from[32767], float(max));
    }
    // A colour that scales to 100.5 of 255 reads entry 12914, about 100.4996.
    fillTransferTables(to.data(), from.data(), false, 255.0);
    EXPECT_NEAR(from[12914], 100.4996, 1e-4);
}

TEST(TransferTables, Bt709WithGamma) {
    std::vector<float> to(kTransferTableSize), from(kTransferTableSize);
    fillTransferTables(to.data(), from.data(), true, 255.0);
    EXPECT_EQ(to[0], 0.0f);
    EXPECT_EQ(from[0], 0.0f);
    EXPECT_EQ(to[32767], 1.0f);
    EXPECT_EQ(from[32767], 255.0f);
    for (int i = 1; i < kTransferTableSize; i += 997) {
        const double x = i / 32767.0;
        const double lin = x > 0.081 ? std::pow((x + 0.099) / 1.099, 1 / 0.45) : x / 4.5;
        const double enc = x >= 0.018 ? 1.099 * std::pow(x, 0.45) - 0.099 : 4.5 * x;
        EXPECT_NEAR(to[i], lin, 1e-6);
        EXPECT_NEAR(from[i], enc * 255.0, 1e-4);
        EXPECT_LE(to[i - 1], to[i]);
    }
}

}  // namespace
