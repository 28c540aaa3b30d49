// Copy-convert filter: ov::CopyImageFilter<Src, Dst> copies one view into
// another, one destination row per work item, converting each pixel on the way.
//
// Contract: the filter owns no pixel memory; it holds copies of both view records (so `mode`
// acts on its own copy of the destination's premultiplied flag) and allocates nothing.
// render(pass, passCount) returns ParallelRun's status over the destination's rows; each row
// reports ReportProgress(pass * height + y, passCount * height) after the row (also for an
// empty row) and returns that status. A view without data: every row returns StatusOk
// without writing or reporting.
//
// Per pixel (copy_convert_pixel, header-inline, no run-time format branch): read colour and
// alpha as doubles (no alpha: MAX); clamp to [0, MAX] (NaN -> 0) in float-to-integer pairs;
// reduce to gray (luminance, with alpha) when the destination has one colour and the source
// several; premultiply or un-premultiply when the flags differ (chosen once per row); write,
// integers truncated toward zero, floats rounded to single precision.
// Mended: a straight conversion whose result exceeds MAX, stored into an 8- or 16-bit
// sample, is clamped to MAX first, and every integer store is range-checked, so no
// out-of-range float-to-integer conversion happens. Offsets are 64-bit.
// A destination pixel whose source position lies outside the source reads opaque black
// (colour 0, alpha MAX on the source's scale) and is converted like any other.
#pragma once

#include <algorithm>
#include <cstdint>
#include <limits>

#include "core/ostrovanne_filter.h"
#include "pixel/colour.h"
#include "pixel/formats.h"

namespace ov {

enum PremultipliedMode : uint32_t {
    PremultipliedKeep = 0,      // destination flag := source flag (no conversion)
    PremultipliedSet = 1,       // destination premultiplied: straight colour is premultiplied
    PremultipliedClear = 2,     // destination straight: premultiplied colour is made straight
};

enum class PremulConversion { None, ToStraight, ToPremultiplied };

// Stores a double into a sample: integers truncated toward zero after a range check
// (NaN and negatives give 0, values above the type's range its largest value), floats
// rounded to single precision.
template <class T>
inline T store_sample(double x) {
    if constexpr (std::is_integral_v<T>) {
        // Branch-free (max/min instructions): NaN and negatives give 0.
        constexpr double hi = double(std::numeric_limits<T>::max());
        x = x > 0.0 ? x : 0.0;
        x = x < hi ? x : hi;
        return static_cast<T>(x);
    } else {
        return static_cast<T>(x);
    }
}

// One sample of a pair with neither premultiply conversion nor gray reduction. The double
// documented steps are exact there (widening, clamping to [0, MAX], truncation), so they are
// done on the source's own sample type, which vectorises and gives the same bits.
template <bool Clamp, int MAX, class DT, class ST>
inline DT direct_sample(ST x) {
    if constexpr (Clamp) {
        x = x > ST(0) ? x : ST(0);  // NaN and negatives give 0
        x = x < ST(MAX) ? x : ST(MAX);
        return static_cast<DT>(static_cast<int32_t>(x));
    } else {
        return store_sample<DT>(static_cast<double>(x));
    }
}

// Whether a pair converts sample by sample without the double pixel (see direct_sample).
template <PremulConversion K, class SP, class DP>
inline constexpr bool is_direct_pair = K == PremulConversion::None &&
    !(DP::colour_count == 1 && SP::colour_count > 1) && (SP::has_alpha || !DP::has_alpha);

template <class SP, class DP>
inline constexpr bool is_clamp_pair = std::is_floating_point_v<typename SP::sample_type> && DP::is_integer;

// The conversion of one pixel (steps 1 to 5 of the row worker).
template <PremulConversion K, class SP, class DP>
inline void copy_convert_pixel(const SP& s, DP& d) {
    static_assert(SP::max_int == DP::max_int, "copy-convert keeps MAX");
    static_assert(SP::extra_count == 0 && DP::extra_count == 0, "no pair has extra samples");
    constexpr bool to_gray = DP::colour_count == 1 && SP::colour_count > 1;
    static_assert(to_gray || DP::colour_count == SP::colour_count, "no such pair");
    constexpr bool clamp = is_clamp_pair<SP, DP>;
    constexpr double MAX = SP::max_value;
    using DT = typename DP::sample_type;

    if constexpr (is_direct_pair<K, SP, DP>) {
        for (int i = 0; i < DP::sample_count; ++i)  // alpha sits after the colours on both sides
            d.v[i] = direct_sample<clamp, SP::max_int, DT>(s.v[i]);
        return;
    }
    DoublePixel<SP> p;
    for (int i = 0; i < SP::sample_count; ++i) p.v[i] = static_cast<double>(s.v[i]);
    if constexpr (clamp) {
        for (int i = 0; i < SP::sample_count; ++i) {
            double x = p.v[i] > 0.0 ? p.v[i] : 0.0;  // NaN and negatives give 0
            p.v[i] = x < MAX ? x : MAX;
        }
    }
    const double a = p.alpha();
    double c[DP::colour_count];
    if constexpr (to_gray) {
        c[0] = luminance(p);
    } else {
        for (int i = 0; i < DP::colour_count; ++i) c[i] = p.v[i];
    }
    if constexpr (K == PremulConversion::ToStraight) {
        if (a > 0.0) {
            const double f = MAX / a;
            for (int i = 0; i < DP::colour_count; ++i) {
                c[i] *= f;
                if constexpr (DP::is_integer) c[i] = c[i] < MAX ? c[i] : MAX;
            }
        }
    } else if constexpr (K == PremulConversion::ToPremultiplied) {
        const double f = a * SP::inverse_max;
        for (int i = 0; i < DP::colour_count; ++i) c[i] *= f;
    }
    for (int i = 0; i < DP::colour_count; ++i) d.v[i] = store_sample<DT>(c[i]);
    if constexpr (DP::has_alpha) d.v[DP::alpha_index] = store_sample<DT>(a);
}

template <class Src, class Dst>
class CopyImageFilter : public OstrovanneFilter {
public:
    using SrcPixel = typename Src::pixel_type;
    using DstPixel = typename Dst::pixel_type;

