// Helpers of the tile renderer's tests: a host that counts blocks and can stop a render at a
// chosen progress report, owned images of any host format, a depth map, the settings of the
// default parameters, and a rig that renders through the filter either whole (render) or on a
// tile grid of the test's choosing.
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
#include "depthoffield/depth_of_field_filter.h"
#include "pixel/formats.h"

namespace tile_test {

class CountingHost : public ov::OstrovanneHost {
public:
    explicit CountingHost(int32_t threads)
        : ov::OstrovanneHost("tile tests", "Ostrovanne", 1, 0, 0, "tile renderer test host") {
        threadCountSetting = threads;
        allocateHook = [this](uint32_t size) -> void* {
            void* p = std::malloc(size == 0 ? 1 : size);
            if (p && poison) std::memset(p, 0xA5, size);
            std::lock_guard<std::mutex> lock(mutex);
            if (p) live.insert(p);
            return p;
        };
        freeHook = [this](void* p) {
            if (!p) return;
            std::lock_guard<std::mutex> lock(mutex);
            live.erase(p);
            std::free(p);
        };
        progressHook = [this](uint32_t, uint32_t) {
            const uint64_t n = reports.fetch_add(1) + 1;
            return !(stopAt != 0 && n >= stopAt);
        };
    }
    ~CountingHost() override {
        for (void* p : live) std::free(p);
    }
    size_t liveBlocks() {
        std::lock_guard<std::mutex> lock(mutex);
        return live.size();
    }
    std::atomic<uint64_t> reports{0};
    uint64_t stopAt = 0;   // 1-based: this report and every later one answer "stop"
    bool poison = true;    // fill every block with a pattern (the renderer must not read it)

private:
    std::mutex mutex;
    std::set<void*> live;
};

// An owned image of a host format (packed pixels, a spare row tail so wrong steps show).
template <class View>
struct Image {
    using Pixel = typename View::pixel_type;
    using T = typename Pixel::sample_type;
    Image(uint32_t w, uint32_t h) : width(w), height(h), rowBytes(int32_t(w * sizeof(Pixel) + 8)),
                                    bytes(size_t(rowBytes) * h, 0xCD) {}
    View view() {
        return View(bytes.data(), width, height, rowBytes, 0, 0, false, 1.0, 1.0, 1.0, true,
                    int32_t(sizeof(Pixel)));
    }
    Pixel& at(uint32_t x, uint32_t y) {
        return *reinterpret_cast<Pixel*>(bytes.data() + size_t(y) * rowBytes + x * sizeof(Pixel));
    }
    const Pixel& at(uint32_t x, uint32_t y) const {
        return *reinterpret_cast<const Pixel*>(bytes.data() + size_t(y) * rowBytes + x * sizeof(Pixel));
    }
    bool samePixels(const Image& o) const {
        for (uint32_t y = 0; y < height; ++y)
            if (std::memcmp(&at(0, y), &o.at(0, y), width * sizeof(Pixel)) != 0) return false;
        return true;
    }
    uint32_t width, height;
    int32_t rowBytes;
    std::vector<unsigned char> bytes;
};

struct DepthMap {
    DepthMap(uint32_t w, uint32_t h, uint8_t v = 0) : width(w), height(h), bytes(size_t(w) * h, v) {}
    ov::ImgDepth8 view() {
        return ov::ImgDepth8(bytes.data(), width, height, int32_t(width), 0, 0, false, 1.0, 1.0, 1.0, true, 1);
    }
    uint8_t& at(uint32_t x, uint32_t y) { return bytes[size_t(y) * width + x]; }
    uint32_t width, height;
    std::vector<uint8_t> bytes;
};

// Random samples: integers 0..MAX, floats 0..1; alpha drawn from alphaLo..MAX.
template <class View>
void fillRandom(Image<View>& img, uint32_t seed, double alphaLo = 0.0) {
    using P = typename View::pixel_type;
    std::mt19937 rng(seed);
    std::uniform_real_distribution<double> u(0.0, 1.0);
    for (uint32_t y = 0; y < img.height; ++y)
        for (uint32_t x = 0; x < img.width; ++x)
            for (int i = 0; i < P::base_count; ++i) {
                double v = u(rng);
                if (P::has_alpha && i == P::alpha_index) v = alphaLo + (1.0 - alphaLo) * v;
                img.at(x, y).v[i] = typename P::sample_type(P::is_integer ? std::floor(v * P::max_value + 0.5) : v);
            }
}

// The settings the render entry writes for the default parameters (Show 1, FocalPoint 255,
// DepthCurve 1, gamma correction on, mirror edges, no highlight boosting).
inline DepthOfFieldParams defaultParams(double radius) {
    DepthOfFieldParams p{};
    p.view = 1;
    p.gamma_correction = 1;
    p.blur_radius = radius;
    p.iris_facets = 6;
    p.depth_curve = 1.0;
    p.depth_mode = 1;
    p.focal_point = 255.0;
    p.depth_low = 0.0;
    p.depth_high = 1.0;
    HighlightSelectionParams& h = p.highlight_selection;
    h.enabled = 1;
    h.hueHigh = 1.0;
    h.hueClimax = 1.0;
    h.saturationHigh = 1.0;
    h.saturationClimax = 1.0;
    h.lightnessLow = 200.0 / 255.0;
    h.lightnessHigh = 1.0;
    h.lightnessClimax = 1.0;
    p.edge_mode_x = p.edge_mode_y = 2;
    p.outside_color[0] = p.outside_color[1] = p.outside_color[2] = p.outside_color[3] = 1.0f;
    p.scale_x = p.scale_y = 1.0;
    return p;
}

// A filter wired to a source, a destination and a depth map of one size.
template <class View>
struct Rig {
    using Filter = ov::DepthOfFieldFilter<View, ov::ImgDepth8>;
    Rig(uint32_t w, uint32_t h, int32_t threads = 1)
        : host(threads), source(w, h), destination(w, h), depth(w, h) {}

