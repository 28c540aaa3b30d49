// The benchmarks' test picture: a 6000 x 4000 8-bit RGB photo-like image (smooth gradients
// with noise, and a sparse set of bright highlights), made once per process.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <vector>

#include "pixel/formats.h"

namespace bench_image {

constexpr uint32_t kW = 6000, kH = 4000;

inline std::vector<ov::PxHostRGB_U8>& image() {
    static std::vector<ov::PxHostRGB_U8> pixels = [] {
        std::vector<ov::PxHostRGB_U8> v(size_t(kW) * kH);
        uint32_t seed = 2024;
        for (uint32_t y = 0; y < kH; ++y)
            for (uint32_t x = 0; x < kW; ++x) {
                seed = seed * 1664525u + 1013904223u;
                const double g = 0.5 + 0.35 * std::sin(x * 0.002) * std::cos(y * 0.003);
                ov::PxHostRGB_U8& p = v[size_t(y) * kW + x];
                for (int c = 0; c < 3; ++c)
                    p.v[c] = uint8_t(std::clamp(g * 255.0 + double((seed >> (8 * c)) & 31) - 16.0, 0.0, 255.0));
                if ((seed >> 24) == 0) p.v[0] = p.v[1] = p.v[2] = 255;
            }
        return v;
    }();
    return pixels;
}

}  // namespace bench_image
