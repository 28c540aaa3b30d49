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

#include "core/host.h"
#include "outoffocus/out_of_focus_params.h"
#include "pixel/formats.h"

namespace oof_test {

// The plug-in's out-of-memory code, which the adapter answers; the filters must pass it on.
constexpr uint32_t kHostOutOfMemory = static_cast<uint32_t>(-108);

class TestHost : public ov::OstrovanneHost {
public:
    explicit TestHost(int32_t threads = 0)
        : ov::OstrovanneHost("oof tests", "Ostrovanne", 1, 0, 0, "out-of-focus test host") {
        threadCountSetting = threads;
        allocateHook = [this](uint32_t size) -> void* {
            const uint64_t n = allocations.fetch_add(1) + 1;
            if (failAllocation != 0 && n == failAllocation) return nullptr;
            void* p = std::malloc(size == 0 ? 1 : size);
            std::lock_guard<std::mutex> lock(mutex);
            if (p) live.insert(p);
            sizes.push_back(size);
            return p;
        };
        freeHook = [this](void* p) {
            if (!p) return;
            std::lock_guard<std::mutex> lock(mutex);
            if (live.erase(p) == 0) doubleFrees++;
            std::free(p);
        };
        progressHook = [this](uint32_t done, uint32_t total) {
            const uint64_t n = reports.fetch_add(1) + 1;
            if (done > total) badReports++;
            if (done == 100 && total == 100) hundredReports++;
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
        badReports = 0;
        hundredReports = 0;
        std::lock_guard<std::mutex> lock(mutex);
        sizes.clear();
    }
    size_t liveBlocks() {
        std::lock_guard<std::mutex> lock(mutex);
        return live.size();
    }

    std::atomic<uint64_t> allocations{0};
    std::atomic<uint64_t> reports{0};
    std::atomic<uint64_t> badReports{0};
    std::atomic<uint64_t> hundredReports{0};  // ReportProgress(100, 100) calls
    std::vector<uint32_t> sizes;              // sizes asked of AllocateMemory, in order
    uint64_t failAllocation = 0;  // 1-based: the allocation that answers null
    uint64_t refuseReport = 0;    // 1-based: the progress report that answers false
    int doubleFrees = 0;

private:
    std::mutex mutex;
    std::set<void*> live;
};

// An image owned by the test, viewed as a host view (pixel step from pixelBytes, with an
// extra spare byte per pixel and per row so that wrong steps show).
template <class View>
struct Image {
    using Pixel = typename View::pixel_type;
    using T = typename Pixel::sample_type;
    static constexpr int S = Pixel::sample_count;

    Image(uint32_t w, uint32_t h, int32_t pad = 1) : width(w), height(h) {
        pixelBytes = int32_t(sizeof(Pixel)) + (View::b_flag ? pad * int32_t(sizeof(T)) : 0);
        rowBytes = int32_t(w) * pixelBytes + 8;
        bytes.assign(size_t(rowBytes) * (h == 0 ? 1 : h), 0xCD);
    }
    View view() {
        return View(bytes.data(), width, height, rowBytes, 0, 0, false, 1.0, 1.0, 1.0, true,
                    pixelBytes);
    }
    Pixel& at(uint32_t x, uint32_t y) {
        return *reinterpret_cast<Pixel*>(bytes.data() + size_t(y) * rowBytes + size_t(x) * pixelBytes);
    }
    const Pixel& at(uint32_t x, uint32_t y) const {
        return *reinterpret_cast<const Pixel*>(bytes.data() + size_t(y) * rowBytes + size_t(x) * pixelBytes);
    }
    // Sample i of pixel (x, y) as a double.
    double sample(uint32_t x, uint32_t y, int i) const { return double(at(x, y).v[i]); }
    void fill(const Pixel& p) {
        for (uint32_t y = 0; y < height; ++y)
            for (uint32_t x = 0; x < width; ++x) at(x, y) = p;
    }
    bool samePixels(const Image& o) const {
        for (uint32_t y = 0; y < height; ++y)
            for (uint32_t x = 0; x < width; ++x)
                if (std::memcmp(&at(x, y), &o.at(x, y), sizeof(Pixel)) != 0) return false;
        return true;
    }

    uint32_t width, height;
    int32_t pixelBytes = 0, rowBytes = 0;
    std::vector<unsigned char> bytes;
};

// A pixel with every colour sample c and alpha a (both on the 0..MAX scale).
template <class Pixel>
Pixel makePixel(double c, double a) {
    Pixel p{};
    for (int i = 0; i < Pixel::colour_count; ++i) p.v[i] = typename Pixel::sample_type(c);
    if constexpr (Pixel::has_alpha) p.v[Pixel::alpha_index] = typename Pixel::sample_type(a);
    return p;
}

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

// The 18 host view types, for typed tests.
using HostViews = ::testing::Types<ov::ImgHostGrayA_U8, ov::ImgHostGray_U8, ov::ImgHostTwoChA_U8,
                                   ov::ImgHostTwoCh_U8, ov::ImgHostRGBA_U8, ov::ImgHostRGB_U8,
                                   ov::ImgHostGrayA_U16, ov::ImgHostGray_U16,
                                   ov::ImgHostTwoChA_U16, ov::ImgHostTwoCh_U16,
                                   ov::ImgHostRGBA_U16, ov::ImgHostRGB_U16, ov::ImgHostGrayA_F1,
                                   ov::ImgHostGray_F1, ov::ImgHostTwoChA_F1, ov::ImgHostTwoCh_F1,
                                   ov::ImgHostRGBA_F1, ov::ImgHostRGB_F1>;

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
