// Small images of any source format for the resampling tests, with padded pixel and row
// steps for host views, and the brute-force rules the tests compare against.
#pragma once

#include <cmath>
#include <cstdint>
#include <cstring>
#include <random>
#include <vector>

#include "../fft/fft_test_host.h"
#include "pixel/formats.h"
#include "resample/sum_table.h"

namespace pel_test {

// An image of view type V: host views get a pixel step one sample larger than the pixel and
// a row step with a few spare bytes, so that both steps are honoured.
template <class V>
struct Image {
    using P = typename V::pixel_type;
    using T = typename P::sample_type;
    std::vector<unsigned char> bytes;
    V view;
    Image(uint32_t w, uint32_t h, uint32_t seed, bool premultiplied = false) {
        const int32_t step = V::host_step ? int32_t(sizeof(P) + sizeof(T)) : int32_t(sizeof(P));
        const int32_t rowBytes = V::host_step ? int32_t(w) * step + 8 : int32_t(w) * step;
        bytes.assign(size_t(rowBytes) * (h ? h : 1) + 16, 0xAB);
        view = V(bytes.data(), w, h, rowBytes, 0, 0, premultiplied, 1.0, 1.0, 1.0, true, step);
        std::mt19937 rng(seed);
        for (uint32_t y = 0; y < h; ++y)
            for (uint32_t x = 0; x < w; ++x) {
                P& p = view.at(x, y);
                for (int s = 0; s < P::sample_count; ++s) {
                    if constexpr (P::is_float)
                        p.v[s] = std::uniform_real_distribution<float>(0.0f, 1.0f)(rng);
                    else
                        p.v[s] = T(rng() % (uint32_t(P::max_int) + 1));
                }
            }
    }
    // The premultiplied samples of pixel (x, y) in double, as the table sums them.
    void samples(int32_t x, int32_t y, double* out) const {
        ov::premultipliedSamples<V>(view.at(x, y), view.premultiplied != 0, out);
    }
};

// The folding of sumTableRect: clamp; mirror -c / 2W - 1 - c repeated; wrap modulo W.
inline bool foldTable(int64_t& c, int64_t n, uint32_t mode) {
    if (c >= 0 && c < n) return true;
    if (mode == 1) {
        c = c < 0 ? 0 : n - 1;
        return true;
    }
    if (mode == 2) {
        while (c < 0 || c >= n) c = c < 0 ? -c : 2 * n - 1 - c;
        return true;
    }
    if (mode == 3) {
        c = ((c % n) + n) % n;
        return true;
    }
    return false;
}

}  // namespace pel_test
