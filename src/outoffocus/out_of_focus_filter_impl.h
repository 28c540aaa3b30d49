// Template bodies of ov::OutOfFocusFilter (included by the instance files only).
//
// render() runs the nine steps; prepare_slice() fills bands of the image grid (edge
// extension, premultiplication, working range, linear light, highlight gain and weight);
// render_slice() cuts the image out of the inverse-transformed grid, normalises, converts
// back, un-premultiplies and stores bands of destination rows.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <type_traits>

#include "fft/multiply_complex_half_filter.h"
#include "fft/real_fft_filter.h"
#include "kernel/highlight_selection.h"
#include "kernel/iris_kernel_image.h"
#include "outoffocus/out_of_focus_filter.h"
#include "pixel/clear_fill_filter.h"
#include "pixel/colour.h"
#include "pixel/copy_image_filter.h"
#include "pixel/edge_mode.h"

namespace ov {

namespace oof_detail {

// The largest float sample the blur takes as it is (16 times white; linearised, about 390).
inline constexpr double kFloatSampleCeiling = 16.0;

// Rows [first, last) of band `index` of `count` over `rows` rows: q = rows / count rows per
// band, the last band takes the remainder.
inline void bandRows(uint32_t rows, uint32_t index, uint32_t count, int32_t& first,
                     int32_t& last) {
    const uint32_t q = rows / count;
    first = int32_t(q * index);
    last = index + 1 >= count ? int32_t(rows) : first + int32_t(q);
}

// A sample read from an image as a double; a 32-bit float that is not finite reads as 0.
template <class T>
inline double readSample(T v) {
    if constexpr (std::is_floating_point_v<T>) {
        return std::isfinite(v) ? static_cast<double>(v) : 0.0;
    } else {
        return static_cast<double>(v);
    }
}

// The linearisation of one kernel value: clamped to [0, 1] (not a number: 0), the table
// index formed in single precision with the factor 32766.
inline float linearKernelValue(float v, const float* toLinear) {
    const float c = v >= 0.0f ? (v > 1.0f ? 1.0f : v) : 0.0f;
    return toLinear[static_cast<int32_t>(c * 32766.0f)];
}

}  // namespace oof_detail

template <class Src, class Dst, class Sel, int CK, class Kernel>
OutOfFocusFilter<Src, Dst, Sel, CK, Kernel>::OutOfFocusFilter(OstrovanneHost* host_)
    : OstrovanneFilter(host_) {}

template <class Src, class Dst, class Sel, int CK, class Kernel>
uint32_t OutOfFocusFilter<Src, Dst, Sel, CK, Kernel>::render(uint32_t pass_,
                                                             uint32_t passCount_) {
    pass = pass_;
    passCount = passCount_;
    const HighlightSelectionParams& selection = params.highlight_selection;
    useAdditive = (selection.enabled != 0 && params.highlight_additive > 0.0) ? 1 : 0;
    useWeight = (selection.enabled != 0 && params.highlight_preservative > 0.0) ? 1 : 0;

    const IrisImageExtent iris{irisImage.width, irisImage.height, irisImage.scale};
    const bool sized = computeOutOfFocusGeometry(destination.width, destination.height, params,
                                                 source.scale,
                                                 irisImage.has_data() ? &iris : nullptr, geometry);
    paddedWidth = geometry.paddedWidth;
    paddedHeight = geometry.paddedHeight;
    fftWidth = geometry.fftWidth;
    fftHeight = geometry.fftHeight;
    fftRowLength = geometry.fftRowLength;
    if (!sized) {
        // An empty destination has nothing to render; sides beyond the transform's reach
        // cannot be had.
        if (destination.width == 0 || destination.height == 0) return host->StatusOk();
        return host->StatusOutOfMemory();
    }

    // Byte sizes in 64 bits: the host allocates at most 2^32 - 1 bytes per block.
    const uint64_t elements = uint64_t(fftRowLength) * uint64_t(fftHeight);
    const uint64_t kernelBytes = elements * sizeof(KernelPixel);
    const uint64_t imageBytes = elements * (useWeight ? sizeof(WeightedPixel) : sizeof(WorkPixel));
    constexpr uint64_t kLargestBlock = 0xffffffffu;
    if (kernelBytes > kLargestBlock || imageBytes > kLargestBlock) return host->StatusOutOfMemory();

    void* kernelBlock = host->AllocateMemory(uint32_t(kernelBytes));
    toLinearTable = static_cast<float*>(host->AllocateMemory(kTransferTableSize * sizeof(float)));
    fromLinearTable = static_cast<float*>(host->AllocateMemory(kTransferTableSize * sizeof(float)));
    void* imageBlock = host->AllocateMemory(uint32_t(imageBytes));
    auto freeBlocks = [&] {
        host->FreeMemory(toLinearTable);
        host->FreeMemory(fromLinearTable);
        host->FreeMemory(kernelBlock);
        host->FreeMemory(imageBlock);
        toLinearTable = fromLinearTable = nullptr;
        kernelWindow = kernelGrid = Kernel();
        weightedImageGrid = WW();
        imageGrid = W();
    };
    if (!kernelBlock || !toLinearTable || !fromLinearTable || !imageBlock) {
        freeBlocks();
        return host->StatusOutOfMemory();
    }

    // The work views: packed float, premultiplied, rows of fftRowLength elements. Every grid
    // row of fewer than 2^31 bytes holds (the block has at least two rows).
    const int32_t ke = int32_t(sizeof(KernelPixel));
    const int32_t kernelRowBytes = fftRowLength * ke;
    kernelGrid = Kernel(kernelBlock, uint32_t(fftRowLength), uint32_t(fftHeight), kernelRowBytes,
                        0, 0, true, source.scale, 1.0, 1.0, true, ke);
    const std::ptrdiff_t windowOffset =
        (std::ptrdiff_t((fftHeight - paddedHeight) / 2) * fftRowLength +
         (fftWidth - paddedWidth) / 2) * ke;
    kernelWindow = Kernel(static_cast<unsigned char*>(kernelBlock) + windowOffset,
                          uint32_t(paddedWidth), uint32_t(paddedHeight), kernelRowBytes, 0, 0,
                          true, source.scale, 1.0, 1.0, true, ke);
    if (useWeight) {
        weightedImageGrid = WW(imageBlock, uint32_t(fftRowLength), uint32_t(fftHeight),
                               fftRowLength * int32_t(sizeof(WeightedPixel)), 0, 0, true,
                               source.scale, 1.0, 1.0, true, int32_t(sizeof(WeightedPixel)));
    } else {
        imageGrid = W(imageBlock, uint32_t(fftRowLength), uint32_t(fftHeight),
                      fftRowLength * int32_t(sizeof(WorkPixel)), 0, 0, true, source.scale, 1.0,
                      1.0, true, int32_t(sizeof(WorkPixel)));
    }
    fillTransferTables(toLinearTable, fromLinearTable, params.gamma_correction != 0,
                       SrcPixel::max_value);
    straightLinear = (params.gamma_correction != 0 && hasTransparency(source)) ? 1 : 0;

    const uint32_t p9 = 9 * pass, P9 = 9 * passCount;
    // Step 0: clear the kernel grid (the window and the spare columns included).
    uint32_t status = ClearImageFilter<Kernel>(host, kernelGrid).render(p9, P9);
    // Step 1: the aperture (or the selection as iris), centred in the window.
    if (status == host->StatusOk())
        status = buildIrisKernelImage(kernelWindow, irisImage, params, p9 + 1, P9, host);
    // Step 2: the padded, extended, linear, highlight-weighted image.
    // The image rows first, then the margin rows copied from them.
    const int32_t prepareItems = std::max(1, host->GetThreadCount(fftHeight));
    for (uint8_t margin = 0; margin < 2 && status == host->StatusOk(); ++margin) {
        prepareMarginRows = margin;
        status = host->ParallelRun(uint32_t(prepareItems), prepare_job());
    }
    // Step 3: the kernel to the grid origin, linearised, clipped, summed and normalised.
    std::fill(kernelSum, kernelSum + kernelSamples, 0.0);
    if (status == host->StatusOk()) status = placeKernel();
    // A kernel without weight (an all-black selection, say) cannot be normalised: the
    // source is copied instead.
    bool copySource = false;
    for (int c = 0; c < kernelSamples; ++c)
        if (!(kernelSum[c] > 0.0) || !std::isfinite(kernelSum[c])) copySource = true;
    // Step 4: the kernel's half spectrum, its total made exactly 1.
    if (status == host->StatusOk() && !copySource) {
        RealFFFFilter<Kernel> transform(host);
        transform.array = kernelGrid;
        transform.rowsUsed = uint32_t(fftHeight);
        status = transform.forward(p9 + 4, P9);
        if (status == host->StatusOk()) normaliseKernelSpectrum();
    }
    // Steps 5 to 7 on the grid view in use.
    auto imageSteps = [&](const auto& grid) {
        using GridView = std::decay_t<decltype(grid)>;
        // Every grid row holds the extended image, so all of them are row-transformed: the
        // spectrum is that of the whole extended grid.
        RealFFFFilter<GridView> transform(host);
        transform.array = grid;
        transform.rowsUsed = uint32_t(fftHeight);
        if (status == host->StatusOk()) status = transform.forward(p9 + 5, P9);
        if (status == host->StatusOk()) {
            MultiplyComplexHalfFilter<GridView, Kernel> product(host);
            product.spectrum = grid;
            product.kernel = kernelGrid;
            status = product.render(p9 + 6, P9);
        }
        // Only rows 0 .. paddedHeight - 1 are read back.
        transform.rowsUsed = uint32_t(paddedHeight);
        if (status == host->StatusOk()) status = transform.inverse(p9 + 7, P9);
    };
    if (!copySource) {
        if (useWeight) imageSteps(weightedImageGrid);
        else imageSteps(imageGrid);
    }
    // Step 8: the destination rows.
    const int32_t writeItems = std::max(1, host->GetThreadCount(int32_t(destination.height)));
    if (status == host->StatusOk()) {
        if (copySource)
            status = CopyImageFilter<Src, Dst>(host, source, destination, 0, 0, PremultipliedKeep)
                         .render(p9 + 8, P9);
        else
            status = host->ParallelRun(uint32_t(writeItems), slice_job());
    }
    freeBlocks();
    return status;
}

// Step 3. The exchange of every upper-half element with its partner half a grid across and
// down moves the window's centre (fftWidth / 2, fftHeight / 2) to element (0, 0). Kernel
// offsets (dx, dy) from the centre outside [-imageX, imageX] x [-imageY, imageY] are cut:
// the image has only that much extended neighbourhood on each side in the grid, and a
// longer reach would read the fill of the opposite edge around the torus. Each value kept
// is linearised through toLinearTable and summed per plane in double; a last pass scales
// each plane to a total of 1.
template <class Src, class Dst, class Sel, int CK, class Kernel>
uint32_t OutOfFocusFilter<Src, Dst, Sel, CK, Kernel>::placeKernel() {
    using KP = KernelPixel;
    const int32_t FW = fftWidth, FH = fftHeight, hw = FW / 2, hh = FH / 2;
    const int32_t dxHi = std::min(geometry.imageX, paddedWidth / 2 - 1);
    const int32_t dxLo = -std::min(geometry.imageX, paddedWidth / 2);
    const int32_t dyHi = std::min(geometry.imageY, paddedHeight / 2 - 1);
    const int32_t dyLo = -std::min(geometry.imageY, paddedHeight / 2);
    const float* toLinear = toLinearTable;
    double* sums = kernelSum;

    // One element as it is stored at its new place: colours linearised; in the colour-kernel
    // layouts with alpha the alpha plane is the mean of the colours as read times the alpha
    // as read.
    auto place = [&](const KP& in) {
        KP out;
        if constexpr (KP::has_alpha) {
            float colourSum = in.v[0];
            for (int c = 1; c < KP::colour_count; ++c) colourSum += in.v[c];
            const double mean = static_cast<double>(colourSum) * (1.0 / KP::colour_count);
            out.v[KP::alpha_index] = static_cast<float>(mean * static_cast<double>(in.v[KP::alpha_index]));
            if (std::isfinite(out.v[KP::alpha_index])) sums[KP::alpha_index] += out.v[KP::alpha_index];
            else out.v[KP::alpha_index] = 0.0f;
        }
        for (int c = 0; c < KP::colour_count; ++c) {
            out.v[c] = oof_detail::linearKernelValue(in.v[c], toLinear);
            sums[c] += out.v[c];
        }
        return out;
    };
    const KP zero{};
    const int32_t windowTop = (FH - paddedHeight) / 2, windowBottom = windowTop + paddedHeight;
    auto rowHoldsKernel = [&](int32_t y) { return y >= windowTop && y < windowBottom; };

    const uint32_t done0 = (9 * pass + 3) * uint32_t(hh), total = 9 * passCount * uint32_t(hh);
    for (int32_t y = 0; y < hh; ++y) {
        KP* upper = kernelGrid.row(y);
        KP* lower = kernelGrid.row(y + hh);
        // Offsets of the two rows from the centre: y - hh (upper) and y (lower).
        const bool upperKept = y - hh >= dyLo;
        const bool lowerKept = y <= dyHi;
        if (rowHoldsKernel(y) || rowHoldsKernel(y + hh)) {
            for (int32_t x = 0; x < FW; ++x) {
                const int32_t xp = x < hw ? x + hw : x - hw;
                const int32_t dxUpper = x - hw, dxLower = xp - hw;
                const KP a = upperKept && dxUpper >= dxLo && dxUpper <= dxHi ? place(upper[x]) : zero;
                const KP b = lowerKept && dxLower >= dxLo && dxLower <= dxHi ? place(lower[xp]) : zero;
                upper[x] = b;
                lower[xp] = a;
            }
        }
        upper[FW] = upper[FW + 1] = zero;
        const uint32_t status = host->ReportProgress(done0 + uint32_t(y), total);
        if (status != host->StatusOk()) return status;
    }

    // Each plane to a total of 1 (only rows and columns within the kept offsets hold values).
    double scale[kernelSamples];
    for (int c = 0; c < kernelSamples; ++c) scale[c] = sums[c] > 0.0 ? 1.0 / sums[c] : 0.0;
    for (int32_t y = 0; y < FH; ++y) {
        if (y > dyHi && y < FH + dyLo) continue;
        KP* row = kernelGrid.row(y);
        for (int32_t x = 0; x < FW; ++x) {
            if (x > dxHi && x < FW + dxLo) continue;
            for (int c = 0; c < kernelSamples; ++c)
                row[x].v[c] = static_cast<float>(static_cast<double>(row[x].v[c]) * scale[c]);
        }
    }
    return host->StatusOk();
}

// After step 4: the zero-frequency value of each plane is its total, 1 up to the rounding of
// the transform. Setting it to exactly 1 makes a uniform image come back exactly, whatever
// the rounding of the kernel's own transform (its effect elsewhere is a pedestal of about
// 1e-7 of the plane's total spread over the whole grid).
template <class Src, class Dst, class Sel, int CK, class Kernel>
void OutOfFocusFilter<Src, Dst, Sel, CK, Kernel>::normaliseKernelSpectrum() {
    KernelPixel& dc = kernelGrid.row(0)[0];
    for (int c = 0; c < kernelSamples; ++c) dc.v[c] = 1.0f;
}

// One element of the image grid from a pixel's samples (on the 0..MAX scale): brought to 0..1
// (8- and 16-bit samples clamped to 0..MAX first), in linear light when gamma is on (the table
// for 8 and 16 bits, the formula for float), premultiplied (when the source is not), the
// colours and alpha times the highlight gain, and the weight as the last sample. Alpha is
// coverage: it is clamped to 0..MAX before it multiplies anything. With straightLinear the
// colour is linearised straight (a premultiplied source's colour divided by its alpha first)
// and premultiplied in linear light; otherwise it is premultiplied as it comes.
template <class Src, class Dst, class Sel, int CK, class Kernel>
template <class GridPixel>
void OutOfFocusFilter<Src, Dst, Sel, CK, Kernel>::toWorking(double* colour, double alpha,
                                                            double gain, double weight,
                                                            bool premultiply,
                                                            GridPixel& out) const {
    using P = SrcPixel;
    constexpr int C = P::colour_count;
    constexpr double MAX = P::max_value, invMax = P::inverse_max;
    const bool gamma = params.gamma_correction != 0;
    // To 0..1, linear when gamma is on. Float samples above kFloatSampleCeiling count as the
    // ceiling, so that no grid or transform value can overflow or drown the image in rounding
    // noise.
    auto toRange = [&](double& v) {
        if constexpr (P::is_integer) {
            if (!(v >= 0.0)) v = 0.0;
            else if (v > MAX) v = MAX;
            v *= invMax;
            if (gamma) v = toLinearTable[static_cast<int32_t>(v * 32767.0)];
        } else {
            if (v > oof_detail::kFloatSampleCeiling) v = oof_detail::kFloatSampleCeiling;
            if (gamma) v = rec709_to_linear(v);
        }
    };
    if constexpr (P::has_alpha) {
        alpha = !(alpha >= 0.0) ? 0.0 : (alpha > MAX ? MAX : alpha);
        const double a = alpha * invMax;
        if (straightLinear) {
            if (!premultiply)
                for (int c = 0; c < C; ++c) colour[c] = a > 0.0 ? colour[c] / a : 0.0;
            for (int c = 0; c < C; ++c) {
                toRange(colour[c]);
                colour[c] *= a;
            }
        } else {
            if (premultiply)
                for (int c = 0; c < C; ++c) colour[c] *= a;
            for (int c = 0; c < C; ++c) toRange(colour[c]);
        }
        alpha = a;
    } else {
        for (int c = 0; c < C; ++c) toRange(colour[c]);
    }
    for (int c = 0; c < C; ++c) out.v[c] = static_cast<float>(colour[c] * gain);
    if constexpr (P::has_alpha) out.v[GridPixel::alpha_index] = static_cast<float>(alpha * gain);
    if constexpr (GridPixel::extra_count > 0) out.extra(0) = static_cast<float>(weight);
    (void)weight;
}

// The element of edge mode 4: the outside colour's components times MAX in single precision
// (a gray image takes red, a two-channel image red and green), no highlight weight.
template <class Src, class Dst, class Sel, int CK, class Kernel>
template <class GridPixel>
GridPixel OutOfFocusFilter<Src, Dst, Sel, CK, Kernel>::outsideElement() const {
    using P = SrcPixel;
    auto component = [&](int i) {
        const float v = params.outside_color[i];
        return std::isfinite(v) ? static_cast<double>(v * static_cast<float>(P::max_value)) : 0.0;
    };
    double colour[P::colour_count];
    for (int c = 0; c < P::colour_count; ++c) colour[c] = component(c);
    GridPixel out{};
    toWorking(colour, component(3), 1.0, 1.0, P::has_alpha && !source.premultiplied, out);
    return out;
}

template <class Src, class Dst, class Sel, int CK, class Kernel>
uint32_t OutOfFocusFilter<Src, Dst, Sel, CK, Kernel>::prepare_slice(uint32_t thread_index,
                                                                    uint32_t thread_iterations,
                                                                    uint32_t) {
    const uint32_t H = destination.height;
    const uint32_t rows = prepareMarginRows ? uint32_t(fftHeight) - H : H;
    int32_t first = 0, last = 0;
    oof_detail::bandRows(rows, thread_index, thread_iterations, first, last);
    if (useWeight) {
        return prepareMarginRows ? prepareMargin(weightedImageGrid, first, last)
                                 : prepareImageRows(weightedImageGrid, first, last);
    }
    return prepareMarginRows ? prepareMargin(imageGrid, first, last)
                             : prepareImageRows(imageGrid, first, last);
}

// Image rows first .. last - 1 (grid rows imageY + first ..): every source pixel of the row
// is converted once (premultiplied, brought to 0..1, linearised, times its highlight gain,
// with its weight sample), then the margin columns of the row are copied from the
// converted pixels by the edge mode for x, or take the outside colour.
template <class Src, class Dst, class Sel, int CK, class Kernel>
template <class GridPixel>
uint32_t OutOfFocusFilter<Src, Dst, Sel, CK, Kernel>::prepareImageRows(
    const WorkView<GridPixel>& grid, int32_t first, int32_t last) {
    using P = SrcPixel;
    using T = typename P::sample_type;
    constexpr int C = P::colour_count;
    constexpr bool hasAlpha = P::has_alpha;
    constexpr bool integer = P::is_integer;
    constexpr double MAX = P::max_value, invMax = P::inverse_max;
    static_assert(GridPixel::colour_count == C && GridPixel::has_alpha == hasAlpha, "grid pixel");

    HslRangeSettings settings;
    hslRangeSetup<P>(settings, params.highlight_selection);
    uint32_t status = host->StatusOk();
    if (first >= last) return status;

    const int32_t width = int32_t(destination.width);
    const int32_t OX = geometry.imageX, OY = geometry.imageY, GW = fftRowLength;
    // Modes below 1 never come from the settings; they are taken as clamp.
    const int32_t modeX = params.edge_mode_x < 1 ? int32_t(EdgeModeClamp) : params.edge_mode_x;
    const bool gamma = params.gamma_correction != 0;
    const bool weigh = useAdditive || useWeight;
    const float* toLinear = toLinearTable;

    const GridPixel outside = outsideElement<GridPixel>();

    const bool premultiplySource = hasAlpha && !source.premultiplied;
    const bool premultiplyHighlight = hasAlpha && !highlightSource.premultiplied;
    const std::ptrdiff_t hdx = std::ptrdiff_t(source.originX) - highlightSource.originX;
    const std::ptrdiff_t hdy = std::ptrdiff_t(source.originY) - highlightSource.originY;
    const bool highlightData = highlightSource.has_data();
    const double preservative = params.highlight_preservative;
    const double additive = params.highlight_additive;

    // 8-bit samples: the working value of every sample value, for colour that needs no
    // premultiplication or is premultiplied in linear light (straight samples only).
    constexpr bool byteSamples = std::is_same_v<T, unsigned char>;
    double byteValue[byteSamples ? 256 : 1];
    const bool useByteValues =
        byteSamples && (straightLinear ? !source.premultiplied : !premultiplySource);
    if (useByteValues) {
        for (int v = 0; v < (byteSamples ? 256 : 1); ++v) {
            const double x = double(v) * invMax;
            byteValue[v] = gamma ? double(toLinear[static_cast<int32_t>(x * 32767.0)]) : x;
        }
    }

    // The highlight weight and gain of the source pixel at (sx, sy).
    auto highlight = [&](int32_t sx, int32_t sy, double& weight, double& gain) {
        const std::ptrdiff_t hx = sx + hdx, hy = sy + hdy;
        if (!highlightSource.contains(hx, hy)) return;
        P hp = *highlightSource.pixel(hx, hy);
        if constexpr (!integer) {
            for (int i = 0; i < P::sample_count; ++i)
                if (!std::isfinite(hp.v[i])) hp.v[i] = T(0);
        }
        if constexpr (hasAlpha) {
            if (premultiplyHighlight) {
                // Alpha is coverage: at most full intensity, never below 0.
                const T a = hp.v[P::alpha_index] > T(MAX) ? T(MAX) : hp.v[P::alpha_index];
                if constexpr (integer) {
                    const float f = static_cast<float>(a) * static_cast<float>(invMax);
                    for (int i = 0; i < C; ++i)
                        hp.v[i] = store_sample<T>(std::trunc(static_cast<float>(hp.v[i]) * f));
                } else {
                    const T f = a >= T(0) ? a : T(0);
                    for (int i = 0; i < C; ++i) hp.v[i] = hp.v[i] * f;
                }
            }
        }
        const double w = hslRangeWeight(settings, hp);
        if (w > 0.0) {
            if (useWeight) weight = 1.0 + w * preservative;
            gain = weight + (useAdditive ? w * additive : 0.0);
        }
    };

    const uint32_t FH = uint32_t(fftHeight);
    const uint32_t done0 = (9 * pass + 2) * FH, total = 9 * passCount * FH;
    for (int32_t sy = first; sy < last; ++sy) {
        const int32_t y = OY + sy;
        GridPixel* out = grid.row(y);
        unsigned char* sourceRow = source.row_bytes(sy);
        GridPixel* image = out + OX;
        for (int32_t sx = 0; sx < width; ++sx) {
            const P& px = *source.in_row(sourceRow, sx);
            double weight = 1.0, gain = 1.0;
            if (weigh && highlightData) highlight(sx, sy, weight, gain);
            if (useByteValues) {
                GridPixel& e = image[sx];
                // Colour premultiplied here only in linear light (times 1.0 is exact).
                double cover = 1.0;
                if constexpr (hasAlpha) {
                    const double a = double(px.v[P::alpha_index]) * invMax;
                    if (straightLinear) cover = a;
                    e.v[GridPixel::alpha_index] = static_cast<float>(a * gain);
                }
                for (int c = 0; c < C; ++c)
                    e.v[c] = static_cast<float>(byteValue[static_cast<int>(px.v[c])] * cover * gain);
                if constexpr (GridPixel::extra_count > 0) e.extra(0) = static_cast<float>(weight);
                continue;
            }
            double colour[C];
            for (int i = 0; i < C; ++i) colour[i] = oof_detail::readSample(px.v[i]);
            double alpha = MAX;
            if constexpr (hasAlpha) alpha = oof_detail::readSample(px.v[P::alpha_index]);
            toWorking(colour, alpha, gain, weight, premultiplySource, image[sx]);
        }
        // The margin columns: copies of the converted pixels, or the outside colour.
        for (int32_t c = 0; c < GW; ++c) {
            if (c == OX) {
                c = OX + width - 1;
                continue;
            }
            int32_t sx = c - OX;
            edge_index(sx, width, modeX);
            out[c] = modeX >= EdgeModeColour ? outside : image[sx];
        }
        status = host->ReportProgress(done0 + uint32_t(y), total);
        if (status != host->StatusOk()) return status;
    }
    return status;
}

// Margin rows first .. last - 1 (counted over the grid rows outside the image: those above
// it, then those below): copies of the image rows by the edge mode for y, or the outside
// colour.
template <class Src, class Dst, class Sel, int CK, class Kernel>
template <class GridPixel>
uint32_t OutOfFocusFilter<Src, Dst, Sel, CK, Kernel>::prepareMargin(
    const WorkView<GridPixel>& grid, int32_t first, int32_t last) {
    uint32_t status = host->StatusOk();
    if (first >= last) return status;
    const int32_t height = int32_t(destination.height), OY = geometry.imageY, GW = fftRowLength;
    const int32_t modeY = params.edge_mode_y < 1 ? int32_t(EdgeModeClamp) : params.edge_mode_y;
    // A row outside the image under mode 4 is the outside colour in every column.
    const GridPixel outside = outsideElement<GridPixel>();
    const uint32_t FH = uint32_t(fftHeight);
    const uint32_t done0 = (9 * pass + 2) * FH, total = 9 * passCount * FH;
    for (int32_t r = first; r < last; ++r) {
        const int32_t y = r < OY ? r : r + height;
        int32_t sy = y - OY;
        edge_index(sy, height, modeY);
        GridPixel* out = grid.row(y);
        if (modeY >= EdgeModeColour) std::fill(out, out + GW, outside);
        else std::copy(grid.row(OY + sy), grid.row(OY + sy) + GW, out);
        status = host->ReportProgress(done0 + uint32_t(y), total);
        if (status != host->StatusOk()) return status;
    }
    return status;
}

template <class Src, class Dst, class Sel, int CK, class Kernel>
uint32_t OutOfFocusFilter<Src, Dst, Sel, CK, Kernel>::render_slice(uint32_t thread_index,
                                                                   uint32_t thread_iterations,
                                                                   uint32_t) {
    int32_t first = 0, last = 0;
    oof_detail::bandRows(destination.height, thread_index, thread_iterations, first, last);
    if (useWeight) return writeBand(weightedImageGrid, first, last);
    return writeBand(imageGrid, first, last);
}

template <class Src, class Dst, class Sel, int CK, class Kernel>
template <class GridPixel>
uint32_t OutOfFocusFilter<Src, Dst, Sel, CK, Kernel>::writeBand(const WorkView<GridPixel>& grid,
                                                                int32_t first, int32_t last) {
    using P = DstPixel;
    using T = typename P::sample_type;
    constexpr int C = P::colour_count;
    constexpr bool hasAlpha = P::has_alpha;
    constexpr double MAX = P::max_value, invMax = P::inverse_max;

    uint32_t status = host->StatusOk();
    if (first >= last) return status;
    const int32_t width = int32_t(destination.width);
    const int32_t OX = geometry.imageX, OY = geometry.imageY;
    const bool gamma = params.gamma_correction != 0;
    const bool straight = hasAlpha && !destination.premultiplied;
    const float* fromLinear = fromLinearTable;
    // Every kernel plane totals 1 and the transform pair multiplies by fftWidth x fftHeight / 2.
    const double plain = 2.0 * MAX / (double(fftWidth) * double(fftHeight));

    const uint32_t H = destination.height;
    const uint32_t done0 = (9 * pass + 8) * H, total = 9 * passCount * H;
    for (int32_t y = first; y < last; ++y) {
        const GridPixel* in = grid.row(y + OY) + OX;
        unsigned char* row = destination.row_bytes(y);
        for (int32_t x = 0; x < width; ++x) {
            const GridPixel& e = in[x];
            double s = plain;
            if constexpr (GridPixel::extra_count > 0) {
                // The colours were multiplied by the weight before the blur: divide by the
                // weight blurred with the same kernel.
                const double w = e.extra(0);
                if (w > 0.0) s = MAX / w;
            }
            double colour[C];
            for (int c = 0; c < C; ++c) colour[c] = static_cast<double>(e.v[c]) * s;
            double alpha = MAX;
            if constexpr (hasAlpha) alpha = static_cast<double>(e.v[GridPixel::alpha_index]) * s;
            P& out = *destination.in_row(row, x);
            if constexpr (P::is_integer) {
                auto clampMax = [](double v) { return !(v >= 0.0) ? 0.0 : (v > MAX ? MAX : v); };
                auto encode = [&](double v) {
                    return double(fromLinear[static_cast<int32_t>(clampMax(v) * invMax * 32767.0)]);
                };
                alpha = clampMax(alpha);
                const float a = static_cast<float>(alpha);
                if (hasAlpha && straightLinear) {
                    // Divided by alpha in linear light, encoded straight; a premultiplied
                    // destination takes the encoded colour times alpha.
                    if (a > 0.0f)
                        for (int c = 0; c < C; ++c) colour[c] *= MAX / static_cast<double>(a);
                    for (int c = 0; c < C; ++c) colour[c] = encode(colour[c]);
                    if (!straight && a > 0.0f)
                        for (int c = 0; c < C; ++c) colour[c] *= static_cast<double>(a) * invMax;
                } else {
                    for (int c = 0; c < C; ++c) colour[c] = encode(colour[c]);
                    if (straight && a > 0.0f)
                        for (int c = 0; c < C; ++c) colour[c] *= MAX / static_cast<double>(a);
                }
                if constexpr (hasAlpha) out.v[P::alpha_index] = static_cast<T>(clampMax(alpha + 0.5));
                for (int c = 0; c < C; ++c) out.v[c] = static_cast<T>(clampMax(colour[c] + 0.5));
            } else {
                if constexpr (hasAlpha) alpha = !(alpha >= 0.0) ? 0.0 : (alpha > 1.0 ? 1.0 : alpha);
                for (int c = 0; c < C; ++c)
                    if (!(colour[c] >= 0.0)) colour[c] = 0.0;
                if constexpr (hasAlpha) {
                    if (alpha < 1e-05) {
                        alpha = 0.0;
                        for (int c = 0; c < C; ++c) colour[c] = 0.0;
                    }
                }
                const float a = static_cast<float>(alpha);
                if (hasAlpha && straightLinear) {
                    // Divided by alpha in linear light, encoded straight; a premultiplied
                    // destination takes the encoded colour times alpha.
                    if (a > 0.0f)
                        for (int c = 0; c < C; ++c) colour[c] *= 1.0 / static_cast<double>(a);
                    for (int c = 0; c < C; ++c) colour[c] = linear_to_rec709(colour[c]);
                    if (!straight)
                        for (int c = 0; c < C; ++c) colour[c] *= static_cast<double>(a);
                } else {
                    if (gamma)
                        for (int c = 0; c < C; ++c) colour[c] = linear_to_rec709(colour[c]);
                    if (straight && a > 0.0f)
                        for (int c = 0; c < C; ++c) colour[c] *= 1.0 / static_cast<double>(a);
                }
                if constexpr (hasAlpha) out.v[P::alpha_index] = a;
                for (int c = 0; c < C; ++c) out.v[c] = static_cast<T>(colour[c]);
            }
        }
        status = host->ReportProgress(done0 + uint32_t(y), total);
        if (status != host->StatusOk()) return status;
    }
    return status;
}

}  // namespace ov
