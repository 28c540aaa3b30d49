// Template bodies of ov::DepthOfFieldFilter: object, render pass, set-up, tiled blur frame and
// the views (included by the per-format instance files only).
#pragma once

#include <algorithm>
#include <cfloat>
#include <cmath>
#include <cstdint>
#include <cstdlib>

#include "core/logger.h"
#include "depthoffield/depth_of_field_filter.h"
#include "kernel/hsl_range_selection_filter.h"
#include "kernel/sparse_kernel.h"
#include "pixel/copy_image_filter.h"
#include "resample/zoom_filter.h"

namespace ov {

namespace dof_detail {

// Writes the kernel of a single full pixel (row 0: +1 at column 0, -1 at column 1, row end)
// into `block` (at least kOnePixelKernelBytes, 4-byte aligned).
inline constexpr uint32_t kOnePixelKernelBytes = 8 + 3 * sizeof(KernelDeltaRecord);
inline void placeOnePixelKernel(IrisKernel& k, void* block) {
    auto* bytes = static_cast<unsigned char*>(block);
    k.row_count = reinterpret_cast<int32_t*>(bytes);
    k.row_first = reinterpret_cast<int32_t*>(bytes + 4);
    k.records = reinterpret_cast<KernelDeltaRecord*>(bytes + 8);
    k.row_count[0] = 2;
    k.row_first[0] = 0;
    k.records[0] = KernelDeltaRecord{1.0f, 1.0f, 0};
    k.records[1] = KernelDeltaRecord{-1.0f, -1.0f, 1};
    k.records[2] = KernelDeltaRecord{0.0f, 0.0f, kKernelRowEnd};
    k.top_row = 0;
    k.bottom_row = 0;
    k.half_height = 0;
    k.sum = 1.0;
    k.inv_sum = 1.0;
}

// Whether a built kernel carries no weight (it would blur every pixel of its level away).
inline bool kernelIsEmpty(const IrisKernel& k) { return k.empty() || !(k.sum > 0.0); }

// A sample value of a level on the 0..MAX scale: integers truncated (range-checked), floats
// rounded to single precision.
template <class T>
inline T levelSample(double level, double max) {
    if constexpr (std::is_integral_v<T>) return store_sample<T>(level * max);
    else return static_cast<T>(level);
}

}  // namespace dof_detail

template <class Img, class Depth>
DepthOfFieldFilter<Img, Depth>::DepthOfFieldFilter(OstrovanneHost* host_) : OstrovanneFilter(host_) {
    params.radius_table = nullptr;
    tiles = TileSet2D{0, 0, 0, 0, 0, Rectangle{}};
}

template <class Img, class Depth>
DepthOfFieldFilter<Img, Depth>::~DepthOfFieldFilter() {
    for (int i = 255; i >= 0; --i) kernels[i].clear();
}

template <class Img, class Depth>
int32_t DepthOfFieldFilter<Img, Depth>::take_tile() {
    pel::platform::CriticalSectionGuard guard(tile_lock);
    return next_tile++;
}

template <class Img, class Depth>
int32_t DepthOfFieldFilter<Img, Depth>::take_slot() {
    pel::platform::CriticalSectionGuard guard(tile_lock);
    return next_slot++;
}

// ---- render pass ---------------------------------------------------------------------------

template <class Img, class Depth>
uint32_t DepthOfFieldFilter<Img, Depth>::render(uint32_t, uint32_t) {
    LogTrace("render()\n");
    LogScope scope;
    LogTrace("render frame:", host->GetFrame(), " size:", source.width, "x", source.height, "\n");
    uint32_t status = init_all();
    next_tile = 0;
    if (status == host->StatusOk()) {
        switch (params.view) {
            case 1:
            case 6:
                if (params.blur_radius == 0.0 && params.radius_table == nullptr) status = plain_copy();
                else status = render_tiled();
                break;
            case 2: status = render_iris_preview(); break;
            case 3:
            case 7: status = render_depth_view(); break;
            case 4:
            case 5: status = render_selection_view(); break;
            default: break;
        }
    }
    free_all();
    LogTrace("return (", status, ")\n");
    return status;
}

template <class Img, class Depth>
uint32_t DepthOfFieldFilter<Img, Depth>::plain_copy() {
    return CopyImageFilter<Img, Img>(host, source, destination, 0, 0, PremultipliedKeep).render(0, 1);
}

// ---- shared resources ----------------------------------------------------------------------

template <class Img, class Depth>
uint32_t DepthOfFieldFilter<Img, Depth>::init_all() {
    LogTrace("init_all()\n");
    LogScope scope;
    uint32_t status = host->StatusOk();
    constexpr uint32_t kTableBytes = kDepthTableSize * sizeof(float);
    decode_lut = static_cast<float*>(host->AllocateMemory(kTableBytes));
    encode_lut = static_cast<float*>(host->AllocateMemory(kTableBytes));
    curve_lut = static_cast<float*>(host->AllocateMemory(kTableBytes));
    kernel_store = nullptr;
    if (!decode_lut || !encode_lut || !curve_lut) status = host->StatusOutOfMemory();
    if (status == host->StatusOk())
        fillDepthTables(decode_lut, encode_lut, curve_lut, params.depth_curve, Pixel::max_value);
    straight_linear = (params.view == 1 && params.gamma_correction != 0 && hasTransparency(source)) ? 1 : 0;
    if (status == host->StatusOk()) {
        // Level radii that are not finite cannot be rendered, nor, in the blur views, radii too
        // wide for the tile margins' 16-bit positions; neither can a store beyond signed
        // 32-bit offsets.
        const double scale = destination.scale;
        const double limit = params.view == 1 || params.view == 6 ? kMaxLevelRadius : DBL_MAX;
        const KernelStoreSize size = depthLevelRadiiUsable(params, scale, limit)
                                         ? kernelStoreSize(params, scale)
                                         : KernelStoreSize{UINT64_MAX, UINT64_MAX};
        // A margin no grid can hold is refused here, before the store is taken and built.
        const bool tiled = (params.view == 1 || params.view == 6) &&
                           !(params.blur_radius == 0.0 && params.radius_table == nullptr);
        if (size.rounded > kMaxKernelStoreBytes) status = host->StatusOutOfMemory();
        else if (tiled && !tiledWorkAreaFits(params, scale, destination.width, destination.height, P, kWideGather))
            status = host->StatusOutOfMemory();
        else {
            kernel_store = host->AllocateMemory(uint32_t(size.rounded));
            if (!kernel_store) status = host->StatusOutOfMemory();
        }
    }
    if (status == host->StatusOk() && (params.view == 1 || params.view == 6))
        status = iris_image.has_data() ? build_kernels_from_image() : build_kernels_from_settings();
    if (status != host->StatusOk()) free_all();
    LogTrace("return (", status, ")\n");
    return status;
}

template <class Img, class Depth>
void DepthOfFieldFilter<Img, Depth>::free_all() {
    host->FreeMemory(decode_lut);
    host->FreeMemory(encode_lut);
    host->FreeMemory(curve_lut);
    host->FreeMemory(kernel_store);
    decode_lut = nullptr;
    encode_lut = nullptr;
    curve_lut = nullptr;
    kernel_store = nullptr;
    if (iris_image.has_data())
        for (IrisKernel& k : kernels) releaseIrisKernel(&k, host);
}

template <class Img, class Depth>
uint32_t DepthOfFieldFilter<Img, Depth>::build_kernels_from_settings() {
    uint32_t status = host->StatusOk();
    const double scale = destination.scale;
    const double bias = params.iris_border_brightness;
    uint64_t offset = 0;  // below kMaxKernelStoreBytes: the store was sized with the same slices
    for (int32_t d = 0; d < 256; ++d) {
        const DepthLevelRadii g = depthLevelRadii(params, scale, d);
        void* slice = static_cast<unsigned char*>(kernel_store) + offset;
        status = buildIrisKernel(&kernels[d], slice, g.rx, params.iris_roundness, params.iris_facets,
                                 params.iris_angle, params.iris_border, bias, g.aspect(), nullptr, 0, host);
        if (status != host->StatusOk()) break;
        // Every slice holds at least the smallest kernel's tables, far more than one pixel.
        if (dof_detail::kernelIsEmpty(kernels[d])) dof_detail::placeOnePixelKernel(kernels[d], slice);
        offset += kernelSliceBytes(g, bias);
    }
    return status;
}

template <class Img, class Depth>
uint32_t DepthOfFieldFilter<Img, Depth>::build_kernels_from_image() {
    using GrayPixel = PackedGrayOf<Pixel>;
    using Gray = WorkView<GrayPixel>;
    constexpr uint64_t B = sizeof(typename GrayPixel::sample_type);
    const uint32_t w = iris_image.width, h = iris_image.height;
    const double scale = destination.scale;

    // A level without an image or without mask pixels gets a one-pixel kernel of its own.
    auto onePixel = [&](IrisKernel& k) -> uint32_t {
        releaseIrisKernel(&k, host);
        k.buffer = host->AllocateMemory(dof_detail::kOnePixelKernelBytes);
        if (!k.buffer) return host->StatusOutOfMemory();
        dof_detail::placeOnePixelKernel(k, k.buffer);
        return host->StatusOk();
    };

    uint32_t status = host->StatusOk();
    const uint64_t grayBytes = uint64_t(w) * h * B;
    if (grayBytes > UINT32_MAX || uint64_t(w) * B > INT32_MAX) return host->StatusOutOfMemory();
    const bool haveImage = grayBytes > 0;
    void* grayBlock = nullptr;
    ZoomFilter<Gray, Gray> zoom(host);
    if (haveImage) {
        grayBlock = host->AllocateMemory(uint32_t(grayBytes));
        if (!grayBlock) return host->StatusOutOfMemory();
        const Gray gray(grayBlock, w, h, int32_t(w * B), 0, 0, false, 1.0, 1.0, 1.0, true, int32_t(B));
        // Only the copy's row worker runs (as pass 0 of a count of 0), on a gray view that
        // carries the iris image's premultiplied flag, so no conversion step is taken.
        Gray grayOfCopy = gray;
        grayOfCopy.premultiplied = iris_image.premultiplied;
        CopyImageFilter<Img, Gray> copy(host, iris_image, grayOfCopy, 0, 0, PremultipliedKeep);
        copy.pass = 0;
        copy.passCount = 0;
        status = copy.run_slices(h);
        zoom.source = gray;
        zoom.edgeModeX = 4;
        zoom.edgeModeY = 4;
        if (status == host->StatusOk()) status = zoom.prepare_sum_table(0, 0);
    }
    for (int32_t d = 0; d < 256 && status == host->StatusOk(); ++d) {
        const DepthLevelRadii g = depthLevelRadii(params, scale, d);
        // Radii were checked to lie within kMaxLevelRadius, so the sizes fit 32 bits.
        const int64_t kw = 2 * int64_t(std::ceil(g.rx));
        const int64_t kh = 2 * int64_t(std::ceil(g.ry));
        if (!haveImage || kw <= 0 || kh <= 0) {
            status = onePixel(kernels[d]);
            continue;
        }
        const uint64_t maskBytes = uint64_t(kw) * uint64_t(kh) * B;
        if (maskBytes > UINT32_MAX) {
            status = host->StatusOutOfMemory();
            break;
        }
        void* maskBlock = host->AllocateMemory(uint32_t(maskBytes));
        if (!maskBlock) {
            status = host->StatusOutOfMemory();
            break;
        }
        const Gray mask(maskBlock, uint32_t(kw), uint32_t(kh), int32_t(kw * int64_t(B)), 0, 0, false, 1.0, 1.0,
                        1.0, true, int32_t(B));
        zoom.destination = mask;
        const double s = std::max(double(h) / double(kh), double(w) / double(kw));
        zoom.stepX = s;
        zoom.stepY = s;
        const int32_t n = host->GetThreadCount(int32_t(kh));
        status = zoom.run_slices(uint32_t(std::max(n, 1)));
        if (status == host->StatusOk()) status = buildSparseKernelFromMask(&kernels[d], mask, host);
        if (status == host->StatusOk() && dof_detail::kernelIsEmpty(kernels[d])) status = onePixel(kernels[d]);
        host->FreeMemory(maskBlock);
    }
    host->FreeMemory(zoom.table);
    zoom.table = nullptr;
    host->FreeMemory(grayBlock);
    return status;
}

// ---- tiled blur ----------------------------------------------------------------------------

template <class Img, class Depth>
uint32_t DepthOfFieldFilter<Img, Depth>::render_tiled() {
    const int32_t cpus = host->GetThreadCount(999999);
    unsigned rx = 0, ry = 0;
    max_blur_extent(params, destination.scale, rx, ry);
    const Rectangle overflow{-int32_t(rx), int32_t(rx), -int32_t(ry), int32_t(ry)};
    tiles.init(int32_t(destination.width), int32_t(destination.height), overflow,
               tileGridSlots(destination.width, destination.height, rx, ry));
    // Buffers only for the workers that can have a tile: min(cpus, tiles) slots. Every refusal
    // refines the grid once and asks again for the workers the refined grid can keep busy, so
    // a tight budget is met with smaller tiles on all threads (cheaper than fewer threads on
    // large tiles unless the margin is a large share of the tile).
    const auto slotsOf = [&] { return std::min(cpus, tiles.rows * tiles.cols); };
    int32_t slots = slotsOf();
    uint32_t status = init_memory(slots);
    while (status != host->StatusOk()) {
        if (!tiles.increase()) {
            status = host->StatusOutOfMemory();
            break;
        }
        slots = slotsOf();
        status = init_memory(slots);
    }
    if (status != host->StatusOk()) return status;
    const int32_t thread_count = slots;
    LogTrace("thread count  = ", thread_count, "\n");
    const bool boost = highlights();
    LogTrace("highlights=", boost ? 1 : 0, "\n");
    const ParallelJob job =
        tile_job ? tile_job
        : boost  ? ParallelJob([this](uint32_t i, uint32_t n, uint32_t id) { return render_callback<true>(i, n, id); })
                 : ParallelJob([this](uint32_t i, uint32_t n, uint32_t id) { return render_callback<false>(i, n, id); });
    rows_reported.store(0, std::memory_order_relaxed);
    status = host->ParallelRun(uint32_t(thread_count), job);
    free_memory(slots);
    return status;
}

template <class Img, class Depth>
uint32_t DepthOfFieldFilter<Img, Depth>::init_memory(int32_t cpus) {
    LogTrace("init_memory (cpus: ", cpus, ")\n");
    LogScope scope;
    uint32_t status = host->StatusOk();
    const Rectangle t = tiles.largest_tile();
    const int64_t padX = std::max(std::llabs(tiles.overflow.left), std::llabs(tiles.overflow.right));
    const int64_t padY = std::max(std::llabs(tiles.overflow.top), std::llabs(tiles.overflow.bottom));
    const int64_t pw = int64_t(t.right) - t.left + 2 * padX;
    const int64_t ph = int64_t(t.bottom) - t.top + 2 * padY;
    const uint64_t core = uint64_t(int64_t(t.right) - t.left) * uint64_t(int64_t(t.bottom) - t.top);
    const ChunkBufferBytes bytes = chunkBufferBytes(uint64_t(pw) * uint64_t(ph), std::max<uint64_t>(core, 1), P, kWideGather);
    // A padded tile the renderer cannot address, or a buffer beyond the host's 32-bit sizes,
    // is refused like a failed allocation, so the grid is refined.
    bool fits = cpus >= 1 && pw <= kMaxPaddedTileSide && ph <= kMaxPaddedTileSide;
    for (uint64_t b : bytes.bytes) fits = fits && b <= UINT32_MAX;
    if (!fits) status = host->StatusOutOfMemory();
    if (status == host->StatusOk()) {
        chunk_buffers = static_cast<ChunkBuffers*>(host->AllocateMemory(uint32_t(cpus) * sizeof(ChunkBuffers)));
        if (!chunk_buffers) status = host->StatusOutOfMemory();
    }
    if (status == host->StatusOk()) {
        for (int32_t i = 0; i < cpus; ++i) chunk_buffers[i] = ChunkBuffers{};
        for (int32_t i = 0; i < cpus; ++i) {
            ChunkBuffers& c = chunk_buffers[i];
            c.composite = host->AllocateMemory(uint32_t(bytes.bytes[0]));
            c.highlight_keep = static_cast<float*>(host->AllocateMemory(uint32_t(bytes.bytes[1])));
            c.coverage_excess = static_cast<float*>(host->AllocateMemory(uint32_t(bytes.bytes[2])));
            c.min_index = static_cast<uint8_t*>(host->AllocateMemory(uint32_t(bytes.bytes[3])));
            c.records = host->AllocateMemory(uint32_t(bytes.bytes[4]));
            c.list_heads = static_cast<uint32_t*>(host->AllocateMemory(uint32_t(bytes.bytes[5])));
            c.record_links = static_cast<uint32_t*>(host->AllocateMemory(uint32_t(bytes.bytes[6])));
            if (!c.composite || !c.highlight_keep || !c.coverage_excess || !c.min_index || !c.records ||
                !c.list_heads || !c.record_links) {
                status = host->StatusOutOfMemory();
                free_memory(cpus);
                break;
            }
        }
    }
    if (status == host->StatusOk()) {
        buffer_slots = cpus;
        next_slot = 0;
    }
    LogTrace("return (", status, ")\n");
    return status;
}

template <class Img, class Depth>
void DepthOfFieldFilter<Img, Depth>::free_memory(int32_t cpus) {
    LogTrace("free_memory (cpus: ", cpus, ")\n");
    LogScope scope;
    if (chunk_buffers) {
        for (int32_t i = 0; i < cpus; ++i) {
            ChunkBuffers& c = chunk_buffers[i];
            host->FreeMemory(c.composite);
            host->FreeMemory(c.highlight_keep);
            host->FreeMemory(c.coverage_excess);
            host->FreeMemory(c.min_index);
            host->FreeMemory(c.records);
            host->FreeMemory(c.list_heads);
            host->FreeMemory(c.record_links);
        }
        host->FreeMemory(chunk_buffers);
    }
    chunk_buffers = nullptr;
    buffer_slots = 0;
}

// ---- views ---------------------------------------------------------------------------------

template <class Img, class Depth>
uint32_t DepthOfFieldFilter<Img, Depth>::render_iris_preview() {
    using T = typename Pixel::sample_type;
    constexpr double MAX = Pixel::max_value;
    uint32_t status = host->StatusOk();
    const int32_t W = int32_t(destination.width), H = int32_t(destination.height);
    const double sx = params.scale_x, sy = params.scale_y;
    const double Wf = double(W) * sx, Hf = double(H) * sy;
    double d = 50.0 * (Wf * 0.0015625 + Hf * 0.0020833333333333333);
    if (2.0 * d > Wf) d = Wf * 0.5 - 1.0;
    if (2.0 * d > Hf) d = Hf * 0.5 - 1.0;
    const double rx = d / (source.scale * sx) * (1.0 + params.iris_aspect);
    const double ry = d / sy * (1.0 - params.iris_aspect);
    const double aspect = rx == 0.0 ? ry : ry / rx;
    IrisKernel kernel;
    void* buffer = nullptr;
    const bool fromImage = iris_image.has_data();
    if (!fromImage) {
        const uint32_t size = kernelBufferSize(rx, params.iris_border_brightness, aspect);
        buffer = size != 0 ? host->AllocateMemory(size) : nullptr;
        if (!buffer) status = host->StatusOutOfMemory();
        else
            status = buildIrisKernel(&kernel, buffer, rx, params.iris_roundness, params.iris_facets, params.iris_angle,
                                     params.iris_border, params.iris_border_brightness, aspect, nullptr, 0, host);
    } else {
        using GrayPixel = PackedGrayOf<Pixel>;
        using Gray = WorkView<GrayPixel>;
        constexpr uint64_t B = sizeof(typename GrayPixel::sample_type);
        const double cx = std::ceil(rx), cy = std::ceil(ry);
        // Sizes in 64 bits; a box that cannot be formed or allocated is out of memory.
        const bool sane = cx >= 0.0 && cy >= 0.0 && cx < 1e6 && cy < 1e6;
        const int64_t w = sane ? 2 * int64_t(cx) + 1 : 0, h = sane ? 2 * int64_t(cy) + 1 : 0;
        const uint64_t bytes = uint64_t(w) * uint64_t(h) * B;
        if (sane && bytes <= UINT32_MAX) buffer = host->AllocateMemory(uint32_t(bytes));
        if (!buffer) {
            status = host->StatusOutOfMemory();
        } else {
            const Gray work(buffer, uint32_t(w), uint32_t(h), int32_t(w * int64_t(B)), 0, 0, false, 1.0, 1.0, 1.0,
                            true, int32_t(B));
            ZoomFilter<Img, Gray> zoom(host);
            zoom.source = iris_image;
            zoom.destination = work;
            const double s = std::max(double(iris_image.height) / double(h), double(iris_image.width) / double(w));
            zoom.stepX = s;
            zoom.stepY = s;
            zoom.edgeModeX = 4;
            zoom.edgeModeY = 4;
            status = zoom.render(0, 0);
            if (status == host->StatusOk()) status = buildSparseKernelFromMask(&kernel, work, host);
        }
    }
    if (status == host->StatusOk()) {
        for (int32_t y = 0; y < H; ++y) {
            unsigned char* row = destination.row_bytes(y);
            for (int32_t x = 0; x < W; ++x) {
                Pixel* p = destination.in_row(row, x);
                for (int c = 0; c < Pixel::colour_count; ++c) p->v[c] = T(0);
                if constexpr (Pixel::has_alpha) p->v[Pixel::alpha_index] = T(Pixel::max_int);
            }
        }
        auto put = [&](int32_t x, int32_t y, double level) {
            Pixel* p = destination.pixel(x, y);
            const T v = dof_detail::levelSample<T>(level, MAX);
            for (int c = 0; c < Pixel::colour_count; ++c) p->v[c] = v;
        };
        for (int32_t r = kernel.top_row; r <= kernel.bottom_row; ++r) {
            const int32_t y = r + H / 2;
            if (y < 0 || y >= H) continue;
            const int32_t n = kernel.row_count[r + kernel.half_height];
            const int32_t f = kernel.row_first[r + kernel.half_height];
            double level = 0.0;
            int32_t x = 0;
            for (int32_t i = 0; i < n; ++i) {
                const KernelDeltaRecord& k = kernel.records[f + i];
                const int64_t end = int64_t(k.x) + W / 2;
                for (; x < end && x < W; ++x) put(x, y, level);
                level += double(k.weight_delta);
            }
            if (x < W) put(x, y, level);
        }
    }
    host->FreeMemory(buffer);
    if (fromImage) releaseIrisKernel(&kernel, host);
    kernel.clear();
    return status;
}

template <class Img, class Depth>
uint32_t DepthOfFieldFilter<Img, Depth>::render_selection_view() {
    uint32_t status =
        HslRangeSelectionFilter<Img, Img, Img>(host, source, destination, selection, params.highlight_selection)
            .render(0, 1);
    if (status != host->StatusOk()) return status;
    using T = typename Pixel::sample_type;
    for (uint32_t y = 0; y < destination.height; ++y) {
        if constexpr (Pixel::has_alpha) {
            unsigned char* row = destination.row_bytes(y);
            for (uint32_t x = 0; x < destination.width; ++x)
                destination.in_row(row, x)->v[Pixel::alpha_index] = T(Pixel::max_int);
        }
        status = host->ReportProgress(100, 100);
        if (status != host->StatusOk()) return status;
    }
    return status;
}

template <class Img, class Depth>
uint32_t DepthOfFieldFilter<Img, Depth>::render_depth_view() {
    using T = typename Pixel::sample_type;
    constexpr double MAX = Pixel::max_value;
    constexpr int C = Pixel::colour_count;
    uint32_t status = host->StatusOk();
    const uint32_t H = destination.height, W = destination.width;
    const bool sharpZone = params.view == 7;
    const double scale = destination.scale;
    for (uint32_t y = 0; y < H; ++y) {
        // The source is read only for the sharp zone (and may be absent otherwise).
        unsigned char* srcRow = sharpZone ? source.row_bytes(y) : nullptr;
        unsigned char* dstRow = destination.row_bytes(y);
        for (uint32_t x = 0; x < W; ++x) {
            const int64_t mx = int64_t(x) - depth_map.originX + source.originX;
            const int64_t my = int64_t(y) - depth_map.originY + source.originY;
            const double v = sampleDepthCurve(depth_map, uint32_t(mx), uint32_t(my), curve_lut, params.depth_mode,
                                              params.depth_invert != 0, params.depth_low, params.depth_high);
            Pixel* out = destination.in_row(dstRow, x);
            if (!sharpZone) {
                const T g = Pixel::is_integer ? T(v * MAX) : T(v);
                for (int c = 0; c < C; ++c) out->v[c] = g;
                if constexpr (Pixel::has_alpha) out->v[Pixel::alpha_index] = T(Pixel::max_int);
                continue;
            }
            const int32_t d = int32_t(v * 255.0);
            const DepthLevelRadii g = depthLevelRadii(params, scale, d);
            const double X = (scale * params.scale_x) * g.rx;
            const double Y = g.ry * params.scale_y;
            const bool sharp = X <= 1.5 && Y <= 1.5;
            const Pixel in = *source.in_row(srcRow, x);
            Pixel p = in;
            for (int c = 0; c < C; ++c) {
                if constexpr (Pixel::is_integer) {
                    const int32_t s = int32_t(in.v[c]);
                    p.v[c] = sharp ? T(double(s - Pixel::max_int) * 0.5 + MAX) : T(double(s) * 0.5);
                } else {
                    p.v[c] = sharp ? (in.v[c] - 1.0f) * 0.5f + 1.0f : in.v[c] * 0.5f;
                }
            }
            if (sharp)
                for (int i = 0; i < Pixel::base_count; ++i) {
                    if constexpr (Pixel::is_integer) p.v[i] = std::min<T>(p.v[i], T(Pixel::max_int));
                    else p.v[i] = std::clamp(p.v[i], 0.0f, 1.0f);
                }
            *out = p;
        }
        status = host->ReportProgress(y, H);
        if (status != host->StatusOk()) return status;
    }
    return status;
}

}  // namespace ov
