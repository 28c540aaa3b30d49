// Helpers of the tile renderer's tests, built on the shared engine and depth-of-field test
// helpers: a host that counts blocks, poisons them and can stop a render at a chosen progress
// report, packed images of any host format, random samples with a floor on alpha, and a rig
// that renders through the filter either whole (render) or on a tile grid of the test's choosing.
#pragma once

#include <cmath>
#include <cstdint>
#include <cstring>
#include <random>
#include <vector>

#include <gtest/gtest.h>

#include "core/host.h"
#include "depthoffield/depth_of_field_filter.h"
#include "dof_test_support.h"
#include "pixel/formats.h"

namespace tile_test {

// A host whose blocks the test can account for, that fills every block with a pattern (the
// renderer must not read it) and can stop a render at a chosen progress report.
class CountingHost : public engine_test::TrackingHost {
public:
    explicit CountingHost(int32_t threads)
        : engine_test::TrackingHost("tile tests", "tile renderer test host", threads) {
        allocateHook = [this](uint32_t size) -> void* {
            void* p = grant(size, false);
            if (p && poison) std::memset(p, 0xA5, size);
            return p;
        };
        progressHook = [this](uint32_t, uint32_t) {
            const uint64_t n = reports.fetch_add(1) + 1;
            return !(stopAt != 0 && n >= stopAt);
        };
    }
    uint64_t stopAt = 0;   // 1-based: this report and every later one answer "stop"
    bool poison = true;    // fill every block with a pattern (the renderer must not read it)
};

// An owned image of a host format with packed pixels (a spare row tail so wrong steps show).
template <class View>
struct Image : engine_test::Image<View> {
    Image(uint32_t w, uint32_t h) : engine_test::Image<View>(w, h, 0) {}
};

using dof_test::DepthMap;

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

using dof_test::defaultParams;

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
    // kernel extent when negative), buffers for `slots` workers (`threads` when not positive),
    // run with `threads` work items on `threads` pool threads.
    uint32_t renderGrid(int32_t rows, int32_t cols, int32_t threads, int32_t margin = -1, int32_t slots = 0) {
        if (slots <= 0) slots = threads;
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
        status = f.init_memory(slots);
        if (status == host.StatusOk()) {
            f.next_tile = 0;
            const bool hl = f.highlights();
            status = host.ParallelRun(uint32_t(threads), [&f, hl](uint32_t i, uint32_t n, uint32_t id) {
                return hl ? f.template render_callback<true>(i, n, id) : f.template render_callback<false>(i, n, id);
            });
            f.free_memory(slots);
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
