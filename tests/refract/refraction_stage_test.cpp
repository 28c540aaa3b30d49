// The refraction stage: exact copies with amount 0, a hand-computed one-pixel
// shift under each edge mode, the blend, memory on every road, progress, and 1 x N images.
#include "refract/refraction_stage.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <random>

#include "outoffocus/out_of_focus_params.h"
#include "pixel/blend.h"
#include "refract/refract_formats.h"
#include "refract_test_util.h"

namespace {

using namespace refract_test;

template <class V>
struct Stage {
    using Px = typename V::pixel_type;
    Stage(uint32_t w, uint32_t h, uint32_t rw, uint32_t rh) : dst(w, h, 1, 3), refr(rw, rh, 2, 1) {}
    ov::Status run(TestHost& host, uint32_t passCount = 3) {
        return ov::renderRefractionStage(&host, dst.view /* source: origins only */, dst.view,
                                         refr.view, settings, passCount);
    }
    Image<V> dst;   // the blurred result, overwritten by the stage
    Image<V> refr;  // the refraction image
    ov::RefractionSettings settings;
};

// Reference of step 5 for one pixel: the blurred pixel d laid over the refracted pixel r with
// the normal blend, both straight, stored by truncation (integers) or narrowing (floats).
template <class Px>
Px reference_blend(const Px& blurred, const ov::DoublePixel<Px>& refracted) {
    ov::DoublePixel<Px> d, r = refracted;
    for (int s = 0; s < Px::sample_count; ++s) d.v[s] = blurred.v[s];
    if constexpr (Px::has_alpha) ov::blendPixel(r, d, ov::BlendNormal);
    else r = d;
    Px out;
    for (int s = 0; s < Px::sample_count; ++s) {
        using T = typename Px::sample_type;
        const double v = r.v[s];
        if constexpr (std::is_integral_v<T>) out.v[s] = v <= 0 ? T(0) : T(v);
        else out.v[s] = T(v);
    }
    return out;
}

template <class V>
class StageTyped : public ::testing::Test {};
TYPED_TEST_SUITE(StageTyped, HostViewTypes, HostViewNames);

// Amount 0 (with one sub-sample) bends nothing: the refracted view is an exact float copy of
// the refraction image, and the result is the blurred pixel laid over it. With a fully
// transparent blurred result and an opaque refraction image, that is the refraction image
// itself, exactly; without alpha it is the blurred result itself, exactly.
TYPED_TEST(StageTyped, AmountZeroCopiesExactly) {
    using V = TypeParam;
    using Px = typename V::pixel_type;
    TestHost host;
    Stage<V> st(8, 6, 8, 6);
    st.dst.randomise(3);
    st.refr.randomise(4);
    st.settings.amount = 0.0;
    st.settings.edgeModeX = st.settings.edgeModeY = 4;
    Image<V> before(8, 6, 1, 3);
    before.copy_pixels_from(st.dst);
    ASSERT_EQ(st.run(host), 0u);
    for (uint32_t y = 0; y < 6; ++y)
        for (uint32_t x = 0; x < 8; ++x) {
            ov::DoublePixel<Px> r;
            for (int s = 0; s < Px::sample_count; ++s) r.v[s] = double(float(st.refr.at(x, y).v[s]));
            const Px want = reference_blend(before.at(x, y), r);
            for (int s = 0; s < Px::sample_count; ++s) ASSERT_EQ(st.dst.at(x, y).v[s], want.v[s]);
        }
    EXPECT_TRUE(host.live.empty());

    // Transparent blurred result over an opaque refraction image.
    TestHost host2;
    Stage<V> clear(5, 4, 5, 4);
    clear.dst.randomise(8);
    clear.refr.randomise(9);
    if constexpr (Px::has_alpha) {
        for (uint32_t y = 0; y < 4; ++y)
            for (uint32_t x = 0; x < 5; ++x) {
                clear.dst.at(x, y).v[Px::alpha_index] = 0;
                clear.refr.at(x, y).v[Px::alpha_index] = static_cast<typename Px::sample_type>(Px::max_value);
            }
    }
    Image<V> blurred(5, 4, 1, 3);
    blurred.copy_pixels_from(clear.dst);
    clear.settings.amount = 0.0;
    ASSERT_EQ(clear.run(host2), 0u);
    for (uint32_t y = 0; y < 4; ++y)
        for (uint32_t x = 0; x < 5; ++x)
            for (int s = 0; s < Px::sample_count; ++s) {
                const auto want = Px::has_alpha ? clear.refr.at(x, y).v[s] : blurred.at(x, y).v[s];
                ASSERT_EQ(clear.dst.at(x, y).v[s], want) << x << "," << y << " sample " << s;
            }
}

// The stage is its three steps: the info buffer from the blurred alpha, the refract filter
// with the settings, and the blend. Checked against those steps run by hand, for every format,
// edge mode and two sub-sample counts, with the refraction image shifted by its origin.
TYPED_TEST(StageTyped, EqualsItsStepsComposed) {
    using V = TypeParam;
    using Px = typename V::pixel_type;
    using Twin = ov::TwinViewOf<V>;
    for (int mode = 1; mode <= 4; ++mode)
        for (int sub : {0, 2}) {
            TestHost host;
            Stage<V> st(9, 7, 6, 8);
            st.dst.randomise(mode * 3 + sub);
            st.refr.randomise(mode * 5 + sub);
            st.refr.view.originX = 2;
            st.refr.view.originY = -1;
            st.settings.amount = 9.0;
            st.settings.subSamples = sub;
            st.settings.edgeModeX = mode;
            st.settings.edgeModeY = 5 - mode;
            st.settings.outsideColor[0] = 0.3f;
            st.settings.outsideColor[3] = 0.6f;
            st.settings.scaleFactorX = 2.0;
            Image<V> blurred(9, 7, 1, 3);
            blurred.copy_pixels_from(st.dst);

            // By hand.
            Image<ov::InfoBuffer> info(9, 7);
            ov::FillInfoBufferFilter<V> fill(&host);
            fill.info = info.view;
            fill.heightImage = blurred.view;
            fill.strengthImage = blurred.view;
            fill.heightChannel = fill.strengthChannel = 2;
            ASSERT_EQ(fill.render(1, 3), 0u);
            Image<Twin> bent(6, 8);
            bent.view.originX = 2;
            bent.view.originY = -1;
            ov::RefractFilter<V, Twin> refract(&host);
            refract.source = st.refr.view;
            refract.destination = bent.view;
            refract.info = info.view;
            refract.amount = 9.0;
            refract.subSamples = sub;
            refract.edgeModeX = mode;
            refract.edgeModeY = 5 - mode;
            refract.outsideColor[0] = double(0.3f);
            refract.outsideColor[1] = 0.0;
            refract.outsideColor[2] = 0.0;
            refract.outsideColor[3] = double(0.6f);
            refract.scaleFactorX = 2.0;
            ASSERT_EQ(refract.render(2, 3), 0u);

            ASSERT_EQ(st.run(host), 0u);
            for (uint32_t y = 0; y < 7; ++y)
                for (uint32_t x = 0; x < 9; ++x) {
                    const int rx = int(x) - 2, ry = int(y) + 1;
                    Px want = blurred.at(x, y);
                    if (rx >= 0 && rx < 6 && ry >= 0 && ry < 8) {
                        ov::DoublePixel<Px> r;
                        for (int s = 0; s < Px::sample_count; ++s) r.v[s] = bent.at(rx, ry).v[s];
                        want = reference_blend(blurred.at(x, y), r);
                    }
                    for (int s = 0; s < Px::sample_count; ++s)
                        ASSERT_EQ(st.dst.at(x, y).v[s], want.v[s])
                            << "mode " << mode << " sub " << sub << " at " << x << "," << y;
                }
            EXPECT_TRUE(host.live.empty());
        }
}

// Formats without alpha: selector 2 reads MAX everywhere, so nothing is bent, and the blend
// gives every pixel its blurred value back.
TYPED_TEST(StageTyped, WithoutAlphaTheBlurIsKept) {
    using V = TypeParam;
    using Px = typename V::pixel_type;
    if constexpr (!Px::has_alpha) {
        TestHost host;
        Stage<V> st(6, 5, 6, 5);
        st.dst.randomise(21);
        st.refr.randomise(22);
        st.settings.amount = 50.0;
        st.settings.subSamples = 1;
        const std::vector<unsigned char> before = st.dst.bytes;
        ASSERT_EQ(st.run(host), 0u);
        EXPECT_EQ(st.dst.bytes, before);
    }
}

// A hand-computed one-pixel shift through the whole stage. The blurred image is one row of
// gray + alpha (float) with alpha 0.5, 0.5, 0.5, 0.5, 1.0: at column 2 the gradient is
// g1 = 3 x 0.5 + 5 x 1.0 - 3 x 0.5 - 5 x 0.5 = 2.5 > 0, g2 = 0, so the direction is (1, ~0),
// and the strength is 0.5 / 1.0. With amount 2000/255 the move is 1 pixel exactly. The
// refraction image is 3 pixels wide, so column 2's target 3 lies beyond it: clamp and mirror
// read column 2 (mirror lands at 3 - 0.0001), wrap reads column 0, mode 4 the outside colour.
// Columns 0 and 1 have no gradient and see the refraction image unbent.
TEST(Stage, OnePixelShiftUnderEachEdgeMode) {
    const float refr[3] = {0.125f, 0.25f, 0.375f};
    for (int mode = 1; mode <= 4; ++mode) {
        TestHost host;
        Stage<ov::ImgHostGrayA_F1> st(5, 1, 3, 1);
        const float alpha[5] = {0.5f, 0.5f, 0.5f, 0.5f, 1.0f};
        for (uint32_t x = 0; x < 5; ++x) st.dst.at(x, 0) = {{0.5f, alpha[x]}};
        for (uint32_t x = 0; x < 3; ++x) st.refr.at(x, 0) = {{refr[x], 1.0f}};
        st.settings.amount = 2000.0 / 255.0;
        st.settings.edgeModeX = mode;
        st.settings.edgeModeY = 1;
        st.settings.outsideColor[0] = 0.875f;
        st.settings.outsideColor[3] = 1.0f;
        ASSERT_EQ(st.run(host), 0u);
        const float seen2 = mode == 3 ? refr[0] : (mode == 4 ? 0.875f : refr[2]);
        // Over an opaque pixel with alpha 0.5: colour 0.5 x 0.5 + 0.5 x seen, alpha 1.
        EXPECT_EQ(st.dst.at(0, 0).v[0], 0.25f + 0.5f * refr[0]) << mode;
        EXPECT_EQ(st.dst.at(1, 0).v[0], 0.25f + 0.5f * refr[1]) << mode;
        EXPECT_EQ(st.dst.at(2, 0).v[0], 0.25f + 0.5f * seen2) << mode;
        for (uint32_t x = 0; x < 3; ++x) EXPECT_EQ(st.dst.at(x, 0).v[1], 1.0f);
        EXPECT_EQ(st.dst.at(3, 0).v[0], 0.5f);  // beyond the refraction image: kept
        EXPECT_EQ(st.dst.at(4, 0).v[1], 1.0f);
    }
}

// An opaque blurred pixel hides the refraction image; a fully transparent one shows it.
TEST(Stage, OpaqueHidesTransparentShows) {
    TestHost host;
    Stage<ov::ImgHostRGBA_U8> st(4, 1, 4, 1);
    for (uint32_t x = 0; x < 4; ++x) {
        st.dst.at(x, 0) = {{10, 20, 30, static_cast<unsigned char>(x < 2 ? 255 : 0)}};
        st.refr.at(x, 0) = {{200, 150, 100, 255}};
    }
    ASSERT_EQ(st.run(host), 0u);
    const ov::PxHostRGBA_U8 hidden{{10, 20, 30, 255}}, shown{{200, 150, 100, 255}};
    for (int s = 0; s < 4; ++s) {
        EXPECT_EQ(st.dst.at(0, 0).v[s], hidden.v[s]);
        EXPECT_EQ(st.dst.at(3, 0).v[s], shown.v[s]);
    }
}

// Premultiplied views are taken out of and back into their form around the blend.
TEST(Stage, PremultipliedViews) {
    TestHost host;
    Stage<ov::ImgHostRGBA_F1> a(1, 1, 1, 1);
    a.dst.at(0, 0) = {{0.25f, 0.25f, 0.25f, 0.5f}};
    a.refr.at(0, 0) = {{1.0f, 0.0f, 0.0f, 1.0f}};
    a.dst.view.premultiplied = 1;
    ASSERT_EQ(a.run(host), 0u);  // straight (0.5, 0.5, 0.5, 0.5) over red, then premultiplied
    EXPECT_EQ(a.dst.at(0, 0).v[0], 0.75f);
    EXPECT_EQ(a.dst.at(0, 0).v[1], 0.25f);
    EXPECT_EQ(a.dst.at(0, 0).v[3], 1.0f);

    Stage<ov::ImgHostRGBA_F1> b(1, 1, 1, 1);
    b.dst.at(0, 0) = {{0.25f, 0.25f, 0.25f, 0.5f}};
    b.refr.at(0, 0) = {{1.0f, 0.0f, 0.0f, 1.0f}};
    ASSERT_EQ(b.run(host), 0u);  // straight: 0.5 x 0.25 + 0.5 x 1
    EXPECT_EQ(b.dst.at(0, 0).v[0], 0.625f);
    EXPECT_EQ(b.dst.at(0, 0).v[1], 0.125f);

    Stage<ov::ImgHostRGBA_F1> c(1, 1, 1, 1);
    c.dst.at(0, 0) = {{0.0f, 0.0f, 0.0f, 0.0f}};
    c.refr.at(0, 0) = {{0.5f, 0.0f, 0.0f, 0.5f}};
    c.refr.view.premultiplied = 1;
    ASSERT_EQ(c.run(host), 0u);  // the refraction pixel is straight red at alpha 0.5
    EXPECT_EQ(c.dst.at(0, 0).v[0], 1.0f);
    EXPECT_EQ(c.dst.at(0, 0).v[3], 0.5f);
}

TEST(Stage, NoOverlapKeepsTheBlur) {
    TestHost host;
    Stage<ov::ImgHostRGBA_U16> st(5, 4, 5, 4);
    st.dst.randomise(1);
    st.refr.randomise(2);
    st.refr.view.originX = 5;  // lies just right of the destination
    st.settings.amount = 20.0;
    const std::vector<unsigned char> before = st.dst.bytes;
    ASSERT_EQ(st.run(host), 0u);
    EXPECT_EQ(st.dst.bytes, before);
    EXPECT_TRUE(host.live.empty());
}

// Height 0: both blocks are taken and freed, both filters run, the blend reports nothing, and
// the result is the refract filter's.
TEST(Stage, DestinationOfHeightZero) {
    TestHost host;
    Stage<ov::ImgHostGrayA_U8> st(4, 0, 3, 2);
    st.refr.randomise(5);
    ASSERT_EQ(st.run(host), 0u);
    EXPECT_EQ(host.allocations, 2);
    EXPECT_EQ(host.frees, 2);
    EXPECT_TRUE(host.live.empty());
    const std::vector<std::pair<uint32_t, uint32_t>> want = {{4, 6}, {5, 6}};  // refract rows
    EXPECT_EQ(host.progress, want);

    TestHost stop;
    stop.cancelAtCall = 1;
    Stage<ov::ImgHostGrayA_U8> c(4, 0, 3, 2);
    EXPECT_EQ(c.run(stop), stop.StatusCancelled());
    EXPECT_TRUE(stop.live.empty());
}

// Every allocation failing in turn: StatusOutOfMemory, the destination untouched, nothing
// leaked, both blocks handed back (a null one included).
TEST(Stage, AllocationFailureInTurn) {
    for (int fail = 1; fail <= 2; ++fail) {
        TestHost host;
        host.failAllocation = fail;
        Stage<ov::ImgHostRGBA_U8> st(6, 5, 6, 5);
        st.dst.randomise(7);
        st.refr.randomise(8);
        st.settings.amount = 10.0;
        const std::vector<unsigned char> before = st.dst.bytes;
        EXPECT_EQ(st.run(host), host.StatusOutOfMemory());
        EXPECT_EQ(host.allocations, 2);
        EXPECT_EQ(host.frees, 2);
        EXPECT_EQ(host.badFrees, 0);
        EXPECT_TRUE(host.live.empty());
        EXPECT_TRUE(host.progress.empty());
        EXPECT_EQ(st.dst.bytes, before);
    }
}

// Sizes are formed in 64 bits: a block beyond the 32-bit allocation size is out of memory
// before anything is allocated (the views' memory is never touched, so a dummy pointer will
// do).
TEST(Stage, OversizedBlocksAreOutOfMemory) {
    TestHost host;
    unsigned char dummy[16] = {};
    ov::ImgHostRGBA_U8 big(dummy, 40000, 40000, 160000, 0, 0, false, 1.0, 1.0, 1.0, true, 4);
    ov::ImgHostRGBA_U8 small(dummy, 1, 1, 4, 0, 0, false, 1.0, 1.0, 1.0, true, 4);
    ov::RefractionSettings s;
    EXPECT_EQ(ov::renderRefractionStage(&host, small, big, small, s, 3), host.StatusOutOfMemory());
    ov::ImgHostRGBA_U8 smallDst = small;
    EXPECT_EQ(ov::renderRefractionStage(&host, small, smallDst, big, s, 3), host.StatusOutOfMemory());
    // 32-bit wide row that would wrap rowBytes: 200 million pixels x 12 bytes in one row.
    ov::ImgHostRGBA_U8 wide(dummy, 200000000u, 1, 0, 0, 0, false, 1.0, 1.0, 1.0, true, 4);
    EXPECT_EQ(ov::renderRefractionStage(&host, small, wide, small, s, 3), host.StatusOutOfMemory());
    EXPECT_EQ(host.allocations, 0);
}

// Progress: the info buffer as pass 1 of 3, the refract filter as pass 2 of 3 (over the
// refraction image's rows), then one (3H, 3H) per blend row. A stop during the blend keeps
// the rows blended so far and frees both blocks.
TEST(Stage, ProgressAndCancel) {
    TestHost host;
    Stage<ov::ImgHostGrayA_U16> st(4, 3, 2, 2);
    st.dst.randomise(1);
    st.refr.randomise(2);
    ASSERT_EQ(st.run(host), 0u);
    const std::vector<std::pair<uint32_t, uint32_t>> want = {
        {3, 9}, {4, 9}, {5, 9}, {4, 6}, {5, 6}, {9, 9}, {9, 9}, {9, 9}};
    EXPECT_EQ(host.progress, want);

    TestHost stop;
    stop.cancelAtCall = 7;  // the first blend row (3 info rows, 3 refract rows before it)
    Stage<ov::ImgHostGrayA_U16> c(4, 3, 4, 3);
    c.dst.fill([](uint32_t, uint32_t, int s) { return s == 1 ? 0 : 1000; });  // transparent
    c.refr.fill([](uint32_t, uint32_t, int s) { return s == 1 ? 32768 : 7; });
    EXPECT_EQ(c.run(stop), stop.StatusCancelled());
    EXPECT_EQ(c.dst.at(1, 0).v[0], 7);     // row 0 blended
    EXPECT_EQ(c.dst.at(1, 1).v[0], 1000);  // row 1 kept
    EXPECT_TRUE(stop.live.empty());
    EXPECT_EQ(stop.frees, 2);
}

// The mend: destinations 1 pixel wide or high (the height image of the info buffer) are read
// only inside, under AddressSanitizer, for every edge mode; results stay in range.
TEST(Stage, OnePixelWideOrHighDestinations) {
    const uint32_t sizes[][2] = {{1, 12}, {12, 1}, {1, 1}, {2, 1}, {1, 2}};
    for (auto& sz : sizes)
        for (int mode = 1; mode <= 4; ++mode) {
            TestHost host;
            Stage<ov::ImgHostGrayA_U8> st(sz[0], sz[1], sz[0], sz[1]);
            st.dst.randomise(sz[0] * 7 + sz[1] + mode);
            st.refr.randomise(mode);
            st.settings.amount = 25.0;
            st.settings.subSamples = 2;
            st.settings.edgeModeX = mode;
            st.settings.edgeModeY = mode;
            ASSERT_EQ(st.run(host), 0u);
            EXPECT_TRUE(host.live.empty());
        }
    // A 1-pixel-wide alpha ramp bends along its length only: column direction (0, 1).
    TestHost host;
    Stage<ov::ImgHostGrayA_F1> st(1, 6, 1, 6);
    for (uint32_t y = 0; y < 6; ++y) {
        st.dst.at(0, y) = {{0.0f, 0.1f * float(y + 1)}};
        st.refr.at(0, y) = {{float(y), 1.0f}};
    }
    st.settings.amount = 1000.0 / 255.0;  // strength 1 at the bottom moves 1 px
    st.settings.edgeModeY = 4;
    ASSERT_EQ(st.run(host), 0u);
    // The bottom pixel (strength 1) moves one row down, beyond the image: outside colour 0
    // with alpha 1, under a blurred alpha of 0.6: colour 0.4 x 0.
    EXPECT_EQ(st.dst.at(0, 5).v[0], 0.0f);
    EXPECT_EQ(st.dst.at(0, 5).v[1], 1.0f);
}

// One thread and eight threads give the same bytes (the stage and its filters run on the
// calling thread; the host's thread count must not matter).
TEST(Stage, OneThreadEqualsEightThreads) {
    std::vector<unsigned char> results[2];
    const int counts[2] = {1, 8};
    for (int i = 0; i < 2; ++i) {
        TestHost host;
        host.threadCountSetting = counts[i];
        Stage<ov::ImgHostRGBA_U16> st(64, 48, 60, 50);
        st.dst.randomise(42);
        st.refr.randomise(43);
        st.refr.view.originX = 3;
        st.settings.amount = 30.0;
        st.settings.subSamples = 2;
        st.settings.edgeModeX = 2;
        st.settings.edgeModeY = 3;
        ASSERT_EQ(st.run(host), 0u);
        results[i] = st.dst.bytes;
    }
    EXPECT_EQ(results[0], results[1]);
}

// The settings come from OutOfFocusParams by their names.
TEST(Stage, SettingsFromOutOfFocusParams) {
    OutOfFocusParams p{};
    p.refraction_amount = 12.5;
    p.refraction_samples = 3;
    p.edge_mode_x = 2;
    p.edge_mode_y = 4;
    p.outside_color[0] = 0.1f;
    p.outside_color[1] = 0.2f;
    p.outside_color[2] = 0.3f;
    p.outside_color[3] = 1.0f;
    p.scale_x = 2.0;
    p.scale_y = 3.0;
    const ov::RefractionSettings s = ov::refractionSettingsFrom(p);
    EXPECT_EQ(s.amount, 12.5);
    EXPECT_EQ(s.subSamples, 3);
    EXPECT_EQ(s.edgeModeX, 2);
    EXPECT_EQ(s.edgeModeY, 4);
    EXPECT_EQ(s.outsideColor[1], 0.2f);
    EXPECT_EQ(s.outsideColor[3], 1.0f);
    EXPECT_EQ(s.scaleFactorX, 2.0);
    EXPECT_EQ(s.scaleFactorY, 3.0);
}

}  // namespace
