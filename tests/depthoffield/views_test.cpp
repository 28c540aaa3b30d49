// The depth-of-field views in all 18 host formats: depth buffer, sharp zone, the plain copy
// at radius 0, the iris and the two highlight-selection views, and the views outside the list.
#include <cmath>
#include <cstdint>
#include <cstring>
#include <vector>

#include <gtest/gtest.h>

#include "depthoffield/depth_of_field_filter.h"
#include "dof_test_support.h"

using namespace dof_test;

template <class View>
class DepthViews : public ::testing::Test {};
TYPED_TEST_SUITE(DepthViews, AllHostFormats);

namespace {

template <class Pixel>
double alphaOf(const Pixel& p) {
    if constexpr (Pixel::has_alpha) return double(p.v[Pixel::alpha_index]);
    else return Pixel::max_value;
}

}  // namespace

// Depth buffer: the depth-curve value times MAX as gray (16-bit full intensity is 32768),
// opaque; the depth map is aligned with the source by their origins.
TYPED_TEST(DepthViews, DepthBuffer) {
    using View = TypeParam;
    using P = typename View::pixel_type;
    TestHost host;
    DepthOfFieldParams p = defaultParams(10.0);
    p.view = 3;
    Rig<View> rig(host, 4, 2, p);
    // The depth map's origin lies one column right of the image's: image column x reads map
    // column x - 1, so image column 0 falls outside the map (depth 0).
    const uint8_t bytes[4] = {128, 255, 64, 0};
    for (uint32_t x = 0; x < 4; ++x) rig.depth.at(x, 0) = rig.depth.at(x, 1) = bytes[x];
    rig.filter.depth_map.originX = 1;
    // Table values (floats) of the expected entries: byte 128 -> entry 16448, 64 -> 8224.
    auto entry = [](int i) { return double(float(i * 3.051850947599719e-05)); };
    const double want[4] = {0.0, entry(16448), 1.0, entry(8224)};
    ASSERT_EQ(rig.filter.render(0, 1), 0u);
    for (uint32_t y = 0; y < 2; ++y)
        for (uint32_t x = 0; x < 4; ++x) {
            const P& px = rig.dst.at(x, y);
            const double g = P::is_integer ? std::floor(want[x] * P::max_value) : double(float(want[x]));
            for (int c = 0; c < P::colour_count; ++c) EXPECT_EQ(double(px.v[c]), g) << x;
            EXPECT_EQ(alphaOf(px), P::max_value);
        }
    if constexpr (std::is_same_v<typename P::sample_type, unsigned short>) {
        EXPECT_EQ(rig.dst.at(1, 0).v[0], 16448);  // byte 128 in 16-bit
        EXPECT_EQ(rig.dst.at(2, 0).v[0], 32768);
    }
    // Without depth data: one gray, curve[0] (0) or, inverted, curve[32767] (MAX).
    rig.filter.depth_map = ov::ImgDepth8();
    rig.filter.params.depth_invert = 1;
    ASSERT_EQ(rig.filter.render(0, 1), 0u);
    for (uint32_t x = 0; x < 4; ++x) EXPECT_EQ(double(rig.dst.at(x, 1).v[0]), P::max_value);
    EXPECT_EQ(host.liveBlocks(), 0u);
}

