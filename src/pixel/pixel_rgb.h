// The pixel of the system: ov::PixelRGB with its channel layouts.
//
// A PixelRGB is a packed, trivially copyable aggregate of samples: the layout's colour
// samples, then alpha (when HASALPHA), then EXTRA further samples (floating types only).
// sizeof(PixelRGB) is the packed pixel size; there is no padding. Work buffers are arrays
// of PixelRGB; host buffers are addressed through PixelArray with a run-time step.
//
// Every per-format algorithm is a template over PixelRGB; the compile-time traits below
// (colour_count, has_alpha, alpha_index, max_value, inverse_max ...) replace all run-time
// format branching.
#pragma once

#include <cstddef>
#include <type_traits>

namespace ov {

enum class LayoutFamily { Gray, TwoChannel, RGB, Empty };

// Channel layouts. Template arguments are sample indices; -1 means absent.
// alpha_index is the layout's alpha slot (-1 when the layout has none). Whether a pixel
// really carries alpha is decided by PixelRGB's HASALPHA.

// LayoutGrayPixel<1>: gray, alpha at 1.  LayoutGrayPixel<-1>: gray only.
template <int A>
struct LayoutGrayPixel {
    static_assert(A == 1 || A == -1, "LayoutGrayPixel<1> or LayoutGrayPixel<-1>");
    static constexpr LayoutFamily family = LayoutFamily::Gray;
    static constexpr int colour_count = 1;
    static constexpr int alpha_index = A;
};

// Layout2ChannelPixel<2>: two colours, alpha at 2.  <-1>: two colours (work pixels).
// <0>: the host's two-channel layout without alpha; index 0 is a colour, never alpha.
template <int A>
struct Layout2ChannelPixel {
    static_assert(A == 2 || A == 0 || A == -1, "Layout2ChannelPixel<2>, <0> or <-1>");
    static constexpr LayoutFamily family = LayoutFamily::TwoChannel;
    static constexpr int colour_count = 2;
    static constexpr int alpha_index = (A == 2) ? 2 : -1;
};

// LayoutRGBAPixel<0, 1, 2, 3>: RGB with alpha slot 3 (also host RGB without alpha, with
// HASALPHA 0, where slot 3 does not exist).  LayoutRGBAPixel<0, 1, 2, -1>: RGB only.
template <int R, int G, int B, int A>
struct LayoutRGBAPixel {
    static_assert(R == 0 && G == 1 && B == 2 && (A == 3 || A == -1),
                  "LayoutRGBAPixel<0, 1, 2, 3> or LayoutRGBAPixel<0, 1, 2, -1>");
    static constexpr LayoutFamily family = LayoutFamily::RGB;
    static constexpr int colour_count = 3;
    static constexpr int alpha_index = A;
};

// No colour samples: only the EXTRA samples (refraction information).
struct LayoutEmptyPixel {
    static constexpr LayoutFamily family = LayoutFamily::Empty;
    static constexpr int colour_count = 0;
    static constexpr int alpha_index = -1;
};

// One pixel. T: unsigned char, unsigned short, float (and double for the accumulators'
// double pixels). MAX: full intensity (255, 32768 - not 65535 - or 1; float work pixels keep
// the MAX of the host format they serve).
template <class Layout, class T, int HASALPHA, int EXTRA, int MAX>
struct PixelRGB {
    static_assert(HASALPHA == 0 || HASALPHA == 1, "HASALPHA is 0 or 1");
    static_assert(HASALPHA == 0 || Layout::alpha_index >= 0, "the layout has no alpha slot");
    static_assert(EXTRA == 0 || std::is_floating_point_v<T>, "EXTRA samples are floating");
    static_assert(MAX >= 1, "MAX is positive");

    using layout_type = Layout;
    using sample_type = T;

