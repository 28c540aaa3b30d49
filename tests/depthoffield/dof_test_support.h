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
#include <vector>

#include <gtest/gtest.h>

#include "core/host.h"
#include "depthoffield/depth_of_field_filter.h"
#include "pixel/formats.h"

namespace dof_test {

// The plug-in's out-of-memory code, which the host adapter answers; the engine passes it on.
constexpr uint32_t kHostOutOfMemory = static_cast<uint32_t>(-108);

class TestHost : public ov::OstrovanneHost {
public:
    explicit TestHost(int32_t threads = 2)
        : ov::OstrovanneHost("dof tests", "Ostrovanne", 1, 0, 0, "depth-of-field test host") {
        threadCountSetting = threads;
        allocateHook = [this](uint32_t size) -> void* {
            const uint64_t n = allocations.fetch_add(1) + 1;
            {
                std::lock_guard<std::mutex> lock(mutex);
                sizes.push_back(size);
            }
            if (failAllocation != 0 && n == failAllocation) return nullptr;
            if (refuse && refuse(size)) return nullptr;
            void* p = std::malloc(size == 0 ? 1 : size);
            std::lock_guard<std::mutex> lock(mutex);
            if (p) live.insert(p);
            return p;
        };
        freeHook = [this](void* p) {
            if (!p) return;
            std::lock_guard<std::mutex> lock(mutex);
            if (live.erase(p) == 0) doubleFrees++;
            std::free(p);
        };
        progressHook = [this](uint32_t, uint32_t) {
            const uint64_t n = reports.fetch_add(1) + 1;
            return !(refuseReport != 0 && n == refuseReport);
        };
    }
    ~TestHost() override {
        for (void* p : live) std::free(p);
    }
    uint32_t StatusOutOfMemory() override { return kHostOutOfMemory; }

    void reset() {
        allocations = 0;
        reports = 0;
        failAllocation = 0;
        refuseReport = 0;
        refuse = nullptr;
        std::lock_guard<std::mutex> lock(mutex);
        sizes.clear();
    }
    size_t liveBlocks() {
        std::lock_guard<std::mutex> lock(mutex);
        return live.size();
    }

    std::atomic<uint64_t> allocations{0};
    std::atomic<uint64_t> reports{0};
    std::vector<uint32_t> sizes;                 // every size asked of AllocateMemory, in order
    uint64_t failAllocation = 0;                 // 1-based: the allocation that answers null
    uint64_t refuseReport = 0;                   // 1-based: the progress report that says stop
    std::function<bool(uint32_t)> refuse;        // sizes the host does not grant
    int doubleFrees = 0;

private:
    std::mutex mutex;
    std::set<void*> live;
};

// An image owned by the test, viewed as a host view with a spare sample per pixel and spare
// bytes per row, so that wrong steps show.
template <class View>
struct Image {
    using Pixel = typename View::pixel_type;
    using T = typename Pixel::sample_type;

    Image(uint32_t w, uint32_t h) : width(w), height(h) {
        pixelBytes = int32_t(sizeof(Pixel)) + (View::b_flag ? int32_t(sizeof(T)) : 0);
        rowBytes = int32_t(w) * pixelBytes + 8;
        bytes.assign(size_t(rowBytes) * (h == 0 ? 1 : h), 0xCD);
    }
    View view() {
        return View(bytes.data(), width, height, rowBytes, 0, 0, false, 1.0, 1.0, 1.0, true, pixelBytes);
    }
    Pixel& at(uint32_t x, uint32_t y) {
        return *reinterpret_cast<Pixel*>(bytes.data() + size_t(y) * rowBytes + size_t(x) * pixelBytes);
    }
    const Pixel& at(uint32_t x, uint32_t y) const {
        return *reinterpret_cast<const Pixel*>(bytes.data() + size_t(y) * rowBytes + size_t(x) * pixelBytes);
    }
    double sample(uint32_t x, uint32_t y, int i) const { return double(at(x, y).v[i]); }
    void fill(const Pixel& p) {
        for (uint32_t y = 0; y < height; ++y)
            for (uint32_t x = 0; x < width; ++x) at(x, y) = p;
    }

    uint32_t width, height;
    int32_t pixelBytes = 0, rowBytes = 0;
    std::vector<unsigned char> bytes;
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

// A pixel with every colour sample c and alpha a (both on the 0..MAX scale).
template <class Pixel>
Pixel makePixel(double c, double a) {
    Pixel p{};
    for (int i = 0; i < Pixel::colour_count; ++i) p.v[i] = typename Pixel::sample_type(c);
    if constexpr (Pixel::has_alpha) p.v[Pixel::alpha_index] = typename Pixel::sample_type(a);
    return p;
}

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
    HighlightSelectionParams& h = p.highlight_selection;
    h.maskMode = 0;
    h.enabled = 1;
    h.hueLow = 0.0;
    h.hueHigh = 1.0;
    h.hueClimax = 1.0;
    h.hueSoften = 0.0;
    h.saturationLow = 0.0;
    h.saturationHigh = 1.0;
    h.saturationClimax = 1.0;
    h.saturationSoften = 0.0;
    h.lightnessLow = 200.0 / 255.0;
    h.lightnessHigh = 1.0;
    h.lightnessClimax = 1.0;
    h.lightnessSoften = 0.0;
    h.hueOffset = h.saturationOffset = h.lightnessOffset = 0.0;
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

using AllHostFormats =
    ::testing::Types<ov::ImgHostGrayA_U8, ov::ImgHostGray_U8, ov::ImgHostTwoChA_U8, ov::ImgHostTwoCh_U8,
                     ov::ImgHostRGBA_U8, ov::ImgHostRGB_U8, ov::ImgHostGrayA_U16, ov::ImgHostGray_U16,
                     ov::ImgHostTwoChA_U16, ov::ImgHostTwoCh_U16, ov::ImgHostRGBA_U16, ov::ImgHostRGB_U16,
                     ov::ImgHostGrayA_F1, ov::ImgHostGray_F1, ov::ImgHostTwoChA_F1, ov::ImgHostTwoCh_F1,
                     ov::ImgHostRGBA_F1, ov::ImgHostRGB_F1>;

}  // namespace dof_test
