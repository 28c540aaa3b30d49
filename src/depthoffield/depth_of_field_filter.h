// ov::DepthOfFieldFilter: the object of one depth-of-field render, the blur that follows a
// depth map (one 8-bit gray byte per pixel), and its set-up helpers.
//
// Skeleton of render(pass, passCount) (both ignored):
//   log "render()" and the frame line; init_all (three 32768-entry float tables, the kernel
//   store, and for views 1 and 6 the 256 per-depth kernels); next_tile = 0; then by
//   params.view: 1 and 6 the tiled blur (a plain copy of the source when blur_radius is 0.0
//   and there is no radius_table), 2 the iris, 3 and 7 the depth view, 4 and 5 the highlight
//   selection, anything else nothing; free_all on every path; log "return (" status ")".
//
// Tiled blur: cpus = GetThreadCount(999999); the margin is max_blur_extent; TileSet2D::init
// over the destination for tileGridSlots of the image (not the processor count: tile seams
// round differently, and the result must not depend on the machine); init_memory(slots), with
// slots = min(cpus, tiles), is retried after each TileSet2D::increase, with the slots of the
// refined grid, until the per-worker ChunkBuffers fit (StatusOutOfMemory when the grid cannot
// be split further); then
// ParallelRun(slots, render_callback<highlights>) and free_memory(slots). Every tile is taken
// exactly once through take_tile() (next_tile under tile_lock); every worker takes a buffer
// slot through take_slot() when it starts (any pool thread may run any worker, so the slot,
// not the pool's threadID, names its buffers).
//
// Level geometry (one function, depthLevelRadii, serves max_blur_extent, the kernels, the
// iris-image kernels and the sharp-zone view): r = |d - focal_point| * blur_radius * (1/255)
// + 1 (or radius_table[d] + 1); rx = r / scale_x * (1 + iris_aspect) / destination.scale,
// ry = r / scale_y * (1 - iris_aspect) (no aspect with a radius table).
//
// Limits (sizes are formed in 64 bits and refused rather than wrapped):
// - every level radius must be finite, and in the blur views (1 and 6) at most kMaxLevelRadius,
//   else init_all answers StatusOutOfMemory (a padded tile side must stay within the
//   renderer's 16-bit positions);
// - the kernel store (slices rounded up to 16 bytes) must fit in 2^31 - 1 bytes;
// - in the blur views the margin must leave a 4 x 4 tile (the image's side where smaller),
//   padded, within 65535 and its buffers within 32-bit sizes (tiledWorkAreaFits), checked
//   before the store is taken: no grid can hold a margin that fails this; one that passes
//   may still fail on the finest grid, whose last column (row) can be 7 pixels wide;
// - init_memory(slots) refuses a padded tile side beyond 65535, a per-worker buffer that
//   does not fit 32 bits, and an allocation the host refuses alike; after each refusal the
//   grid is refined once (TileSet2D::increase) and init_memory asked again for the
//   min(cpus, tiles) workers of the refined grid, until the buffers fit or the grid is the
//   finest (StatusOutOfMemory).
// A level whose kernel comes out empty (sum 0) gets a one-pixel kernel instead, so a render
// never returns black as success.
//
// Ownership: the filter owns nothing between renders. Tables, the kernel store, the kernels'
// own blocks (iris-image kernels) and the chunk buffers come from the host's AllocateMemory
// and go back through FreeMemory before render returns, on every path; the release routines
// accept null pointers and may run more than once. The views are the caller's.
//
// Threads: everything but the ParallelRun jobs runs on the calling thread; the jobs only read
// the filter (tables, kernels, grid, params, views), take slots and tiles under tile_lock, use
// the ChunkBuffers record of their slot and write the destination pixels of their own tiles.
#pragma once

#include <atomic>
#include <cstdint>
#include <type_traits>

#include "core/ostrovanne_filter.h"
#include "core/render_context.h"
#include "core/tile_set.h"
#include "kernel/iris_kernel.h"
#include "depthoffield/depth_of_field_params.h"
#include "pixel/formats.h"
#include "platform/platform.h"

