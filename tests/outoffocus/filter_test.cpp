// Invariants of the FFT lens blur: uniform stays uniform, linearity, the mean under "repeat
// image", a bright pixel spreads into the kernel's shape, no colour bleeds out of transparent
// pixels, the highlight weighting's worked values, and the mended edge cases.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <vector>

#include "kernel/iris_kernel_image.h"
#include "oof_test_support.h"
#include "outoffocus/out_of_focus_filter.h"

using namespace ov;
using namespace oof_test;

namespace {

template <class View>
class UniformImage : public ::testing::Test {};
TYPED_TEST_SUITE(UniformImage, HostViews);

// A uniform image under the border colour, mirror and repeat edge modes, with the highlight
// weight on (HighlightPreservative 5) and HighlightAdditive 0, gamma on and off: 8-bit and
// float come back exactly; 16-bit within the transfer tables' quantisation: the 32767-step
// tables lose at most one step each way, which the BT.709 slope of 4.5 near black makes
// 4.5 output steps, so 6 of 32768 with gamma and 2 without, times MAX / alpha where the
// premultiplied colour is divided by alpha.
TYPED_TEST(UniformImage, StaysUniform) {
    using View = TypeParam;
    using P = typename View::pixel_type;
    const double MAX = P::max_value;
    const bool sixteen = std::is_same_v<typename P::sample_type, unsigned short>;
    TestHost host;
    const std::vector<double> levels = P::is_integer
        ? std::vector<double>{0.0, 1.0, 0.1 * MAX, 0.3 * MAX, 0.5 * MAX, 0.77 * MAX, MAX}
        : std::vector<double>{0.0, 0.001, 0.1, 0.3, 0.5, 0.77, 1.0};
    const std::vector<double> alphas = P::has_alpha ? std::vector<double>{MAX, 0.5 * MAX}
                                                    : std::vector<double>{MAX};
    for (int gamma = 0; gamma < 2; ++gamma)
        for (int mode = 1; mode <= 3; ++mode)
            for (double level : levels)
                for (double alpha : alphas) {
                    Image<View> src(23, 17), dst(23, 17);
                    const P in = makePixel<P>(P::is_integer ? std::floor(level) : level, alpha);
                    src.fill(in);
                    OutOfFocusParams p = defaultParams(4.5);
                    p.gamma_correction = uint8_t(gamma);
                    p.edge_mode_x = p.edge_mode_y = mode;
                    ASSERT_EQ(runFilter(host, src, dst, p), host.StatusOk());
                    const double bound = sixteen ? (gamma ? 6.0 : 2.0) * MAX / alpha : 0.0;
                    for (uint32_t y = 0; y < dst.height; ++y)
                        for (uint32_t x = 0; x < dst.width; ++x)
                            for (int s = 0; s < P::sample_count; ++s) {
                                const double got = dst.sample(x, y, s), want = double(in.v[s]);
                                ASSERT_LE(std::fabs(got - want), bound)
                                    << "gamma " << gamma << " mode " << mode << " level " << level
                                    << " alpha " << alpha << " at " << x << "," << y << " sample " << s;
                                ASSERT_EQ(got, dst.sample(0, 0, s));  // uniform
                            }
                }
    EXPECT_EQ(host.liveBlocks(), 0u);
}

// Linear without highlights and gamma: blur(a X + b Y) = a blur(X) + b blur(Y).
TEST(OutOfFocusFilter, BlurIsLinearWithoutHighlightsAndGamma) {
    TestHost host;
    using View = ImgHostRGB_F1;
    const uint32_t W = 37, H = 29;
    Image<View> x(W, H), y(W, H), mix(W, H), bx(W, H), by(W, H), bmix(W, H);
    fillRandom(x, 1);
    fillRandom(y, 2);
    const double a = 0.3, b = 0.6;
    for (uint32_t j = 0; j < H; ++j)
        for (uint32_t i = 0; i < W; ++i)
            for (int s = 0; s < 3; ++s)
                mix.at(i, j).v[s] = float(a * x.at(i, j).v[s] + b * y.at(i, j).v[s]);
    for (int mode = 1; mode <= 4; ++mode) {
        OutOfFocusParams p = plainParams(6.0, false);
        p.edge_mode_x = p.edge_mode_y = mode;
        p.outside_color[0] = p.outside_color[1] = p.outside_color[2] = 0.0f;  // linear, not affine
        ASSERT_EQ(runFilter(host, x, bx, p), host.StatusOk());
        ASSERT_EQ(runFilter(host, y, by, p), host.StatusOk());
        ASSERT_EQ(runFilter(host, mix, bmix, p), host.StatusOk());
        for (uint32_t j = 0; j < H; ++j)
            for (uint32_t i = 0; i < W; ++i)
                for (int s = 0; s < 3; ++s)
                    ASSERT_NEAR(bmix.sample(i, j, s), a * bx.sample(i, j, s) + b * by.sample(i, j, s), 2e-6)
                        << "mode " << mode;
    }
}

// Under "repeat image" the blur is a circular convolution of the image: its mean is kept.
TEST(OutOfFocusFilter, RepeatImageKeepsTheMean) {
    TestHost host;
    using View = ImgHostGray_F1;
    for (double radius : {3.0, 9.0, 40.0}) {  // 40 on 31 x 23 cuts the kernel at the cap
        Image<View> src(31, 23), dst(31, 23);
        fillRandom(src, 7);
        OutOfFocusParams p = plainParams(radius, false);
        p.edge_mode_x = p.edge_mode_y = 3;
        ASSERT_EQ(runFilter(host, src, dst, p), host.StatusOk());
        double in = 0, out = 0;
        for (uint32_t j = 0; j < src.height; ++j)
            for (uint32_t i = 0; i < src.width; ++i) {
                in += src.sample(i, j, 0);
                out += dst.sample(i, j, 0);
            }
        EXPECT_NEAR(out / (31 * 23), in / (31 * 23), 1e-6) << radius;
    }
}

// One bright pixel spreads into the kernel's shape (not mirrored: a 5-facet iris is not
// point-symmetric) and keeps its energy.
TEST(OutOfFocusFilter, BrightPixelTakesTheKernelsShape) {
    TestHost host;
    using View = ImgHostGray_F1;
    const uint32_t N = 41, C = 20;
    Image<View> src(N, N), dst(N, N);
    src.fill(makePixel<PxHostGray_F1>(0.0, 1.0));
    src.at(C, C).v[0] = 1.0f;
    OutOfFocusParams p = plainParams(9.0, false);
    p.edge_mode_x = p.edge_mode_y = 1;
    p.iris_angle = 0.3;
    p.iris_roundness = 0.0;  // straight facets: a pentagon, not point-symmetric
    OutOfFocusGeometry g;
    ASSERT_EQ(runFilter(host, src, dst, p, &g), host.StatusOk());

    // The kernel as drawn and quantised: a window of the padded size, centre (PW/2, PH/2).
    std::vector<float> window(size_t(g.paddedWidth) * g.paddedHeight, 0.0f);
    ImgWorkGray_F1 kv(window.data(), g.paddedWidth, g.paddedHeight, g.paddedWidth * 4, 0, 0, true,
                      1.0, 1.0, 1.0, true, 4);
    ASSERT_EQ(buildIrisKernelImage(kv, ImgMask8(), p, 0, 1, &host), host.StatusOk());
    std::vector<float> to(kTransferTableSize), from(kTransferTableSize);
    fillTransferTables(to.data(), from.data(), false, 1.0);
    auto k = [&](int dx, int dy) -> double {
        const int x = g.paddedWidth / 2 + dx, y = g.paddedHeight / 2 + dy;
        if (x < 0 || y < 0 || x >= g.paddedWidth || y >= g.paddedHeight) return 0.0;
        const float v = std::min(1.0f, std::max(0.0f, window[size_t(y) * g.paddedWidth + x]));
        return to[int32_t(v * 32766.0f)];
    };
    double sum = 0;
    for (int dy = -20; dy <= 20; ++dy)
        for (int dx = -20; dx <= 20; ++dx) sum += k(dx, dy);
    ASSERT_GT(sum, 0.0);
    double energy = 0, asymmetry = 0;
    for (int dy = -20; dy <= 20; ++dy)
        for (int dx = -20; dx <= 20; ++dx) {
            const double got = dst.sample(C + dx, C + dy, 0);
            energy += got;
            ASSERT_NEAR(got, k(dx, dy) / sum, 2e-6) << dx << "," << dy;
            asymmetry += std::fabs(k(dx, dy) - k(-dx, -dy));
        }
    EXPECT_NEAR(energy, 1.0, 1e-5);
    EXPECT_GT(asymmetry / sum, 0.01);  // a mirrored kernel would not match
}

// Premultiplied blur: colour under alpha 0 contributes nothing.
template <class View>
void checkNoBleed() {
    using P = typename View::pixel_type;
    TestHost host;
    const double MAX = P::max_value;
    const uint32_t W = 40, H = 12;
    Image<View> src(W, H), dst(W, H);
    for (uint32_t y = 0; y < H; ++y)
        for (uint32_t x = 0; x < W; ++x) {
            P& px = src.at(x, y);
            px = P{};
            if (x < W / 2) {
                px.v[0] = typename P::sample_type(MAX);  // red, fully transparent
                px.v[3] = 0;
            } else {
                px.v[2] = typename P::sample_type(MAX);  // opaque blue
                px.v[3] = typename P::sample_type(MAX);
            }
        }
    bool someBlend = false;
    for (int gamma = 0; gamma < 2; ++gamma) {
        OutOfFocusParams p = defaultParams(6.0);
        p.gamma_correction = uint8_t(gamma);
        ASSERT_EQ(runFilter(host, src, dst, p), host.StatusOk());
        for (uint32_t y = 0; y < H; ++y)
            for (uint32_t x = 0; x < W; ++x) {
                EXPECT_LE(dst.sample(x, y, 0), P::is_integer ? 0.0 : 1e-6) << x << "," << y;
                const double a = dst.sample(x, y, 3);
                if (a > 0.1 * MAX && a < 0.9 * MAX && gamma == 0) {
                    someBlend = true;
                    // Straight colour: blue stays full where anything is visible. (With gamma
                    // the premultiplied colour is encoded before the division by alpha, which
                    // brightens partly transparent edges.)
                    // 16-bit: two table steps, divided by alpha.
                    const double steps = std::is_same_v<typename P::sample_type, unsigned short>
                                              ? 2.0 * MAX / a : 1.0;
                    EXPECT_NEAR(dst.sample(x, y, 2), MAX, P::is_integer ? steps : 1e-4);
                }
            }
    }
    EXPECT_TRUE(someBlend);
}

TEST(OutOfFocusFilter, TransparentPixelsDoNotBleed) {
    checkNoBleed<ImgHostRGBA_U8>();
    checkNoBleed<ImgHostRGBA_U16>();
    checkNoBleed<ImgHostRGBA_F1>();
}

// The highlight weighting of the image preparation: a pixel of weight w = 0.5 with
// HighlightPreservative 5 and HighlightAdditive 2 gets the weight sample 3.5 and its colour
// and alpha 4.5 times their value.
TEST(OutOfFocusFilter, HighlightWeightWorkedValues) {
    TestHost host;
    using View = ImgHostRGBA_F1;
    Image<View> src(4, 3), dst(4, 3);
    // Lightness window [0.5, 1], soften 1, climax 0: lightness 0.625 has weight 0.5.
    src.fill(makePixel<PxHostRGBA_F1>(0.625, 1.0));
    OutOfFocusParams p = plainParams(1.0, false);
    p.highlight_selection.enabled = 1;
    p.highlight_selection.lightnessLow = 0.5;
    p.highlight_selection.lightnessHigh = 1.0;
    p.highlight_selection.lightnessSoften = 1.0;
    p.highlight_selection.lightnessClimax = 0.0;
    p.highlight_preservative = 5.0;
    p.highlight_additive = 2.0;

    OutOfFocusFilterOf<View, 0> f(&host);
    f.source = f.highlightSource = src.view();
    f.destination = dst.view();
    f.params = p;
    f.useWeight = f.useAdditive = 1;
    ASSERT_TRUE(computeOutOfFocusGeometry(4, 3, p, 1.0, nullptr, f.geometry));
    f.paddedWidth = f.geometry.paddedWidth;
    f.paddedHeight = f.geometry.paddedHeight;
    f.fftWidth = f.geometry.fftWidth;
    f.fftHeight = f.geometry.fftHeight;
    f.fftRowLength = f.geometry.fftRowLength;
    std::vector<PxWeightedRGBA_F1> grid(size_t(f.fftRowLength) * f.fftHeight);
    f.weightedImageGrid = ImgWeightedRGBA_F1(grid.data(), f.fftRowLength, f.fftHeight,
                                             f.fftRowLength * 20, 0, 0, true, 1, 1, 1, true, 20);
    std::vector<float> to(kTransferTableSize), from(kTransferTableSize);
    fillTransferTables(to.data(), from.data(), false, 1.0);
    f.toLinearTable = to.data();
    f.fromLinearTable = from.data();
    f.prepareMarginRows = 0;  // the image rows, then the margin rows
    ASSERT_EQ(f.prepare_slice(0, 1, 0), host.StatusOk());
    f.prepareMarginRows = 1;
    ASSERT_EQ(f.prepare_slice(0, 1, 0), host.StatusOk());
    for (const PxWeightedRGBA_F1& e : grid) {
        EXPECT_FLOAT_EQ(e.v[4], 3.5f);
        EXPECT_FLOAT_EQ(e.v[0], float(0.625 * 4.5));
        EXPECT_FLOAT_EQ(e.v[3], 4.5f);
    }
    // The whole render divides by the blurred weight: colour 0.625 x 4.5 / 3.5, alpha capped.
    ASSERT_EQ(runFilter(host, src, dst, p), host.StatusOk());
    for (uint32_t y = 0; y < 3; ++y)
        for (uint32_t x = 0; x < 4; ++x) {
            EXPECT_NEAR(dst.sample(x, y, 3), 1.0, 1e-6);
            EXPECT_NEAR(dst.sample(x, y, 0), 0.625 * 4.5 / 3.5, 1e-5);
        }
    // Additive gain alone (HighlightPreservative 0): no weight sample, gain 1 + w A = 2.
    p.highlight_preservative = 0.0;
    ASSERT_EQ(runFilter(host, src, dst, p), host.StatusOk());
    EXPECT_NEAR(dst.sample(1, 1, 0), 0.625 * 2.0, 1e-5);
}

// The result worker's factors: 2 MAX / (fftWidth fftHeight) for a kernel of total 1, and
// MAX / w where the blurred weight w is positive.
TEST(OutOfFocusFilter, ResultFactorsWorkedValues) {
    TestHost host;
    using View = ImgHostGray_U8;
    Image<View> dst(3, 2);
    OutOfFocusFilterOf<View, 0> f(&host);
    f.destination = dst.view();
    f.params = plainParams(1.0, false);
    f.fftWidth = f.fftHeight = 256;
    f.fftRowLength = 258;
    f.paddedWidth = 5;
    f.paddedHeight = 4;
    f.geometry.imageX = f.geometry.imageY = 1;
    std::vector<float> to(kTransferTableSize), from(kTransferTableSize);
    fillTransferTables(to.data(), from.data(), false, 255.0);
    f.fromLinearTable = from.data();
    std::vector<PxWeightedGray_F1> weighted(258 * 4);
    std::vector<PxWorkGray_F1> plain(258 * 4);
    // Plain: a sample of 32768 scales by 510 / 65536 to 255.
    for (auto& e : plain) e.v[0] = 32768.0f;
    plain[258 + 1].v[0] = 16384.0f;  // -> 127.5
    f.imageGrid = ImgWorkGray_F1(plain.data(), 258, 4, 258 * 4, 0, 0, true, 1, 1, 1, true, 4);
    ASSERT_EQ(f.render_slice(0, 1, 0), host.StatusOk());
    // 127.5 reads table entry 16383 (127.496) and is written as 127.
    EXPECT_EQ(dst.sample(0, 0, 0), 127.0);
    EXPECT_EQ(dst.sample(1, 0, 0), 255.0);
    // Weighted: weight 2 gives the factor 127.5: a sample of 2 becomes 255, 1 becomes 127.5.
    for (auto& e : weighted) {
        e.v[0] = 2.0f;
        e.v[1] = 2.0f;
    }
    weighted[258 + 1].v[0] = 1.0f;
    weighted[258 + 2].v[1] = 0.0f;  // a weight of 0 keeps the plain factor
    f.useWeight = 1;
    f.weightedImageGrid = ImgWeightedGray_F1(weighted.data(), 258, 4, 258 * 8, 0, 0, true, 1, 1, 1, true, 8);
    ASSERT_EQ(f.render_slice(0, 1, 0), host.StatusOk());
    EXPECT_EQ(dst.sample(0, 0, 0), 127.0);
    EXPECT_EQ(dst.sample(1, 0, 0), 0.0);  // 2 x 510 / 65536 rounds to 0
    EXPECT_EQ(dst.sample(2, 0, 0), 255.0);
}

// A 32-bit float sample that is not a number or infinite is read as 0; it does not spread
// through the transform.
TEST(OutOfFocusFilter, NonFiniteFloatSamplesReadAsZero) {
    TestHost host;
    using View = ImgHostRGBA_F1;
    Image<View> clean(20, 15), dirty(20, 15), a(20, 15), b(20, 15);
    fillRandom(clean, 3);
    dirty.bytes = clean.bytes;
    clean.at(5, 5).v[1] = 0.0f;
    dirty.at(5, 5).v[1] = std::numeric_limits<float>::quiet_NaN();
    clean.at(12, 9).v[0] = 0.0f;
    dirty.at(12, 9).v[0] = std::numeric_limits<float>::infinity();
    clean.at(2, 11).v[3] = 0.0f;
    dirty.at(2, 11).v[3] = -std::numeric_limits<float>::infinity();
    const OutOfFocusParams p = defaultParams(5.0);
    ASSERT_EQ(runFilter(host, clean, a, p), host.StatusOk());
    ASSERT_EQ(runFilter(host, dirty, b, p), host.StatusOk());
    EXPECT_TRUE(a.samePixels(b));
    for (uint32_t y = 0; y < 15; ++y)
        for (uint32_t x = 0; x < 20; ++x)
            for (int s = 0; s < 4; ++s) ASSERT_TRUE(std::isfinite(b.sample(x, y, s)));
}

// A kernel whose total is 0 (a black selection as iris) cannot be normalised: the source
// is copied.
TEST(OutOfFocusFilter, KernelOfZeroTotalCopiesTheSource) {
    TestHost host;
    using View = ImgHostRGB_U8;
    Image<View> src(16, 9), dst(16, 9);
    fillRandom(src, 11);
    Image<ImgMask8> iris(8, 8);
    iris.fill(makePixel<PxMask8>(0.0, 255.0));
    ASSERT_EQ(runFilter(host, src, dst, defaultParams(4.0), nullptr, iris.view()), host.StatusOk());
    EXPECT_TRUE(src.samePixels(dst));
    EXPECT_EQ(host.liveBlocks(), 0u);
}

// An empty destination returns at once, without allocating or reporting.
TEST(OutOfFocusFilter, EmptyDestinationReturnsAtOnce) {
    TestHost host;
    Image<ImgHostRGB_U8> src(0, 5), dst(0, 5), src2(5, 0), dst2(5, 0);
    EXPECT_EQ(runFilter(host, src, dst, defaultParams(4.0)), host.StatusOk());
    EXPECT_EQ(runFilter(host, src2, dst2, defaultParams(4.0)), host.StatusOk());
    EXPECT_EQ(host.allocations.load(), 0u);
    EXPECT_EQ(host.reports.load(), 0u);
}

// A grid whose bytes do not fit the host's 32-bit allocation size is refused with the
// host's out-of-memory status before anything is allocated (the pixels are never read).
TEST(OutOfFocusFilter, OversizedGridIsRefusedNotWrapped) {
    TestHost host;
    unsigned char byte = 0;
    OutOfFocusFilterOf<ImgHostRGBA_F1, 0> f(&host);
    // 20000 x 20000: padded 20092, transform 32768 x 32768, 17 GiB of weighted elements.
    f.source = f.highlightSource = f.destination =
        ImgHostRGBA_F1(&byte, 20000, 20000, 0, 0, 0, false, 1, 1, 1, true, 0);
    f.params = defaultParams(45.0);
    EXPECT_EQ(f.render(0, 1), kHostOutOfMemory);
    // 11000 x 11000 without the weight: 16 x 16386 x 16384 bytes = 4.0000153 GiB, just over.
    f.params.highlight_preservative = 0.0;
    f.destination.width = f.destination.height = 11000;
    EXPECT_EQ(f.render(0, 1), kHostOutOfMemory);
    EXPECT_EQ(host.allocations.load(), 0u);
}

// Images of one pixel in either direction, under every edge mode (run under ASan).
TEST(OutOfFocusFilter, SinglePixelWideImages) {
    TestHost host;
    for (auto [w, h] : {std::pair<uint32_t, uint32_t>{1, 1}, {1, 9}, {9, 1}}) {
        for (int mode = 1; mode <= 4; ++mode) {
            Image<ImgHostRGBA_U8> src(w, h), dst(w, h);
            fillRandom(src, w * 10 + h);
            OutOfFocusParams p = defaultParams(3.0);
            p.edge_mode_x = p.edge_mode_y = mode;
            ASSERT_EQ(runFilter(host, src, dst, p), host.StatusOk());
        }
    }
    EXPECT_EQ(host.liveBlocks(), 0u);
}

// One thread and eight threads give the same bits.
template <class View, int CK = 0>
void checkThreads(const OutOfFocusParams& p, const ImgMask8& iris = ImgMask8()) {
    TestHost one(1), eight(8);
    Image<View> src(53, 31), a(53, 31), b(53, 31);
    fillRandom(src, 5);
    // Some highlights, so the weight path is taken.
    for (uint32_t x = 0; x < 53; x += 7) src.at(x, x % 31) = makePixel<typename View::pixel_type>(
        View::pixel_type::max_value, View::pixel_type::max_value);
    ASSERT_EQ((runFilter<View, CK>(one, src, a, p, nullptr, iris)), one.StatusOk());
    ASSERT_EQ((runFilter<View, CK>(eight, src, b, p, nullptr, iris)), eight.StatusOk());
    EXPECT_TRUE(a.samePixels(b));
}

TEST(OutOfFocusFilter, OneThreadEqualsEightThreads) {
    OutOfFocusParams p = defaultParams(7.0);
    p.highlight_additive = 1.5;
    checkThreads<ImgHostRGBA_U8>(p);
    checkThreads<ImgHostRGB_U16>(p);
    checkThreads<ImgHostTwoChA_F1>(p);
    Image<ImgMask8> iris(9, 9);
    fillRandom(iris, 2);
    p.keep_color = 1;
    checkThreads<ImgHostRGBA_F1, 1>(p, iris.view());
}

}  // namespace

