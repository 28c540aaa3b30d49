// Helpers the engines' tests share: the bookkeeping of a host that counts, refuses and frees
// blocks, owned test images of any host format, the default highlight selection and the 18
// host formats as a typed-test list. Each engine's own support header builds on these.
#pragma once

#include <atomic>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <set>
#include <vector>

#include <gtest/gtest.h>

#include "core/host.h"
#include "kernel/highlight_selection.h"
#include "pixel/formats.h"

namespace engine_test {

// The plug-in's out-of-memory code, which the host adapter answers; the engines pass it on.
constexpr uint32_t kHostOutOfMemory = static_cast<uint32_t>(-108);

// A host whose blocks the test can account for: every block granted is remembered until it
// is freed, a block freed twice (or never granted) is counted, and blocks still live at the
// end are freed. The derived host sets the allocation and progress hooks, using grant() and
// recordSize(), so that each keeps its own order of counting.
class TrackingHost : public ov::OstrovanneHost {
public:
    TrackingHost(const char* name, const char* description, int32_t threads)
        : ov::OstrovanneHost(name, "Ostrovanne", 1, 0, 0, description) {
        threadCountSetting = threads;
        freeHook = [this](void* p) {
            if (!p) return;
            std::lock_guard<std::mutex> lock(mutex);
            if (live.erase(p) == 0) doubleFrees++;
            std::free(p);
        };
    }
    ~TrackingHost() override {
        for (void* p : live) std::free(p);
    }
    uint32_t StatusOutOfMemory() override { return kHostOutOfMemory; }

    size_t liveBlocks() {
        std::lock_guard<std::mutex> lock(mutex);
        return live.size();
    }

    std::atomic<uint64_t> allocations{0};
    std::atomic<uint64_t> reports{0};
    std::vector<uint32_t> sizes;  // sizes asked of AllocateMemory, in order
    uint64_t failAllocation = 0;  // 1-based: the allocation that answers null
    uint64_t refuseReport = 0;    // 1-based: the progress report that says stop
    int doubleFrees = 0;

protected:
    // The counters a test resets between renders.
    void resetCounts() {
        allocations = 0;
        reports = 0;
        failAllocation = 0;
        refuseReport = 0;
        std::lock_guard<std::mutex> lock(mutex);
        sizes.clear();
    }
    // A block of `size` bytes (at least one), remembered as live; null when malloc fails.
    // `record` also appends the size to `sizes` under the same lock.
    void* grant(uint32_t size, bool record) {
        void* p = std::malloc(size == 0 ? 1 : size);
        std::lock_guard<std::mutex> lock(mutex);
        if (p) live.insert(p);
        if (record) sizes.push_back(size);
        return p;
    }
    void recordSize(uint32_t size) {
        std::lock_guard<std::mutex> lock(mutex);
        sizes.push_back(size);
    }

private:
    std::mutex mutex;
    std::set<void*> live;
};

// An image owned by the test, viewed as a host view (pixel step from pixelBytes, with `pad`
// spare samples per pixel and 8 spare bytes per row, so that wrong steps show).
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

// The highlight selection the render entry writes for the default parameters: on, every hue
// and saturation, lightness from 200/255 up.
inline void setDefaultHighlightSelection(HighlightSelectionParams& h) {
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
}

// The 18 host view types, for typed tests.
using HostViews = ::testing::Types<ov::ImgHostGrayA_U8, ov::ImgHostGray_U8, ov::ImgHostTwoChA_U8,
                                   ov::ImgHostTwoCh_U8, ov::ImgHostRGBA_U8, ov::ImgHostRGB_U8,
                                   ov::ImgHostGrayA_U16, ov::ImgHostGray_U16,
                                   ov::ImgHostTwoChA_U16, ov::ImgHostTwoCh_U16,
                                   ov::ImgHostRGBA_U16, ov::ImgHostRGB_U16, ov::ImgHostGrayA_F1,
                                   ov::ImgHostGray_F1, ov::ImgHostTwoChA_F1, ov::ImgHostTwoCh_F1,
                                   ov::ImgHostRGBA_F1, ov::ImgHostRGB_F1>;

}  // namespace engine_test
