// The tile renderer of ov::DepthOfFieldFilter: render_callback (the parallel-run job of the
// tiled blur) and render_chunk (one tile). Included by the per-format instance files only.
//
// render_callback takes a buffer slot (next_slot, under tile_lock) when it starts, then tile
// numbers from next_tile and renders each with render_chunk on that slot's buffers until none
// is left or a tile fails; the failing status ends that work item.
//
// render_chunk renders tile t of `tiles` on the ChunkBuffers of its worker's slot, in a padded
// frame (the tile plus the grid's overflow on every side) addressed by 16-bit positions:
//   sweep   list heads empty, span widths 0
//   pass 1  blur index of every padded position; SpanRecords queued at their first
//           footprint row
//   pass 2  each SpanRecord keeps the smallest blur index under its footprint (the exact
//           minimum of each of its rows' runs, from sparse tables of the rows; see kMinimaPlanes)
//   pass 3  that minimum into min_index; list heads cleared again
//   pass 4  SourceRecords: colour (premultiplied, linear light in "normal blur" with gamma
//           correction; with transparency decoded before it is premultiplied), highlight
//           weight (highlight variant), blur index, queued at their kernel's first change
//           inside the tile
//   pass 5  per padded row: every record applies its kernel changes into the running layer
//           sums of its blur index; each pixel composes the 256 layers front (255) to back
//           until full coverage, down to its min_index; the hole sums ramp every pixel's
//           background colour into the layers and each record gathers them back through its
//           kernel (the hole fill); the highlight variant blends towards the mean colour of
//           the highlight sources reaching the pixel
//   pass 6  the core of the tile into the destination ("normal blur": composite plus the hole
//           fill, encoded and un-premultiplied, with transparency divided by alpha before the
//           encode; "info density": the coverage picture)
// After every padded row of every pass the render context's ReportProgress is asked; a status
// other than StatusOk ends the tile (the core rows not reached keep what they held) and is
// returned. Nothing is allocated: every per-pixel value lives in the thread's buffers.
// Progress: done = the padded rows of passes 1 to 6 finished so far in all tiles together,
// total = those of the whole grid (6 times the sum of the tiles' padded heights), so the
// host's progress bar rises steadily while the tiles run side by side.
//
// Numbers: per-row tables and per-pixel sums are doubles, and so are the gathered hole sums of
// the float formats; everything else kept per pixel is a float. Integer formats clamp every working channel to 0..MAX; with alpha or gamma correction
// they round at output (+0.5 before the truncation, colour divided by alpha first), without
// either they truncate colour, so an in-focus pixel (the one-pixel kernel) comes back as it
// went in (with gamma correction 16-bit pixels within 13 levels, the tables' quantisation);
// float formats clamp only alpha. Alpha is coverage: every format clamps it to 0..MAX where it
// is read (a float alpha to 0..1), before it multiplies anything. Non-finite float samples
// (not-a-number and both infinities) read as 0; finite colour samples pass as they are up to
// the largest half-float, 65504, and beyond it count as +-65504, so no sum overflows or drowns
// its neighbours in rounding residue; a float output that would not be
// finite (a colour over a vanishing alpha) is divided in double precision instead, and what is
// still not finite is written as 0. The decode-table index is clamped to 0..32767
// (not-a-number to 0). Pixel offsets
// are 64-bit. A kernel row without changes is stepped over wherever a record moves to its next
// row, and a change at the position of the one before it is applied at once.
#pragma once

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <type_traits>

#include "core/logger.h"
#include "depthoffield/depth_of_field_filter.h"
#include "kernel/highlight_selection.h"
#include "kernel/iris_kernel.h"
#include "pixel/colour.h"
#include "pixel/edge_mode.h"

// Unrolls the short per-channel loops of the scatter (the compiler leaves loops of 3 rolled).
#if defined(__GNUC__) && !defined(__clang__)
#define PEL_DOF_UNROLL _Pragma("GCC unroll 4")
#elif defined(__clang__)
#define PEL_DOF_UNROLL _Pragma("clang loop unroll(full)")
#else
#define PEL_DOF_UNROLL
#endif