// Sharp zone: halfway to white where the level's radii stay within 1.5 pixels, half dark
// elsewhere. Radius 51: r = 0.2 |d - focal| + 1, so a level within 2 of the focal point is
// sharp (r = 1.4) and one 3 away is not (r = 1.6).
TYPED_TEST(DepthViews, SharpZone) {
    using View = TypeParam;
    using P = typename View::pixel_type;
    using T = typename P::sample_type;
    constexpr double M = P::max_value;
    // Source samples and what becomes of them inside and outside the zone.
    struct Sample {
        double in, sharp, blurred;
    };
    std::vector<Sample> samples;
    if constexpr (P::is_float)
        samples = {{0.0, 0.5, 0.0}, {1.0, 1.0, 0.5}, {0.5, 0.75, 0.25}, {1.5, 1.0, 0.75}};
    else if constexpr (P::max_int == 255)
        samples = {{0, 127, 0}, {255, 255, 127}, {100, 177, 50}};
    else
        samples = {{0, 16384, 0}, {32768, 32768, 16384}, {40000, 32768, 20000}, {101, 16434, 50}};
    TestHost host;
    DepthOfFieldParams p = defaultParams(51.0);
    p.view = 7;
    const uint32_t W = uint32_t(samples.size());
    Rig<View> rig(host, W, 2, p);
    // Row 0 lies at depth 255 (level 255), row 1 at depth 0 (level 0).
    for (uint32_t x = 0; x < W; ++x) {
        rig.depth.at(x, 0) = 255;
        rig.depth.at(x, 1) = 0;
        for (uint32_t y = 0; y < 2; ++y) {
            P px = makePixel<P>(samples[x].in, samples[x].in);
            rig.src.at(x, y) = px;
        }
    }
    struct Focus {
        double focal;
        bool sharpAt255, sharpAt0;
    };
    for (const Focus& f : {Focus{253, true, false}, Focus{252, false, false}, Focus{2, false, true},
                           Focus{3, false, false}, Focus{255, true, false}}) {
        rig.filter.params.focal_point = f.focal;
        ASSERT_EQ(rig.filter.render(0, 1), 0u);
        for (uint32_t y = 0; y < 2; ++y) {
            const bool sharp = y == 0 ? f.sharpAt255 : f.sharpAt0;
            for (uint32_t x = 0; x < W; ++x) {
                const Sample& s = samples[x];
                const double want = sharp ? s.sharp : s.blurred;
                const P& px = rig.dst.at(x, y);
                for (int c = 0; c < P::colour_count; ++c)
                    EXPECT_EQ(double(px.v[c]), want) << "focal " << f.focal << " row " << y << " col " << x;
                if constexpr (P::has_alpha) {
                    // Alpha is copied, and clamped to MAX inside the zone.
                    const double a = sharp ? std::min(s.in, M) : double(T(s.in));
                    EXPECT_EQ(double(px.v[P::alpha_index]), a);
                }
            }
        }
    }
    EXPECT_EQ(host.liveBlocks(), 0u);
}

// Radius 0 blurs nothing: "normal blur" and "info density" copy the source sample for sample
// (after the full set-up, kernels included).
TYPED_TEST(DepthViews, PlainCopyAtRadiusZero) {
    using View = TypeParam;
    using P = typename View::pixel_type;
    for (int view : {1, 6}) {
        TestHost host;
        DepthOfFieldParams p = defaultParams(0.0);
        p.view = view;
        Rig<View> rig(host, 9, 5, p);
        fillRandom(rig.src, 11 + view);
        for (uint32_t y = 0; y < 5; ++y)
            for (uint32_t x = 0; x < 9; ++x) rig.depth.at(x, y) = uint8_t(x * 30 + y);
        ASSERT_EQ(rig.filter.render(0, 1), 0u);
        for (uint32_t y = 0; y < 5; ++y)
            for (uint32_t x = 0; x < 9; ++x)
                ASSERT_EQ(std::memcmp(&rig.src.at(x, y), &rig.dst.at(x, y), sizeof(P)), 0) << x << "," << y;
        // The kernel store held 256 kernels: 4 blocks were asked (three tables and the store).
        EXPECT_EQ(host.sizes.size(), 4u);
        EXPECT_EQ(host.liveBlocks(), 0u);
    }
}