    static constexpr LayoutFamily family = Layout::family;
    static constexpr int colour_count = Layout::colour_count;        // colour samples
    static constexpr bool has_alpha = HASALPHA != 0;
    static constexpr int alpha_index = has_alpha ? Layout::alpha_index : -1;
    static constexpr int base_count = colour_count + (has_alpha ? 1 : 0);  // colour + alpha
    static constexpr int extra_count = EXTRA;
    static constexpr int extra_index = base_count;                   // first EXTRA sample
    static constexpr int sample_count = base_count + EXTRA;          // all stored samples
    static constexpr int max_int = MAX;
    static constexpr double max_value = double(MAX);                 // 255.0, 32768.0, 1.0
    static constexpr double inverse_max = 1.0 / double(MAX);         // 1/255, 2^-15, 1.0
    static constexpr bool is_integer = std::is_integral_v<T>;
    static constexpr bool is_float = std::is_same_v<T, float>;

    static_assert(sample_count >= 1, "a pixel has at least one sample");

    T v[sample_count];  // samples in layout index order, then EXTRA

    constexpr T& operator[](int i) { return v[i]; }
    constexpr const T& operator[](int i) const { return v[i]; }

    // Colour sample c (0 .. 2 in R, G, B order); an absent colour reads as 0.
    constexpr T colour(int c) const { return c < colour_count ? v[c] : T(0); }
    // Writes colour sample c; writes to an absent colour are ignored.
    constexpr void set_colour(int c, T x) {
        if (c < colour_count) v[c] = x;
    }
    // Alpha; an absent alpha reads as MAX and writes to it are ignored.
    constexpr T alpha() const {
        if constexpr (has_alpha) return v[alpha_index];
        else return T(MAX);
    }
    constexpr void set_alpha(T a) {
        if constexpr (has_alpha) v[alpha_index] = a;
        else (void)a;
    }
    // EXTRA sample k (0 .. EXTRA-1).
    constexpr T& extra(int k) { return v[extra_index + k]; }
    constexpr const T& extra(int k) const { return v[extra_index + k]; }
};

// ---- traits ---------------------------------------------------------------------------

template <class P> struct is_pixel_rgb : std::false_type {};
template <class L, class T, int H, int E, int M>
struct is_pixel_rgb<PixelRGB<L, T, H, E, M>> : std::true_type {};
template <class P> inline constexpr bool is_pixel_rgb_v = is_pixel_rgb<P>::value;

// The same pixel with another sample type (MAX, layout, alpha and EXTRA kept).
template <class P, class U>
using RebindSample = PixelRGB<typename P::layout_type, U, P::has_alpha ? 1 : 0, P::extra_count, P::max_int>;

// The double pixel: one double per sample of P, on P's own scale 0..MAX.
template <class P>
using DoublePixel = RebindSample<P, double>;

// ---- free accessors --------------------------------------------------------
// get_alpha / set_alpha: the alpha sample (absent: MAX, writes ignored).
// get_sample / set_sample: sample i (default 0, the first sample).

template <class P> constexpr typename P::sample_type get_alpha(const P& p) { return p.alpha(); }
template <class P> constexpr void set_alpha(P& p, typename P::sample_type a) { p.set_alpha(a); }
template <class P> constexpr typename P::sample_type get_sample(const P& p, int i = 0) { return p.v[i]; }
template <class P> constexpr void set_sample(P& p, typename P::sample_type x, int i = 0) { p.v[i] = x; }
template <class P> constexpr bool has_alpha(const P&) { return P::has_alpha; }

// channel(pixel, c) on float pixels: 0 is alpha (1.0 without alpha), 1..3 the colour
// samples; a number beyond the colour samples gives 0.0 for one or two colours and the
// third colour for RGB.
template <class P>
constexpr float channel(const P& p, int c) {
    static_assert(P::is_float, "channel() is defined on float pixels");
    if (c <= 0) {
        if constexpr (P::has_alpha) return p.v[P::alpha_index];
        else return 1.0f;
    }
    const int i = c - 1;
    if (i < P::colour_count) return p.v[i];
    if constexpr (P::colour_count == 3) return p.v[2];
    else return 0.0f;
}

}  // namespace ov