    void wire(Filter& f) {
        f.source = source.view();
        f.selection = source.view();
        f.destination = destination.view();
        f.depth_map = depth.view();
        f.params = params;
    }
    // The whole render, as the render entry runs it.
    uint32_t render() {
        Filter f(&host);
        wire(f);
        return f.render(0, 1);
    }
    // The tiled blur on a grid of rows x cols tiles with the given margin (the grid's largest
    // kernel extent when negative), its buffers for `threads` pool threads, run with `threads`
    // work items.
    uint32_t renderGrid(int32_t rows, int32_t cols, int32_t threads, int32_t margin = -1) {
        host.threadCountSetting = threads;
        Filter f(&host);
        wire(f);
        uint32_t status = f.init_all();
        if (status != host.StatusOk()) return status;
        unsigned rx = 0, ry = 0;
        ov::max_blur_extent(f.params, f.destination.scale, rx, ry);
        if (margin >= 0) rx = ry = unsigned(margin);
        f.tiles = ov::TileSet2D{};
        f.tiles.rows = rows;
        f.tiles.cols = cols;
        f.tiles.width = int32_t(destination.width);
        f.tiles.height = int32_t(destination.height);
        f.tiles.cpus = threads;
        f.tiles.overflow = ov::Rectangle{-int32_t(rx), int32_t(rx), -int32_t(ry), int32_t(ry)};
        status = f.init_memory(threads);
        if (status == host.StatusOk()) {
            f.next_tile = 0;
            const bool hl = f.highlights();
            status = host.ParallelRun(uint32_t(threads), [&f, hl](uint32_t i, uint32_t n, uint32_t id) {
                return hl ? f.template render_callback<true>(i, n, id) : f.template render_callback<false>(i, n, id);
            });
            f.free_memory(threads);
        }
        f.free_all();
        return status;
    }

    CountingHost host;
    Image<View> source;
    Image<View> destination;
    DepthMap depth;
    DepthOfFieldParams params = defaultParams(4.0);
};

}  // namespace tile_test
