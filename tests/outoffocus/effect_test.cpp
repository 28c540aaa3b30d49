// The out-of-focus effect's roads: blur (or copy), refraction stage, iris view, highlight
// selection views.
#include <gtest/gtest.h>

#include <cmath>
#include <type_traits>
#include <vector>

#include "kernel/hsl_range_selection_filter.h"
#include "kernel/iris_kernel_image.h"
#include "oof_test_support.h"
#include "outoffocus/out_of_focus_effect.h"
#include "pixel/clear_fill_filter.h"
#include "pixel/copy_image_filter.h"

using namespace ov;
using namespace oof_test;

namespace {

template <class View>
uint32_t runEffect(TestHost& host, Image<View>& src, Image<View>& dst, const OutOfFocusParams& p,
                   std::type_identity_t<Image<View>>* refraction = nullptr,
                   const ImgMask8& iris = ImgMask8(),
                   uint32_t pass = 0, uint32_t passCount = 1) {
    OutOfFocusEffectOf<View> effect(&host);
    effect.source = effect.highlightSource = src.view();
    effect.destination = dst.view();
    effect.irisImage = iris;
    if (refraction) effect.refractionImage = refraction->view();
    effect.params = p;
    return effect.render(pass, passCount);
}

TEST(OutOfFocusEffect, ConstructedWithEmptyViews) {
    TestHost host;
    OutOfFocusEffectOf<ImgHostRGB_U8> effect(&host);
    EXPECT_EQ(effect.host, &host);
    EXPECT_EQ(effect.source.data, nullptr);
    EXPECT_EQ(effect.refractionImage.data, nullptr);
    EXPECT_EQ(effect.irisImage.valid, 0);
    EXPECT_EQ(effect.destination.width, 0u);
    EXPECT_EQ(effect.highlightSource.scale, 1.0);
}

TEST(OutOfFocusEffect, BlurRoadIsTheFilter) {
    TestHost host;
    Image<ImgHostRGBA_U16> src(30, 20), a(30, 20), b(30, 20);
    fillRandom(src, 9);
    const OutOfFocusParams p = defaultParams(5.0);
    ASSERT_EQ(runEffect(host, src, a, p, nullptr, ImgMask8(), 4, 9), host.StatusOk());
    ASSERT_EQ(runFilter(host, src, b, p), host.StatusOk());
    EXPECT_TRUE(a.samePixels(b));
}

TEST(OutOfFocusEffect, RadiusNotPositiveCopies) {
    TestHost host;
    for (double r : {0.0, -3.0, std::nan("")}) {
        Image<ImgHostRGBA_F1> src(12, 7), dst(12, 7);
        fillRandom(src, 4);
        ASSERT_EQ(runEffect(host, src, dst, defaultParams(r)), host.StatusOk());
        EXPECT_TRUE(src.samePixels(dst)) << r;
    }
}

// An iris view whose float image does not fit the host's 32-bit allocation size is refused
// with the host's out-of-memory status before anything is allocated.
TEST(OutOfFocusEffect, OversizedIrisViewIsRefused) {
    TestHost host;
    unsigned char byte = 0;
    OutOfFocusEffectOf<ImgHostRGBA_F1> effect(&host);
    effect.source = effect.highlightSource = effect.destination =
        ImgHostRGBA_F1(&byte, 40000, 30000, 0, 0, 0, false, 1, 1, 1, true, 0);  // 19.2 GB
    effect.params = defaultParams(4.0);
    effect.params.view = 2;
    EXPECT_EQ(effect.render(0, 1), kHostOutOfMemory);
    EXPECT_EQ(host.allocations.load(), 0u);
}

TEST(OutOfFocusEffect, EmptyDestinationReturnsAtOnce) {
    TestHost host;
    Image<ImgHostRGB_U8> src(0, 4), dst(0, 4), refraction(3, 3);
    for (int view : {1, 2}) {
        OutOfFocusParams p = defaultParams(4.0);
        p.view = view;
        EXPECT_EQ(runEffect(host, src, dst, p, &refraction), host.StatusOk());
    }
    EXPECT_EQ(host.allocations.load(), 0u);
}

// The colour-kernel form runs only with iris data and keep_color: its kernel grid holds one
// float per working sample (four for RGBA), the gray form's one.
TEST(OutOfFocusEffect, KeepColorChoosesTheColourKernelWithAnIrisImage) {
    Image<ImgHostRGBA_U8> src(10, 8), dst(10, 8);
    fillRandom(src, 1);
    Image<ImgMask8> iris(6, 6);
    iris.fill(makePixel<PxMask8>(255.0, 255.0));
    OutOfFocusParams p = defaultParams(3.0);
    auto firstBlock = [&](bool keep, bool withIris) {
        TestHost host;
        p.keep_color = keep ? 1 : 0;
        EXPECT_EQ(runEffect(host, src, dst, p, nullptr, withIris ? iris.view() : ImgMask8()),
                  host.StatusOk());
        return host.sizes.at(0);
    };
    const uint32_t gray = firstBlock(false, true);
    EXPECT_EQ(firstBlock(true, true), 4 * gray);
    EXPECT_EQ(firstBlock(true, false), firstBlock(false, false));
    EXPECT_EQ(firstBlock(false, false) % 4, 0u);
}

// Gray without alpha: both kernel forms give the same bits.
TEST(OutOfFocusEffect, ColourKernelOfGrayIsTheGrayKernel) {
    TestHost host;
    Image<ImgHostGray_U16> src(20, 14), a(20, 14), b(20, 14);
    fillRandom(src, 8);
    Image<ImgMask8> iris(9, 7);
    fillRandom(iris, 3);
    OutOfFocusParams p = defaultParams(3.0);
    p.keep_color = 1;
    ASSERT_EQ((runFilter<ImgHostGray_U16, 0>(host, src, a, p, nullptr, iris.view())), host.StatusOk());
    ASSERT_EQ((runFilter<ImgHostGray_U16, 1>(host, src, b, p, nullptr, iris.view())), host.StatusOk());
    EXPECT_TRUE(a.samePixels(b));
}

// With a gray iris image, gamma off and no highlight weight, every format's colour-kernel
// form gives the gray-kernel result up to rounding: each plane is normalised on its own.
template <class View>
void colourKernelMatchesGray() {
    using P = typename View::pixel_type;
    TestHost host;
    Image<View> src(17, 11), a(17, 11), b(17, 11);
    fillRandom(src, 12);
    Image<ImgMask8> iris(7, 7);
    fillRandom(iris, 13);
    OutOfFocusParams p = plainParams(3.0, false);
    p.keep_color = 1;
    ASSERT_EQ((runFilter<View, 0>(host, src, a, p, nullptr, iris.view())), host.StatusOk());
    ASSERT_EQ((runFilter<View, 1>(host, src, b, p, nullptr, iris.view())), host.StatusOk());
    for (uint32_t y = 0; y < 11; ++y)
        for (uint32_t x = 0; x < 17; ++x)
            for (int s = 0; s < P::sample_count; ++s)
                ASSERT_NEAR(a.sample(x, y, s), b.sample(x, y, s), P::is_integer ? 1.0 : 1e-4)
                    << x << "," << y << " sample " << s;
}

TEST(OutOfFocusEffect, ColourKernelMatchesGrayKernelForAGrayIris) {
    colourKernelMatchesGray<ImgHostRGBA_U8>();
    colourKernelMatchesGray<ImgHostRGB_F1>();
    colourKernelMatchesGray<ImgHostTwoCh_U16>();
    colourKernelMatchesGray<ImgHostTwoChA_F1>();
    colourKernelMatchesGray<ImgHostGrayA_U8>();
}

// The iris view: the aperture drawn at the destination's size into a cleared float twin and
// copied to the destination.
TEST(OutOfFocusEffect, IrisViewDrawsTheAperture) {
    TestHost host;
    using View = ImgHostRGBA_U8;
    using Twin = WorkView<WorkPixelOf<PxHostRGBA_U8>>;
    Image<View> src(64, 48), dst(64, 48), want(64, 48);
    fillRandom(src, 1);
    OutOfFocusParams p = defaultParams(3.0);
    p.view = 2;
    ASSERT_EQ(runEffect(host, src, dst, p), host.StatusOk());
    std::vector<PxWorkRGBA_F255> twin(64 * 48);
    Twin tv(twin.data(), 64, 48, 64 * 16, 0, 0, false, 1.0, 1.0, 1.0, true, 16);
    ASSERT_EQ(ClearImageFilter<Twin>(&host, tv).render(0, 1), host.StatusOk());
    ASSERT_EQ(buildIrisKernelImage(tv, ImgMask8(), p, 0, 1, &host), host.StatusOk());
    ASSERT_EQ((CopyImageFilter<Twin, View>(&host, tv, want.view()).render(0, 1)), host.StatusOk());
    EXPECT_TRUE(dst.samePixels(want));
    double lit = 0;
    for (uint32_t y = 0; y < 48; ++y)
        for (uint32_t x = 0; x < 64; ++x) lit += dst.sample(x, y, 0);
    EXPECT_GT(lit, 0.0);
    // No block: the host's out-of-memory status and no other call.
    host.reset();
    host.failAllocation = 1;
    EXPECT_EQ(runEffect(host, src, dst, p), kHostOutOfMemory);
    EXPECT_EQ(host.reports.load(), 0u);
    EXPECT_EQ(host.allocations.load(), 1u);
}

template <class View>
void checkSelectionView() {
    using P = typename View::pixel_type;
    TestHost host;
    const uint32_t W = 15, H = 9;
    Image<View> src(W, H), dst(W, H), other(W, H), want(W, H);
    fillRandom(src, 21, 0.0);
    OutOfFocusParams p = defaultParams(3.0);
    p.highlight_selection.lightnessLow = 0.4;
    for (int maskMode = 0; maskMode < 2; ++maskMode) {
        p.highlight_selection.maskMode = uint8_t(maskMode);
        p.view = maskMode ? 4 : 3;
        host.reset();
        ASSERT_EQ(runEffect(host, src, dst, p), host.StatusOk());
        EXPECT_EQ(host.hundredReports.load(), P::has_alpha ? uint64_t(H) : 0u);
        ASSERT_EQ((HslRangeSelectionFilter<View, View, View>(&host, src.view(), want.view(), src.view(),
                                                             p.highlight_selection)
                       .render(0, 1)),
                  host.StatusOk());
        for (uint32_t y = 0; y < H; ++y)
            for (uint32_t x = 0; x < W; ++x) {
                for (int c = 0; c < P::colour_count; ++c)
                    ASSERT_EQ(dst.sample(x, y, c), want.sample(x, y, c));
                if constexpr (P::has_alpha) {
                    ASSERT_EQ(dst.sample(x, y, P::alpha_index), P::max_value);
                }
            }
        // "highlight selection" is also what views 5 and 9 show.
        if (!maskMode)
            for (int view : {5, 9}) {
                p.view = view;
                ASSERT_EQ(runEffect(host, src, other, p), host.StatusOk());
                EXPECT_TRUE(other.samePixels(dst)) << view;
            }
    }
}

TEST(OutOfFocusEffect, HighlightSelectionViews) {
    checkSelectionView<ImgHostRGBA_U8>();
    checkSelectionView<ImgHostRGB_U16>();
    checkSelectionView<ImgHostGrayA_F1>();
    checkSelectionView<ImgHostTwoCh_F1>();
}

// With a refraction image the stage runs after the blur: a fully transparent blur shows the
// refraction image (with amount 0 the refracted image is the image itself), an opaque one
// hides it.
TEST(OutOfFocusEffect, RefractionImageRunsTheStage) {
    TestHost host;
    using View = ImgHostRGBA_U8;
    const uint32_t W = 14, H = 10;
    Image<View> src(W, H), dst(W, H), refraction(W, H), plain(W, H);
    fillRandom(refraction, 31, 0.0);
    src.fill(makePixel<PxHostRGBA_U8>(200.0, 0.0));  // transparent everywhere
    const OutOfFocusParams p = defaultParams(2.0);
    ASSERT_EQ(runEffect(host, src, dst, p, &refraction), host.StatusOk());
    // (The blend's un-premultiplication of an 8-bit pixel may truncate one step low.)
    for (uint32_t y = 0; y < H; ++y)
        for (uint32_t x = 0; x < W; ++x)
            for (int s = 0; s < 4; ++s)
                ASSERT_NEAR(dst.sample(x, y, s), refraction.sample(x, y, s), 1.0) << x << "," << y;
    ASSERT_EQ(runEffect(host, src, plain, p), host.StatusOk());
    EXPECT_EQ(plain.sample(3, 3, 3), 0.0);
    // Opaque: the blurred result stays.
    src.fill(makePixel<PxHostRGBA_U8>(90.0, 255.0));
    ASSERT_EQ(runEffect(host, src, dst, p, &refraction), host.StatusOk());
    ASSERT_EQ(runEffect(host, src, plain, p), host.StatusOk());
    EXPECT_TRUE(dst.samePixels(plain));
    // The stage's own progress: the info buffer and the refract filter as passes 1 and 2 of 3.
    EXPECT_EQ(host.badReports.load(), 0u);
}

}  // namespace