namespace ov {

namespace dof_tiles {

// Lists link records by their 32-bit index in the tile's record array (the index of the
// padded position the record belongs to); kNoRecord ends a list. The record array's byte size
// fits 32 bits, so every index lies far below kNoRecord.
inline constexpr uint32_t kNoRecord = UINT32_MAX;

// The record of a padded position while the footprint minima are found (passes 1 to 3).
struct SpanRecord {
    uint32_t next;           // next record of the same list, or kNoRecord
    uint16_t x;              // padded column
    uint16_t y;              // padded row
    uint16_t run;            // widest footprint run recorded at this position (end - start)
    uint8_t blur_index;      // the position's own blur index
    uint8_t min_blur_index;  // smallest blur index found under its footprint so far
};
static_assert(sizeof(SpanRecord) == 12, "a span record is 12 bytes");

// The record of a padded position from pass 4 on, in the same memory; N floats per working
// pixel (colours, then alpha where the format has it). Pass 5 touches every field of a record
// at each of its kernel changes, and the live records of a padded row outgrow the caches at
// large radii, so the record is kept small: 20 + 2 P bytes (44 for RGB) with gathered hole
// sums G of float. The float formats gather in double precision (G double, 3 P + 21 bytes
// rounded up to 8): each gather step adds a difference of two row-long running sums, and in
// single precision the rounding of those sums (large wherever a bright HDR source lies
// earlier in the row) would be left in the hole fill far beyond the source's reach; integer
// samples are at most 32768, where single precision keeps that rounding below a level.
// Its list link lives apart, in record_links (4 bytes a record): a list walk chases the small
// link array and fetches the records several steps ahead instead of waiting on each record
// in turn.
template <int N, class G>
struct SourceRecord {
    G gather[N];            // hole-fill colour gathered through the kernel
    G gather_weight;        // its weight
    int32_t current;        // index of the next kernel change record to apply
    float color[N];         // premultiplied (and linear) colour, alpha last
    float highlight;        // highlight weight 0..1 (highlight variant only)
    uint16_t x;             // padded column
    uint16_t y;             // padded row
    uint8_t blur_index;     // 0..255
};
static_assert(sizeof(SourceRecord<1, float>) == sourceRecordBytes(4, false), "record slot of 20 + 2 P bytes");
static_assert(sizeof(SourceRecord<2, float>) == sourceRecordBytes(8, false), "record slot of 20 + 2 P bytes");
static_assert(sizeof(SourceRecord<3, float>) == sourceRecordBytes(12, false), "record slot of 20 + 2 P bytes");
static_assert(sizeof(SourceRecord<4, float>) == sourceRecordBytes(16, false), "record slot of 20 + 2 P bytes");
static_assert(sizeof(SourceRecord<1, double>) == sourceRecordBytes(4, true), "record slot of 3 P + 21 bytes, 8-aligned");
static_assert(sizeof(SourceRecord<2, double>) == sourceRecordBytes(8, true), "record slot of 3 P + 21 bytes, 8-aligned");
static_assert(sizeof(SourceRecord<3, double>) == sourceRecordBytes(12, true), "record slot of 3 P + 21 bytes, 8-aligned");
static_assert(sizeof(SourceRecord<4, double>) == sourceRecordBytes(16, true), "record slot of 3 P + 21 bytes, 8-aligned");
static_assert(sizeof(SpanRecord) <= sizeof(SourceRecord<1, float>), "span records share the record array");

// The tile's place in the grid and its padded frame.
struct TileFrame {
    int32_t tile_x, tile_y;            // first core pixel in destination coordinates
    int32_t tile_width, tile_height;   // core size
    int32_t pad_x, pad_y;              // margin on each side
    int32_t width, height;             // padded size
};

inline TileFrame tileFrame(const TileSet2D& tiles, int32_t tile) {
    TileFrame f{};
    const int32_t col = tile % tiles.cols, row = tile / tiles.cols;
    const int32_t cw = tiles.width / tiles.cols, rh = tiles.height / tiles.rows;
    f.tile_x = col * cw;
    f.tile_y = row * rh;
    f.tile_width = (col == tiles.cols - 1 ? tiles.width : (col + 1) * cw) - f.tile_x;
    f.tile_height = (row == tiles.rows - 1 ? tiles.height : (row + 1) * rh) - f.tile_y;
    const auto mag = [](int32_t v) { return v < 0 ? -int64_t(v) : int64_t(v); };
    f.pad_x = int32_t(std::max(mag(tiles.overflow.left), mag(tiles.overflow.right)));
    f.pad_y = int32_t(std::max(mag(tiles.overflow.top), mag(tiles.overflow.bottom)));
    f.width = f.tile_width + 2 * f.pad_x;
    f.height = f.tile_height + 2 * f.pad_y;
    return f;
}

// Kernel rows. A row r is stored at table entry r + half_height.
inline int32_t rowCountOf(const IrisKernel& k, int32_t r) { return k.row_count[r + k.half_height]; }
inline int32_t rowFirstOf(const IrisKernel& k, int32_t r) { return k.row_first[r + k.half_height]; }
inline int32_t firstX(const IrisKernel& k, int32_t r) { return k.records[rowFirstOf(k, r)].x; }
inline int32_t lastX(const IrisKernel& k, int32_t r) {
    return k.records[rowFirstOf(k, r) + rowCountOf(k, r) - 1].x;
}
// The first row at or below r that holds a change record (bottom_row + 1 when none does).
inline int32_t nonEmptyRow(const IrisKernel& k, int32_t r) {
    while (r <= k.bottom_row && rowCountOf(k, r) <= 0) ++r;
    return r;
}

inline int32_t clampColumn(int64_t x, int32_t width) {
    return x <= 0 ? 0 : (x > width - 1 ? width - 1 : int32_t(x));
}

// The format's constants and per-sample rules.
template <class Img>
struct Format {
    using Pixel = typename Img::pixel_type;
    using T = typename Pixel::sample_type;
    static constexpr int N = Pixel::base_count;    // working channels (colours, alpha last)
    static constexpr int C = Pixel::colour_count;  // colour channels
    static constexpr bool kAlpha = Pixel::has_alpha;
    static constexpr int kA = N - 1;               // alpha's working channel (when kAlpha)
    static constexpr bool kInteger = Pixel::is_integer;
    static constexpr bool k16 = std::is_same_v<T, unsigned short>;
    static constexpr double kMax = Pixel::max_value;
    static constexpr double kInvMax = Pixel::inverse_max;  // 1/255, 2^-15, 1

    // A sample as a double; a float sample that is not finite reads as 0.
    static double sample(T v) {
        if constexpr (kInteger) return double(v);
        else return std::isfinite(v) ? double(v) : 0.0;
    }
    // The largest float sample magnitude the blur takes as it is: the largest half-float, the
    // range HDR files hold. Only absurd values (1e10, 1e30) lie beyond it; they count as the
    // bound, so that no sum overflows or drowns its neighbours in rounding residue.
    static constexpr double kFloatBound = 65504.0;
    static double boundFloat(double v) {
        return v > kFloatBound ? kFloatBound : (v < -kFloatBound ? -kFloatBound : v);
    }
    // 0..MAX; not-a-number and negative values give 0.
    static double clampChannel(double v) { return !(v >= 0.0) ? 0.0 : (v > kMax ? kMax : v); }
    static float clampChannel(float v) {
        return !(v >= 0.0f) ? 0.0f : (v > float(kMax) ? float(kMax) : v);
    }
    // The transfer table index of an integer-format value: trunc(v / MAX * 32767), clamped to
    // 0..32767 (not-a-number to 0).
    static int32_t tableIndex(double v) {
        const double x = v * kInvMax * 32767.0;
        return x >= 0.0 ? (x < 32767.0 ? int32_t(x) : 32767) : 0;
    }
};

// The blur index of image position (ix, iy) (already edge-mapped into the source's frame).
template <class F>
inline uint8_t blurIndexAt(const F& f, int32_t ix, int32_t iy) {
    const int64_t mx = int64_t(ix) - f.depth_map.originX + f.source.originX;
    const int64_t my = int64_t(iy) - f.depth_map.originY + f.source.originY;
    const double v = sampleDepthCurve(f.depth_map, uint32_t(mx), uint32_t(my), f.curve_lut,
                                      f.params.depth_mode, f.params.depth_invert != 0,
                                      f.params.depth_low, f.params.depth_high);
    const double b = v * 255.0;
    // The low 8 bits of the truncation (curve values lie in 0..1, so 0..255).
    return b >= 0.0 && b < 9.2e18 ? uint8_t(int64_t(b) & 0xff) : uint8_t(0);
}

// How pass 2 finds the smallest blur index under each footprint. Every way gives the exact
// minimum, so the results are the same bits (the tests compare them):
//   kMinimaSweep      the SpanRecords walk their lists; at each list the backward sweep over the
//                     widest run ending at its column (O(run))
//   kMinimaRowTable   the same walk; each run's minimum from a sparse table of the row (O(1))
//   kMinimaPlanes     no lists: every position reads its footprint rows' runs straight from
//                     sparse tables of all rows at once (the level planes), in position order,
//                     and stops at a minimum of 0 (the planes always fit behind the span
//                     records; the other two ways remain as the references they are tested
//                     against)
inline constexpr int kMinimaSweep = 0;
inline constexpr int kMinimaRowTable = 1;
inline constexpr int kMinimaPlanes = 2;

// Everything one render_chunk call works with.
template <class F, bool Highlights, int Minima = kMinimaPlanes>
class ChunkRenderer {
public:
    using Img = std::remove_cvref_t<decltype(F::source)>;
    using Fmt = Format<Img>;
    using Pixel = typename Fmt::Pixel;
    using T = typename Fmt::T;
    static constexpr int N = Fmt::N;
    static constexpr int C = Fmt::C;
    using G = std::conditional_t<Fmt::kInteger, float, double>;  // hole sums, as the filter sizes them
    using Record = SourceRecord<N, G>;
    static_assert(sizeof(Record) == sourceRecordBytes(4 * N, F::kWideGather), "the filter sizes these records");

