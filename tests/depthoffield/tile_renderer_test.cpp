// The depth-of-field tile renderer through the filter: invariants (uniform stays uniform, an
// all-sharp image comes back unchanged, threads and grids do not change the picture),
// occlusion in both directions, the info-density picture, highlight boosting, sample
// hygiene (non-finite floats, 16-bit samples beyond full intensity) and cancellation.
#include <algorithm>
#include <memory>
#include <type_traits>
#include <cmath>
#include <cstdio>
#include <iterator>

#include "depthoffield/depth_of_field_tiles_impl.h"
#include "tile_test_support.h"

using namespace ov;
using namespace tile_test;

namespace {

// The largest difference of any sample between two images.
template <class View>
double maxDiff(const Image<View>& a, const Image<View>& b) {
    using P = typename View::pixel_type;
    double m = 0.0;
    for (uint32_t y = 0; y < a.height; ++y)
        for (uint32_t x = 0; x < a.width; ++x)
            for (int i = 0; i < P::base_count; ++i)
                m = std::max(m, std::fabs(double(a.at(x, y).v[i]) - double(b.at(x, y).v[i])));
    return m;
}

// A depth map with a vertical ramp, a sharp block and some noise: every kernel size at once.
void fillDepthScene(DepthMap& d, uint32_t seed) {
    std::mt19937 rng(seed);
    for (uint32_t y = 0; y < d.height; ++y)
        for (uint32_t x = 0; x < d.width; ++x) {
            int v = int(y * 255 / (d.height - 1));
            if (x > d.width / 3 && x < d.width / 2) v = 255;
            v += int(rng() % 9) - 4;
            d.at(x, y) = uint8_t(std::clamp(v, 0, 255));
        }
}

// ---- uniform stays uniform ----------------------------------------------------------------

template <class View>
class TileUniform : public ::testing::Test {};
using UniformFormats = ::testing::Types<ImgHostRGB_U8, ImgHostRGBA_U8, ImgHostGrayA_U16, ImgHostTwoCh_U16,
                                        ImgHostRGBA_F1, ImgHostGray_F1>;
TYPED_TEST_SUITE(TileUniform, UniformFormats);

// Any depth map, any gamma and both highlight variants: the layers of one colour compose and
// fill to that colour, the same at every pixel. 8-bit formats come back exactly; 16-bit ones
// exactly without gamma and within the transfer tables' round trip with it (see
// SixteenBitError); float formats within 5e-6 (the kernel weights sum to 1 in float). Integer
// formats without alpha and without gamma truncate at output, so a blurred sample whose sum
// of weights falls a rounding step short of 1 is written one level lower, never higher.
TYPED_TEST(TileUniform, StaysUniform) {
    using View = TypeParam;
    using P = typename View::pixel_type;
    constexpr bool k16 = std::is_same_v<typename P::sample_type, unsigned short>;
    for (int variant = 0; variant < 4; ++variant) {
        Rig<View> rig(40, 30, 3);
        P c{};
        for (int i = 0; i < P::colour_count; ++i) c.v[i] = typename P::sample_type(P::max_value * (0.2 + 0.3 * i));
        if constexpr (P::has_alpha) c.v[P::alpha_index] = typename P::sample_type(P::max_value * 0.75);
        for (uint32_t y = 0; y < 30; ++y)
            for (uint32_t x = 0; x < 40; ++x) rig.source.at(x, y) = c;
        fillDepthScene(rig.depth, 7);
        rig.params.blur_radius = 6.0;
        const bool gamma = (variant & 1) != 0;
        rig.params.gamma_correction = gamma ? 1 : 0;
        rig.params.highlight_selection.lightnessLow = 0.0;  // everything is a highlight
        rig.params.highlight_preservative = (variant & 2) ? 5.0 : 0.0;
        ASSERT_EQ(rig.render(), kStatusOk);
        const double tol = !P::is_integer ? 5e-6 : (k16 && gamma ? 12.0 : 0.0);
        const bool truncated = P::is_integer && !P::has_alpha && !gamma;
        const bool sameEverywhere = P::is_integer && !(k16 && gamma) && !truncated;
        const P first = rig.destination.at(0, 0);
        for (uint32_t y = 0; y < 30; ++y)
            for (uint32_t x = 0; x < 40; ++x)
                for (int i = 0; i < P::base_count; ++i) {
                    const double got = double(rig.destination.at(x, y).v[i]);
                    if (truncated) {
                        ASSERT_TRUE(got == double(c.v[i]) || got == double(c.v[i]) - 1.0)
                            << "variant " << variant << " at " << x << "," << y << " sample " << i << ": " << got;
                        continue;
                    }
                    ASSERT_NEAR(got, double(c.v[i]), tol) << "variant " << variant << " at " << x << "," << y << " sample " << i;
                    if (sameEverywhere) {
                        ASSERT_EQ(got, double(first.v[i])) << "variant " << variant << " at " << x << "," << y;
                    }
                }
    }
}

// ---- all in focus -------------------------------------------------------------------------

// With every depth at the focal point the kernels are one pixel: the image comes back.
// 8-bit: exactly, with gamma on and off, with alpha for any alpha (the colour of a fully
// transparent pixel is lost: it is not compared). Float without gamma: within 3e-7 relative (single-precision
// division by alpha). Float with gamma: within 3e-4 (the two transfer formulas are not exact
// inverses near their knee, x = 0.081 / 0.018).
template <class View>
void allInFocus(bool gamma, double alphaLo, double tol) {
    using P = typename View::pixel_type;
    Rig<View> rig(33, 21, 2);
    fillRandom(rig.source, 11, alphaLo);
    std::fill(rig.depth.bytes.begin(), rig.depth.bytes.end(), uint8_t(255));
    rig.params.blur_radius = 12.0;
    rig.params.gamma_correction = gamma ? 1 : 0;
    ASSERT_EQ(rig.render(), kStatusOk);
    double worst = 0.0;
    for (uint32_t y = 0; y < 21; ++y)
        for (uint32_t x = 0; x < 33; ++x)
            for (int i = 0; i < P::base_count; ++i) {
                if constexpr (P::has_alpha) {
                    if (i != P::alpha_index && rig.source.at(x, y).v[P::alpha_index] == 0) continue;
                }
                const double want = double(rig.source.at(x, y).v[i]);
                const double got = double(rig.destination.at(x, y).v[i]);
                worst = std::max(worst, std::fabs(got - want));
            }
    EXPECT_LE(worst, tol) << "gamma " << gamma << " alpha from " << alphaLo;
}

TEST(TileInFocus, ReturnsInput) {
    for (bool gamma : {false, true}) {
        allInFocus<ImgHostRGB_U8>(gamma, 0.0, 0.0);
        allInFocus<ImgHostGray_U8>(gamma, 0.0, 0.0);
        allInFocus<ImgHostRGBA_U8>(gamma, 1.0, 0.0);   // opaque
        allInFocus<ImgHostTwoChA_U8>(gamma, 1.0, 0.0);
        allInFocus<ImgHostRGB_F1>(gamma, 0.0, gamma ? 3e-4 : 3e-7);
        allInFocus<ImgHostRGBA_F1>(gamma, gamma ? 1.0 : 0.05, gamma ? 3e-4 : 3e-7);
    }
    allInFocus<ImgHostRGBA_U8>(false, 0.0, 0.0);        // translucent, gamma off
    allInFocus<ImgHostGrayA_U8>(false, 0.0, 0.0);
    // Translucent with gamma on: colour is linearised straight and divided by alpha before
    // the encode, so it comes back as an opaque pixel does.
    allInFocus<ImgHostRGBA_U8>(true, 0.0, 0.0);
    allInFocus<ImgHostGrayA_U8>(true, 0.0, 0.0);
    allInFocus<ImgHostRGBA_U16>(true, 0.0, 13.0);
    allInFocus<ImgHostRGBA_F1>(true, 0.05, 3e-4);
}

// 16-bit samples pass the 32768-entry tables, whose index steps are coarser than the 16-bit
// levels: with gamma on, values come back within 13 levels of 32768 (11 on random pixels;
// largest just above the decode knee, where the table is steepest); without gamma exactly.
TEST(TileInFocus, SixteenBitError) {
    allInFocus<ImgHostRGB_U16>(false, 0.0, 0.0);
    allInFocus<ImgHostRGB_U16>(true, 0.0, 11.0);
    // Every level 0..32768 once in each channel: exact without gamma, within 13 levels with it
    // (the largest, 2659 -> 2646, just above the decode knee).
    for (bool gamma : {false, true}) {
        constexpr uint32_t W = 182, H = 181;  // 32942 pixels
        Rig<ImgHostRGB_U16> rig(W, H, 2);
        for (uint32_t y = 0; y < H; ++y)
            for (uint32_t x = 0; x < W; ++x)
                for (uint32_t i = 0; i < 3; ++i)
                    rig.source.at(x, y).v[i] = uint16_t((y * W + x + i * 11000) % 32769);
        std::fill(rig.depth.bytes.begin(), rig.depth.bytes.end(), uint8_t(255));
        rig.params.blur_radius = 12.0;
        rig.params.gamma_correction = gamma ? 1 : 0;
        ASSERT_EQ(rig.render(), kStatusOk);
        double worst = 0.0;
        for (uint32_t y = 0; y < H; ++y)
            for (uint32_t x = 0; x < W; ++x)
                for (int i = 0; i < 3; ++i)
                    worst = std::max(worst, std::fabs(double(rig.destination.at(x, y).v[i]) -
                                                      double(rig.source.at(x, y).v[i])));
        EXPECT_LE(worst, gamma ? 13.0 : 0.0) << "gamma " << gamma;
    }
}

// A depth map of one value d with the focal point at d is in focus: byte d is depth level d,
// whose kernel is one pixel (the curve table's entry just below d / 255 would make it level
// d - 1 for every d from 1 to 254, blurred by one level's radius, 2 pixels here). Gamma off:
// exact; gamma on: within the transfer tables' round trip (see above).
template <class View>
double worstAtFocus(int d, bool gamma) {
    using P = typename View::pixel_type;
    Rig<View> rig(33, 21, 2);
    fillRandom(rig.source, 5);
    std::fill(rig.depth.bytes.begin(), rig.depth.bytes.end(), uint8_t(d));
    rig.params.blur_radius = 255.0;
    rig.params.focal_point = double(d);
    rig.params.gamma_correction = gamma ? 1 : 0;
    EXPECT_EQ(rig.render(), kStatusOk);
    double worst = 0.0;
    for (uint32_t y = 0; y < 21; ++y)
        for (uint32_t x = 0; x < 33; ++x)
            for (int i = 0; i < P::base_count; ++i)
                worst = std::max(worst, std::fabs(double(rig.destination.at(x, y).v[i]) -
                                                  double(rig.source.at(x, y).v[i])));
    return worst;
}

TEST(TileInFocus, DepthEqualToTheFocalPointIsSharp) {
    for (int d : {0, 1, 64, 128, 254, 255}) {
        SCOPED_TRACE(testing::Message() << "depth and focal point " << d);
        for (bool gamma : {false, true}) {
            EXPECT_EQ(worstAtFocus<ImgHostRGB_U8>(d, gamma), 0.0) << "gamma " << gamma;
            EXPECT_EQ(worstAtFocus<ImgHostGray_U8>(d, gamma), 0.0) << "gamma " << gamma;
            EXPECT_LE(worstAtFocus<ImgHostRGB_U16>(d, gamma), gamma ? 13.0 : 0.0) << "gamma " << gamma;
            EXPECT_LE(worstAtFocus<ImgHostRGB_F1>(d, gamma), gamma ? 3e-4 : 3e-7) << "gamma " << gamma;
        }
    }
}

// ---- threads and grids --------------------------------------------------------------------


// Threads that cannot be started leave the pool with fewer threads; the render runs on those
// and gives the bits of one thread.
TEST(TileThreads, ThreadsThatCannotStartGiveTheSameBits) {
    struct Lift {
        ~Lift() { pel::platform::LimitThreadStartsForTesting(-1); }
    } lift;
    Rig<ImgHostRGBA_U8> one(160, 120, 1), few(160, 120, 8);
    for (auto* rig : {&one, &few}) {
        fillRandom(rig->source, 21, 0.3);
        fillDepthScene(rig->depth, 4);
        rig->params.blur_radius = 3.0;
    }
    ASSERT_EQ(one.render(), kStatusOk);
    pel::platform::LimitThreadStartsForTesting(2);
    ASSERT_EQ(few.render(), kStatusOk);
    pel::platform::LimitThreadStartsForTesting(-1);
    EXPECT_EQ(few.host.threadPool.ThreadCount(), 3);
    EXPECT_TRUE(few.destination.samePixels(one.destination));
}
// A fixed grid renders the same bits on 1, 2 and 8 threads (tiles land on different workers'
// buffers, which the host fills with a pattern: nothing of an earlier tile may be read), also
// when there are buffers for fewer workers than run: a worker without a slot does no work.
TEST(TileThreads, FixedGridSameBitsOnAnyThreadCount) {
    struct Run {
        int threads, slots;
    };
    const Run runs[] = {{1, 1}, {2, 2}, {8, 8}, {8, 3}, {8, 1}};
    for (int variant = 0; variant < 2; ++variant) {
        Image<ImgHostRGBA_U8>* first = nullptr;
        std::vector<std::unique_ptr<Rig<ImgHostRGBA_U8>>> rigs;
        for (const Run& run : runs) {
            rigs.push_back(std::make_unique<Rig<ImgHostRGBA_U8>>(48, 36, run.threads));
            Rig<ImgHostRGBA_U8>& rig = *rigs.back();
            fillRandom(rig.source, 5, 0.3);
            fillDepthScene(rig.depth, 2);
            rig.params.blur_radius = 7.0;
            rig.params.highlight_preservative = variant ? 8.0 : 0.0;
            ASSERT_EQ(rig.renderGrid(3, 4, run.threads, -1, run.slots), kStatusOk);
            if (!first) first = &rig.destination;
            else
                EXPECT_TRUE(rig.destination.samePixels(*first))
                    << run.threads << " threads, " << run.slots << " slots, variant " << variant;
        }
    }
}

// One tile against a grid of 4 x 5: every source reaching a core lies in its padded tile, so
// the layers agree; only the hole fill differs, since the hole sums run along each padded row
// from its start and the backgrounds gathered near a tile's edge differ. Measured: within 3
// levels of 255 at 60 x 45 and 5 at 64 x 47, and the great majority of pixels identical.
// Sizes that the grid does not divide (64 = 5 x 12 + 4 columns, 47 = 4 x 11 + 3 rows) give
// the last column and row the remainder: no strip at the right or bottom edge keeps the
// destination's earlier content.
TEST(TileThreads, OneTileAgreesWithFineGrid) {
    struct Size {
        uint32_t w, h;
        int tol;
    };
    for (const Size& sz : {Size{60, 45, 3}, Size{64, 47, 5}}) {
        Rig<ImgHostRGB_U8> one(sz.w, sz.h), fine(sz.w, sz.h);
        for (auto* rig : {&one, &fine}) {
            fillRandom(rig->source, 9);
            fillDepthScene(rig->depth, 4);
            rig->params.blur_radius = 8.0;
        }
        ASSERT_EQ(one.renderGrid(1, 1, 1), kStatusOk);
        ASSERT_EQ(fine.renderGrid(4, 5, 2), kStatusOk);
        size_t same = 0, total = 0;
        for (uint32_t y = 0; y < sz.h; ++y)
            for (uint32_t x = 0; x < sz.w; ++x)
                for (int i = 0; i < 3; ++i, ++total) {
                    const int a = one.destination.at(x, y).v[i], b = fine.destination.at(x, y).v[i];
                    EXPECT_LE(std::abs(a - b), sz.tol) << sz.w << " x " << sz.h << " at " << x << "," << y;
                    same += a == b;
                }
        EXPECT_GE(double(same) / double(total), 0.9) << sz.w << " x " << sz.h;
    }
}

// The whole render of an image large enough for several tiles, with a tall and a wide iris:
// the coverage picture ("info density") equals that of a single tile, since every source
// that reaches a core lies in its tile's margin whatever the grid (coverage sums may round
// differently along rows that start elsewhere: within 1 level); and "normal blur" renders
// the same bits on 1 and 8 threads.
TEST(TileThreads, WholeRenderMarginsHoldEverySource) {
    for (double aspect : {-0.6, 0.6}) {
        const auto setUp = [aspect](Rig<ImgHostRGB_U8>& rig, int view) {
            fillRandom(rig.source, 3);
            fillDepthScene(rig.depth, 8);
            rig.params.blur_radius = 8.0;
            rig.params.iris_aspect = aspect;
            rig.params.view = view;
        };
        Rig<ImgHostRGB_U8> whole(300, 200, 1), one(300, 200, 1);
        for (auto* rig : {&whole, &one}) setUp(*rig, 6);
        ASSERT_EQ(whole.render(), kStatusOk);
        EXPECT_GT(whole.host.reports.load(), 0u);
        ASSERT_EQ(one.renderGrid(1, 1, 1), kStatusOk);
        int worst = 0;
        for (uint32_t y = 0; y < 200; ++y)
            for (uint32_t x = 0; x < 300; ++x)
                for (int i = 0; i < 3; ++i)
                    worst = std::max(worst, std::abs(int(whole.destination.at(x, y).v[i]) - int(one.destination.at(x, y).v[i])));
        EXPECT_LE(worst, 1) << "aspect " << aspect;

        Rig<ImgHostRGB_U8> eight(300, 200, 8);
        for (auto* rig : {&whole, &eight}) setUp(*rig, 1);
        ASSERT_EQ(whole.render(), kStatusOk);
        ASSERT_EQ(eight.render(), kStatusOk);
        EXPECT_TRUE(whole.destination.samePixels(eight.destination)) << "aspect " << aspect;
    }
}

// Strips lying either way, one or a few pixels thin, are cut along their long side into
// several tiles. Their coverage picture equals that of one tile (within 1 level, as above:
// every source reaching a core lies in its margin, also at the seams along the strip), and
// "normal blur" renders the same bits on 1 and 8 threads, on buffers the host fills with a
// pattern. The depth map is noise with a sharp run, so neighbouring kernels differ.
TEST(TileThreads, StripsCutAlongTheirLongSide) {
    struct Size {
        uint32_t w, h;
    };
    for (const Size& sz : {Size{700, 1}, Size{1, 700}, Size{650, 3}, Size{2, 600}}) {
        SCOPED_TRACE(testing::Message() << sz.w << " x " << sz.h);
        const auto setUp = [&](Rig<ImgHostRGB_U8>& rig, int view) {
            fillRandom(rig.source, 6);
            std::mt19937 rng(11);
            for (uint32_t y = 0; y < sz.h; ++y)
                for (uint32_t x = 0; x < sz.w; ++x) {
                    const uint32_t along = std::max(x, y);
                    rig.depth.at(x, y) = along > 200 && along < 260 ? 255 : uint8_t(rng() % 256);
                }
            rig.params.blur_radius = 8.0;
            rig.params.view = view;
        };
        // The grid the render lays: the strip is cut along its long side only.
        Rig<ImgHostRGB_U8> probe(sz.w, sz.h);
        setUp(probe, 1);
        unsigned rx = 0, ry = 0;
        max_blur_extent(probe.params, 1.0, rx, ry);
        TileSet2D grid{};
        grid.init(int32_t(sz.w), int32_t(sz.h), Rectangle{-int32_t(rx), int32_t(rx), -int32_t(ry), int32_t(ry)},
                  tileGridSlots(sz.w, sz.h, rx, ry));
        ASSERT_GE(grid.count(), 4);
        EXPECT_EQ(sz.w > sz.h ? grid.rows : grid.cols, 1);

        Rig<ImgHostRGB_U8> whole(sz.w, sz.h, 1), one(sz.w, sz.h, 1);
        for (auto* rig : {&whole, &one}) setUp(*rig, 6);
        ASSERT_EQ(whole.render(), kStatusOk);
        ASSERT_EQ(one.renderGrid(1, 1, 1), kStatusOk);
        int worst = 0;
        for (uint32_t y = 0; y < sz.h; ++y)
            for (uint32_t x = 0; x < sz.w; ++x)
                for (int i = 0; i < 3; ++i)
                    worst = std::max(worst, std::abs(int(whole.destination.at(x, y).v[i]) - int(one.destination.at(x, y).v[i])));
        EXPECT_LE(worst, 1);

        Rig<ImgHostRGB_U8> eight(sz.w, sz.h, 8);
        for (auto* rig : {&whole, &eight}) setUp(*rig, 1);
        ASSERT_EQ(whole.render(), kStatusOk);
        ASSERT_EQ(eight.render(), kStatusOk);
        EXPECT_TRUE(whole.destination.samePixels(eight.destination));
    }
}

// ---- occlusion ----------------------------------------------------------------------------

// A sharp foreground (depth 255 = focus) in front of a blurred background (depth 0): the
// foreground keeps every pixel up to its edge; the background next to it is blurred.
TEST(TileOcclusion, SharpForegroundKeepsItsEdge) {
    Rig<ImgHostRGB_U8> rig(40, 30);
    for (uint32_t y = 0; y < 30; ++y)
        for (uint32_t x = 0; x < 40; ++x) {
            const bool fg = x >= 15 && x < 25 && y >= 10 && y < 20;
            rig.depth.at(x, y) = fg ? 255 : 0;
            const uint8_t v = fg ? 200 : ((x / 2 + y / 2) % 2 ? 250 : 10);  // checker behind
            rig.source.at(x, y) = PxHostRGB_U8{{v, uint8_t(v / 2), 40}};
        }
    rig.params.blur_radius = 6.0;
    ASSERT_EQ(rig.render(), kStatusOk);
    for (uint32_t y = 10; y < 20; ++y)
        for (uint32_t x = 15; x < 25; ++x)
            for (int i = 0; i < 3; ++i) ASSERT_EQ(rig.destination.at(x, y).v[i], rig.source.at(x, y).v[i]) << x << "," << y;
    // The checker behind is smoothed: far from the block its extremes are gone.
    for (uint32_t x = 0; x < 10; ++x) {
        EXPECT_GT(rig.destination.at(x, 3).v[0], 40);
        EXPECT_LT(rig.destination.at(x, 3).v[0], 230);
    }
}

// A blurred foreground (depth 255 with the focus at 0) in front of a sharp background: the
// foreground's colour spreads over the background next to it, and the background far from it
// stays as it is.
TEST(TileOcclusion, BlurredForegroundSpreadsOverSharpBackground) {
    Rig<ImgHostRGB_U8> rig(40, 30);
    for (uint32_t y = 0; y < 30; ++y)
        for (uint32_t x = 0; x < 40; ++x) {
            const bool fg = x >= 15 && x < 25 && y >= 10 && y < 20;
            rig.depth.at(x, y) = fg ? 255 : 0;
            rig.source.at(x, y) = fg ? PxHostRGB_U8{{250, 250, 250}} : PxHostRGB_U8{{20, uint8_t(20 + x), 20}};
        }
    rig.params.blur_radius = 5.0;
    rig.params.focal_point = 0.0;
    ASSERT_EQ(rig.render(), kStatusOk);
    // Two pixels outside the block's left edge: lit by the foreground.
    EXPECT_GT(rig.destination.at(13, 15).v[0], 60);
    // Far from the block: the sharp background unchanged.
    for (uint32_t x = 0; x < 6; ++x)
        for (int i = 0; i < 3; ++i) EXPECT_EQ(rig.destination.at(x, 2).v[i], rig.source.at(x, 2).v[i]) << x;
}

// ---- info density -------------------------------------------------------------------------

// Full coverage is black with full alpha; over-covered pixels turn green (channel 1), holes
// red (channel 0); the third channel stays 0.
TEST(TileInfoDensity, Colouring) {
    Rig<ImgHostRGBA_U8> rig(40, 30);
    fillRandom(rig.source, 8);
    for (uint32_t y = 0; y < 30; ++y)
        for (uint32_t x = 0; x < 40; ++x) rig.depth.at(x, y) = (x >= 15 && x < 25 && y >= 10 && y < 20) ? 255 : 0;
    rig.params.view = 6;
    rig.params.blur_radius = 5.0;
    rig.params.focal_point = 0.0;
    ASSERT_EQ(rig.render(), kStatusOk);
    bool red = false, green = false;
    for (uint32_t y = 0; y < 30; ++y)
        for (uint32_t x = 0; x < 40; ++x) {
            const PxHostRGBA_U8& p = rig.destination.at(x, y);
            ASSERT_EQ(p.v[2], 0);
            ASSERT_EQ(p.v[3], 255);
            ASSERT_TRUE(p.v[0] == 0 || p.v[1] == 0) << x << "," << y;
            red |= p.v[0] > 20;
            green |= p.v[1] > 20;
        }
    EXPECT_TRUE(red);    // inside the blurred block's rim: its layer alone does not cover
    EXPECT_TRUE(green);  // just outside: the block's layer over the fully covering background
    // Far from the block a sharp pixel is covered exactly once: black.
    EXPECT_EQ(rig.destination.at(2, 2).v[0], 0);
    EXPECT_EQ(rig.destination.at(2, 2).v[1], 0);
}

// ---- highlight boosting -------------------------------------------------------------------

// A bright point in a dark, blurred field: with boosting its disc is brighter than the plain
// path's; away from the disc both are the same bits; a strength of 0 is the plain path.
TEST(TileHighlights, BrightPointAgainstPlainPath) {
    auto run = [](double strength, bool enabled) {
        auto rig = std::make_unique<Rig<ImgHostRGB_U8>>(41, 41, 2);
        for (uint32_t y = 0; y < 41; ++y)
            for (uint32_t x = 0; x < 41; ++x) rig->source.at(x, y) = PxHostRGB_U8{{30, 30, 40}};
        rig->source.at(20, 20) = PxHostRGB_U8{{255, 255, 255}};
        rig->params.blur_radius = 6.0;
        rig->params.highlight_preservative = strength;
        rig->params.highlight_selection.enabled = enabled ? 1 : 0;
        EXPECT_EQ(rig->render(), kStatusOk);
        return rig;
    };
    const auto plain = run(0.0, true);
    const auto off = run(20.0, false);
    const auto boosted = run(20.0, true);
    EXPECT_TRUE(off->destination.samePixels(plain->destination));
    EXPECT_GT(boosted->destination.at(20, 20).v[0], plain->destination.at(20, 20).v[0] + 20);
    EXPECT_GT(boosted->destination.at(23, 20).v[0], plain->destination.at(23, 20).v[0] + 20);
    for (uint32_t y = 0; y < 41; ++y)
        for (uint32_t x = 0; x < 41; ++x)
            if (std::hypot(double(x) - 20.0, double(y) - 20.0) > 9.0) {
                for (int i = 0; i < 3; ++i)
                    ASSERT_EQ(boosted->destination.at(x, y).v[i], plain->destination.at(x, y).v[i]) << x << "," << y;
            }
}

// A nearly transparent white pixel is no highlight: its weight is taken from the premultiplied
// pixel, which is almost black, so boosting renders the same bits as the plain path. An
// opaque white pixel at the same place is one (the boosted render differs).
template <class View>
void translucentWhiteIsNoHighlight(double alpha) {
    using P = typename View::pixel_type;
    auto run = [](double strength, double whiteAlpha) {
        auto rig = std::make_unique<Rig<View>>(31, 31, 2);
        for (uint32_t y = 0; y < 31; ++y)
            for (uint32_t x = 0; x < 31; ++x)
                rig->source.at(x, y) = engine_test::makePixel<P>(P::max_value * 0.1, P::max_value);
        rig->source.at(15, 15) = engine_test::makePixel<P>(P::max_value, whiteAlpha);
        rig->params.blur_radius = 6.0;
        rig->params.highlight_preservative = strength;
        EXPECT_EQ(rig->render(), kStatusOk);
        return rig;
    };
    EXPECT_TRUE(run(20.0, alpha)->destination.samePixels(run(0.0, alpha)->destination)) << alpha;
    EXPECT_FALSE(run(20.0, P::max_value)->destination.samePixels(run(0.0, P::max_value)->destination));
}

TEST(TileHighlights, NearlyTransparentWhiteIsNoHighlight) {
    translucentWhiteIsNoHighlight<ImgHostRGBA_U8>(1.0);
    translucentWhiteIsNoHighlight<ImgHostRGBA_U16>(100.0);
}

// ---- sample hygiene -----------------------------------------------------------------------

// A not-a-number or infinite float sample reads as 0: the picture equals that of the image
// with zeros there (and stays finite).
TEST(TileSamples, NonFiniteFloatsReadAsZero) {
    Rig<ImgHostRGBA_F1> bad(30, 20), zero(30, 20);
    for (auto* rig : {&bad, &zero}) {
        fillRandom(rig->source, 6, 0.5);
        fillDepthScene(rig->depth, 3);
        rig->params.blur_radius = 5.0;
    }
    bad.source.at(10, 10).v[0] = std::nanf("");
    bad.source.at(11, 10).v[1] = INFINITY;
    bad.source.at(12, 10).v[3] = -INFINITY;
    zero.source.at(10, 10).v[0] = 0.0f;
    zero.source.at(11, 10).v[1] = 0.0f;
    zero.source.at(12, 10).v[3] = 0.0f;
    ASSERT_EQ(bad.render(), kStatusOk);
    ASSERT_EQ(zero.render(), kStatusOk);
    EXPECT_TRUE(bad.destination.samePixels(zero.destination));
}

// Float samples beyond the largest half-float (65504) count as 65504, and those below -65504
// as -65504: a patch of 1e10, 1e20 or 3e38 renders the same bits as a patch of 65504, and an
// alpha of 1e20 or 3e38 the same bits as an alpha of 65504 (alpha is bounded like colour,
// before the premultiply), instead of overflowing the layer and hole sums or drowning the
// picture in their rounding residue. Alpha so small that its reciprocal overflows is divided
// in double precision, and no render holds a sample that is not finite.
TEST(TileSamples, HugeFloatsCountAsTheLargestHalfFloat) {
    struct Patch {
        float value;    // the patch's samples (colour, or alpha when `alpha`)
        float bounded;  // what the patch renders like
        bool alpha;
    };
    const Patch patches[] = {{1e10f, 65504.0f, false},  {1e20f, 65504.0f, false}, {3e38f, 65504.0f, false},
                             {-1e10f, -65504.0f, false}, {-1e20f, -65504.0f, false}, {65505.0f, 65504.0f, false},
                             {1e20f, 65504.0f, true},    {3e38f, 65504.0f, true},    {-1e20f, -65504.0f, true}};
    auto scene = [](auto& rig, const Patch& p, float value, bool gamma, double highlight) {
        using P = typename std::remove_reference_t<decltype(rig.source)>::Pixel;
        fillRandom(rig.source, 6, 0.5);
        fillDepthScene(rig.depth, 3);
        rig.params.blur_radius = 5.0;
        rig.params.gamma_correction = gamma ? 1 : 0;
        rig.params.highlight_preservative = highlight;
        for (uint32_t y = 8; y < 13; ++y)
            for (uint32_t x = 10; x < 16; ++x) {
                if (!p.alpha)
                    for (int i = 0; i < P::colour_count; ++i) rig.source.at(x, y).v[i] = value;
                if constexpr (P::has_alpha) rig.source.at(x, y).v[P::alpha_index] = p.alpha ? value : 1.0f;
            }
    };
    auto finite = [](const auto& img) {
        for (uint32_t y = 0; y < img.height; ++y)
            for (uint32_t x = 0; x < img.width; ++x)
                for (float v : img.at(x, y).v)
                    if (!std::isfinite(v)) return false;
        return true;
    };
    // The patch against its bounded value, in one format.
    auto compare = [&](auto format, const Patch& p, bool gamma, double highlight) {
        using Img = typename decltype(format)::type;
        Rig<Img> huge(30, 20), bounded(30, 20);
        scene(huge, p, p.value, gamma, highlight);
        scene(bounded, p, p.bounded, gamma, highlight);
        ASSERT_EQ(huge.render(), kStatusOk);
        ASSERT_EQ(bounded.render(), kStatusOk);
        EXPECT_TRUE(huge.destination.samePixels(bounded.destination))
            << p.value << (p.alpha ? " alpha" : " colour") << " gamma " << gamma << " highlight " << highlight;
        EXPECT_TRUE(finite(huge.destination)) << p.value << " gamma " << gamma;
    };
    for (const Patch& p : patches)
        for (bool gamma : {false, true})
            for (double highlight : {0.0, 6.0}) {
                compare(std::type_identity<ImgHostRGBA_F1>{}, p, gamma, highlight);
                compare(std::type_identity<ImgHostGrayA_F1>{}, p, gamma, highlight);
                if (!p.alpha) compare(std::type_identity<ImgHostGray_F1>{}, p, gamma, highlight);
            }
    // Alpha so small that its reciprocal overflows.
    for (float alpha : {1e-39f, 1e-44f}) {
        Rig<ImgHostRGBA_F1> rig(30, 20);
        scene(rig, Patch{0.5f, 0.5f, false}, 0.5f, false, 0.0);
        for (uint32_t y = 0; y < 20; ++y)
            for (uint32_t x = 0; x < 30; ++x) rig.source.at(x, y).v[3] = alpha;
        ASSERT_EQ(rig.render(), kStatusOk);
        EXPECT_TRUE(finite(rig.destination)) << "alpha " << alpha;
    }
}

// HDR samples within the half-float range are taken as they are: an in-focus pixel of 20, 50,
// 1000 or 60000 comes back exactly beside ordinary pixels, with alpha and without, and so do
// their negatives without gamma; with gamma on within 1e-6 relative (the transfer formulas'
// round trip).
TEST(TileSamples, HdrSamplesInFocusComeBack) {
    const float values[] = {20.0f, 50.0f, 1000.0f, 60000.0f, 65504.0f, -20.0f, -60000.0f};
    auto check = [&](auto format, bool gamma) {
        using Img = typename decltype(format)::type;
        using P = typename Img::pixel_type;
        Rig<Img> rig(24, 16, 2);
        fillRandom(rig.source, 9, 1.0);
        std::fill(rig.depth.bytes.begin(), rig.depth.bytes.end(), uint8_t(255));
        rig.params.blur_radius = 8.0;
        rig.params.gamma_correction = gamma ? 1 : 0;
        for (size_t k = 0; k < std::size(values); ++k)
            for (int i = 0; i < P::colour_count; ++i) rig.source.at(uint32_t(3 + 2 * k), 7).v[i] = values[k];
        ASSERT_EQ(rig.render(), kStatusOk);
        for (size_t k = 0; k < std::size(values); ++k)
            for (int i = 0; i < P::colour_count; ++i) {
                const double got = rig.destination.at(uint32_t(3 + 2 * k), 7).v[i];
                if (gamma && values[k] < 0.0f) continue;  // the transfer formulas are for light, not below 0
                if (gamma) EXPECT_NEAR(got, values[k], std::fabs(values[k]) * 1e-6) << values[k];
                else EXPECT_EQ(got, double(values[k])) << values[k];
            }
    };
    for (bool gamma : {false, true}) {
        check(std::type_identity<ImgHostRGB_F1>{}, gamma);
        check(std::type_identity<ImgHostRGBA_F1>{}, gamma);
        check(std::type_identity<ImgHostGray_F1>{}, gamma);
    }
}

// An absurd patch (1e30, counted as 65504) leaves nothing of itself beyond its blur's reach:
// outside the patch grown by twice the widest kernel radius, the picture differs from that of
// the same scene with a patch of 0 by at most 2e-6 of white, gamma on and off. Measured: 0
// without gamma, 1.04e-6 with it (the rounding of the double-precision layer sums, which carry
// the linearised 65504, about 4e10); hole sums gathered in single precision left 1.1e-4 and
// 102 times white.
TEST(TileSamples, AbsurdPatchLeavesNoResidueBeyondItsReach) {
    for (bool gamma : {false, true}) {
        Rig<ImgHostRGBA_F1> huge(96, 48), none(96, 48);
        for (auto* rig : {&huge, &none}) {
            fillRandom(rig->source, 4, 1.0);
            fillDepthScene(rig->depth, 8);
            rig->params.blur_radius = 6.0;
            rig->params.gamma_correction = gamma ? 1 : 0;
        }
        const uint32_t x0 = 30, x1 = 36, y0 = 20, y1 = 26;
        for (uint32_t y = y0; y < y1; ++y)
            for (uint32_t x = x0; x < x1; ++x)
                for (int i = 0; i < 3; ++i) {
                    huge.source.at(x, y).v[i] = 1e30f;
                    none.source.at(x, y).v[i] = 0.0f;
                }
        ASSERT_EQ(huge.render(), kStatusOk);
        ASSERT_EQ(none.render(), kStatusOk);
        unsigned rx = 0, ry = 0;
        ov::max_blur_extent(huge.params, 1.0, rx, ry);
        const int64_t reachX = 2 * int64_t(rx), reachY = 2 * int64_t(ry);
        double worst = 0.0;
        for (uint32_t y = 0; y < 48; ++y)
            for (uint32_t x = 0; x < 96; ++x) {
                if (int64_t(x) >= int64_t(x0) - reachX && int64_t(x) < int64_t(x1) + reachX &&
                    int64_t(y) >= int64_t(y0) - reachY && int64_t(y) < int64_t(y1) + reachY)
                    continue;
                for (int i = 0; i < 4; ++i)
                    worst = std::max(worst, std::fabs(double(huge.destination.at(x, y).v[i]) -
                                                      double(none.destination.at(x, y).v[i])));
            }
        std::printf("absurd patch, gamma %d: largest residue beyond reach %.3g of white\n", int(gamma), worst);
        EXPECT_LE(worst, 2e-6) << "gamma " << gamma;
    }
}

// 16-bit samples above full intensity (32768) index the decode table at its last entry, as
// 32768 does, instead of reading past it.
TEST(TileSamples, SixteenBitAboveFullIntensity) {
    Rig<ImgHostRGB_U16> high(24, 16), full(24, 16);
    for (auto* rig : {&high, &full}) {
        fillRandom(rig->source, 12);
        fillDepthScene(rig->depth, 5);
        rig->params.blur_radius = 4.0;
    }
    for (uint32_t x = 0; x < 24; ++x) {
        high.source.at(x, 8) = PxHostRGB_U16{{65535, 40000, 32769}};
        full.source.at(x, 8) = PxHostRGB_U16{{32768, 32768, 32768}};
    }
    ASSERT_EQ(high.render(), kStatusOk);
    ASSERT_EQ(full.render(), kStatusOk);
    EXPECT_TRUE(high.destination.samePixels(full.destination));
}

// ---- fast paths ---------------------------------------------------------------------------

// The footprint minima found each way (sparse tables of one row on the list walk, the level
// planes of all rows, and the planes' fallback to row tables where a one-channel tile is too
// wide for them) against the plain backward sweep: the same min_index in every tile and the
// same written bits, in both variants, with kernels of every size (the prefetches of the list
// walks change no value by construction).
template <class Img, int Minima>
void expectMinimaEqualTheSweep(uint32_t w, uint32_t h, int32_t rows, int32_t cols, double radius) {
    using Filter = DepthOfFieldFilter<Img, ImgDepth8>;
    for (int variant = 0; variant < 2; ++variant) {
        SCOPED_TRACE(testing::Message() << w << "x" << h << " minima " << Minima << " variant " << variant);
        Rig<Img> rig(w, h, 1);
        fillRandom(rig.source, 4, 0.2);
        fillDepthScene(rig.depth, 6);
        rig.params.blur_radius = radius;
        rig.params.iris_border_brightness = 1.0;  // kernels with empty interior rows too
        rig.params.iris_border = 0.05;
        rig.params.iris_aspect = -0.5;
        rig.params.highlight_preservative = variant ? 6.0 : 0.0;
        Filter f(&rig.host);
        rig.wire(f);
        ASSERT_EQ(f.init_all(), kStatusOk);
        unsigned rx = 0, ry = 0;
        max_blur_extent(f.params, 1.0, rx, ry);
        f.tiles = TileSet2D{};
        f.tiles.rows = rows;
        f.tiles.cols = cols;
        f.tiles.width = int32_t(w);
        f.tiles.height = int32_t(h);
        f.tiles.cpus = 1;
        f.tiles.overflow = Rectangle{-int32_t(rx), int32_t(rx), -int32_t(ry), int32_t(ry)};
        ASSERT_EQ(f.init_memory(1), kStatusOk);
        Image<Img> plain(w, h);
        const ChunkBuffers& b = f.chunk_buffers[0];
        for (int32_t tile = 0; tile < rows * cols; ++tile) {
            const dof_tiles::TileFrame fr = dof_tiles::tileFrame(f.tiles, tile);
            const size_t n = size_t(fr.width) * size_t(fr.height);
            f.destination = plain.view();
            const uint32_t a = variant ? dof_tiles::ChunkRenderer<Filter, true, dof_tiles::kMinimaSweep>(f, tile, 0).run()
                                       : dof_tiles::ChunkRenderer<Filter, false, dof_tiles::kMinimaSweep>(f, tile, 0).run();
            ASSERT_EQ(a, kStatusOk);
            const std::vector<uint8_t> sweep(b.min_index, b.min_index + n);
            f.destination = rig.destination.view();
            const uint32_t c = variant ? dof_tiles::ChunkRenderer<Filter, true, Minima>(f, tile, 0).run()
                                       : dof_tiles::ChunkRenderer<Filter, false, Minima>(f, tile, 0).run();
            ASSERT_EQ(c, kStatusOk);
            EXPECT_TRUE(std::equal(sweep.begin(), sweep.end(), b.min_index)) << "tile " << tile;
        }
        EXPECT_TRUE(rig.destination.samePixels(plain));
        f.free_memory(1);
        f.free_all();
    }
}

TEST(TileFastPaths, FootprintMinimaEqualTheSweep) {
    expectMinimaEqualTheSweep<ImgHostRGBA_U16, dof_tiles::kMinimaRowTable>(45, 33, 2, 3, 9.0);
    expectMinimaEqualTheSweep<ImgHostRGBA_U16, dof_tiles::kMinimaPlanes>(45, 33, 2, 3, 9.0);
    expectMinimaEqualTheSweep<ImgHostGray_U8, dof_tiles::kMinimaPlanes>(61, 40, 1, 1, 14.0);
    // A gray tile 8192 or more wide: the planes do not fit, the row tables serve.
    expectMinimaEqualTheSweep<ImgHostGray_U8, dof_tiles::kMinimaPlanes>(8200, 3, 1, 1, 1.5);
}

// ---- cancellation -------------------------------------------------------------------------

// A progress report that says stop (early, in the middle, at the last one) ends the render
// with the cancel status, and every block the render took is given back.
TEST(TileCancel, StopsWithCancelStatusAndFreesEverything) {
    Rig<ImgHostRGBA_U8> probe(32, 24, 2);
    fillRandom(probe.source, 1);
    fillDepthScene(probe.depth, 1);
    ASSERT_EQ(probe.render(), kStatusOk);
    const uint64_t reports = probe.host.reports;
    ASSERT_GT(reports, 10u);
    for (uint64_t stop : {uint64_t(1), reports / 2, reports - 1}) {
        Rig<ImgHostRGBA_U8> rig(32, 24, 2);
        fillRandom(rig.source, 1);
        fillDepthScene(rig.depth, 1);
        rig.host.stopAt = stop;
        EXPECT_EQ(rig.render(), kStatusCancelled) << "stop at report " << stop;
        EXPECT_EQ(rig.host.liveBlocks(), 0u);
    }
}

}  // namespace

