// Shared helpers of the depth-of-field tests: a host that counts, caps and refuses
// allocations, owned test images of any host format, the settings the render entry writes
// for the default parameters, and the 18 formats as a typed-test list.
#pragma once

#include <atomic>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <mutex>
#include <random>
#include <set>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "../common/engine_test_support.h"
#include "core/host.h"
#include "depthoffield/depth_of_field_filter.h"
#include "pixel/formats.h"

namespace dof_test {

using engine_test::Image;
using engine_test::kHostOutOfMemory;
using engine_test::makePixel;

class TestHost : public engine_test::TrackingHost {
public:
    explicit TestHost(int32_t threads = 2)
        : engine_test::TrackingHost("dof tests", "depth-of-field test host", threads) {
        allocateHook = [this](uint32_t size) -> void* {
            const uint64_t n = allocations.fetch_add(1) + 1;
            recordSize(size);  // every size asked, granted or not
            if (failAllocation != 0 && n == failAllocation) return nullptr;
            if (refuse && refuse(size)) return nullptr;
            return grant(size, false);
        };
        progressHook = [this](uint32_t, uint32_t) {
            const uint64_t n = reports.fetch_add(1) + 1;
            return !(refuseReport != 0 && n == refuseReport);
        };
    }

    void reset() {
        resetCounts();
        refuse = nullptr;
    }

    std::function<bool(uint32_t)> refuse;  // sizes the host does not grant
};

// Every (done, total) a render reports, in the order the reports arrive from any thread.
struct ProgressLog {
    std::mutex lock;
    std::vector<std::pair<uint32_t, uint32_t>> reports;
    void attach(TestHost& host) {
        host.progressHook = [this](uint32_t done, uint32_t total) {
            std::lock_guard<std::mutex> guard(lock);
            reports.emplace_back(done, total);
            return true;
        };
    }
};

// A depth map: one byte per pixel, packed rows (rowBytes = width).
struct DepthMap {
    DepthMap(uint32_t w, uint32_t h, uint8_t fillValue = 0) : width(w), height(h), bytes(size_t(w) * h, fillValue) {}
    ov::ImgDepth8 view() {
        return ov::ImgDepth8(bytes.data(), width, height, int32_t(width), 0, 0, false, 1.0, 1.0, 1.0, true, 1);
    }
    uint8_t& at(uint32_t x, uint32_t y) { return bytes[size_t(y) * width + x]; }
    uint32_t width, height;
    std::vector<uint8_t> bytes;
};

// Random samples on the 0..MAX scale.
template <class View>
void fillRandom(Image<View>& img, uint32_t seed) {
    using P = typename View::pixel_type;
    std::mt19937 rng(seed);
    std::uniform_real_distribution<double> u(0.0, 1.0);
    for (uint32_t y = 0; y < img.height; ++y)
        for (uint32_t x = 0; x < img.width; ++x)
            for (int i = 0; i < P::base_count; ++i)
                img.at(x, y).v[i] =
                    typename P::sample_type(P::is_integer ? std::floor(u(rng) * P::max_value + 0.5) : u(rng));
}

// The settings the render entry writes for the default parameters (Show 1, FocalPoint 255,
// DepthCurve 1, a round iris), with the given blur radius.
inline DepthOfFieldParams defaultParams(double radius) {
    DepthOfFieldParams p{};
    p.view = 1;
    p.gamma_correction = 1;
    p.blur_radius = radius;
    p.iris_roundness = 0.0;
    p.iris_border = 0.0;
    p.iris_border_brightness = 0.0;
    p.iris_angle = 0.0;
    p.iris_aspect = 0.0;
    p.iris_facets = 6;
    p.depth_invert = 0;
    p.depth_curve = 1.0;
    p.depth_mode = 1;
    p.focal_point = 255.0;
    p.depth_low = 0.0;
    p.depth_high = 1.0;
    p.highlight_preservative = 0.0;
    engine_test::setDefaultHighlightSelection(p.highlight_selection);
    p.edge_mode_x = p.edge_mode_y = 2;
    p.outside_color[0] = p.outside_color[1] = p.outside_color[2] = p.outside_color[3] = 1.0f;
    p.scale_x = p.scale_y = 1.0;
    p.radius_table = nullptr;
    return p;
}

// A filter over a host format wired to test images.
template <class View>
struct Rig {
    using Filter = ov::DepthOfFieldFilter<View, ov::ImgDepth8>;
    Rig(TestHost& host, uint32_t w, uint32_t h, const DepthOfFieldParams& p)
        : src(w, h), dst(w, h), depth(w, h), filter(&host) {
        fillRandom(src, 7);
        filter.source = src.view();
        filter.destination = dst.view();
        filter.selection = src.view();
        filter.depth_map = depth.view();
        filter.params = p;
    }
    Image<View> src, dst;
    DepthMap depth;
    Filter filter;
};

using AllHostFormats = engine_test::HostViews;

}  // namespace dof_test
