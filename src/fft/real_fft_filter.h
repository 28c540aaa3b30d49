// ov::RealFFFFilter: the unnormalised two-dimensional real FFT of an image of float pixels,
// in place, and its inverse.
//
// Contract
// - `array` is a packed view of N + 2 by M pixels (N = width - 2 and M = height, powers of
//   two, N >= 2). The caller owns it, sets `rowsUsed` (at most M; larger values count as M)
//   and calls forward and later inverse; scratch slots start null (the constructor does it).
// - forward: rows 0 .. rowsUsed - 1 are transformed as N real values each, then the N/2 + 1
//   complex columns. The result is the half spectrum: row l holds S(l, k), k = 0 .. N/2, in
//   pixels 2k (real parts) and 2k + 1 (imaginary parts), with the positive exponent. Rows
//   from rowsUsed on enter the column pass as they stand (zero for the plain transform).
// - inverse: the columns with the negative exponent, then rows 0 .. min(M, rowsUsed + 1) - 1.
//   forward then inverse gives N x M / 2 times the input in pixels 0 .. N - 1.
// - Sizes the transform cannot take (N below 2, N or M not a power of two) are refused with
//   StatusOutOfMemory before anything is touched.
// - Samples never mix; results are the same bits for any thread count.
// - Statuses: StatusOk; StatusOutOfMemory when a block cannot be had (nothing leaks, the
//   array is part-transformed); otherwise the first status a progress report returned.
// - Progress: one report per row and per complex column, done = pass x stepsPerPass + the
//   transform's running count (taken atomically), total = passCount x stepsPerPass, with
//   stepsPerPass = rowsUsed + N/2 + 1.
//
// Skeleton: forward allocates its plan (the twiddle tables of this direction and the
// transform of an all-zero row), runs the rows through ParallelRun, allocates one column
// buffer per thread, runs the chunks of columns, frees everything. inverse allocates plan and
// buffers, runs the column chunks, frees the buffers, runs the rows and frees the plan.
//
// Memory through the render context: the plan (16 bytes per twiddle pair, plus one row
// forward) and one column buffer per thread: 2M pixels on the reference path ((M + 2) x 2
// pixels forward, M x 2 pixels + 4 bytes inverse), 2M wide pixels of G x S floats on the fast
// path. Sizes are formed in 64 bits; a block beyond 32 bits is refused as out of memory.
//
// Two paths compute the same bits. The reference path (`referencePath` true) is the plain
// form: complexFFT and realFFTSplit per row, one gathered column at a time. The fast path
// (the default) takes its twiddles from tables filled once per transform, copies the
// transform of a zero row onto rows that are all +0.0 (most of a kernel grid), and gathers
// G adjacent complex columns per trip into wide pixels, already in bit-reversed order, so
// that one transform serves G columns with SIMD lanes across their samples.
#pragma once

#include <algorithm>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "core/ostrovanne_filter.h"
#include "fft/fft.h"
#include "fft/fft_guts.h"
#include "fft/fft_pixels.h"
#include "pixel/pixel_array.h"

namespace ov {

template <class Array>
class RealFFFFilter : public OstrovanneFilter {
public:
    using Pixel = typename Array::pixel_type;
    static_assert(Array::b_flag == 0, "the transform buffer is packed");
    static_assert(Pixel::is_float, "the transform works on float pixels");
    static constexpr int S = Pixel::sample_count;
    static constexpr uint32_t kScratchSlots = 1024;
    // Complex columns gathered per trip on the fast path: about 16 floats per wide pixel.
    static constexpr int G = S >= 16 ? 1 : 16 / S;
    static constexpr int L = G * S;

    explicit RealFFFFilter(OstrovanneHost* host_ = nullptr) : OstrovanneFilter(host_) {}

    // Not a render filter: forward and inverse are its operations. render is forward.
    uint32_t render(uint32_t pass_, uint32_t passCount_) override { return forward(pass_, passCount_); }