    ChunkRenderer(F& filter, int32_t tile, uint32_t slot)
        : f(filter), fr(tileFrame(filter.tiles, tile)) {
        const ChunkBuffers& b = filter.chunk_buffers[slot];
        composite = static_cast<float*>(b.composite);
        keep = b.highlight_keep;
        excess = b.coverage_excess;
        minIndex = b.min_index;
        records = b.records;
        heads = b.list_heads;
        links = b.record_links;
        W = fr.width;
        H = fr.height;
        // Every padded row of passes 1 to 6 of every tile counts one; the tiles run side by
        // side, so the count is the filter's, shared by them, and rises with the whole render.
        uint64_t rows = 6 * uint64_t(f.tiles.cols) * (uint64_t(std::max(f.tiles.height, 0)) +
                                                      uint64_t(f.tiles.rows) * 2 * uint64_t(fr.pad_y));
        while (rows > 0xFFFFFFFFull) {
            rows >>= 1;
            ++shift;
        }
        total = uint32_t(rows);
        ok = f.host->StatusOk();
    }

    uint32_t run() {
        uint32_t status = ok;
        if (W <= 0 || H <= 0) return status;
        if (int64_t(W) > kMaxPaddedTileSide + 1 || int64_t(H) > kMaxPaddedTileSide + 1) {
            // Positions are 16-bit: such a tile cannot be addressed (the grid keeps within this).
            LogWarning("render_chunk: padded tile ", W, "x", H, " too large\n");
            return f.host->StatusOutOfMemory();
        }
        // Where the level planes serve pass 2, it reads no span lists, so pass 1 queues none.
        if constexpr (Minima == kMinimaPlanes) usePlanes = levelPlanes(floorLog2(uint32_t(W)) + 1, planes);
        sweep();
        if ((status = pass1()) != ok) return status;
        if ((status = pass2()) != ok) return status;
        if ((status = pass3()) != ok) return status;
        if ((status = pass4()) != ok) return status;
        if ((status = pass5()) != ok) return status;
        return pass6();
    }

private:
    F& f;
    TileFrame fr;
    float* composite;
    float* keep;
    float* excess;
    uint8_t* minIndex;
    void* records;
    uint32_t* heads;
    uint32_t* links;
    int32_t W = 0, H = 0;
    uint32_t total = 0, ok = 0;
    bool usePlanes = false;  // pass 2 reads the level planes (set by run)
    uint8_t* planes[32] = {};
    int shift = 0;  // both numbers scaled down to 32 bits

    // The index of core position (x, y) (padded coordinates) in the core-sized buffers.
    size_t coreAt(int32_t x, int32_t y) const {
        return size_t(y - fr.pad_y) * size_t(fr.tile_width) + size_t(x - fr.pad_x);
    }
    size_t at(int32_t x, int32_t y) const { return size_t(y) * size_t(W) + size_t(x); }
    SpanRecord* span(size_t i) const { return static_cast<SpanRecord*>(records) + i; }
    Record* rec(size_t i) const { return static_cast<Record*>(records) + i; }
    // The record a list link names, or null at a list's end.
    SpanRecord* spanAt(uint32_t link) const { return link == kNoRecord ? nullptr : span(link); }
    uint32_t linkOf(const SpanRecord* r) const { return uint32_t(r - span(0)); }
    uint32_t linkOf(const Record* r) const { return uint32_t(r - rec(0)); }

    // After each padded row: advance the row count (not in the list clearing sweep) and ask.
    uint32_t progress(bool advance) {
        const uint64_t done = advance ? f.rows_reported.fetch_add(1, std::memory_order_relaxed) + 1
                                      : f.rows_reported.load(std::memory_order_relaxed);
        return f.host->ReportProgress(uint32_t(std::min<uint64_t>(done >> shift, total)), total);
    }

    // ---- sweep and passes 1 to 3: blur index and the smallest index under each footprint ---

    void sweep() {
        const size_t n = size_t(W) * size_t(H);
        for (size_t i = 0; i < n; ++i) {
            heads[i] = kNoRecord;
            span(i)->run = 0;
        }
    }

    // The span width e - s0 at position (e, row): the widest run ending there, where pass 2
    // reads it back for the list of that same position (so every minimum is exact).
    void recordRun(int32_t e, int32_t s0, int32_t row) {
        SpanRecord* s = span(at(e, row));
        const int32_t w = e - s0;
        if (w > int32_t(s->run)) s->run = uint16_t(w);
    }

    void push(SpanRecord* r, int32_t x, int32_t y) {
        uint32_t& h = heads[at(x, y)];
        r->next = h;
        h = linkOf(r);
    }

    uint32_t pass1() {
        const int32_t srcW = int32_t(f.source.width), srcH = int32_t(f.source.height);
        for (int32_t py = 0; py < H; ++py) {
            int32_t iy = fr.tile_y - fr.pad_y + py;
            edge_index(iy, srcH, f.params.edge_mode_y);
            for (int32_t px = 0; px < W; ++px) {
                int32_t ix = fr.tile_x - fr.pad_x + px;
                edge_index(ix, srcW, f.params.edge_mode_x);
                const uint8_t b = blurIndexAt(f, ix, iy);
                const size_t i = at(px, py);
                SpanRecord* R = span(i);
                R->blur_index = b;
                R->min_blur_index = b;
                R->x = uint16_t(px);
                R->y = uint16_t(py);
                minIndex[i] = b;
                if (usePlanes) continue;
                const IrisKernel& K = f.kernels[b];
                if (K.top_row > K.bottom_row) continue;  // a kernel without rows
                int32_t dy = K.top_row;
                if (py + dy < 0) dy = -py;                // first kernel row inside the tile
                dy = nonEmptyRow(K, dy);
                const int64_t ty = int64_t(py) + dy;
                if (dy > K.bottom_row || ty >= H) continue;
                const int64_t s = int64_t(px) + firstX(K, dy);
                if (s >= W) continue;
                const int32_t e = clampColumn(int64_t(px) + lastX(K, dy), W);
                const int32_t s0 = s < 0 ? 0 : int32_t(s);
                recordRun(e, s0, int32_t(ty));
                push(R, e, int32_t(ty));
            }
            if (const uint32_t st = progress(true); st != ok) return st;
        }
        return ok;
    }

    // The bytes of the record array behind the span records, free until pass 4: at least 16
    // a position (a source record is 8 + 2 P bytes larger than a span record).
    uint8_t* spanTail() const { return reinterpret_cast<uint8_t*>(span(size_t(W) * size_t(H))); }
    size_t spanTailBytes() const { return size_t(W) * size_t(H) * (sizeof(Record) - sizeof(SpanRecord)); }