    CopyImageFilter(OstrovanneHost* host_, const Src& source_, const Dst& destination_,
                    int32_t offsetX_ = 0, int32_t offsetY_ = 0, uint32_t mode_ = PremultipliedKeep)
        : OstrovanneFilter(host_), source(source_), destination(destination_), mode(mode_),
          offsetX(offsetX_), offsetY(offsetY_) {}

    uint32_t render(uint32_t pass_, uint32_t passCount_) override {
        pass = pass_;
        passCount = passCount_;
        switch (mode) {
            case PremultipliedKeep: destination.premultiplied = source.premultiplied; break;
            case PremultipliedSet: destination.premultiplied = 1; break;
            case PremultipliedClear: destination.premultiplied = 0; break;
            default: break;
        }
        return run_slices(destination.height);
    }

    uint32_t render_slice(uint32_t y, uint32_t, uint32_t) override {
        const uint32_t ok = host->StatusOk();
        if (!source.has_data() || !destination.has_data()) return ok;
        copy_row(y);
        return report_item(y, destination.height);
    }

    // Converts destination row y (no progress report).
    void copy_row(uint32_t y) const {
        if (source.premultiplied == destination.premultiplied) copy_row_as<PremulConversion::None>(y);
        else if (source.premultiplied) copy_row_as<PremulConversion::ToStraight>(y);
        else copy_row_as<PremulConversion::ToPremultiplied>(y);
    }