namespace ov {

// The 8-bit gray depth map of every instance.
using ImgDepth8 = ImgMask8;

// Entries of each lookup table; entry i stands for x = i / 32767.
inline constexpr int32_t kDepthTableSize = 32768;
// The largest level radius (x or y, in rendered pixels) the engine accepts: a padded tile
// side 2 * ceil(r) + 1 must stay addressable by 16-bit positions.
inline constexpr double kMaxLevelRadius = 32767.0;
// The largest padded tile side the tile renderer can address.
inline constexpr int64_t kMaxPaddedTileSide = 65535;
// The kernel store's limit: signed 32-bit offsets.
inline constexpr uint64_t kMaxKernelStoreBytes = 0x7fffffffu;
// Every kernel slice starts on this boundary.
inline constexpr uint64_t kKernelSliceAlign = 16;

// The radii of depth level d (0..255).
struct DepthLevelRadii {
    double r;   // level radius in full-image pixels
    double rx;  // x radius in rendered pixels (divided by the view's scale)
    double ry;  // y radius in rendered pixels
    // ry / rx, or ry itself when rx is 0 or not a number.
    double aspect() const { return rx == 0.0 || rx != rx ? ry : ry / rx; }
};
DepthLevelRadii depthLevelRadii(const DepthOfFieldParams& params, double scale, int32_t d);

// The number of grid slots TileSet2D::init lays the tiles out for: about one tile per square
// of side max(128, 4 x the larger margin), 1 to 16. It depends on the image and the margin
// alone, so that every machine renders the same tiles (the tiles' seams are not exactly
// invisible) and one thread gives the bits of eight. Up to 16 tiles keep eight threads busy
// on a depth ramp (where the blurred part of the image does most of the work) and the
// per-thread buffers small; more tiles would spend more on their margins than they gain.
// The count is the larger of ceil(area / side^2) and floor(long side / side). The second
// term only wins for a strip (N x 1, 1 x N, any image whose short side is below one square
// side): its area is small but its padded frame is long, (N + 2 margin) x (short + 2 margin)
// positions, so counting the area alone would leave it one tile on one thread. TileSet2D
// then cuts the strip along its long side, and every tile's core stays at least one square
// side (four margins) long, so the tiles' padded frames together are at most 1.5 times the
// strip's own. An image whose sides both reach the square's side keeps the count of its
// area, and with it its tiles and its bits.
int32_t tileGridSlots(int64_t width, int64_t height, int64_t padX, int64_t padY);

// Whether every level radius is finite and within `limit` (x and y): kMaxLevelRadius for the
// blur views (1 and 6), whose padded tiles carry 16-bit positions; the other views build no
// kernel and pass DBL_MAX, so only the kernel store's size bounds them.
bool depthLevelRadiiUsable(const DepthOfFieldParams& params, double scale, double limit = kMaxLevelRadius);

// The largest x and y level radius over the 256 levels, rounded up (the tile margin).
// Maxima start at 0.0. Radii must be usable (callers check depthLevelRadiiUsable first).
void max_blur_extent(const DepthOfFieldParams& params, double scale, unsigned& rx, unsigned& ry);

// One slice of the kernel store for level geometry g: kernelBufferSize rounded up to 16 bytes
// (UINT64_MAX when the kernel cannot be sized).
uint64_t kernelSliceBytes(const DepthLevelRadii& g, double border_bias);
// The store: `unrounded` sums kernelBufferSize over the 256 levels, `rounded` the slices
// (what is allocated). Both in 64 bits, UINT64_MAX when a level cannot be sized.
struct KernelStoreSize {
    uint64_t unrounded;
    uint64_t rounded;
};
KernelStoreSize kernelStoreSize(const DepthOfFieldParams& params, double scale);

// Fills the three tables (kDepthTableSize floats each): decode (BT.709 to linear light) and
// encode (from linear light) times maxValue, and the depth curve pow(x, depth_curve).
void fillDepthTables(float* decode, float* encode, float* curve, double depth_curve,
                     double maxValue);

// The depth-curve value (0..1) of depth-map pixel (x, y): the byte (mode 1 or 3; 255 for
// mode 2, 0 otherwise) / 255, through the window [low, high] (swapped bounds flip invert),
// inverted when asked, clamped, then the entry at or above it, curve[ceil(t * 32767 - 1e-6)]
// (the tolerance keeps a whole t * 32767 that carries a rounding error above it on its own
// entry; a byte's position lies at least 1/255 above a whole number unless it is whole), so
// that on the straight curve byte d is level d. Outside the map or without data the byte
// counts as 0.
double sampleDepthCurve(const ImgDepth8& depth, uint32_t x, uint32_t y, const float* curve,
                        int32_t mode, bool invert, double low, double high);

// The bytes of a tile renderer's source record for work pixels of P bytes: its gathered
// hole colour and weight (in double precision where `wideGather`: the float formats), its
// colour in floats, and 13 bytes besides, rounded up to the alignment of the gathered sums.
inline constexpr uint64_t sourceRecordBytes(uint64_t p, bool wideGather) {
    return wideGather ? (3 * p + 21 + 7) / 8 * 8 : 20 + 2 * p;
}

// The work buffers of one render worker (one buffer slot): the first three for the C core
// pixels of the largest tile (only the core is composed and written out), the others for its
// N padded pixels.
struct ChunkBuffers {
    void* composite;          // C float work pixels (P bytes each)
    float* highlight_keep;    // C floats
    float* coverage_excess;   // C floats
    uint8_t* min_index;       // N bytes
    void* records;            // N records of sourceRecordBytes(P, wide gather) bytes
    uint32_t* list_heads;     // N list links (record indices)
    uint32_t* record_links;   // N links: each source record's next record in its list
};

// The byte counts of one ChunkBuffers record for N padded pixels, C core pixels and work
// pixels of P bytes, in the member order.
struct ChunkBufferBytes {
    uint64_t bytes[7];
};
ChunkBufferBytes chunkBufferBytes(uint64_t n, uint64_t c, uint64_t p, bool wideGather);

// Whether the tiled blur of a width x height image with work pixels of P bytes can hold its
// margin at all: a tile of 4 x 4 pixels (or the image's side where smaller), the smallest any
// grid has, padded, within kMaxPaddedTileSide, and each of its buffers within 32-bit sizes.
// When not, no grid can render it, and the set-up refuses before it builds anything. A pass
// does not promise that the finest grid fits: its last column (row) takes the rest of the
// division and can be up to 7 pixels wide, so the grid refinement may still refuse. Radii
// must be usable.
bool tiledWorkAreaFits(const DepthOfFieldParams& params, double scale, uint32_t width, uint32_t height, uint64_t p,
                       bool wideGather);

// Img: one of the 18 host views; Depth: the 8-bit gray depth map.
template <class Img, class Depth = ImgDepth8>
class DepthOfFieldFilter : public OstrovanneFilter {
public:
    using Pixel = typename Img::pixel_type;
    // The float work pixel of the tile renderer: colours, then alpha where the format has it.
    using WorkPixel = WorkPixelOf<Pixel, 0, 1>;
    static constexpr uint32_t P = sizeof(WorkPixel);
    static_assert(P == 4 * Pixel::base_count, "a work pixel is one float per colour and alpha");
    // Float samples gather their hole colour in double precision (see the tile renderer).
    static constexpr bool kWideGather = std::is_floating_point_v<typename Pixel::sample_type>;

