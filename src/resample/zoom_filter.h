// ov::ZoomFilter: exact area-average resampling of a source view into a packed destination,
// converting the pixel format on the way.
//
// Skeleton: render(pass, passCount) allocates the summed-area table of the source through the
// render context (refusing sizes beyond 32 bits with out of memory), fills it (first half of
// the pass), runs render_slice on GetThreadCount(destination height) bands through
// ParallelRun (second half), frees the table on every path and returns the first status that
// is not StatusOk. prepare_sum_table builds a table that outlives the call (in `table`, freed
// by the caller through FreeMemory) for callers that run render_slice themselves.
//
// Contract
// - Destination pixel (x, y) is the mean of the source over its footprint: x0 = (x - srcW/2 -
//   0.5 - (dstW - srcW)/2) stepX + srcW/2 and x1 the same with x + 1 (y alike), where
//   (dstW - srcW)/2 and the trailing srcW/2 are single-precision halves; boxIntegral gives
//   the mean (edge modes edgeModeX, edgeModeY; 4 makes outside area count 0 with its weight).
// - Conversion by the pair's group (luminance weights 0.292687786, 0.552149646, 0.155162568):
//   rule 1, colour with alpha to gray: unless the destination is premultiplied, colour times
//   MAX / a when a (rounded to float) > 0; 8/16-bit clamp a and colour into [0, MAX], float
//   clamps only a into [0, 1]; g = weighted colour x (a / MAX) (gray and alpha: the colour
//   alone); 8/16-bit truncate, float rounds. Rule 2, no alpha to gray: 8/16-bit clamp colour,
//   g = the gray or the weighted sum, truncated; float: the sum rounded, no clamp. Rule 3,
//   8-bit gray mask to a float kernel pixel: s = v x MAX/255 clamped into [0, MAX] and rounded
//   to every colour sample, alpha MAX.
// - Bands: destination height / bands rows each, the last band takes the remainder.
// - Progress: the table reports source rows in [2 pass srcH, (2 pass + 1) srcH); after each
//   destination row y a band reports (2 pass + 1) srcH + floor(y srcH / dstH), so the second
//   half is spread evenly over the destination rows; total 2 passCount srcH.
// - Statuses: StatusOk, StatusOutOfMemory (table not allocated: nothing written), or the first
//   other status of a progress report.
#pragma once

#include <algorithm>
#include <cstdint>
#include <type_traits>

#include "core/ostrovanne_filter.h"
#include "fft/single_precision.h"
#include "pixel/formats.h"
#include "resample/box_integral.h"
#include "resample/sum_table.h"

namespace ov {

enum class ZoomRule { ColourAlphaToGray = 1, NoAlphaToGray = 2, MaskToKernel = 3 };

template <class Src, class Dst>
class ZoomFilter : public OstrovanneFilter {
public:
    using SrcPixel = typename Src::pixel_type;
    using DstPixel = typename Dst::pixel_type;
    static constexpr int S = SrcPixel::sample_count;
    using TableView = SumTableView<S>;
    static_assert(Dst::b_flag == 0, "the destination is a packed work array");
    static constexpr ZoomRule rule = (DstPixel::is_float && !SrcPixel::is_float)
                                         ? ZoomRule::MaskToKernel
                                     : SrcPixel::has_alpha ? ZoomRule::ColourAlphaToGray
                                                           : ZoomRule::NoAlphaToGray;
    static_assert(rule == ZoomRule::MaskToKernel ||
                      (DstPixel::sample_count == 1 &&
                       std::is_same_v<typename DstPixel::sample_type, typename SrcPixel::sample_type>),
                  "colour sources become gray of their own sample type");
    static_assert(rule != ZoomRule::MaskToKernel ||
                      (S == 1 && std::is_same_v<typename SrcPixel::sample_type, unsigned char>),
                  "kernels are drawn from the 8-bit gray mask");

    explicit ZoomFilter(OstrovanneHost* host_ = nullptr) : OstrovanneFilter(host_) {}

    uint32_t render(uint32_t pass_, uint32_t passCount_) override {
        pass = pass_;
        passCount = passCount_;
        const uint64_t bytes = sumTableBytes(source.width, source.height, S);
        if (bytes > UINT32_MAX) return host->StatusOutOfMemory();
        void* block = nullptr;
        if (bytes > 0) {
            block = host->AllocateMemory(static_cast<uint32_t>(bytes));
            if (!block) return host->StatusOutOfMemory();
        }
        sumTable = makeSumTableView<S>(block, source);
        uint32_t status = fillSumTable(source, sumTable, 2 * pass, 2 * passCount, host);
        if (status == host->StatusOk()) {
            const int32_t k = host->GetThreadCount(static_cast<int32_t>(destination.height));
            status = run_slices(static_cast<uint32_t>(std::max(k, 1)));
        }
        host->FreeMemory(block);
        return status;
    }