// Iris view: the aperture centred, gray coverage on black, opaque; its size a fixed fraction
// of the full image, d = 50 (Wf / 640 + Hf / 480) full-image pixels, but no wider and no
// taller than the image (d = side / 2 - 1 when 2 d exceeds a side).
TYPED_TEST(DepthViews, IrisGeometry) {
    using View = TypeParam;
    using P = typename View::pixel_type;
    struct Case {
        uint32_t w, h;
        double sf;
        double radius;  // expected radius in rendered pixels
    };
    // 64 x 48: d = 10. 16 x 12 at scale factor 4: d = 10 full-image pixels = 2.5 pixels.
    // A wide strip 200 x 20 (d would be 17.7) and a tall one 20 x 200 (22.4): d = 9.
    for (const Case& c : {Case{64, 48, 1.0, 10.0}, Case{16, 12, 4.0, 2.5}, Case{200, 20, 1.0, 9.0},
                          Case{20, 200, 1.0, 9.0}}) {
        TestHost host;
        DepthOfFieldParams p = defaultParams(5.0);
        p.view = 2;
        p.iris_roundness = 1.0;  // round: a disc
        p.iris_facets = 12;
        p.scale_x = p.scale_y = c.sf;
        Rig<View> rig(host, c.w, c.h, p);
        ASSERT_EQ(rig.filter.render(0, 1), 0u);
        const int32_t cx = int32_t(c.w / 2), cy = int32_t(c.h / 2);
        double covered = 0.0;
        for (uint32_t y = 0; y < c.h; ++y)
            for (uint32_t x = 0; x < c.w; ++x) {
                const P& px = rig.dst.at(x, y);
                const double v = double(px.v[0]) / P::max_value;
                for (int k = 1; k < P::colour_count; ++k) EXPECT_EQ(px.v[k], px.v[0]);
                EXPECT_EQ(alphaOf(px), P::max_value);
                covered += v;
                const double dist = std::hypot(double(int32_t(x) - cx), double(int32_t(y) - cy));
                if (dist > c.radius + 1.5) {
                    EXPECT_EQ(v, 0.0) << x << "," << y;
                }
                if (dist < c.radius - 1.5) {
                    EXPECT_GE(v, 0.99) << x << "," << y;
                }
            }
        // The disc covers about pi (d - 1/2)^2 pixels (measured: within 0.3% at d = 9 and 10).
        const double area = 3.14159265358979 * (c.radius - 0.5) * (c.radius - 0.5);
        EXPECT_NEAR(covered, area, c.radius < 5 ? 0.4 * area : 0.03 * area);
        EXPECT_EQ(host.liveBlocks(), 0u);
    }
}

// Images too small for an aperture (the radius d = W / 2 - 1 is 0 or negative) draw an
// empty or tiny iris without failing.
TEST(DepthViewsRouting, IrisOfTinyImages) {
    for (uint32_t side : {1u, 2u, 3u}) {
        TestHost host;
        DepthOfFieldParams p = defaultParams(5.0);
        p.view = 2;
        Rig<ov::ImgHostRGBA_F1> rig(host, side, side, p);
        EXPECT_EQ(rig.filter.render(0, 1), 0u) << side;
        for (uint32_t y = 0; y < side; ++y)
            for (uint32_t x = 0; x < side; ++x) {
                EXPECT_GE(rig.dst.at(x, y).v[0], 0.0f);
                EXPECT_LE(rig.dst.at(x, y).v[0], 1.0f);
                EXPECT_EQ(rig.dst.at(x, y).v[3], 1.0f);
            }
        EXPECT_EQ(host.liveBlocks(), 0u);
    }
}

// Highlight selection: the weighted source (view 4) or the weight alone (view 5, mask mode),
// opaque in every format, also where the source is translucent (the black half).
TYPED_TEST(DepthViews, HighlightSelection) {
    using View = TypeParam;
    using P = typename View::pixel_type;
    TestHost host;
    DepthOfFieldParams p = defaultParams(5.0);
    // Lightness window 0.25..1: white (lightness 0.5 as gray or two-channel, 1 as RGB) is a
    // highlight, black is not.
    p.highlight_selection.lightnessLow = 0.25;
    Rig<View> rig(host, 6, 3, p);
    for (uint32_t y = 0; y < 3; ++y)
        for (uint32_t x = 0; x < 6; ++x)
            rig.src.at(x, y) = makePixel<P>(x < 3 ? P::max_value : 0.0, x < 3 ? P::max_value : P::max_value * 0.25);
    for (int view : {4, 5}) {
        rig.filter.params.view = view;
        rig.filter.params.highlight_selection.maskMode = view == 5 ? 1 : 0;
        ASSERT_EQ(rig.filter.render(0, 1), 0u);
        for (uint32_t y = 0; y < 3; ++y)
            for (uint32_t x = 0; x < 6; ++x) {
                const P& px = rig.dst.at(x, y);
                EXPECT_EQ(alphaOf(px), P::max_value);
                if (x >= 3) {
                    EXPECT_EQ(double(px.v[0]), 0.0) << view;  // black is no highlight
                }
            }
        // White is a highlight: mask mode shows its full weight.
        if (view == 5) {
            EXPECT_EQ(double(rig.dst.at(0, 0).v[0]), P::max_value);
        } else {
            EXPECT_GT(double(rig.dst.at(0, 0).v[0]), 0.0);
        }
    }
    EXPECT_EQ(host.liveBlocks(), 0u);
}

