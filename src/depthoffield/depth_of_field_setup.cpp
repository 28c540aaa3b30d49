// The format-independent parts of the depth-of-field set-up: level geometry, the tile
// margin, kernel store sizes, the lookup tables and the depth curve.
#include <algorithm>
#include <cmath>
#include <limits>

#include "depthoffield/depth_of_field_filter.h"
#include "pixel/colour.h"

namespace ov {

DepthLevelRadii depthLevelRadii(const DepthOfFieldParams& params, double scale, int32_t d) {
    DepthLevelRadii g;
    if (params.radius_table != nullptr) {
        g.r = params.radius_table[d] + 1.0;
        g.rx = g.r / params.scale_x;
        g.ry = g.r / params.scale_y;
    } else {
        g.r = std::fabs(double(d) - params.focal_point) * params.blur_radius * 0.00392156862745098 + 1.0;
        g.rx = g.r / params.scale_x * (1.0 + params.iris_aspect);
        g.ry = g.r / params.scale_y * (1.0 - params.iris_aspect);
    }
    g.rx = g.rx / scale;
    return g;
}

int32_t tileGridSlots(int64_t width, int64_t height, int64_t padX, int64_t padY) {
    const int64_t side = std::max<int64_t>(128, 4 * std::max(padX, padY));
    const int64_t w = std::max<int64_t>(width, 0), h = std::max<int64_t>(height, 0);
    const double area = double(w) * double(h);
    // A strip gets one slot per whole square along its long side; where both sides reach
    // the square's side the area term is at least as large, so the count stays the same.
    const int64_t along = area > 0.0 ? std::max(w, h) / side : 0;
    const double slots = std::max(std::ceil(area / (double(side) * double(side))), double(along));
    return slots >= 16.0 ? 16 : slots <= 1.0 ? 1 : int32_t(slots);
}

bool depthLevelRadiiUsable(const DepthOfFieldParams& params, double scale, double limit) {
    for (int32_t d = 0; d < 256; ++d) {
        const DepthLevelRadii g = depthLevelRadii(params, scale, d);
        // Written so that NaN fails: a radius is usable when it lies within +-limit.
        if (!(std::fabs(g.rx) <= limit) || !(std::fabs(g.ry) <= limit)) return false;
    }
    return true;
}

void max_blur_extent(const DepthOfFieldParams& params, double scale, unsigned& rx, unsigned& ry) {
    double mx = 0.0, my = 0.0;
    for (int32_t d = 0; d < 256; ++d) {
        const DepthLevelRadii g = depthLevelRadii(params, scale, d);
        if (g.rx > mx) mx = g.rx;
        if (g.ry > my) my = g.ry;
    }
    // Callers keep the radii within kMaxLevelRadius; the clamp only guards the conversion.
    rx = unsigned(std::min(std::ceil(mx), kMaxLevelRadius));
    ry = unsigned(std::min(std::ceil(my), kMaxLevelRadius));
}

namespace {

// A kernel buffer size rounded up to the slice alignment; sizes above 2^62 give the max value.
uint64_t alignedSlice(uint64_t bytes) {
    if (bytes > (uint64_t(1) << 62)) return std::numeric_limits<uint64_t>::max();
    return (bytes + (kKernelSliceAlign - 1)) & ~(kKernelSliceAlign - 1);
}

}  // namespace

uint64_t kernelSliceBytes(const DepthLevelRadii& g, double border_bias) {
    return alignedSlice(kernelBufferSize64(g.rx, border_bias, g.aspect()));
}

KernelStoreSize kernelStoreSize(const DepthOfFieldParams& params, double scale) {
    constexpr uint64_t kNone = std::numeric_limits<uint64_t>::max();
    KernelStoreSize s{0, 0};
    for (int32_t d = 0; d < 256; ++d) {
        const DepthLevelRadii g = depthLevelRadii(params, scale, d);
        const uint64_t bytes = kernelBufferSize64(g.rx, params.iris_border_brightness, g.aspect());
        const uint64_t slice = alignedSlice(bytes);
        // Each term is below 2^62, so 256 of them cannot wrap before the check.
        if (bytes > (uint64_t(1) << 62) || slice == kNone) return {kNone, kNone};
        s.unrounded += bytes;
        s.rounded += slice;
    }
    return s;
}

void fillDepthTables(float* decode, float* encode, float* curve, double depth_curve, double maxValue) {
    for (int32_t i = 0; i < kDepthTableSize; ++i) {
        const double x = double(i) * 3.051850947599719e-05;
        curve[i] = float(std::pow(x, depth_curve));
        decode[i] = float(rec709_to_linear(x) * maxValue);
        encode[i] = float(linear_to_rec709(x) * maxValue);
    }
}

double sampleDepthCurve(const ImgDepth8& depth, uint32_t x, uint32_t y, const float* curve, int32_t mode,
                        bool invert, double low, double high) {
    if (low > high) {
        std::swap(low, high);
        invert = !invert;
    }
    double v = 0.0;
    if (depth.data != nullptr && x < depth.width && y < depth.height) {
        uint32_t b = 0;
        if (mode == 1 || mode == 3)
            b = *(depth.data + int64_t(depth.pixelBytes) * x + int64_t(depth.rowBytes) * y);
        else if (mode == 2)
            b = 255;
        v = double(b) * 0.00392156862745098;
    }
    double t;
    if (v < low) t = 0.0;
    else if (v > high) t = 1.0;
    else if (high - low > 0.0) t = (v - low) / (high - low);
    else t = 0.0;
    if (invert) t = 1.0 - t;
    if (!(t > 0.0)) t = 0.0;
    else if (t > 1.0) t = 1.0;
    // The entry at or above t (the index rounded up, but for a rounding error's worth): the
    // callers truncate value * 255 to a level, and on the straight curve the entry below a
    // byte's d / 255 lies a fraction of a level under d, so every byte from 1 to 254 would
    // fall to level d - 1 and the focal point d would not be sharp over depth d. The bytes'
    // t * 32767 lie at least 1/255 above a whole number unless they are whole.
    const double at = std::ceil(t * 32767.0 - 1e-6);
    return double(curve[at > 0.0 ? (at < 32767.0 ? int32_t(at) : 32767) : 0]);
}

bool tiledWorkAreaFits(const DepthOfFieldParams& params, double scale, uint32_t width, uint32_t height, uint64_t p,
                       bool wideGather) {
    unsigned rx = 0, ry = 0;
    max_blur_extent(params, scale, rx, ry);
    const uint64_t pw = std::min<uint64_t>(width, 4) + 2 * uint64_t(rx);
    const uint64_t ph = std::min<uint64_t>(height, 4) + 2 * uint64_t(ry);
    if (pw > uint64_t(kMaxPaddedTileSide) || ph > uint64_t(kMaxPaddedTileSide)) return false;
    const uint64_t core = std::min<uint64_t>(width, 4) * std::min<uint64_t>(height, 4);
    for (uint64_t b : chunkBufferBytes(pw * ph, core, p, wideGather).bytes)
        if (b > UINT32_MAX) return false;
    return true;
}

ChunkBufferBytes chunkBufferBytes(uint64_t n, uint64_t c, uint64_t p, bool wideGather) {
    return ChunkBufferBytes{{c * p, c * 4, c * 4, n, n * sourceRecordBytes(p, wideGather), n * 4, n * 4}};
}

}  // namespace ov