    uint32_t render_slice(uint32_t thread_index, uint32_t thread_iterations, uint32_t) override {
        uint32_t status = host->StatusOk();
        const uint32_t dstH = destination.height, dstW = destination.width;
        const uint32_t rows = dstH / thread_iterations;
        const uint32_t first = thread_index * rows;
        const uint32_t end = thread_index == thread_iterations - 1 ? dstH : first + rows;
        const int32_t srcW = static_cast<int32_t>(source.width), srcH = static_cast<int32_t>(source.height);
        // The single-precision terms of the footprint.
        const double shiftX = keepSingle(static_cast<float>(static_cast<int32_t>(dstW) - srcW) / 2.0f);
        const double shiftY = keepSingle(static_cast<float>(static_cast<int32_t>(dstH) - srcH) / 2.0f);
        const double centreX = keepSingle(static_cast<float>(srcW) / 2.0f);
        const double centreY = keepSingle(static_cast<float>(srcH) / 2.0f);
        const double halfW = static_cast<double>(srcW) / 2.0, halfH = static_cast<double>(srcH) / 2.0;
        const uint32_t total = 2 * passCount * uint32_t(srcH);
        const uint32_t base = (2 * pass + 1) * uint32_t(srcH);
        for (uint32_t y = first; y < end; ++y) {
            const double y0 = (static_cast<double>(y) - halfH - 0.5 - shiftY) * stepY + centreY;
            const double y1 = (static_cast<double>(y + 1) - halfH - 0.5 - shiftY) * stepY + centreY;
            DstPixel* row = destination.row(y);
            for (uint32_t x = 0; x < dstW; ++x) {
                const double x0 = (static_cast<double>(x) - halfW - 0.5 - shiftX) * stepX + centreX;
                const double x1 = (static_cast<double>(x + 1) - halfW - 0.5 - shiftX) * stepX + centreX;
                double result[S];
                boxIntegral(source, sumTable, result, edgeModeX, edgeModeY, x0, x1, y0, y1);
                convert(result, row[x], destination.premultiplied != 0);
            }
            const uint32_t spread = static_cast<uint32_t>(uint64_t(y) * uint32_t(srcH) / dstH);
            status = host->ReportProgress(base + spread, total);
            if (status != host->StatusOk()) return status;
        }
        return status;
    }

    // Builds the table of `source` and keeps it in `table` (the caller frees it).
    uint32_t prepare_sum_table(uint32_t pass_, uint32_t passCount_) {
        pass = pass_;
        passCount = passCount_;
        const uint64_t bytes = sumTableBytes(source.width, source.height, S);
        if (bytes > UINT32_MAX) return host->StatusOutOfMemory();
        float* block = nullptr;
        if (bytes > 0) {
            block = static_cast<float*>(host->AllocateMemory(static_cast<uint32_t>(bytes)));
            if (!block) return host->StatusOutOfMemory();
        }
        table = block;
        sumTable = makeSumTableView<S>(table, source);
        return fillSumTable(source, sumTable, 2 * pass, 2 * passCount, host);
    }