    explicit DepthOfFieldFilter(OstrovanneHost* host_);
    ~DepthOfFieldFilter() override;
    DepthOfFieldFilter(const DepthOfFieldFilter&) = delete;
    DepthOfFieldFilter& operator=(const DepthOfFieldFilter&) = delete;

    uint32_t render(uint32_t pass_, uint32_t passCount_) override;

    // Set-up and release (the calling thread only).
    uint32_t init_all();
    void free_all();
    uint32_t init_memory(int32_t cpus);
    void free_memory(int32_t cpus);

    // The views.
    uint32_t render_iris_preview();
    uint32_t render_selection_view();
    uint32_t render_depth_view();

    // The tiled blur (views 1 and 6 with a radius): grid, buffers, the parallel run of `job`
    // (the bound render_callback unless tile_job is set), release.
    uint32_t render_tiled();

    // The tile renderer (depth_of_field_tiles_impl.h): the parallel-run job and one tile.
    // Highlights: the variant with highlight boosting.
    template <bool Highlights>
    uint32_t render_callback(uint32_t thread_index, uint32_t thread_iterations, uint32_t threadID);
    template <bool Highlights>
    // render_chunk renders `tile` on chunk_buffers[slot].
    uint32_t render_chunk(int32_t tile, uint32_t thread_iterations, uint32_t slot);

    // Takes the next tile number under tile_lock (returns next_tile, stores next_tile + 1).
    int32_t take_tile();
    // Takes the next buffer slot under tile_lock (returns next_slot, stores next_slot + 1): a
    // worker takes one when it starts and renders all its tiles on chunk_buffers[slot]; a
    // worker whose slot is buffer_slots or more has no buffers and takes no tile.
    int32_t take_slot();
    // Whether the tiled blur boosts highlights (enable set and highlight_preservative > 0).
    bool highlights() const {
        return params.highlight_selection.enabled != 0 && params.highlight_preservative > 0.0;
    }

    Img source;
    Img destination;
    Img selection;
    Depth depth_map;
    Img iris_image;
    DepthOfFieldParams params{};
    float* decode_lut = nullptr;
    float* encode_lut = nullptr;
    // Gamma correction in "normal blur" on a source with transparency: colour goes to linear
    // light straight and is premultiplied there, and at output it is divided by alpha before
    // it is encoded (the transfer curve is not linear, so the order matters). An opaque
    // source, or a blur without the decode, premultiplies and divides around the unchanged
    // values. Set by init_all.
    uint8_t straight_linear = 0;
    float* curve_lut = nullptr;
    void* kernel_store = nullptr;
    ChunkBuffers* chunk_buffers = nullptr;
    IrisKernel kernels[256];
    TileSet2D tiles;
    pel::platform::CriticalSection tile_lock;
    int32_t next_tile;
    int32_t next_slot = 0;
    int32_t buffer_slots = 0;  // ChunkBuffers records held: min(pool threads, tiles)
    std::atomic<uint64_t> rows_reported{0};  // padded rows done by all tiles (progress only)

    // When set, the tiled blur runs this job instead of render_callback (a test seam for
    // watching the grid and the thread ids).
    ParallelJob tile_job;

private:
    uint32_t build_kernels_from_settings();
    uint32_t build_kernels_from_image();
    uint32_t plain_copy();
};

#define PEL_DOF_FILTER(F, H) DepthOfFieldFilter<ImgHost##F##_##H, ImgDepth8>
#define PEL_EXTERN_DOF_FILTER(F, H, WS) extern template class PEL_DOF_FILTER(F, H);
PEL_FOR_EACH_HOST_FORMAT(PEL_EXTERN_DOF_FILTER)
#undef PEL_EXTERN_DOF_FILTER

}  // namespace ov