    uint32_t pass2Sweep() {
        uint8_t* runMin = spanTail();  // one byte per column
        for (int32_t py = 0; py < H; ++py) {
            std::memset(runMin, 255, size_t(W));
            const size_t rowStart = at(0, py);
            for (int32_t px = 0; px < W; ++px) {
                SpanRecord* S = spanAt(heads[rowStart + size_t(px)]);
                const int32_t w = span(rowStart + size_t(px))->run;
                const int32_t lo = w < px ? px - w : 0;
                uint8_t m = 255;
                for (int32_t i = px; i >= lo; --i) {
                    const uint8_t b = span(rowStart + size_t(i))->blur_index;
                    if (b < m) m = b;
                    runMin[i] = m;
                }
                while (S) {
                    SpanRecord* next = spanAt(S->next);
                    if (next) prefetch(next);
                    const IrisKernel& K = f.kernels[S->blur_index];
                    const int32_t dy = py - int32_t(S->y);
                    const int32_t s = clampColumn(int64_t(S->x) + firstX(K, dy), W);
                    if (runMin[s] < S->min_blur_index) S->min_blur_index = runMin[s];
                    const int32_t dn = nonEmptyRow(K, dy + 1);
                    const int64_t ny = int64_t(S->y) + dn;
                    if (dn <= K.bottom_row && ny < H) {
                        const int32_t e = clampColumn(int64_t(S->x) + lastX(K, dn), W);
                        int64_t s0 = int64_t(S->x) + firstX(K, dn);
                        if (s0 < 0) s0 = 0;
                        if (s0 < W) recordRun(e, int32_t(s0), int32_t(ny));
                        push(S, e, int32_t(ny));
                    }
                    S = next;
                }
            }
            if (const uint32_t st = progress(true); st != ok) return st;
        }
        return ok;
    }

    // The sparse table of row py's blur indices: level k holds the minimum of 2^k columns from
    // each column on. It lives behind the span records (W bytes per level, at most 17 levels
    // for W <= 65536).
    static int32_t floorLog2(uint32_t v) { return int32_t(std::bit_width(v)) - 1; }

    uint32_t pass2() {
        const int32_t levels = floorLog2(uint32_t(W)) + 1;
        if constexpr (Minima == kMinimaSweep) return pass2Sweep();
        if (usePlanes) return pass2Planes();
        if (size_t(levels) * size_t(W) > spanTailBytes()) return pass2Sweep();
        uint8_t* const table = spanTail();
        for (int32_t py = 0; py < H; ++py) {
            const size_t rowStart = at(0, py);
            for (int32_t x = 0; x < W; ++x) table[x] = span(rowStart + size_t(x))->blur_index;
            for (int32_t k = 1; k < levels; ++k) {
                const uint8_t* const below = table + size_t(k - 1) * size_t(W);
                uint8_t* const level = table + size_t(k) * size_t(W);
                const int32_t half = 1 << (k - 1), n = W - (1 << k) + 1;
                for (int32_t x = 0; x < n; ++x) level[x] = std::min(below[x], below[x + half]);
            }
            for (int32_t px = 0; px < W; ++px) {
                SpanRecord* S = spanAt(heads[rowStart + size_t(px)]);
                while (S) {
                    SpanRecord* next = spanAt(S->next);
                    if (next) prefetch(next);
                    const IrisKernel& K = f.kernels[S->blur_index];
                    const int32_t dy = py - int32_t(S->y);
                    const int32_t s = clampColumn(int64_t(S->x) + firstX(K, dy), W);
                    const int32_t k = floorLog2(uint32_t(px - s + 1));
                    const uint8_t* const level = table + size_t(k) * size_t(W);
                    const uint8_t m = std::min(level[s], level[px - (1 << k) + 1]);
                    if (m < S->min_blur_index) S->min_blur_index = m;
                    const int32_t dn = nonEmptyRow(K, dy + 1);
                    const int64_t ny = int64_t(S->y) + dn;
                    if (dn <= K.bottom_row && ny < H)
                        push(S, clampColumn(int64_t(S->x) + lastX(K, dn), W), int32_t(ny));
                    S = next;
                }
            }
            if (const uint32_t st = progress(true); st != ok) return st;
        }
        return ok;
    }

    // The level planes: plane k (W H bytes, rows like the tile) holds, for every position, the
    // minimum blur index of 2^k columns from it on along its row. Plane 0 is min_index, which
    // holds the blur indices from pass 1 until pass 3; the others lie behind the span records,
    // free until pass 4 (16 or more bytes a position, and at most 16 planes besides plane 0 for
    // rows up to 65536 wide). False when they do not fit.
    bool levelPlanes(int32_t levels, uint8_t** out) const {
        const size_t n = size_t(W) * size_t(H);
        out[0] = minIndex;
        int32_t k = 1;
        for (size_t at = 0; at + n <= spanTailBytes() && k < levels; at += n) out[k++] = spanTail() + at;
        return k >= levels;
    }

    uint32_t pass2Planes() {
        const int32_t levels = floorLog2(uint32_t(W)) + 1;
        for (int32_t k = 1; k < levels; ++k) {
            const int32_t half = 1 << (k - 1), n = W - (1 << k) + 1;
            for (int32_t py = 0; py < H; ++py) {
                const uint8_t* const below = planes[k - 1] + at(0, py);
                uint8_t* const level = planes[k] + at(0, py);
                for (int32_t x = 0; x < n; ++x) level[x] = std::min(below[x], below[x + half]);
            }
        }
        for (int32_t py = 0; py < H; ++py) {
            for (int32_t px = 0; px < W; ++px) {
                SpanRecord* const S = span(at(px, py));
                const uint8_t b = S->blur_index;
                const IrisKernel& K = f.kernels[b];
                // The rows pass 1 would queue the position for, and the runs pass 2 would visit.
                if (b == 0 || K.top_row > K.bottom_row) continue;
                int32_t dy = K.top_row;
                if (py + dy < 0) dy = -py;
                dy = nonEmptyRow(K, dy);
                if (dy > K.bottom_row || int64_t(py) + dy >= H) continue;
                if (int64_t(px) + firstX(K, dy) >= W) continue;
                uint8_t m = b;
                for (; dy <= K.bottom_row && int64_t(py) + dy < H; dy = nonEmptyRow(K, dy + 1)) {
                    const int32_t s = clampColumn(int64_t(px) + firstX(K, dy), W);
                    const int32_t e = clampColumn(int64_t(px) + lastX(K, dy), W);
                    const int32_t k = floorLog2(uint32_t(e - s + 1));
                    const uint8_t* const level = planes[k] + at(0, py + dy);
                    m = std::min(m, std::min(level[s], level[e - (1 << k) + 1]));
                    if (m == 0) break;  // nothing lies below
                }
                S->min_blur_index = m;
            }
            if (const uint32_t st = progress(true); st != ok) return st;
        }
        return ok;
    }

    uint32_t pass3() {
        for (int32_t py = 0; py < H; ++py) {
            const size_t rowStart = at(0, py);
            for (int32_t px = 0; px < W; ++px)
                minIndex[rowStart + size_t(px)] = span(rowStart + size_t(px))->min_blur_index;
            if (const uint32_t st = progress(true); st != ok) return st;
        }
        // The list clearing sweep: pass 4 queues into empty lists.
        for (int32_t py = 0; py < H; ++py) {
            const size_t rowStart = at(0, py);
            for (int32_t px = 0; px < W; ++px) heads[rowStart + size_t(px)] = kNoRecord;
            if (const uint32_t st = progress(false); st != ok) return st;
        }
        return ok;
    }