    Src source;
    Dst destination;
    uint32_t mode;
    int32_t offsetX;
    int32_t offsetY;

private:
    template <PremulConversion K>
    void copy_row_as(uint32_t y) const {
        const std::ptrdiff_t W = destination.width;
        unsigned char* drow = destination.row_bytes(y);
        const std::ptrdiff_t dstep = destination.step();
        const std::ptrdiff_t sy = std::ptrdiff_t(y) + offsetY;
        // Destination columns [x0, x1) read inside the source; the rest read opaque black.
        std::ptrdiff_t x0 = 0, x1 = 0;
        if (sy >= 0 && sy < std::ptrdiff_t(source.height)) {
            x0 = std::clamp<std::ptrdiff_t>(-std::ptrdiff_t(offsetX), 0, W);
            x1 = std::clamp<std::ptrdiff_t>(std::ptrdiff_t(source.width) - offsetX, x0, W);
        }
        SrcPixel outside{};
        outside.set_alpha(static_cast<typename SrcPixel::sample_type>(SrcPixel::max_value));
        for (std::ptrdiff_t x = 0; x < x0; ++x)
            copy_convert_pixel<K>(outside, *reinterpret_cast<DstPixel*>(drow + x * dstep));
        if (x1 > x0) {
            const unsigned char* srow = source.row_bytes(sy) + (x0 + offsetX) * source.step();
            if (source.step() == std::ptrdiff_t(sizeof(SrcPixel)) && dstep == std::ptrdiff_t(sizeof(DstPixel))) {
                // Packed on both sides: plain arrays, which the compiler can vectorise.
                const std::ptrdiff_t n = x1 - x0;
                if constexpr (is_direct_pair<K, SrcPixel, DstPixel> &&
                              SrcPixel::sample_count == DstPixel::sample_count) {
                    // One flat run of samples.
                    using ST = typename SrcPixel::sample_type;
                    using DT = typename DstPixel::sample_type;
                    const ST* si = reinterpret_cast<const ST*>(srow);
                    DT* di = reinterpret_cast<DT*>(drow) + x0 * DstPixel::sample_count;
                    const std::ptrdiff_t count = n * SrcPixel::sample_count;
                    for (std::ptrdiff_t k = 0; k < count; ++k)
                        di[k] = direct_sample<is_clamp_pair<SrcPixel, DstPixel>, SrcPixel::max_int, DT>(si[k]);
                } else {
                    const SrcPixel* sp = reinterpret_cast<const SrcPixel*>(srow);
                    DstPixel* dp = reinterpret_cast<DstPixel*>(drow) + x0;
                    for (std::ptrdiff_t i = 0; i < n; ++i) copy_convert_pixel<K>(sp[i], dp[i]);
                }
            } else {
                const std::ptrdiff_t sstep = source.step();
                for (std::ptrdiff_t x = x0; x < x1; ++x, srow += sstep)
                    copy_convert_pixel<K>(*reinterpret_cast<const SrcPixel*>(srow),
                                          *reinterpret_cast<DstPixel*>(drow + x * dstep));
            }
        }
        for (std::ptrdiff_t x = x1; x < W; ++x)
            copy_convert_pixel<K>(outside, *reinterpret_cast<DstPixel*>(drow + x * dstep));
    }
};

// The pair types of one host format (Family, HostSamples, WorkSamples as in
// PEL_FOR_EACH_HOST_FORMAT): same-format, work-to-host, gray, and host-to-work (the reverse
// of work-to-host, used by the engines and the benchmark).
#define PEL_COPY_SAME(F, H, W) CopyImageFilter<ImgHost##F##_##H, ImgHost##F##_##H>
#define PEL_COPY_WORK_TO_HOST(F, H, W) CopyImageFilter<ImgWork##F##_##W, ImgHost##F##_##H>
#define PEL_COPY_GRAY(F, H, W) CopyImageFilter<ImgHost##F##_##H, WorkView<PackedGrayOf<PxHost##F##_##H>>>
#define PEL_COPY_HOST_TO_WORK(F, H, W) CopyImageFilter<ImgHost##F##_##H, ImgWork##F##_##W>

#define PEL_EXTERN_COPY_SAME(F, H, W) extern template class PEL_COPY_SAME(F, H, W);
#define PEL_EXTERN_COPY_W2H(F, H, W) extern template class PEL_COPY_WORK_TO_HOST(F, H, W);
#define PEL_EXTERN_COPY_GRAY(F, H, W) extern template class PEL_COPY_GRAY(F, H, W);
#define PEL_EXTERN_COPY_H2W(F, H, W) extern template class PEL_COPY_HOST_TO_WORK(F, H, W);
PEL_FOR_EACH_HOST_FORMAT(PEL_EXTERN_COPY_SAME)
PEL_FOR_EACH_HOST_FORMAT(PEL_EXTERN_COPY_W2H)
PEL_FOR_EACH_HOST_FORMAT(PEL_EXTERN_COPY_GRAY)
PEL_FOR_EACH_HOST_FORMAT(PEL_EXTERN_COPY_H2W)
#undef PEL_EXTERN_COPY_SAME
#undef PEL_EXTERN_COPY_W2H
#undef PEL_EXTERN_COPY_GRAY
#undef PEL_EXTERN_COPY_H2W

}  // namespace ov
