// The sizes and the transfer tables of the out-of-focus filter (the parts that do not depend
// on the pixel format).
#include "outoffocus/out_of_focus_filter.h"

#include <algorithm>
#include <cmath>

#include "fft/fft.h"
#include "pixel/colour.h"

namespace ov {

namespace {

// The largest side a transform can have (nextPowerOfTwo's domain); also "no bound" for a
// kernel reach, which the three-sides cap then limits.
constexpr int64_t kSideLimit = int64_t(1) << 30;

// x truncated toward zero and clamped to [-kSideLimit, kSideLimit]; not a number gives 0.
int64_t truncClamped(double x) {
    if (std::isnan(x)) return 0;
    if (x >= double(kSideLimit)) return kSideLimit;
    if (x <= -double(kSideLimit)) return -kSideLimit;
    return static_cast<int64_t>(x);
}

// How far a line blur of the glow filter reaches at radius r: the taps up to trunc(r), and
// one more with weight f / 2 when r has a fractional part f.
int64_t glowReach(double r) {
    if (!(r > 0.0)) return 0;
    const int64_t ri = truncClamped(r);
    return ri + (r - double(ri) > 0.0 ? 1 : 0);
}

// Image side n with a margin on both sides, capped at three sides, rounded up to even.
int64_t paddedSide(int64_t n, int64_t margin) {
    int64_t p = n + 2 * margin;
    if (p > 3 * n) p = 3 * n;
    return p + p % 2;
}

}  // namespace

bool computeOutOfFocusGeometry(uint32_t width, uint32_t height, const OutOfFocusParams& params,
                               double kernelScale, const IrisImageExtent* iris,
                               OutOfFocusGeometry& g) {
    g = OutOfFocusGeometry{};
    if (width == 0 || height == 0) return false;
    const int64_t W = width, H = height;
    if (W > kSideLimit || H > kSideLimit) return false;

    const double r = params.blur_radius, s = params.iris_softness;
    const double sx = params.scale_x, sy = params.scale_y;
    // One pixel more than the radius plus the softness allowance, as the settings give it.
    int64_t margin =
        truncClamped(r + 1.0) - truncClamped((r * s * -2.0) / (double(H) * sy + double(W) * sx));
    margin = std::clamp<int64_t>(margin, 0, kSideLimit);

    // The kernel's real reach. The softening radius of the kernel image is taken on the window
    // it is drawn in, which is at least as large as the padded size of the plain margin, so
    // the softening computed from that size is an upper bound.
    const double d = 2.0 * r;
    int64_t reachX = kSideLimit, reachY = kSideLimit;
    if (params.view == 2) {
        // The aperture is sized from the window, not from the radius: it may fill the window.
    } else if (iris == nullptr) {
        // The polygon: horizontal radius rx and vertical radius rx * aspect in kernel pixels;
        // every pixel with weight lies strictly inside that ellipse (the facets' arcs never
        // leave the circumcircle in the rasteriser's shape space).
        const double a = params.iris_aspect;
        const double base = d + 2.0 - 2.0 * std::fabs(a);
        const double rx = base / (2.0 * sx * kernelScale) * (1.0 + a);
        const double ry = base / (2.0 * sy) * (1.0 - a);
        double aspect = rx != 0.0 ? ry / rx : ry;
        if (!(aspect > 0.05)) aspect = 0.05;
        reachX = std::max<int64_t>(0, truncClamped(rx));
        reachY = std::max<int64_t>(0, truncClamped(rx * aspect));
    } else {
        // The selection, zoomed so that its shorter side spans d + 1 kernel pixels and centred
        // on the kernel's centre; a kernel pixel covers stepX x stepY selection pixels.
        double n = std::trunc(double(iris->width) * sx);
        if (n > double(iris->height) * sy) n = std::trunc(double(iris->height) * sy);
        const double stepY = n / (d + 1.0);
        const double stepX = stepY * kernelScale / iris->scale;
        if (stepX > 0.0 && std::isfinite(stepX))
            reachX = truncClamped(double(iris->width) / (2.0 * stepX)) + 2;
        if (stepY > 0.0 && std::isfinite(stepY))
            reachY = truncClamped(double(iris->height) / (2.0 * stepY)) + 2;
    }
    const int64_t pw0 = paddedSide(W, margin), ph0 = paddedSide(H, margin);
    const double glow = d * s * 2.0 / (double(ph0) * sy + double(pw0) * sx);
    if (glow > 0.0) {
        reachX += glowReach(glow / sx);
        reachY += glowReach(glow / sy);
    }
    reachX = std::min(reachX, kSideLimit);
    reachY = std::min(reachY, kSideLimit);

    const int64_t marginX = std::max(margin, reachX), marginY = std::max(margin, reachY);
    const int64_t pw = paddedSide(W, marginX), ph = paddedSide(H, marginY);
    if (pw > kSideLimit || ph > kSideLimit) return false;

    g.margin = int32_t(margin);
    g.reachX = int32_t(reachX);
    g.reachY = int32_t(reachY);
    g.marginX = int32_t(marginX);
    g.marginY = int32_t(marginY);
    g.paddedWidth = int32_t(pw);
    g.paddedHeight = int32_t(ph);
    g.fftWidth = nextPowerOfTwo(g.paddedWidth);
    g.fftHeight = nextPowerOfTwo(g.paddedHeight);
    g.fftRowLength = g.fftWidth + 2;
    g.imageX = int32_t((pw - W) / 2);
    g.imageY = int32_t((ph - H) / 2);
    return true;
}

void fillTransferTables(float* toLinear, float* fromLinear, bool gammaCorrection,
                        double maxValue) {
    for (int i = 0; i < kTransferTableSize; ++i) {
        const double x = double(i) * 3.051850947599719e-05;  // i / 32767
        if (gammaCorrection) {
            toLinear[i] = static_cast<float>(rec709_to_linear(x));
            fromLinear[i] = static_cast<float>(linear_to_rec709(x) * maxValue);
        } else {
            toLinear[i] = static_cast<float>(x);
            fromLinear[i] = static_cast<float>(x * maxValue);
        }
    }
}

}  // namespace ov