    // ---- pass 4: source records ------------------------------------------------------------

    // The highlight weight of selection pixel (sx, sy) (image coordinates of the source).
    double highlightWeight(const HslRangeSettings& settings, int32_t xs, int32_t ys) const {
        const auto& sel = f.selection;
        const int64_t sx = int64_t(xs) + f.source.originX - sel.originX;
        const int64_t sy = int64_t(ys) + f.source.originY - sel.originY;
        if (uint32_t(sx) >= sel.width || uint32_t(sy) >= sel.height || !sel.has_data()) return 0.0;
        Pixel p = *sel.pixel(std::ptrdiff_t(uint32_t(sx)), std::ptrdiff_t(uint32_t(sy)));
        if constexpr (!Fmt::kInteger) {
            for (int i = 0; i < N; ++i)
                if (!std::isfinite(p.v[i])) p.v[i] = 0.0f;
        }
        if constexpr (Fmt::kAlpha) {
            if (!sel.premultiplied) {
                // Alpha is coverage: 0 to full intensity.
                const float alpha = Fmt::clampChannel(float(p.v[Pixel::alpha_index]));
                if constexpr (Fmt::kInteger) {
                    const float a = alpha * float(Fmt::kInvMax);
                    for (int c = 0; c < C; ++c) p.v[c] = T(float(p.v[c]) * a);
                } else {
                    for (int c = 0; c < C; ++c) p.v[c] = p.v[c] * alpha;
                }
            }
        }
        return hslRangeWeight(settings, p);
    }

    uint32_t pass4() {
        HslRangeSettings settings{};
        if constexpr (Highlights) hslRangeSetup<Pixel>(settings, f.params.highlight_selection);
        const int32_t srcW = int32_t(f.source.width), srcH = int32_t(f.source.height);
        const int32_t modeX = f.params.edge_mode_x, modeY = f.params.edge_mode_y;
        const bool decode = f.params.view <= 4 && f.params.gamma_correction != 0;
        // The outside colour in sample units (single precision), alpha MAX.
        double outside[N];
        for (int c = 0; c < N; ++c) {
            const float comp = f.params.outside_color[(Fmt::kAlpha && c == Fmt::kA) ? 3 : c];
            outside[c] = Fmt::kInteger ? double(comp * float(Fmt::kMax)) : double(comp);
        }
        const bool premultiply = Fmt::kAlpha && !f.source.premultiplied;
        // Colour decoded straight and premultiplied in linear light (see straight_linear).
        const bool straight = Fmt::kAlpha && decode && f.straight_linear != 0;
        for (int32_t py = 0; py < H; ++py) {
            int32_t ys = fr.tile_y - fr.pad_y + py;
            const bool insideY = edge_index(ys, srcH, modeY);
            for (int32_t px = 0; px < W; ++px) {
                int32_t xs = fr.tile_x - fr.pad_x + px;
                const bool insideX = edge_index(xs, srcW, modeX);
                double s[N];
                if ((insideX || modeX < 4) && (insideY || modeY < 4)) {
                    const Pixel& p = *f.source.pixel(xs, ys);
                    for (int i = 0; i < N; ++i) s[i] = Fmt::sample(p.v[i]);
                    if constexpr (!Fmt::kInteger)
                        for (int i = 0; i < N; ++i) s[i] = Fmt::boundFloat(s[i]);
                    if constexpr (Fmt::kAlpha) {
                        // Alpha is coverage: clamped to 0..MAX before it multiplies anything.
                        s[Fmt::kA] = Fmt::clampChannel(s[Fmt::kA]);
                        const double a = s[Fmt::kA] * Fmt::kInvMax;
                        if (straight) {
                            // A premultiplied source's colour is made straight for the decode.
                            if (!premultiply) {
                                for (int c = 0; c < C; ++c) s[c] = a > 0.0 ? s[c] / a : 0.0;
                                if constexpr (!Fmt::kInteger)
                                    for (int c = 0; c < C; ++c) s[c] = Fmt::boundFloat(s[c]);
                            }
                        } else if (premultiply) {
                            for (int c = 0; c < C; ++c) s[c] *= a;
                        }
                    }
                } else {
                    for (int i = 0; i < N; ++i) s[i] = outside[i];
                }
                if (decode) {
                    for (int c = 0; c < C; ++c) {
                        if constexpr (Fmt::kInteger) s[c] = f.decode_lut[Fmt::tableIndex(s[c])];
                        else s[c] = rec709_to_linear(s[c]);
                    }
                }
                if constexpr (Fmt::kAlpha) {
                    if (straight) {
                        const double a = s[Fmt::kA] * Fmt::kInvMax;
                        for (int c = 0; c < C; ++c) s[c] *= a;
                    }
                }
                Record* R = rec(at(px, py));
                for (int i = 0; i < N; ++i) {
                    R->color[i] = float(s[i]);
                    R->gather[i] = G(0);
                }
                R->gather_weight = G(0);
                if constexpr (Highlights) R->highlight = float(highlightWeight(settings, xs, ys));
                const uint8_t b = blurIndexAt(f, xs, ys);
                R->blur_index = b;
                R->x = uint16_t(px);
                R->y = uint16_t(py);
                queueAtFirstChange(R, px, py);
            }
            if (const uint32_t st = progress(true); st != ok) return st;
        }
        return ok;
    }

    // Queues R at its kernel's first change inside the padded tile: the first kernel row that
    // lies inside and starts left of the right edge, at that row's first change (column 0
    // when it lies further left). Rows without changes start at the row end's column, far
    // right, and are passed over.
    void queueAtFirstChange(Record* R, int32_t px, int32_t py) {
        const IrisKernel& K = f.kernels[R->blur_index];
        int32_t r = K.top_row;
        int64_t ly = int64_t(py) + r;
        if (ly < 0) {
            r -= int32_t(ly);
            ly = 0;
        }
        for (; ly < H; ++ly, ++r) {
            if (r > K.bottom_row) return;
            const int32_t first = rowFirstOf(K, r);
            int64_t lx = int64_t(px) + K.records[first].x;
            if (lx < 0) lx = 0;
            if (lx < W) {
                R->current = first;
                pushRecord(R, int32_t(lx), int32_t(ly));
                return;
            }
        }
    }

    void pushRecord(Record* r, int32_t x, int32_t y) { pushLink(linkOf(r), x, y); }
    void pushLink(uint32_t link, int32_t x, int32_t y) {
        uint32_t& h = heads[at(x, y)];
        links[link] = h;
        h = link;
    }

    // ---- pass 5: layer scatter and composition, hole sums, highlight blend ----------------

    static constexpr int kLead = 8;
    static constexpr int kLS = N + 1;  // LayerSums / HoleSums entry: channels, coverage
    static constexpr int kHS = N + 2;  // HighlightSums entry: channels, shape, contribution

