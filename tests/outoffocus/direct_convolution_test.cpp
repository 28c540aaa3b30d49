// The FFT blur equals a direct convolution with the same quantised kernel, in all 18 host
// formats and the four edge modes, with gamma on and off, with and without the highlight
// weight, and where the three-sides cap cuts the kernel.
//
// The reference works in double: it extends the image by the edge mode (or the outside
// colour), brings it to 0..1 and to linear light with the exact BT.709 formula (no tables),
// premultiplies (in linear light when gamma is on and the image has transparency, else
// before), weights highlights, convolves directly with the kernel that
// buildIrisKernelImage draws for the filter's window, quantised through the same 32766-step
// linearisation, cut to the filter's margin and normalised to a total of 1, and converts
// back with the exact formula.
//
// Tolerances. Float formats: 5e-5 of full intensity (float transforms of at most 64 x 64
// values are good to about 1e-6 of the largest value; the BT.709 encoding multiplies errors
// near black by up to 4.5) divided by the blurred alpha where the colour is un-premultiplied.
// 8-bit: 1 step (the tables' truncation against the exact formula is far below one step,
// rounding can still go either way). 16-bit: 6 steps (one table step of 32768 / 32767 on each
// side, made 4.5 steps by the BT.709 slope near black). Both divided by the blurred alpha
// where it un-premultiplies.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <vector>

#include "kernel/highlight_selection.h"
#include "kernel/iris_kernel_image.h"
#include "oof_test_support.h"
#include "outoffocus/out_of_focus_filter.h"
#include "pixel/edge_mode.h"

using namespace ov;
using namespace oof_test;

