// Shared helpers of the out-of-focus tests: a host that counts and can refuse allocations
// and progress reports, owned test images of any host format, and default settings.
#pragma once

#include <atomic>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <random>
#include <set>
#include <vector>

#include <gtest/gtest.h>

#include "../common/engine_test_support.h"
#include "core/host.h"
#include "outoffocus/out_of_focus_params.h"
#include "pixel/formats.h"

namespace oof_test {

using engine_test::Image;
using engine_test::kHostOutOfMemory;
using engine_test::makePixel;

class TestHost : public engine_test::TrackingHost {
public:
    explicit TestHost(int32_t threads = 0)
        : engine_test::TrackingHost("oof tests", "out-of-focus test host", threads) {
        allocateHook = [this](uint32_t size) -> void* {
            const uint64_t n = allocations.fetch_add(1) + 1;
            if (failAllocation != 0 && n == failAllocation) return nullptr;
            return grant(size, true);  // sizes of the requests not refused
        };
        progressHook = [this](uint32_t done, uint32_t total) {
            const uint64_t n = reports.fetch_add(1) + 1;
            if (done > total) badReports++;
            if (done == 100 && total == 100) hundredReports++;
            return !(refuseReport != 0 && n == refuseReport);
        };
    }

    void reset() {
        resetCounts();
        badReports = 0;
        hundredReports = 0;
    }

    std::atomic<uint64_t> badReports{0};
    std::atomic<uint64_t> hundredReports{0};  // ReportProgress(100, 100) calls
};

// Random samples: colours in 0..MAX, alpha in [alphaLow, 1] x MAX.
template <class View>
void fillRandom(Image<View>& img, uint32_t seed, double alphaLow = 0.5) {
    using P = typename View::pixel_type;
    std::mt19937 rng(seed);
    std::uniform_real_distribution<double> u(0.0, 1.0);
    for (uint32_t y = 0; y < img.height; ++y)
        for (uint32_t x = 0; x < img.width; ++x) {
            P& p = img.at(x, y);
            for (int i = 0; i < P::colour_count; ++i)
                p.v[i] = typename P::sample_type(P::is_integer ? std::floor(u(rng) * P::max_value + 0.5)
                                                               : u(rng));
            if constexpr (P::has_alpha) {
                const double a = alphaLow + (1.0 - alphaLow) * u(rng);
                p.v[P::alpha_index] =
                    typename P::sample_type(P::is_integer ? std::floor(a * P::max_value + 0.5) : a);
            }
        }
}

// The settings the render entry writes for the default parameters, with the given radius.
inline OutOfFocusParams defaultParams(double radius) {
    OutOfFocusParams p{};
    p.view = 1;
    p.blur_radius = radius;
    p.gamma_correction = 1;
    p.refraction_amount = 0.0;
    p.refraction_samples = 0;
    p.edge_mode_x = p.edge_mode_y = 2;
    p.outside_color[0] = p.outside_color[1] = p.outside_color[2] = p.outside_color[3] = 1.0f;
    p.keep_color = 0;
    p.iris_softness = 0.0;
    p.iris_roundness = 1.0;
    p.iris_border = 0.2;
    p.iris_border_brightness = 0.0;
    p.iris_angle = 0.0;
    p.iris_aspect = 0.0;
    p.iris_facets = 5;
    p.highlight_preservative = 5.0;
    p.highlight_additive = 0.0;
    engine_test::setDefaultHighlightSelection(p.highlight_selection);
    p.scale_x = p.scale_y = 1.0;
    return p;
}

// The same with the highlight selection switched off and gamma as given.
inline OutOfFocusParams plainParams(double radius, bool gamma) {
    OutOfFocusParams p = defaultParams(radius);
    p.gamma_correction = gamma ? 1 : 0;
    p.highlight_selection.enabled = 0;
    return p;
}

}  // namespace oof_test

#include "outoffocus/out_of_focus_filter.h"

namespace oof_test {

using engine_test::HostViews;

// One render of the filter (the form CK) from src into dst; returns the status and, when
// asked, the sizes it used.
template <class View, int CK = 0>
uint32_t runFilter(ov::OstrovanneHost& host, Image<View>& src, Image<View>& dst,
                   const OutOfFocusParams& p, ov::OutOfFocusGeometry* geometry = nullptr,
                   const ov::ImgMask8& iris = ov::ImgMask8()) {
    ov::OutOfFocusFilterOf<View, CK> filter(&host);
    filter.source = src.view();
    filter.destination = dst.view();
    filter.highlightSource = src.view();
    filter.irisImage = iris;
    filter.params = p;
    const uint32_t status = filter.render(0, 1);
    if (geometry) *geometry = filter.geometry;
    return status;
}

}  // namespace oof_test