    struct Tables {
        double layer[256][kLS];
        double hole[256][kLS];
        double highlight[Highlights ? 256 : 1][kHS];
    };

    void prefetchRecord(uint32_t link) const {
        const char* const p = reinterpret_cast<const char*>(rec(link));
        prefetch(p);
        prefetch(p + sizeof(Record) - 1);  // a record may span two lines
    }

    // Applies the changes due at (px, py) of the list that starts with `link`; rowHeads are
    // the list heads of padded row py.
    // The walk is bound by memory latency, not arithmetic: a cursor runs kLead records ahead
    // on the list's links and fetches the records it passes, and `ahead`, the list of the next
    // column, is chased one record per record walked here, so that its records (queued long
    // before, cold) arrive while this list is worked on. A walk pushes records only onto
    // other lists, and only at their heads, so the links the cursors follow stay as they are.
    // Neighbouring records mostly share a blur index: the running sums of the layer last
    // worked on, its hole sums (which no change alters) and its kernel stay in registers
    // (layer `held`) until a record of another layer comes, and each record's gather and
    // change index are kept in registers while it is worked on. Every sum still takes its
    // additions one by one in the same order, so the bits are those of adding straight into
    // the tables.
    void applyChanges(uint32_t link, uint32_t ahead, int32_t px, int32_t py, uint32_t* rowHeads, Tables& t,
                      uint32_t& topIndex, double preservative) {
        uint32_t* const lk = links;
        const int32_t width = W, height = H;
        uint32_t lead = link;
        for (int j = 0; j < kLead && lead != kNoRecord; ++j) {
            prefetchRecord(lead);
            lead = lk[lead];
        }
        int32_t held = -1;
        double sum[kLS] = {}, hole[kLS] = {};
        const IrisKernel* k = nullptr;
        const KernelDeltaRecord* kr = nullptr;
        double invSum = 0.0;
        uint32_t top = topIndex;
        while (link != kNoRecord) {
            Record* const r = rec(link);
            const uint32_t after = lk[link];
            if (lead != kNoRecord) {
                prefetchRecord(lead);
                lead = lk[lead];
            }
            if (ahead != kNoRecord) {
                ahead = lk[ahead];
                if (ahead != kNoRecord) prefetch(rec(ahead));
            }
            const int32_t d = r->blur_index;
            if (d != held) {
                if (held >= 0) {
                    PEL_DOF_UNROLL
                    for (int i = 0; i < kLS; ++i) t.layer[held][i] = sum[i];
                }
                PEL_DOF_UNROLL
                for (int i = 0; i < kLS; ++i) {
                    sum[i] = t.layer[d][i];
                    hole[i] = t.hole[d][i];
                }
                held = d;
                k = &f.kernels[d];
                kr = k->records;
                invSum = k->inv_sum;
                if (uint32_t(d) > top) top = uint32_t(d);
            }
            double color[N];  // exact: a float widened once instead of at every change
            G g[kLS];
            PEL_DOF_UNROLL
            for (int i = 0; i < N; ++i) {
                color[i] = double(r->color[i]);
                g[i] = r->gather[i];
            }
            g[N] = r->gather_weight;
            const int32_t rx = r->x;
            int32_t cur = r->current;
            [[maybe_unused]] const float highlight = Highlights ? r->highlight : 0.0f;
            for (;;) {
                const KernelDeltaRecord& c = kr[cur];
                const double w = double(c.weight_delta) * invSum;
                PEL_DOF_UNROLL
                for (int i = 0; i < N; ++i) sum[i] += color[i] * w;
                sum[N] += w;
                if constexpr (Highlights) {
                    if (highlight > 0.0f) {
                        const double tt = double(float(double(highlight) * w * preservative));
                        double* const hl = t.highlight[d];
                        for (int i = 0; i < N; ++i) hl[i] += color[i] * tt;
                        hl[N] += double(c.coverage_delta);
                        hl[N + 1] += tt;
                    }
                }
                gatherInto(g, -double(c.weight_delta), hole);
                const int32_t n = cur + 1;
                const int64_t nx = int64_t(rx) + kr[n].x;
                if (nx < width) {
                    cur = n;
                    if (nx > px) {
                        links[link] = rowHeads[nx];
                        rowHeads[nx] = link;
                        break;
                    }
                    continue;  // at or left of this column (column 0, or a repeated position)
                }
                // The rest of this kernel row lies right of the tile: it only gathers.
                int32_t m = n;
                for (; kr[m].x != kKernelRowEnd; ++m) gatherInto(g, -double(kr[m].weight_delta), hole);
                // On to the next kernel row with changes, in the padded row it falls on.
                const int32_t dy = py - int32_t(r->y);
                const int32_t dn = nonEmptyRow(*k, dy + 1);
                const int32_t nFirst = dn <= k->bottom_row ? rowFirstOf(*k, dn) : m + 1;
                const int64_t ny = int64_t(r->y) + dn;
                if (dn <= k->bottom_row && ny < height)
                    pushLink(link, clampColumn(int64_t(rx) + kr[nFirst].x, width), int32_t(ny));
                cur = nFirst;
                break;
            }
            r->current = cur;
            PEL_DOF_UNROLL
            for (int i = 0; i < N; ++i) r->gather[i] = g[i];
            r->gather_weight = g[N];
            link = after;
        }
        if (held >= 0) {
            PEL_DOF_UNROLL
            for (int i = 0; i < kLS; ++i) t.layer[held][i] = sum[i];
        }
        topIndex = top;
    }

    static void gatherInto(G* g, double w, const double* hs) {
        PEL_DOF_UNROLL
        for (int i = 0; i < kLS; ++i) g[i] = G(double(g[i]) + w * hs[i]);
    }

    static void prefetch(const void* p) {
#if defined(__GNUC__)
        __builtin_prefetch(p);
#else
        (void)p;
#endif
    }

