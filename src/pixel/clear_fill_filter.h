// Clear and fill filters: set every pixel of a packed float work image, one row
// per work item of the parallel run.
//
// Contract: the filter owns no pixel memory (the view is a copy of the caller's; the caller
// keeps the buffer alive until render returns) and allocates nothing. render(pass, passCount)
// returns ParallelRun's status over `height` rows; each row reports
// ReportProgress(pass * height + y, passCount * height) as its last act and returns that
// status. A view without data writes nothing and reports nothing.
#pragma once

#include <algorithm>
#include <cstdint>

#include "core/ostrovanne_filter.h"
#include "pixel/formats.h"

namespace ov {

template <class View>
class ClearImageFilter : public OstrovanneFilter {
public:
    using Pixel = typename View::pixel_type;

    ClearImageFilter(OstrovanneHost* host_, const View& destination_)
        : OstrovanneFilter(host_), destination(destination_) {}

    uint32_t render(uint32_t pass_, uint32_t passCount_) override {
        pass = pass_;
        passCount = passCount_;
        return run_slices(destination.height);
    }

    uint32_t render_slice(uint32_t y, uint32_t, uint32_t) override {
        if (!destination.has_data()) return host->StatusOk();
        unsigned char* row = destination.row_bytes(y);
        const std::ptrdiff_t step = destination.step();
        using T = typename Pixel::sample_type;
        for (std::ptrdiff_t x = 0; x < std::ptrdiff_t(destination.width); ++x) {
            Pixel& p = *reinterpret_cast<Pixel*>(row + x * step);
            for (int i = 0; i < Pixel::sample_count; ++i) p.v[i] = T(0);
        }
        return report_item(y, destination.height);
    }

    View destination;
};

template <class View>
class FillImageFilter : public OstrovanneFilter {
public:
    using Pixel = typename View::pixel_type;

    FillImageFilter(OstrovanneHost* host_, const View& destination_, const Pixel& fill_)
        : OstrovanneFilter(host_), destination(destination_), fill(fill_) {}

    uint32_t render(uint32_t pass_, uint32_t passCount_) override {
        pass = pass_;
        passCount = passCount_;
        return run_slices(destination.height);
    }

    uint32_t render_slice(uint32_t y, uint32_t, uint32_t) override {
        if (!destination.has_data()) return host->StatusOk();
        unsigned char* row = destination.row_bytes(y);
        const std::ptrdiff_t step = destination.step();
        const Pixel f = fill;
        for (std::ptrdiff_t x = 0; x < std::ptrdiff_t(destination.width); ++x)
            *reinterpret_cast<Pixel*>(row + x * step) = f;
        return report_item(y, destination.height);
    }

    View destination;
    Pixel fill;
};

// Instances kept in clear_fill_filter.cpp: ClearImageFilter over the 18 colour work formats,
// FillImageFilter over the 9 with alpha.
#define PEL_CLEAR_FILL_INSTANCES(X_CLEAR, X_FILL)                                            \
    X_CLEAR(ImgWorkGrayA_F1) X_CLEAR(ImgWorkGray_F1) X_CLEAR(ImgWorkTwoChA_F1)                 \
    X_CLEAR(ImgWorkTwoCh_F1) X_CLEAR(ImgWorkRGBA_F1) X_CLEAR(ImgWorkRGB_F1)                    \
    X_CLEAR(ImgWorkGrayA_F255) X_CLEAR(ImgWorkGray_F255) X_CLEAR(ImgWorkTwoChA_F255)           \
    X_CLEAR(ImgWorkTwoCh_F255) X_CLEAR(ImgWorkRGBA_F255) X_CLEAR(ImgWorkRGB_F255)              \
    X_CLEAR(ImgWorkGrayA_F32768) X_CLEAR(ImgWorkGray_F32768) X_CLEAR(ImgWorkTwoChA_F32768)     \
    X_CLEAR(ImgWorkTwoCh_F32768) X_CLEAR(ImgWorkRGBA_F32768) X_CLEAR(ImgWorkRGB_F32768)        \
    X_FILL(ImgWorkGrayA_F1) X_FILL(ImgWorkTwoChA_F1) X_FILL(ImgWorkRGBA_F1)                    \
    X_FILL(ImgWorkGrayA_F255) X_FILL(ImgWorkTwoChA_F255) X_FILL(ImgWorkRGBA_F255)              \
    X_FILL(ImgWorkGrayA_F32768) X_FILL(ImgWorkTwoChA_F32768) X_FILL(ImgWorkRGBA_F32768)

#define PEL_EXTERN_CLEAR(V) extern template class ClearImageFilter<V>;
#define PEL_EXTERN_FILL(V) extern template class FillImageFilter<V>;
PEL_CLEAR_FILL_INSTANCES(PEL_EXTERN_CLEAR, PEL_EXTERN_FILL)
#undef PEL_EXTERN_CLEAR
#undef PEL_EXTERN_FILL

}  // namespace ov