    uint32_t forward(uint32_t pass_, uint32_t passCount_);
    uint32_t inverse(uint32_t pass_, uint32_t passCount_);

    // The parallel jobs (thread_index = row or chunk, thread_iterations, threadID).
    uint32_t forward_row(uint32_t thread_index, uint32_t thread_iterations, uint32_t threadID);
    uint32_t inverse_row(uint32_t thread_index, uint32_t thread_iterations, uint32_t threadID);
    uint32_t forward_columns(uint32_t thread_index, uint32_t thread_iterations, uint32_t threadID);
    uint32_t inverse_columns(uint32_t thread_index, uint32_t thread_iterations, uint32_t threadID);

    uint32_t rowsUsed = 0;
    Array array;
    void* scratch[kScratchSlots] = {};
    int32_t columnLength = 0;  // M
    int32_t rowLength = 0;     // N
    std::atomic<uint32_t> progressCount{0};
    uint32_t stepsPerPass = 0;
    // Test switch: the plain reference loops instead of the fast kernels (same bits).
    bool referencePath = false;

private:
    struct Plan {
        double* complexTw = nullptr;  // this direction, covers max(N/2, M) values
        double* splitTw = nullptr;    // the split of N real values, this direction
        Pixel* zeroRow = nullptr;     // forward only: the row transform of an all-zero row
    };

    void set_fields(uint32_t pass_, uint32_t passCount_);
    bool sizes_fit() const {
        auto power = [](uint32_t v) { return v != 0 && (v & (v - 1)) == 0; };
        return array.width >= 4 && power(array.width - 2) && power(array.height);
    }
    uint32_t rows_to_forward() const { return std::min<uint32_t>(rowsUsed, uint32_t(columnLength)); }
    Pixel* row_start(uint32_t y) const { return reinterpret_cast<Pixel*>(array.row_bytes(y)); }
    uint32_t report();
    // Chunks of the column pass for k threads (k column buffers): k on the reference path;
    // on the fast path up to 4k while every chunk keeps at least G columns, so that a thread
    // held up elsewhere does not hold back the pass. A chunk runs in the buffer of its thread.
    uint32_t column_chunks(uint32_t k) const {
        if (referencePath) return k;
        const uint32_t h = uint32_t(rowLength / 2);
        return std::max(k, std::min(4 * k, h / uint32_t(G)));
    }
    bool allocate_plan(int32_t isign);
    void free_plan();
    uint32_t allocate_scratch(uint32_t k, uint64_t bytes);
    void free_scratch(uint32_t k);
    void forward_row_of(Pixel* r) const;
    void transform_row(Pixel* r) const;
    void inverse_row_of(Pixel* r) const;
    uint32_t columns(uint32_t chunk, uint32_t chunks, uint32_t threadID, int32_t isign);
    void column_reference(Pixel* b, uint32_t x, int32_t isign) const;
    template <int W>
    void column_group(float* b, uint32_t x) const;