    uint32_t pass5() {
        Tables t;
        const double preservative = f.params.highlight_preservative;
        for (int32_t py = 0; py < H; ++py) {
            std::memset(t.layer, 0, sizeof t.layer);
            std::memset(t.hole, 0, sizeof t.hole);
            if constexpr (Highlights) std::memset(t.highlight, 0, sizeof t.highlight);
            uint32_t topIndex = 255;
            const size_t rowStart = at(0, py);
            const bool coreRow = uint32_t(py - fr.pad_y) < uint32_t(fr.tile_height);
            for (int32_t px = 0; px < W; ++px) {
                const size_t i = rowStart + size_t(px);
                applyChanges(heads[i], px + 1 < W ? heads[i + 1] : kNoRecord, px, py, heads + rowStart, t,
                             topIndex, preservative);

                // Composition, front (topIndex) to back (min_index), with the background of
                // the layers at or behind the pixel's own depth and the highlight sums.
                const uint32_t own = rec(i)->blur_index;
                const uint32_t lo = minIndex[i];
                double total = 0.0;
                double comp[N] = {};
                double bw = 0.0, bc[N] = {};
                double hc[N] = {}, hsum = 0.0, hw = 0.0;
                uint32_t nextTop = topIndex;
                if (topIndex >= lo) {
                    for (int32_t d = int32_t(topIndex); d >= int32_t(lo); --d) {
                        const double* const ls = t.layer[d];
                        const double cov = ls[N];
                        if (cov > 0.0) {
                            if (uint32_t(d) <= own) {
                                bw += cov;
                                for (int c = 0; c < N; ++c) bc[c] += ls[c];
                            }
                            const double before = total;
                            total += cov;
                            if (before >= 1.0) continue;
                            if (total >= 1.0) {
                                const double fr1 = (1.0 - (total - cov)) / cov;
                                for (int c = 0; c < N; ++c) comp[c] += fr1 * ls[c];
                                if constexpr (Highlights) {
                                    const double* const hl = t.highlight[d];
                                    for (int c = 0; c < N; ++c) hc[c] += fr1 * hl[c];
                                    hsum += fr1 * hl[N];
                                    hw += fr1 * hl[N + 1];
                                }
                            } else {
                                for (int c = 0; c < N; ++c) comp[c] += ls[c];
                                if constexpr (Highlights) {
                                    const double* const hl = t.highlight[d];
                                    for (int c = 0; c < N; ++c) hc[c] += hl[c];
                                    hsum += hl[N];
                                    hw += hl[N + 1];
                                }
                            }
                        } else if (total <= 1e-5) {
                            nextTop = uint32_t(d);
                        }
                    }
                }

                const bool core = coreRow && uint32_t(px - fr.pad_x) < uint32_t(fr.tile_width);
                const size_t ci = core ? coreAt(px, py) : 0;
                if (core) {
                    if constexpr (Fmt::kInteger) {
                        for (int c = 0; c < N; ++c) comp[c] = Fmt::clampChannel(comp[c]);
                    } else if constexpr (Fmt::kAlpha) {
                        comp[Fmt::kA] = !(comp[Fmt::kA] >= 0.0) ? 0.0 : (comp[Fmt::kA] > 1.0 ? 1.0 : comp[Fmt::kA]);
                    }
                    if constexpr (Highlights) {
                        float keepValue = 1.0f;
                        if (hw > 0.0001) {
                            const double cov = total < 1.0 ? total : 1.0;
                            double s = hw / cov;
                            if (s > 1.0) s = 1.0;
                            double a = hsum;
                            if (a > 1.0) a = 1.0;
                            const double k = a * s;
                            const double kp = 1.0 - k;
                            const double inv = 1.0 / hw;
                            for (int c = 0; c < N; ++c) {
                                const double h = hc[c] * inv;
                                comp[c] = (comp[c] - h) * kp + h;
                            }
                            keepValue = float(kp);
                        }
                        keep[ci] = keepValue;
                    }
                    float* const out = composite + ci * size_t(N);
                    for (int c = 0; c < N; ++c) out[c] = float(comp[c]);
                }

                // The pixel's background ramps into the hole sums of its own depth up to topIndex.
                if (own <= topIndex) {
                    if (bw > 0.0) {
                        const double inv = 1.0 / bw;
                        for (int c = 0; c < N; ++c) bc[c] = bc[c] * inv;
                    }
                    for (uint32_t d = own; d <= topIndex; ++d) {
                        const double r = double(d - own + 1);
                        double* const hs = t.hole[d];
                        for (int c = 0; c < N; ++c) hs[c] += bc[c] * r;
                        hs[N] += r;
                    }
                }
                if (core) excess[ci] = float(total - 1.0);
                topIndex = nextTop;
            }
            if (const uint32_t st = progress(true); st != ok) return st;
        }
        return ok;
    }

    // ---- pass 6: tile output -------------------------------------------------------------

    void writeNormal(size_t i, size_t ci, Pixel& px) const {
        const Record* R = rec(i);
        const double e = double(excess[ci]);
        float hc[N];
        for (int c = 0; c < N; ++c) hc[c] = float(R->gather[c]);
        const double gw = double(R->gather_weight);
        if (gw > 0.0001) {
            const double inv = 1.0 / gw;
            for (int c = 0; c < N; ++c) hc[c] = float(double(R->gather[c]) * inv);
        }
        if constexpr (Fmt::kInteger) {
            for (int c = 0; c < N; ++c) hc[c] = Fmt::clampChannel(hc[c]);
        } else if constexpr (Fmt::kAlpha) {
            float& a = hc[Fmt::kA];
            a = !(a >= 0.0f) ? 0.0f : (a > 1.0f ? 1.0f : a);
        }
        float fill[N];
        for (int c = 0; c < N; ++c) fill[c] = e >= 0.0 ? 0.0f : float(double(hc[c]) * -e);
        if constexpr (Highlights) {
            const double k = double(keep[ci]);
            if (k < 1.0)
                for (int c = 0; c < N; ++c) fill[c] = float(double(fill[c]) * k);
        }
        const float* const comp = composite + ci * size_t(N);
        float out[N];
        for (int c = 0; c < N; ++c) out[c] = comp[c] + fill[c];
        const bool gamma = f.params.gamma_correction != 0;
        if constexpr (Fmt::kAlpha) {
            if (f.straight_linear != 0) {
                writeStraight(out, px);
                return;
            }
        }
        if constexpr (Fmt::kInteger) {
            if (gamma) {
                for (int c = 0; c < N; ++c) out[c] = Fmt::clampChannel(out[c]);
                for (int c = 0; c < C; ++c) out[c] = encode(out[c]);
            }
            // With alpha or the encode, colour is divided by the unrounded alpha and every
            // channel rounded to nearest (the truncation would lose a level to the division's
            // and the table's rounding). An in-focus 8-bit pixel then keeps its value (an opaque
            // one with alpha); in 16-bit formats with the encode the decode and encode tables,
            // whose 32768 steps are coarser than the 16-bit levels where the curves are steep,
            // move it by up to 13 of 32768 levels (measured on every level, largest just above
            // the decode knee). Without either, the sum of an
            // in-focus pixel is exact and colour is truncated toward zero, so it keeps its value.
            if constexpr (Fmt::kAlpha) {
                if (!f.destination.premultiplied && out[Fmt::kA] > 0.0f) {
                    const float m = float(Fmt::kMax) / out[Fmt::kA];
                    for (int c = 0; c < C; ++c) out[c] = out[c] * m;
                }
            }
            if (Fmt::kAlpha || gamma) {
                for (int c = 0; c < N; ++c) px.v[c] = T(Fmt::clampChannel(out[c] + 0.5f));
            } else {
                for (int c = 0; c < N; ++c) px.v[c] = T(Fmt::clampChannel(out[c]));
            }
        } else {
            if (gamma)
                for (int c = 0; c < C; ++c) out[c] = float(linear_to_rec709(double(out[c])));
            if constexpr (Fmt::kAlpha) {
                if (!f.destination.premultiplied) divideByAlpha(out);
            }
            for (int c = 0; c < N; ++c) px.v[c] = std::isfinite(out[c]) ? out[c] : 0.0f;
        }
    }