// Views outside 1..7 draw nothing and succeed; every view leaves nothing allocated.
TEST(DepthViewsRouting, ViewsOutsideTheListDrawNothing) {
    for (int view : {0, 8, -1, 1000}) {
        TestHost host;
        DepthOfFieldParams p = defaultParams(5.0);
        p.view = view;
        Rig<ov::ImgHostRGB_U16> rig(host, 5, 4, p);
        const std::vector<unsigned char> before = rig.dst.bytes;
        EXPECT_EQ(rig.filter.render(0, 1), 0u) << view;
        EXPECT_EQ(rig.dst.bytes, before) << view;
        EXPECT_EQ(host.liveBlocks(), 0u);
    }
}

// The blur views run the tile renderer; the set-up runs and releases everything.
TEST(DepthViewsRouting, BlurViewsWithARadiusRunTheTileRenderer) {
    for (int view : {1, 6}) {
        TestHost host;
        DepthOfFieldParams p = defaultParams(5.0);
        p.view = view;
        Rig<ov::ImgHostRGB_U8> rig(host, 5, 4, p);
        const uint32_t status = rig.filter.render(0, 1);
        EXPECT_EQ(status, 0u) << status;
        EXPECT_EQ(host.liveBlocks(), 0u);
    }
}

// Whether a level is sharp is decided on full-image radii formed in a fixed order, so cases
// that land on 1.5 follow the rounding: radius 0 and aspect 0.5 give X = 1.5 at scale factor
// 1 (sharp) but 1.5000000000000002 at scale factor 5 (not sharp); aspect 0.6 is never sharp.
TEST(DepthViewsRouting, SharpZoneAtOneAndAHalf) {
    struct Case {
        double aspect, sf;
        bool sharp;
    };
    for (const Case& c : {Case{0.5, 1, true}, Case{0.5, 5, false}, Case{-0.5, 1, true}, Case{0.6, 1, false},
                          Case{0.0, 1, true}}) {
        TestHost host;
        DepthOfFieldParams p = defaultParams(0.0);
        p.view = 7;
        p.iris_aspect = c.aspect;
        p.scale_x = p.scale_y = c.sf;
        Rig<ov::ImgHostGray_U8> rig(host, 3, 2, p);
        rig.src.fill(makePixel<ov::PxHostGray_U8>(0, 0));
        ASSERT_EQ(rig.filter.render(0, 1), 0u);
        for (uint32_t y = 0; y < 2; ++y)
            for (uint32_t x = 0; x < 3; ++x)
                EXPECT_EQ(rig.dst.at(x, y).v[0], c.sharp ? 127 : 0) << c.aspect << " " << c.sf;
    }
}

// The iris view draws the aspect as the blur uses it: a positive aspect widens the aperture
// (rx = d (1 + aspect), ry = d (1 - aspect)), a negative one makes it tall. 128 x 96: d = 20,
// so aspect 0.5 gives an ellipse 30 wide and 10 high (half-axes).
TEST(DepthViewsRouting, IrisAspectStretchesTheAperture) {
    for (double aspect : {0.5, -0.5}) {
        TestHost host;
        DepthOfFieldParams p = defaultParams(5.0);
        p.view = 2;
        p.iris_roundness = 1.0;
        p.iris_facets = 12;
        p.iris_aspect = aspect;
        Rig<ov::ImgHostGray_F1> rig(host, 128, 96, p);
        ASSERT_EQ(rig.filter.render(0, 1), 0u);
        const double wide = aspect > 0 ? 30.0 : 10.0, high = aspect > 0 ? 10.0 : 30.0;
        for (uint32_t y = 0; y < 96; ++y)
            for (uint32_t x = 0; x < 128; ++x) {
                const double ex = (double(x) - 64.0) / wide, ey = (double(y) - 48.0) / high;
                const double r = std::sqrt(ex * ex + ey * ey);
                const float v = rig.dst.at(x, y).v[0];
                if (r > 1.2) {
                    EXPECT_EQ(v, 0.0f) << aspect << " at " << x << "," << y;
                }
                if (r < 0.8) {
                    EXPECT_GE(v, 0.99f) << aspect << " at " << x << "," << y;
                }
            }
    }
}