// A source flagged premultiplied (colour samples c x a) renders as its straight twin does, in
// linear light: its colour is made straight for the decode and premultiplied there; a
// destination flagged premultiplied receives the encoded straight colour times alpha.
TEST(OutOfFocusFilter, PremultipliedImagesRenderAsStraightOnes) {
    using View = ImgHostRGBA_F1;
    constexpr uint32_t W = 24, H = 16;
    TestHost host;
    Image<View> straightSrc(W, H), premSrc(W, H), straightDst(W, H), premDst(W, H);
    fillRandom(straightSrc, 7, 0.0);
    for (uint32_t y = 0; y < H; ++y)
        for (uint32_t x = 0; x < W; ++x) {
            auto p = straightSrc.at(x, y);
            p.v[3] = x < W / 3 ? 1.0f : x < 2 * W / 3 ? p.v[3] : 0.0f;  // opaque, random, clear
            straightSrc.at(x, y) = p;
            for (int i = 0; i < 3; ++i) p.v[i] *= p.v[3];
            premSrc.at(x, y) = p;
        }
    auto run = [&](Image<View>& src, Image<View>& dst, bool premultiplied) {
        OutOfFocusFilterOf<View, 0> filter(&host);
        filter.source = src.view();
        filter.source.premultiplied = premultiplied ? 1 : 0;
        filter.highlightSource = filter.source;
        filter.destination = dst.view();
        filter.destination.premultiplied = premultiplied ? 1 : 0;
        filter.irisImage = ImgMask8();
        filter.params = defaultParams(3.0);
        return filter.render(0, 1);
    };
    ASSERT_EQ(run(straightSrc, straightDst, false), host.StatusOk());
    ASSERT_EQ(run(premSrc, premDst, true), host.StatusOk());
    for (uint32_t y = 0; y < H; ++y)
        for (uint32_t x = 0; x < W; ++x) {
            const auto& s = straightDst.at(x, y);
            const auto& p = premDst.at(x, y);
            ASSERT_NEAR(p.v[3], s.v[3], 1e-6) << x << "," << y;
            for (int i = 0; i < 3; ++i) ASSERT_NEAR(p.v[i], s.v[i] * s.v[3], 2e-5) << x << "," << y << " colour " << i;
        }
}