    // The BT.709 encode of an integer-format colour in 0..MAX through encode_lut (the 16-bit
    // index in single precision, the 8-bit one in double).
    float encode(float v) const {
        int32_t idx;
        if constexpr (Fmt::k16) idx = int32_t(v * 3.0517578125e-5f * 32767.0f);
        else idx = int32_t(double(v) * 0.00392156862745098 * 32767.0);
        return f.encode_lut[idx];
    }

    // Float formats: colour divided by an alpha above 0 (a colour over a vanishing alpha, which
    // makes the reciprocal infinite, is divided in double precision instead).
    static void divideByAlpha(float* out) {
        if (!(out[Fmt::kA] > 0.0f)) return;
        const float m = 1.0f / out[Fmt::kA];
        for (int c = 0; c < C; ++c) {
            const float v = out[c] * m;
            out[c] = std::isfinite(v) ? v : float(double(out[c]) / double(out[Fmt::kA]));
        }
    }

    // The normal view's output of a source with transparency under gamma correction: colour
    // divided by alpha in linear light, then encoded straight (the curve is not linear, so
    // encoding premultiplied colour would brighten every partly transparent pixel); a
    // premultiplied destination takes the encoded colour times alpha. Alpha is clamped to
    // 0..MAX; the integer formats round every channel to nearest.
    void writeStraight(float* out, Pixel& px) const {
        if constexpr (Fmt::kAlpha) {
            const float a = Fmt::clampChannel(out[Fmt::kA]);
            out[Fmt::kA] = a;
            if constexpr (Fmt::kInteger) {
                if (a > 0.0f)
                    for (int c = 0; c < C; ++c) out[c] = float(double(out[c]) * Fmt::kMax / double(a));
                for (int c = 0; c < C; ++c) out[c] = encode(Fmt::clampChannel(out[c]));
                if (f.destination.premultiplied)
                    for (int c = 0; c < C; ++c) out[c] = float(double(out[c]) * double(a) * Fmt::kInvMax);
                for (int c = 0; c < N; ++c) px.v[c] = T(Fmt::clampChannel(out[c] + 0.5f));
            } else {
                // Below 1e-5 of full coverage the colour is the sums' rounding residue, which
                // the division would blow up: such a pixel is written clear, colour 0.
                if (a < 1e-5f) {
                    for (int c = 0; c < N; ++c) px.v[c] = 0.0f;
                    return;
                }
                divideByAlpha(out);
                for (int c = 0; c < C; ++c) out[c] = float(linear_to_rec709(double(out[c])));
                if (f.destination.premultiplied)
                    for (int c = 0; c < C; ++c) out[c] = out[c] * a;
                for (int c = 0; c < N; ++c) px.v[c] = std::isfinite(out[c]) ? out[c] : 0.0f;
            }
        }
    }

    void writeDensity(size_t ci, Pixel& px) const {
        const double e = double(excess[ci]);
        float ch[N] = {};
        if (e >= 0.0) {
            if constexpr (C >= 2) ch[1] = float((e < 1.0 ? e : 1.0) * Fmt::kMax);
        } else {
            ch[0] = float(e * -Fmt::kMax);
        }
        for (int c = 0; c < C; ++c) {
            if constexpr (Fmt::kInteger) px.v[c] = T(Fmt::clampChannel(ch[c]));
            else px.v[c] = ch[c];
        }
        if constexpr (Fmt::kAlpha) px.v[Fmt::kA] = T(Fmt::kMax);
    }

    uint32_t pass6() {
        const int32_t view = f.params.view;
        for (int32_t py = 0; py < H; ++py) {
            const int32_t cy = py - fr.pad_y;
            if (uint32_t(cy) < uint32_t(fr.tile_height) && (view == 1 || view == 6)) {
                const std::ptrdiff_t dy = std::ptrdiff_t(fr.tile_y) + cy;
                unsigned char* const row = f.destination.row_bytes(dy);
                for (int32_t cx = 0; cx < fr.tile_width; ++cx) {
                    const size_t i = at(cx + fr.pad_x, py), ci = coreAt(cx + fr.pad_x, py);
                    Pixel& out = *f.destination.in_row(row, std::ptrdiff_t(fr.tile_x) + cx);
                    if (view == 1) writeNormal(i, ci, out);
                    else writeDensity(ci, out);
                }
            }
            if (const uint32_t st = progress(true); st != ok) return st;
        }
        return ok;
    }
};

}  // namespace dof_tiles

template <class Img, class Depth>
template <bool Highlights>
uint32_t DepthOfFieldFilter<Img, Depth>::render_callback(uint32_t thread_index,
                                                         uint32_t thread_iterations,
                                                         uint32_t /*threadID*/) {
    LogTrace("tread index: ", thread_index, " - Entering render callback\n");
    uint32_t status = host->StatusOk();
    // The worker's buffers are those of the slot it takes now, whichever pool thread runs it;
    // a worker beyond the slots (a pool with more threads than items) does no work.
    const int32_t slot = take_slot();
    if (slot < 0 || slot >= buffer_slots) return status;
    for (;;) {
        const int32_t tile = take_tile();
        const int32_t count = tiles.rows * tiles.cols;
        if (tile >= count) return status;
        LogTrace("tread index: ", thread_index, " - calling render chunk for tile ", tile, " of ",
                 count, "\n");
        status = render_chunk<Highlights>(tile, thread_iterations, uint32_t(slot));
        if (status != host->StatusOk()) return status;
    }
}

template <class Img, class Depth>
template <bool Highlights>
uint32_t DepthOfFieldFilter<Img, Depth>::render_chunk(int32_t tile, uint32_t thread_iterations,
                                                      uint32_t slot) {
    const uint32_t t = uint32_t(tile);
    LogTrace("tread index: ", t, " - entering render_chunk (thread_index (", t,
             "), thread_iterations (", thread_iterations, "), threadID (", slot, ")\n");
    dof_tiles::ChunkRenderer<DepthOfFieldFilter<Img, Depth>, Highlights> chunk(*this, tile, slot);
    const uint32_t status = chunk.run();
    LogTrace("tread index: ", t, " - return (", status, ") thread_index (", t,
             "), thread_iterations (", thread_iterations, "), threadID (", slot, ")\n");
    return status;
}

}  // namespace ov

// The explicit instances of the tile renderer of one host format (both variants), for the
// per-format instance files: PEL_DOF_TILE_INSTANCES(RGB, U8).
#define PEL_DOF_TILE_INSTANCES(F, H)                                                               \
    template uint32_t PEL_DOF_FILTER(F, H)::render_callback<true>(uint32_t, uint32_t, uint32_t);  \
    template uint32_t PEL_DOF_FILTER(F, H)::render_callback<false>(uint32_t, uint32_t, uint32_t); \
    template uint32_t PEL_DOF_FILTER(F, H)::render_chunk<true>(int32_t, uint32_t, uint32_t);      \
    template uint32_t PEL_DOF_FILTER(F, H)::render_chunk<false>(int32_t, uint32_t, uint32_t);
