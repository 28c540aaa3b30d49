// Template bodies of ov::OutOfFocusEffect (included by the instance files only).
#pragma once

#include <cstdint>

#include "kernel/hsl_range_selection_filter.h"
#include "kernel/iris_kernel_image.h"
#include "outoffocus/out_of_focus_effect.h"
#include "outoffocus/out_of_focus_filter.h"
#include "outoffocus/out_of_focus_filter_impl.h"
#include "pixel/clear_fill_filter.h"
#include "pixel/copy_image_filter.h"
#include "refract/refraction_stage.h"

namespace ov {

template <class Src, class Dst, class Sel>
OutOfFocusEffect<Src, Dst, Sel>::OutOfFocusEffect(OstrovanneHost* host_)
    : OstrovanneFilter(host_) {}

template <class Src, class Dst, class Sel>
uint32_t OutOfFocusEffect<Src, Dst, Sel>::render(uint32_t, uint32_t) {
    if (params.view == 1) return renderBlur();
    if (params.view == 2) return renderIrisView();
    return renderSelectionView();
}

template <class Src, class Dst, class Sel>
uint32_t OutOfFocusEffect<Src, Dst, Sel>::renderBlur() {
    if (destination.width == 0 || destination.height == 0) return host->StatusOk();
    const uint32_t refractionPasses = refractionImage.has_data() ? 3 : 1;
    uint32_t status;
    if (!(params.blur_radius > 0.0)) {
        status = CopyImageFilter<Src, Dst>(host, source, destination, 0, 0, PremultipliedKeep)
                     .render(0, 1);
    } else {
        auto run = [&](auto& filter) {
            filter.source = source;
            filter.destination = destination;
            filter.highlightSource = highlightSource;
            filter.irisImage = irisImage;
            filter.params = params;
            return filter.render(0, 1);
        };
        if (irisImage.has_data() && params.keep_color != 0) {
            OutOfFocusFilter<Src, Dst, Sel, 1, OutOfFocusKernelOf<Src, 1>> filter(host);
            status = run(filter);
        } else {
            OutOfFocusFilter<Src, Dst, Sel, 0, OutOfFocusKernelOf<Src, 0>> filter(host);
            status = run(filter);
        }
    }
    if (refractionImage.has_data() && status == host->StatusOk())
        status = renderRefractionStage(host, source, destination, refractionImage,
                                       refractionSettingsFrom(params), refractionPasses);
    return status;
}

template <class Src, class Dst, class Sel>
uint32_t OutOfFocusEffect<Src, Dst, Sel>::renderIrisView() {
    const uint32_t W = destination.width, H = destination.height;
    if (W == 0 || H == 0) return host->StatusOk();
    using TwinPixel = typename FloatTwin::pixel_type;
    constexpr uint64_t k = sizeof(TwinPixel);
    const uint64_t bytes = uint64_t(W) * uint64_t(H) * k;
    if (bytes > 0xffffffffu || uint64_t(W) * k > 0x7fffffffu) return host->StatusOutOfMemory();
    void* block = host->AllocateMemory(uint32_t(bytes));
    if (block == nullptr) return host->StatusOutOfMemory();

    FloatTwin kernel(block, W, H, int32_t(uint64_t(W) * k), destination.originX,
                     destination.originY, false, destination.scale, 1.0, 1.0, true, int32_t(k));
    uint32_t status = ClearImageFilter<FloatTwin>(host, kernel).render(0, 3);
    if (status == host->StatusOk())
        status = buildIrisKernelImage(kernel, irisImage, params, 1, 3, host);
    if (status == host->StatusOk())
        status = CopyImageFilter<FloatTwin, Dst>(host, kernel, destination, 0, 0, PremultipliedKeep)
                     .render(2, 3);
    host->FreeMemory(block);
    return status;
}

template <class Src, class Dst, class Sel>
uint32_t OutOfFocusEffect<Src, Dst, Sel>::renderSelectionView() {
    uint32_t status = HslRangeSelectionFilter<Src, Dst, Src>(host, source, destination,
                                                             highlightSource,
                                                             params.highlight_selection)
                          .render(0, 1);
    using P = typename Dst::pixel_type;
    if constexpr (P::has_alpha) {
        using T = typename P::sample_type;
        const T opaque = static_cast<T>(P::max_value);
        for (uint32_t y = 0; y < destination.height && status == host->StatusOk(); ++y) {
            unsigned char* row = destination.row_bytes(y);
            for (uint32_t x = 0; x < destination.width; ++x)
                destination.in_row(row, x)->v[P::alpha_index] = opaque;
            status = host->ReportProgress(100, 100);
        }
    }
    return status;
}

}  // namespace ov
