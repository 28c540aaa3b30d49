// Shared helpers of the refraction tests: a host that counts allocations and records
// progress, owning images behind host and work views, and the 18 host formats as gtest types.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <algorithm>
#include <cstring>
#include <map>
#include <random>
#include <utility>
#include <vector>

#include "core/host.h"
#include "pixel/formats.h"

namespace refract_test {

// A host whose allocation can fail on a chosen call and whose progress hook records every
// call and can answer "stop" on a chosen call.
class TestHost : public ov::OstrovanneHost {
public:
    TestHost() : ov::OstrovanneHost("test", "test", 1, 0, 0, "refraction tests") {
        allocateHook = [this](uint32_t size) -> void* {
            ++allocations;
            if (failAllocation == allocations) return nullptr;
            void* p = ::operator new(size == 0 ? 1 : size);
            live[p] = size;
            sizes.push_back(size);
            return p;
        };
        freeHook = [this](void* p) {
            ++frees;
            if (p == nullptr) return;
            auto it = live.find(p);
            if (it == live.end()) {
                ++badFrees;
                return;
            }
            live.erase(it);
            ::operator delete(p);
        };
        progressHook = [this](uint32_t done, uint32_t total) {
            progress.emplace_back(done, total);
            return cancelAtCall == 0 || progress.size() != cancelAtCall;
        };
    }
    ~TestHost() override {
        for (auto& kv : live) ::operator delete(kv.first);
    }

    int allocations = 0;
    int frees = 0;
    int badFrees = 0;
    int failAllocation = 0;       // 1-based allocation call that answers null; 0: none
    std::size_t cancelAtCall = 0; // 1-based progress call that answers stop; 0: none
    std::map<void*, uint32_t> live;
    std::vector<uint32_t> sizes;
    std::vector<std::pair<uint32_t, uint32_t>> progress;
};

// An image that owns its bytes, with a host view (B = 1, pixelBytes possibly above the packed
// size by extraSamples samples, rows possibly padded by rowPadSamples samples) or a packed
// work view (B = 0) over them. Padding is in whole samples, so every sample stays aligned.
template <class View>
struct Image {
    using Px = typename View::pixel_type;
    using T = typename Px::sample_type;

    Image(uint32_t w, uint32_t h, int extraSamples = 0, int rowPadSamples = 0) {
        const int pixelBytes =
            static_cast<int>(sizeof(Px)) + (View::host_step ? extraSamples * static_cast<int>(sizeof(T)) : 0);
        const int rowBytes = static_cast<int>(w) * pixelBytes + rowPadSamples * static_cast<int>(sizeof(T));
        // Exactly the image's bytes, so that AddressSanitizer sees any read beyond them.
        bytes.assign(std::max<std::size_t>(static_cast<std::size_t>(rowBytes) * h, 1), 0xCD);
        view = View(bytes.data(), w, h, rowBytes, 0, 0, false, 1.0, 1.0, 1.0, true, pixelBytes);
    }
    // Takes the bytes of an image of the same geometry.
    void copy_pixels_from(const Image& other) {
        bytes = other.bytes;
        view.data = bytes.data();
    }
    Px& at(uint32_t x, uint32_t y) { return view.at(x, y); }
    const Px& at(uint32_t x, uint32_t y) const { return view.at(x, y); }

    // Every sample of every pixel from f(x, y, sample).
    template <class F>
    void fill(F f) {
        for (uint32_t y = 0; y < view.height; ++y)
            for (uint32_t x = 0; x < view.width; ++x)
                for (int s = 0; s < Px::sample_count; ++s) at(x, y).v[s] = static_cast<T>(f(x, y, s));
    }
    void randomise(uint32_t seed) {
        std::mt19937 rng(seed);
        const double top = Px::is_integer ? Px::max_value : 1.0;
        std::uniform_real_distribution<double> dist(0.0, top);
        fill([&](uint32_t, uint32_t, int) {
            double v = dist(rng);
            return Px::is_integer ? static_cast<double>(static_cast<int64_t>(v)) : v;
        });
    }

    std::vector<unsigned char> bytes;
    View view;
};

using HostViewTypes = ::testing::Types<
    ov::ImgHostGrayA_U8, ov::ImgHostGray_U8, ov::ImgHostTwoChA_U8, ov::ImgHostTwoCh_U8,
    ov::ImgHostRGBA_U8, ov::ImgHostRGB_U8, ov::ImgHostGrayA_U16, ov::ImgHostGray_U16,
    ov::ImgHostTwoChA_U16, ov::ImgHostTwoCh_U16, ov::ImgHostRGBA_U16, ov::ImgHostRGB_U16,
    ov::ImgHostGrayA_F1, ov::ImgHostGray_F1, ov::ImgHostTwoChA_F1, ov::ImgHostTwoCh_F1,
    ov::ImgHostRGBA_F1, ov::ImgHostRGB_F1>;

struct HostViewNames {
    template <class V>
    static std::string GetName(int i) {
        static const char* names[] = {"GrayA_U8",  "Gray_U8",   "TwoChA_U8", "TwoCh_U8",
                                      "RGBA_U8",   "RGB_U8",    "GrayA_U16", "Gray_U16",
                                      "TwoChA_U16", "TwoCh_U16", "RGBA_U16",  "RGB_U16",
                                      "GrayA_F1",  "Gray_F1",   "TwoChA_F1", "TwoCh_F1",
                                      "RGBA_F1",   "RGB_F1"};
        return names[i];
    }
};

}  // namespace refract_test