    void* planBlock_ = nullptr;
    Plan plan_;
};

// ---- implementation -------------------------------------------------------------------

template <class Array>
void RealFFFFilter<Array>::set_fields(uint32_t pass_, uint32_t passCount_) {
    rowLength = static_cast<int32_t>(array.width) - 2;
    columnLength = static_cast<int32_t>(array.height);
    pass = pass_;
    passCount = passCount_;
    progressCount.store(0, std::memory_order_relaxed);
    stepsPerPass = uint32_t(rowLength / 2) + rows_to_forward() + 1;
}

template <class Array>
uint32_t RealFFFFilter<Array>::report() {
    const uint32_t count = progressCount.fetch_add(1, std::memory_order_relaxed);
    return host->ReportProgress(pass * stepsPerPass + count, passCount * stepsPerPass);
}

template <class Array>
bool RealFFFFilter<Array>::allocate_plan(int32_t isign) {
    const uint32_t N = uint32_t(rowLength), M = uint32_t(columnLength);
    const uint32_t nnMax = std::max(N / 2, M);
    const uint64_t cPairs = fft_guts::complexTwiddlePairs(nnMax);
    const uint64_t sPairs = fft_guts::splitTwiddlePairs(N);
    const uint64_t zeroBytes = isign == 1 ? uint64_t(N + 2) * sizeof(Pixel) : 0;
    const uint64_t bytes = 16 * (cPairs + sPairs) + zeroBytes + 16;
    if (bytes > UINT32_MAX) return false;
    planBlock_ = host->AllocateMemory(static_cast<uint32_t>(bytes));
    if (!planBlock_) return false;
    double* d = static_cast<double*>(planBlock_);
    plan_.complexTw = d;
    plan_.splitTw = d + 2 * cPairs;
    fft_guts::fillComplexTwiddles(plan_.complexTw, nnMax, isign);
    fft_guts::fillSplitTwiddles(plan_.splitTw, N, isign);
    plan_.zeroRow = nullptr;
    if (isign == 1) {
        Pixel* zero = reinterpret_cast<Pixel*>(d + 2 * (cPairs + sPairs));
        std::memset(static_cast<void*>(zero), 0, zeroBytes);
        transform_row(zero);
        plan_.zeroRow = zero;
    }
    return true;
}

template <class Array>
void RealFFFFilter<Array>::free_plan() {
    host->FreeMemory(planBlock_);
    planBlock_ = nullptr;
    plan_ = Plan{};
}

template <class Array>
uint32_t RealFFFFilter<Array>::allocate_scratch(uint32_t k, uint64_t bytes) {
    for (uint32_t i = 0; i < k; ++i) scratch[i] = nullptr;
    if (bytes > UINT32_MAX) return host->StatusOutOfMemory();
    for (uint32_t i = 0; i < k; ++i) {
        scratch[i] = host->AllocateMemory(static_cast<uint32_t>(bytes));
        if (!scratch[i]) return host->StatusOutOfMemory();
    }
    return host->StatusOk();
}

template <class Array>
void RealFFFFilter<Array>::free_scratch(uint32_t k) {
    for (uint32_t i = 0; i < k; ++i) {
        host->FreeMemory(scratch[i]);
        scratch[i] = nullptr;
    }
}

// The fast path copies the transform of an all-zero row onto a row whose N values are all
// +0.0 (every bit zero): the transform is a function of the bits, so the copy is exact,
// signed zeros included (a row of -0.0 is transformed).
template <class Array>
void RealFFFFilter<Array>::forward_row_of(Pixel* r) const {
    if (!referencePath && plan_.zeroRow) {
        const uint32_t N = uint32_t(rowLength);
        const unsigned char* bytes = reinterpret_cast<const unsigned char*>(r);
        const size_t count = size_t(N) * sizeof(Pixel);
        size_t i = 0;
        while (i < count && bytes[i] == 0) ++i;
        if (i == count) {
            std::memcpy(static_cast<void*>(r), plan_.zeroRow, (size_t(N) + 2) * sizeof(Pixel));
            return;
        }
    }
    transform_row(r);
}

// complexFFT (N/2, +1) and realFFTSplit (N, +1), then F_(N/2) from pixel 1 to pixel N and
// zeros in pixels 1 and N + 1.
template <class Array>
void RealFFFFilter<Array>::transform_row(Pixel* r) const {
    const uint32_t N = uint32_t(rowLength);
    if (referencePath) {
        complexFFT(r, N / 2, +1);
        realFFTSplit(r, N, +1);
    } else {
        float* f = reinterpret_cast<float*>(r);
        fft_guts::complexFFT<S>(f, N / 2, plan_.complexTw);
        fft_guts::realFFTSplit<S>(f, N, +1, plan_.splitTw);
    }
    r[N] = r[1];
    for (int s = 0; s < S; ++s) r[N + 1].v[s] = 0.0f;
    for (int s = 0; s < S; ++s) r[1].v[s] = 0.0f;
}

template <class Array>
void RealFFFFilter<Array>::inverse_row_of(Pixel* r) const {
    const uint32_t N = uint32_t(rowLength);
    r[1] = r[N];
    if (referencePath) {
        realFFTSplit(r, N, -1);
        complexFFT(r, N / 2, -1);
    } else {
        float* f = reinterpret_cast<float*>(r);
        fft_guts::realFFTSplit<S>(f, N, -1, plan_.splitTw);
        fft_guts::complexFFT<S>(f, N / 2, plan_.complexTw);
    }
}

template <class Array>
uint32_t RealFFFFilter<Array>::forward_row(uint32_t thread_index, uint32_t, uint32_t) {
    forward_row_of(row_start(thread_index));
    return report();
}

template <class Array>
uint32_t RealFFFFilter<Array>::inverse_row(uint32_t thread_index, uint32_t, uint32_t) {
    inverse_row_of(row_start(thread_index));
    return report();
}

template <class Array>
uint32_t RealFFFFilter<Array>::forward_columns(uint32_t thread_index, uint32_t thread_iterations,
                                               uint32_t threadID) {
    return columns(thread_index, thread_iterations, threadID, +1);
}

template <class Array>
uint32_t RealFFFFilter<Array>::inverse_columns(uint32_t thread_index, uint32_t thread_iterations,
                                               uint32_t threadID) {
    return columns(thread_index, thread_iterations, threadID, -1);
}

// One complex column x, gathered into b as 2M pixels, transformed and scattered back.
template <class Array>
void RealFFFFilter<Array>::column_reference(Pixel* b, uint32_t x, int32_t isign) const {
    const uint32_t M = uint32_t(columnLength);
    for (uint32_t r = 0; r < M; ++r) {
        const Pixel* row = row_start(r);
        b[2 * r] = row[2 * x];
        b[2 * r + 1] = row[2 * x + 1];
    }
    complexFFT(b, M, isign);
    for (uint32_t r = 0; r < M; ++r) {
        Pixel* row = row_start(r);
        row[2 * x] = b[2 * r];
        row[2 * x + 1] = b[2 * r + 1];
    }
}

// W adjacent complex columns x .. x + W - 1 as one column of wide pixels (W x S floats):
// row r's real parts go to wide pixel 2 rev(r), its imaginary parts to 2 rev(r) + 1, rev
// being the bit reversal that complexFFT would apply, so the kernel skips its own.
template <class Array>
template <int W>
void RealFFFFilter<Array>::column_group(float* b, uint32_t x) const {
    constexpr int WL = W * S;
    const uint32_t M = uint32_t(columnLength);
    const uint32_t n = M << 1;
    uint32_t j = 1;  // the reference's bit-reversal walk: value (i - 1)/2 meets (j - 1)/2
    for (uint32_t i = 1; i < n; i += 2) {
        const float* src = reinterpret_cast<const float*>(row_start((i - 1) / 2) + 2 * x);
        float* re = b + size_t(j - 1) * WL;
        float* im = re + WL;
        for (int c = 0; c < W; ++c) {
            std::memcpy(re + c * S, src + (2 * c) * S, sizeof(float) * S);
            std::memcpy(im + c * S, src + (2 * c + 1) * S, sizeof(float) * S);
        }
        uint32_t m = n >> 1;
        while (m >= 2 && j > m) {
            j -= m;
            m >>= 1;
        }
        j += m;
    }
    fft_guts::complexFFT<WL>(b, M, plan_.complexTw, /*reorder=*/false);
    for (uint32_t r = 0; r < M; ++r) {
        float* dst = reinterpret_cast<float*>(row_start(r) + 2 * x);
        const float* re = b + size_t(2 * r) * WL;
        const float* im = re + WL;
        for (int c = 0; c < W; ++c) {
            std::memcpy(dst + (2 * c) * S, re + c * S, sizeof(float) * S);
            std::memcpy(dst + (2 * c + 1) * S, im + c * S, sizeof(float) * S);
        }
    }
}

template <class Array>
uint32_t RealFFFFilter<Array>::columns(uint32_t chunk, uint32_t chunks, uint32_t threadID,
                                       int32_t isign) {
    uint32_t status = host->StatusOk();
    const uint32_t h = uint32_t(rowLength / 2);
    const uint32_t c = h / chunks;
    const uint32_t first = chunk * c;
    const uint32_t end = chunk == chunks - 1 ? h + 1 : first + c;
    void* b = scratch[threadID];
    uint32_t x = first;
    while (x < end) {
        uint32_t done = 1;
        if (referencePath) {
            column_reference(static_cast<Pixel*>(b), x, isign);
        } else if (G > 1 && end - x >= uint32_t(G)) {
            column_group<G>(static_cast<float*>(b), x);
            done = G;
        } else {
            column_group<1>(static_cast<float*>(b), x);
        }
        x += done;
        for (uint32_t k = 0; k < done; ++k) {
            status = report();
            if (status != host->StatusOk()) return status;
        }
    }
    return status;
}

template <class Array>
uint32_t RealFFFFilter<Array>::forward(uint32_t pass_, uint32_t passCount_) {
    if (!sizes_fit()) return host->StatusOutOfMemory();
    set_fields(pass_, passCount_);
    const uint32_t M = uint32_t(columnLength);
    const uint32_t rows = rows_to_forward();
    if (!referencePath && !allocate_plan(+1)) return host->StatusOutOfMemory();
    uint32_t status = host->ParallelRun(
        rows, [this](uint32_t i, uint32_t n, uint32_t t) { return forward_row(i, n, t); });
    const uint32_t k = static_cast<uint32_t>(
        host->GetThreadCount(std::max<int32_t>(int32_t(rows) / 2 + 1, int32_t(kScratchSlots))));
    if (status == host->StatusOk()) {
        const uint64_t bytes = referencePath ? (uint64_t(M) + 2) * 2 * sizeof(Pixel)
                                             : uint64_t(M) * 2 * L * sizeof(float);
        status = allocate_scratch(k, bytes);
        if (status == host->StatusOk())
            status = host->ParallelRun(column_chunks(k), [this](uint32_t i, uint32_t n, uint32_t t) {
                return forward_columns(i, n, t);
            });
        free_scratch(k);
    }
    free_plan();
    return status;
}

template <class Array>
uint32_t RealFFFFilter<Array>::inverse(uint32_t pass_, uint32_t passCount_) {
    if (!sizes_fit()) return host->StatusOutOfMemory();
    set_fields(pass_, passCount_);
    const uint32_t N = uint32_t(rowLength), M = uint32_t(columnLength);
    if (!referencePath && !allocate_plan(-1)) return host->StatusOutOfMemory();
    const uint32_t k = static_cast<uint32_t>(
        host->GetThreadCount(std::max<int32_t>(int32_t(N / 2) + 1, int32_t(kScratchSlots))));
    const uint64_t bytes = referencePath ? uint64_t(M) * 2 * sizeof(Pixel) + 4
                                         : uint64_t(M) * 2 * L * sizeof(float);
    uint32_t status = allocate_scratch(k, bytes);
    if (status == host->StatusOk())
        status = host->ParallelRun(column_chunks(k), [this](uint32_t i, uint32_t n, uint32_t t) {
            return inverse_columns(i, n, t);
        });
    free_scratch(k);
    if (status == host->StatusOk()) {
        const uint32_t rows = std::min<uint32_t>(M, rows_to_forward() + 1);
        status = host->ParallelRun(
            rows, [this](uint32_t i, uint32_t n, uint32_t t) { return inverse_row(i, n, t); });
    }
    free_plan();
    return status;
}

#define OV_FFT_EXTERN_REAL_FILTER(P) extern template class RealFFFFilter<WorkView<P>>;
OV_FFT_PIXEL_TYPES(OV_FFT_EXTERN_REAL_FILTER)
#undef OV_FFT_EXTERN_REAL_FILTER

}  // namespace ov