namespace {

double decode709(double v) {
    return v > 0.081 ? std::pow((v + 0.099) / 1.099, 1.0 / 0.45) : v / 4.5;
}
double encode709(double c) { return c >= 0.018 ? 1.099 * std::pow(c, 0.45) - 0.099 : 4.5 * c; }

// The kernel the filter convolves with: offsets (dx, dy) from the window's centre.
struct Kernel {
    int32_t x0, x1, y0, y1;
    std::vector<double> v;
    double at(int32_t dx, int32_t dy) const {
        return v[size_t(dy - y0) * (x1 - x0 + 1) + (dx - x0)];
    }
};

Kernel referenceKernel(OstrovanneHost& host, const OutOfFocusParams& p, const OutOfFocusGeometry& g,
                       int32_t W, int32_t H) {
    const int32_t PW = g.paddedWidth, PH = g.paddedHeight;
    std::vector<float> window(size_t(PW) * PH, 0.0f);
    ImgWorkGray_F1 view(window.data(), PW, PH, PW * 4, 0, 0, true, 1.0, 1.0, 1.0, true, 4);
    EXPECT_EQ(buildIrisKernelImage(view, ImgMask8(), p, 0, 1, &host), host.StatusOk());
    std::vector<float> to(kTransferTableSize), from(kTransferTableSize);
    fillTransferTables(to.data(), from.data(), p.gamma_correction != 0, 1.0);
    Kernel k;
    // The grid is capped at three image sides: a reach beyond one image side is cut. (The
    // kernel is cut nowhere else: a margin smaller than the drawn kernel's reach shows.)
    k.x0 = -std::min(W, PW / 2);
    k.x1 = std::min(W, PW / 2 - 1);
    k.y0 = -std::min(H, PH / 2);
    k.y1 = std::min(H, PH / 2 - 1);
    k.v.assign(size_t(k.x1 - k.x0 + 1) * (k.y1 - k.y0 + 1), 0.0);
    double sum = 0;
    for (int32_t dy = k.y0; dy <= k.y1; ++dy)
        for (int32_t dx = k.x0; dx <= k.x1; ++dx) {
            const float raw = window[size_t(PH / 2 + dy) * PW + (PW / 2 + dx)];
            const float c = std::min(1.0f, std::max(0.0f, raw));
            const double q = to[int32_t(c * 32766.0f)];
            k.v[size_t(dy - k.y0) * (k.x1 - k.x0 + 1) + (dx - k.x0)] = q;
            sum += q;
        }
    for (double& x : k.v) x /= sum;
    return k;
}

template <class View>
void compareWithDirect(uint32_t W, uint32_t H, double radius, int mode, bool gamma,
                       bool highlights, uint32_t seed, double aspect = 0.0, double softness = 0.0) {
    using P = typename View::pixel_type;
    using T = typename P::sample_type;
    constexpr int C = P::colour_count;
    constexpr bool A = P::has_alpha;
    const double MAX = P::max_value;
    const bool sixteen = std::is_same_v<T, unsigned short>;

    TestHost host;
    Image<View> src(W, H), dst(W, H);
    fillRandom(src, seed, highlights ? 1.0 : 0.5);
    OutOfFocusParams p = plainParams(radius, gamma);
    p.edge_mode_x = p.edge_mode_y = mode;
    p.outside_color[0] = 0.2f;
    p.outside_color[1] = 0.6f;
    p.outside_color[2] = 0.9f;
    p.outside_color[3] = 1.0f;
    p.iris_angle = 0.4;
    p.iris_aspect = aspect;
    p.iris_softness = softness;
    if (highlights) {
        p.highlight_selection.enabled = 1;
        p.highlight_selection.lightnessLow = 0.45;
        p.highlight_preservative = 3.0;
        p.highlight_additive = 1.0;
    }
    OutOfFocusGeometry g;
    ASSERT_EQ(runFilter(host, src, dst, p, &g), host.StatusOk());
    const Kernel k = referenceKernel(host, p, g, int32_t(W), int32_t(H));

    HslRangeSettings settings;
    hslRangeSetup<P>(settings, p.highlight_selection);
    // With gamma on an image with transparency, colour is linearised straight and
    // premultiplied in linear light, and divided by alpha before it is encoded.
    bool straight = false;
    if constexpr (A) {
        for (uint32_t y = 0; y < H; ++y)
            for (uint32_t x = 0; x < W; ++x) straight = straight || src.at(x, y).v[P::alpha_index] < MAX;
        straight = straight && gamma;
    }
    // The prepared element at image position (X, Y): colours, alpha, weight.
    constexpr int N = C + 2;
    auto prepared = [&](int32_t X, int32_t Y, double* e) {
        int32_t sx = X, sy = Y;
        const bool inY = edge_index(sy, int32_t(H), mode);
        const bool inX = edge_index(sx, int32_t(W), mode);
        double c[C], a = MAX, gain = 1.0, weight = 1.0;
        if ((!inX && mode >= 4) || (!inY && mode >= 4)) {
            for (int i = 0; i < C; ++i) c[i] = double(p.outside_color[i] * float(MAX));
            a = double(p.outside_color[3] * float(MAX));
        } else {
            const P& px = src.at(sx, sy);
            for (int i = 0; i < C; ++i) c[i] = double(px.v[i]);
            if constexpr (A) a = double(px.v[P::alpha_index]);
            if (highlights) {
                const double w = hslRangeWeight(settings, px);  // opaque: no premultiplication
                if (w > 0) {
                    weight = 1.0 + w * p.highlight_preservative;
                    gain = weight + w * p.highlight_additive;
                }
            }
        }
        const double cover = A ? a / MAX : 1.0;
        for (int i = 0; i < C; ++i) {
            if (straight) {
                double v = c[i] / MAX;
                if (P::is_integer) v = std::min(1.0, std::max(0.0, v));
                e[i] = decode709(v) * cover * gain;
            } else {
                double v = c[i] * cover / MAX;
                if (P::is_integer) v = std::min(1.0, std::max(0.0, v));
                e[i] = (gamma ? decode709(v) : v) * gain;
            }
        }
        e[C] = a / MAX * gain;
        e[C + 1] = weight;
    };

    for (uint32_t y = 0; y < H; ++y)
        for (uint32_t x = 0; x < W; ++x) {
            double conv[N] = {};
            for (int32_t dy = k.y0; dy <= k.y1; ++dy)
                for (int32_t dx = k.x0; dx <= k.x1; ++dx) {
                    const double kv = k.at(dx, dy);
                    if (kv == 0.0) continue;
                    double e[N];
                    prepared(int32_t(x) - dx, int32_t(y) - dy, e);
                    for (int i = 0; i < N; ++i) conv[i] += kv * e[i];
                }
            const double scale = highlights && conv[C + 1] > 0 ? 1.0 / conv[C + 1] : 1.0;
            double a = std::min(1.0, std::max(0.0, conv[C] * scale));
            if (!P::is_integer && a < 1e-5) a = 0.0;
            const double unpremultiply = A ? (a > 0 ? 1.0 / a : (P::is_integer ? 1.0 : 0.0)) : 1.0;
            const double tolerance =
                (P::is_integer ? (sixteen ? 6.0 : 1.0) : 5e-5 * std::max(1.0, conv[0] * scale)) *
                (A ? 1.0 / std::max(a, 0.05) : 1.0);
            for (int i = 0; i < C; ++i) {
                double v = std::max(0.0, conv[i] * scale);
                double want;
                if (straight) {
                    if (a > 0) v /= a;
                    if (P::is_integer) v = std::min(1.0, v);
                    want = encode709(v) * MAX;
                } else {
                    if (P::is_integer) v = std::min(1.0, v);
                    want = (gamma ? encode709(v) : v) * unpremultiply * MAX;
                }
                if (P::is_integer) want = std::min(MAX, want);
                ASSERT_NEAR(dst.sample(x, y, i), want, tolerance)
                    << "at " << x << "," << y << " colour " << i << " mode " << mode << " gamma "
                    << gamma << " highlights " << highlights << " size " << W << "x" << H
                    << " radius " << radius << " aspect " << aspect;
            }
            if constexpr (A) {
                ASSERT_NEAR(dst.sample(x, y, P::alpha_index), a * MAX, P::is_integer ? 1.0 : 5e-5)
                    << "alpha at " << x << "," << y << " mode " << mode;
            }
        }
    EXPECT_EQ(host.liveBlocks(), 0u);
}

template <class View>
class DirectConvolution : public ::testing::Test {};
TYPED_TEST_SUITE(DirectConvolution, HostViews);

TYPED_TEST(DirectConvolution, FftEqualsDirect) {
    uint32_t seed = 1;
    for (int mode = 1; mode <= 4; ++mode)
        for (int gamma = 0; gamma < 2; ++gamma) {
            compareWithDirect<TypeParam>(11, 7, 2.5, mode, gamma, false, seed++);
            compareWithDirect<TypeParam>(16, 13, 4.0, mode, gamma, gamma == 1, seed++);
            // Radius 6 on 5 x 4: the grid is capped at three sides and the kernel cut to the
            // margin of 5 columns and 4 rows it has.
            compareWithDirect<TypeParam>(5, 4, 6.0, mode, gamma, false, seed++);
            // An aperture stretched by aspect 0.6 and softened: it reaches well beyond
            // trunc(r + 1) plus the plain softness allowance; the margin follows its reach.
            compareWithDirect<TypeParam>(19, 12, 3.0, mode, gamma, false, seed++, 0.6, 10.0);
            compareWithDirect<TypeParam>(12, 19, 3.0, mode, gamma, false, seed++, -0.6, 10.0);
        }
}

}  // namespace