// A source flagged premultiplied (colour samples c x a) renders as its straight twin does, in
// linear light: its colour is made straight for the decode and premultiplied there; a
// destination flagged premultiplied receives the encoded straight colour times alpha.
TEST(TileTransparency, PremultipliedImagesRenderAsStraightOnes) {
    using View = ImgHostRGBA_F1;
    constexpr uint32_t W = 40, H = 24;
    Rig<View> straight(W, H), prem(W, H);
    fillRandom(straight.source, 9, 0.0);
    fillDepthScene(straight.depth, 3);
    for (uint32_t y = 0; y < H; ++y)
        for (uint32_t x = 0; x < W; ++x) {
            auto p = straight.source.at(x, y);
            p.v[3] = x < W / 3 ? 1.0f : x < 2 * W / 3 ? p.v[3] : 0.0f;  // opaque, random, clear
            straight.source.at(x, y) = p;
            for (int i = 0; i < 3; ++i) p.v[i] *= p.v[3];
            prem.source.at(x, y) = p;
            prem.depth.at(x, y) = straight.depth.at(x, y);
        }
    for (auto* rig : {&straight, &prem}) {
        rig->params.blur_radius = 6.0;
        rig->params.gamma_correction = 1;
        typename Rig<View>::Filter f(&rig->host);
        rig->wire(f);
        if (rig == &prem) f.source.premultiplied = f.selection.premultiplied = f.destination.premultiplied = 1;
        ASSERT_EQ(f.render(0, 1), kStatusOk);
    }
    for (uint32_t y = 0; y < H; ++y)
        for (uint32_t x = 0; x < W; ++x) {
            const auto& s = straight.destination.at(x, y);
            const auto& p = prem.destination.at(x, y);
            ASSERT_NEAR(p.v[3], s.v[3], 1e-6) << x << "," << y;
            for (int i = 0; i < 3; ++i) ASSERT_NEAR(p.v[i], s.v[i] * s.v[3], 2e-5) << x << "," << y << " colour " << i;
        }
}
