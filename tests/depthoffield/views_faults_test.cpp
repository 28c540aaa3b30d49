// Depth-of-field views where a small slip would still pass the per-view tests: the depth
// map's placement against the image in both directions, and the depth level the sharp zone
// reads for a pixel between the whole levels.
#include <cstdint>
#include <cstring>
#include <vector>

#include <gtest/gtest.h>

#include "depthoffield/depth_of_field_filter.h"
#include "dof_test_support.h"

using namespace dof_test;

namespace {

// A depth map placed one column left and one row below the image (with the source at origin
// 2, 3) renders exactly like an unshifted map holding the same bytes where each image pixel
// reads them: image (x, y) reads map (x + 1, y + 1), and pixels past the map read depth 0.
template <class View>
void expectShiftedMapEqualsShiftedBytes(int view) {
    constexpr uint32_t W = 5, H = 4;
    DepthOfFieldParams p = defaultParams(10.0);
    p.view = view;
    p.focal_point = 100.0;
    TestHost hostA, hostB;
    Rig<View> shifted(hostA, W, H, p), plain(hostB, W, H, p);
    for (uint32_t y = 0; y < H; ++y)
        for (uint32_t x = 0; x < W; ++x) shifted.depth.at(x, y) = uint8_t(40 * y + 9 * x + 3);
    shifted.filter.source.originX = 2;
    shifted.filter.source.originY = 3;
    shifted.filter.depth_map.originX = 1;
    shifted.filter.depth_map.originY = 2;
    for (uint32_t y = 0; y < H; ++y)
        for (uint32_t x = 0; x < W; ++x)
            plain.depth.at(x, y) = x + 1 < W && y + 1 < H ? shifted.depth.at(x + 1, y + 1) : 0;
    ASSERT_EQ(shifted.filter.render(0, 1), 0u) << view;
    ASSERT_EQ(plain.filter.render(0, 1), 0u) << view;
    for (uint32_t y = 0; y < H; ++y)
        for (uint32_t x = 0; x < W; ++x)
            EXPECT_EQ(std::memcmp(&shifted.dst.at(x, y), &plain.dst.at(x, y), sizeof(typename View::pixel_type)), 0)
                << "view " << view << " at " << x << "," << y;
    EXPECT_EQ(hostA.liveBlocks(), 0u);
}

}  // namespace

TEST(DepthMapPlacement, OriginsShiftTheMapInBothDirections) {
    for (int view : {1, 3, 6, 7}) {
        expectShiftedMapEqualsShiftedBytes<ov::ImgHostGray_U8>(view);
        expectShiftedMapEqualsShiftedBytes<ov::ImgHostRGBA_U16>(view);
    }
}

// The sharp zone judges a pixel at the level the blur gives it: the curve value times 255,
// truncated. Byte 128 reads curve entry 16448, 0.50197 (level 128.002, so 128: on the straight
// curve a byte is its own level); with curve exponent 2 it reads 0.25197 (level 64.25, so
// 64). Radius 51: r = 0.2 |level - focal| + 1, sharp while r <= 1.5, that is within 2.5
// levels of the focal point.
TEST(DepthViewsRouting, SharpZoneReadsTheTruncatedLevel) {
    struct Case {
        double curve, focal;
        bool sharp;
    };
    const Case cases[] = {
        {1.0, 125.6, true},   // 2.4 from 128
        {1.0, 130.6, false},  // 2.6 from 128
        {1.0, 128.0, true},
        {2.0, 61.6, true},    // 2.4 from 64
        {2.0, 66.6, false},   // 2.6 from 64
        {2.0, 125.6, false},  // the curve moves the pixel away from level 128
    };
    for (const Case& c : cases) {
        TestHost host;
        DepthOfFieldParams p = defaultParams(51.0);
        p.view = 7;
        p.depth_curve = c.curve;
        p.focal_point = c.focal;
        Rig<ov::ImgHostGray_U8> rig(host, 3, 2, p);
        rig.src.fill(makePixel<ov::PxHostGray_U8>(0, 0));
        for (uint32_t y = 0; y < 2; ++y)
            for (uint32_t x = 0; x < 3; ++x) rig.depth.at(x, y) = 128;
        ASSERT_EQ(rig.filter.render(0, 1), 0u);
        for (uint32_t y = 0; y < 2; ++y)
            for (uint32_t x = 0; x < 3; ++x)
                EXPECT_EQ(rig.dst.at(x, y).v[0], c.sharp ? 127 : 0) << "curve " << c.curve << " focal " << c.focal;
    }
}