    // The group's conversion of the means (colour premultiplied, as boxIntegral gives them).
    static void convert(const double* result, DstPixel& out, bool destinationPremultiplied) {
        constexpr double kR = 0.292687786, kG = 0.552149646, kB = 0.155162568;
        if constexpr (rule == ZoomRule::MaskToKernel) {
            constexpr int MAX = DstPixel::max_int;
            double s = result[0];
            if constexpr (MAX == 1) s = s * 0.00392156862745098;
            else if constexpr (MAX == 32768) s = s * 128.50196078431372;
            s = std::clamp(s, 0.0, static_cast<double>(MAX));
            const float v = toSingle(s);
            for (int c = 0; c < DstPixel::colour_count; ++c) out.v[c] = v;
            if constexpr (DstPixel::has_alpha) out.v[DstPixel::alpha_index] = static_cast<float>(MAX);
            for (int e = 0; e < DstPixel::extra_count; ++e) out.v[DstPixel::extra_index + e] = 0.0f;
        } else {
            using T = typename DstPixel::sample_type;
            constexpr double MAX = SrcPixel::max_value;
            constexpr int C = SrcPixel::colour_count;
            double c[3] = {0.0, 0.0, 0.0};
            for (int i = 0; i < C; ++i) c[i] = result[i];
            double a = MAX;
            if constexpr (rule == ZoomRule::ColourAlphaToGray) {
                a = result[SrcPixel::alpha_index];
                if (!destinationPremultiplied) {
                    const float af = toSingle(a);
                    if (af > 0.0f) {
                        const double f = MAX / static_cast<double>(af);
                        for (int i = 0; i < C; ++i) c[i] *= f;
                    }
                }
                a = std::clamp(a, 0.0, MAX);
            } else {
                (void)destinationPremultiplied;
            }
            if constexpr (SrcPixel::is_integer)
                for (int i = 0; i < C; ++i) c[i] = std::clamp(c[i], 0.0, MAX);
            double g;
            if constexpr (C == 1) g = c[0];
            else if constexpr (C == 2) g = kR * c[0] + kG * c[1];
            else g = kR * c[0] + kG * c[1] + kB * c[2];
            if constexpr (rule == ZoomRule::ColourAlphaToGray && C > 1)
                g = g * (MAX == 1.0 ? a : a * SrcPixel::inverse_max);
            if constexpr (SrcPixel::is_integer)
                out.v[0] = static_cast<T>(g);  // truncated toward zero; g lies in [0, MAX]
            else
                out.v[0] = toSingle(g);
        }
    }

    Src source;
    Dst destination;
    double stepX = 1.0;
    double stepY = 1.0;
    uint32_t edgeModeX = 4;
    uint32_t edgeModeY = 4;
    float* table = nullptr;
    TableView sumTable;
};

// The 39 pairs: X(Source view, Destination view).
#define OV_ZOOM_PAIRS(X) \
    X(ImgHostGrayA_U8, ImgPackedGray_U8) X(ImgHostGray_U8, ImgPackedGray_U8) \
    X(ImgHostTwoChA_U8, ImgPackedGray_U8) X(ImgHostTwoCh_U8, ImgPackedGray_U8) \
    X(ImgHostRGBA_U8, ImgPackedGray_U8) X(ImgHostRGB_U8, ImgPackedGray_U8) \
    X(ImgHostGrayA_U16, ImgPackedGray_U16) X(ImgHostGray_U16, ImgPackedGray_U16) \
    X(ImgHostTwoChA_U16, ImgPackedGray_U16) X(ImgHostTwoCh_U16, ImgPackedGray_U16) \
    X(ImgHostRGBA_U16, ImgPackedGray_U16) X(ImgHostRGB_U16, ImgPackedGray_U16) \
    X(ImgHostGrayA_F1, ImgWorkGray_F1) X(ImgHostGray_F1, ImgWorkGray_F1) \
    X(ImgHostTwoChA_F1, ImgWorkGray_F1) X(ImgHostTwoCh_F1, ImgWorkGray_F1) \
    X(ImgHostRGBA_F1, ImgWorkGray_F1) X(ImgHostRGB_F1, ImgWorkGray_F1) \
    X(ImgMask8, ImgWorkGrayA_F1) X(ImgMask8, ImgWorkGray_F1) X(ImgMask8, ImgWorkTwoChA_F1) \
    X(ImgMask8, ImgWorkTwoCh_F1) X(ImgMask8, ImgWorkRGBA_F1) X(ImgMask8, ImgWorkRGB_F1) \
    X(ImgMask8, ImgWorkGrayA_F32768) X(ImgMask8, ImgWorkGray_F32768) \
    X(ImgMask8, ImgWorkTwoChA_F32768) X(ImgMask8, ImgWorkTwoCh_F32768) \
    X(ImgMask8, ImgWorkRGBA_F32768) X(ImgMask8, ImgWorkRGB_F32768) \
    X(ImgMask8, ImgWorkGrayA_F255) X(ImgMask8, ImgWorkGray_F255) \
    X(ImgMask8, ImgWorkTwoChA_F255) X(ImgMask8, ImgWorkTwoCh_F255) \
    X(ImgMask8, ImgWorkRGBA_F255) X(ImgMask8, ImgWorkRGB_F255) \
    X(ImgPackedGray_U8, ImgPackedGray_U8) X(ImgPackedGray_U16, ImgPackedGray_U16) \
    X(ImgWorkGray_F1, ImgWorkGray_F1)

#define OV_ZOOM_EXTERN(S, D) extern template class ZoomFilter<S, D>;
OV_ZOOM_PAIRS(OV_ZOOM_EXTERN)
#undef OV_ZOOM_EXTERN

}  // namespace ov
