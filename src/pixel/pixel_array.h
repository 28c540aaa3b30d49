// The image view of the system: ov::PixelArray<Pixel, A, B>.
//
// A view never owns its pixels; copying it copies the record only. Row y starts at
// data + y * rowBytes; pixel x of a row lies x * step bytes after the row start, where step
// is pixelBytes (B = 1: host buffers, planes interleaved with a host-chosen step) or
// sizeof(Pixel) (B = 0: packed work buffers). Every offset is formed in 64 bits
// (ptrdiff_t), so images over 2 GiB are addressed correctly (32-bit products would wrap).
#pragma once

#include <cstddef>
#include <cstdint>

#include "pixel/pixel_rgb.h"

namespace ov {

template <class Pixel, int A, int B>
struct PixelArray {
    static_assert(is_pixel_rgb_v<Pixel>, "PixelArray holds ov::PixelRGB pixels");
    static_assert(A == 0, "A is 0 in every view of the system");
    static_assert(B == 0 || B == 1, "B is 0 (packed) or 1 (step from pixelBytes)");

    using pixel_type = Pixel;
    using sample_type = typename Pixel::sample_type;
    static constexpr int a_flag = A;
    static constexpr int b_flag = B;
    static constexpr bool host_step = B != 0;      // step read from pixelBytes
    static constexpr std::ptrdiff_t packed_size = sizeof(Pixel);

    // Field order is part of the contract with the engines.
    uint32_t width = 0;
    uint32_t height = 0;
    int32_t rowBytes = 0;       // signed byte distance between rows
    int32_t pixelBytes = 0;     // byte distance between pixels; read only when B = 1
    int32_t originX = 0;
    int32_t originY = 0;
    double scale = 1.0;
    double scaleX = 1.0;
    double scaleY = 1.0;
    unsigned char* data = nullptr;  // first byte of row 0; not owned
    uint8_t valid = 0;
    uint8_t premultiplied = 0;

    // The empty view: no data, all sizes 0, scales 1.0, flags false.
    constexpr PixelArray() = default;

    // Arguments in field order.
    PixelArray(void* data_, uint32_t width_, uint32_t height_, int32_t rowBytes_,
               int32_t originX_, int32_t originY_, bool premultiplied_, double scale_,
               double scaleX_, double scaleY_, bool valid_, int32_t pixelBytes_)
        : width(width_), height(height_), rowBytes(rowBytes_), pixelBytes(pixelBytes_),
          originX(originX_), originY(originY_), scale(scale_), scaleX(scaleX_),
          scaleY(scaleY_), data(static_cast<unsigned char*>(data_)),
          valid(valid_ ? 1 : 0), premultiplied(premultiplied_ ? 1 : 0) {}

    PixelArray(const PixelArray&) = default;
    PixelArray& operator=(const PixelArray&) = default;

    bool has_data() const { return data != nullptr; }

    // Byte step between pixels.
    std::ptrdiff_t step() const {
        if constexpr (B != 0) return static_cast<std::ptrdiff_t>(pixelBytes);
        else return packed_size;
    }
    // First byte of row y (64-bit offset).
    unsigned char* row_bytes(std::ptrdiff_t y) const {
        return data + y * static_cast<std::ptrdiff_t>(rowBytes);
    }
    // Pixel x of the row starting at `row` (64-bit offset).
    Pixel* in_row(unsigned char* row, std::ptrdiff_t x) const {
        return reinterpret_cast<Pixel*>(row + x * step());
    }
    // Pixel (x, y).
    Pixel* pixel(std::ptrdiff_t x, std::ptrdiff_t y) const { return in_row(row_bytes(y), x); }
    Pixel& at(std::ptrdiff_t x, std::ptrdiff_t y) const { return *pixel(x, y); }
    // Row y as pixels; only meaningful as an array for packed views (B = 0).
    Pixel* row(std::ptrdiff_t y) const {
        static_assert(B == 0, "row() indexes packed views; use pixel() or in_row() for B = 1");
        return reinterpret_cast<Pixel*>(row_bytes(y));
    }
    // Bytes of one packed row (width * sizeof(Pixel)), in 64 bits.
    std::ptrdiff_t packed_row_bytes() const {
        return static_cast<std::ptrdiff_t>(width) * packed_size;
    }
    bool contains(std::ptrdiff_t x, std::ptrdiff_t y) const {
        return x >= 0 && y >= 0 && x < static_cast<std::ptrdiff_t>(width) &&
               y < static_cast<std::ptrdiff_t>(height);
    }
};

template <class V> struct is_pixel_array : std::false_type {};
template <class P, int A, int B> struct is_pixel_array<PixelArray<P, A, B>> : std::true_type {};
template <class V> inline constexpr bool is_pixel_array_v = is_pixel_array<V>::value;

// A packed (B = 0) view over `data` of width x height pixels, rows packed back to back
// unless rowBytes is given: premultiplied and valid as stated, scales 1.0, origin 0.
template <class View>
View make_packed_view(void* data, uint32_t width, uint32_t height, bool premultiplied = false,
                      int32_t rowBytes = -1) {
    using P = typename View::pixel_type;
    const int32_t rb = rowBytes >= 0 ? rowBytes : static_cast<int32_t>(width * sizeof(P));
    return View(data, width, height, rb, 0, 0, premultiplied, 1.0, 1.0, 1.0, true,
                static_cast<int32_t>(sizeof(P)));
}

// Whether any pixel of `image` lets what lies behind it show: an alpha sample below full
// intensity (a float alpha below 1.0 or not a number). A view without alpha or without data
// is opaque. Reads every pixel once.
template <class View>
bool hasTransparency(const View& image) {
    using P = typename View::pixel_type;
    if constexpr (!P::has_alpha) {
        return false;
    } else {
        if (!image.has_data()) return false;
        using T = typename P::sample_type;
        const T full = static_cast<T>(P::max_value);
        for (uint32_t y = 0; y < image.height; ++y) {
            unsigned char* row = image.row_bytes(std::ptrdiff_t(y));
            for (uint32_t x = 0; x < image.width; ++x)
                if (!(image.in_row(row, std::ptrdiff_t(x))->v[P::alpha_index] >= full)) return true;
        }
        return false;
    }
}

}  // namespace ov
