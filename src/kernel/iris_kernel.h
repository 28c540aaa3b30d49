// The sparse aperture kernel and its polygon rasteriser.
//
// An IrisKernel stores, per kernel row, only the columns where the kernel's weight changes:
// a KernelDeltaRecord {weight_delta, coverage_delta, x} at each such column, in increasing
// x, and after them the row end record {0, 0, kKernelRowEnd}. A reader rebuilds a row by
// walking its records left to right with a running sum; the weight of pixel x is the sum of
// weight_delta over the row's records at or left of x, and the normalised weight is that
// sum times inv_sum. Rows run from -half_height to +half_height; the row tables are indexed
// by row + half_height.
//
// Block layout (one block per kernel; m = half_height): the row_count table (2m + 1 int32),
// directly after it the row_first table (2m + 1 int32), then the records of row -m .. m.
//
// Ownership: buildIrisKernel writes into a block the caller provides, sized by
// kernelBufferSize, and leaves `buffer` null (the caller keeps the block; several kernels
// may share one store, each build getting the store's address plus the sizes of the kernels
// before it). buildSparseKernelFromMask allocates the block itself and stores it in
// `buffer`; releaseIrisKernel gives it back.
//
// Statuses are the host's: StatusOk, StatusOutOfMemory, or what ReportProgress answered.
#pragma once

#include <cstdint>

namespace ov {
class OstrovanneHost;
}

// One change of a kernel row. 12 bytes, packed in arrays without gaps.
struct KernelDeltaRecord {
  float weight_delta;    // weight of pixel x minus weight of pixel x - 1 (not normalised)
  float coverage_delta;  // the same for the plain coverage (the shape without its border)
  int32_t x;             // column offset from the centre; kKernelRowEnd ends the row
};
static_assert(sizeof(KernelDeltaRecord) == 12, "KernelDeltaRecord is 12 packed bytes");

// The x of a row end record: larger than any column offset a row can hold, so a reader that
// compares columns never stops inside a row at it.
inline constexpr int32_t kKernelRowEnd = 0x3fffffff;

struct IrisKernel {
  KernelDeltaRecord* records;  // first record of the first row; all rows follow one another
  int32_t* row_count;          // per row: change records, the row end record not counted
  int32_t* row_first;          // per row: index into records of the row's first record
  int32_t top_row;             // first row holding a change record
  int32_t bottom_row;          // last row holding one; top_row > bottom_row: no such row
  int32_t half_height;         // kernel row r is table entry r + half_height
  double inv_sum;              // 1 / sum, or 0 when sum is 0
  double sum;                  // total weight; 1.0 after normalising a small kernel
  double radius;               // horizontal radius the rasteriser built for
  void* buffer;                // a block the kernel owns (mask kernels), else null

  // Pointers and buffer null, extents 0. (sum, inv_sum and radius are the builders' to set;
  // they start at 0 here rather than undefined.)
  IrisKernel();
  // Forgets the row tables and records without freeing anything; buffer is left alone.
  void clear();

  // Whether rows top_row .. bottom_row are an empty range.
  bool empty() const { return top_row > bottom_row; }
  // Number of change records of row r (table entry r + half_height).
  int32_t rowCount(int32_t r) const { return row_count[r + half_height]; }
  // The first record of row r.
  const KernelDeltaRecord* rowRecords(int32_t r) const {
    return records + row_first[r + half_height];
  }

  // Walks row r: calls fn(x0, x1, weight, coverage) for each run of columns [x0, x1) between
  // two consecutive change records, with the raw running sums (doubles, not multiplied by
  // inv_sum). The columns left of the first record and from the last record on weigh 0
  // (up to the rounding of the recorded changes).
  template <class Fn>
  void forEachRun(int32_t r, Fn&& fn) const {
    const int32_t c = rowCount(r);
    const KernelDeltaRecord* rec = rowRecords(r);
    double weight = 0.0;
    double coverage = 0.0;
    for (int32_t k = 0; k + 1 < c; ++k) {
      weight += rec[k].weight_delta;
      coverage += rec[k].coverage_delta;
      fn(rec[k].x, rec[k + 1].x, weight, coverage);
    }
  }
};

// The size in bytes of the block buildIrisKernel writes for these three values, in 64 bits:
// n = trunc(radius + 1) (0 for a negative radius), m = trunc(n * max(aspect, 0.05)) + 1
// (an aspect of 0.05 or less, or not a number, counts as 0.05), K = 12 record slots per unit
// when border_bias is 0, else 22; 2 * (8m + 4) + 1 + (24 * max(n, m) + 12) * K bytes.
// UINT64_MAX when the extent itself cannot be formed (a radius or an extent that is not a
// finite number below 2^40).
uint64_t kernelBufferSize64(double radius, double border_bias, double aspect);

// The same as a 32-bit byte count, the size type of AllocateMemory. 0 when the size does
// not fit in 32 bits: callers refuse such a kernel as StatusOutOfMemory.
uint32_t kernelBufferSize(double radius, double border_bias, double aspect);

// Draws the anti-aliased iris polygon into `kernel`, in `buffer` (at least
// kernelBufferSize(radius, border_bias, aspect) bytes, owned by the caller):
//   radius       horizontal radius in pixels (circumradius of the outer polygon)
//   roundness    0 straight facets .. towards 1 arcs close to the circumcircle; > 0.999 = 0.999
//   facets       number of facets; > 1000 counts as 1000, < 3 as 3
//   angle        rotation in radians
//   border       width of the border ring as a fraction of the radius
//   border_bias  brightness of the ring against the inside, -1 .. 1 (0: no ring)
//   aspect       vertical / horizontal radius; 0.05 or less counts as 0.05
// Calls ReportProgress(0, 1) before every row and stops at the first other answer, which it
// returns (the kernel is then not normalised and must not be read). A size that does not fit
// in 32 bits is refused with StatusOutOfMemory before anything is written. On StatusOk a
// kernel whose total weight lies in (0, 1) is scaled to sum 1; inv_sum = 1 / sum, or 0 for
// an empty aperture (sum 0, top_row > bottom_row).
uint32_t buildIrisKernel(IrisKernel* kernel, void* buffer, double radius, double roundness,
                         int32_t facets, double angle, double border, double border_bias,
                         double aspect, ov::OstrovanneHost* host);

// The form of callers that pass a weight transfer table and a trailing flag: the table is
// always absent in this system; both are ignored.
uint32_t buildIrisKernel(IrisKernel* kernel, void* buffer, double radius, double roundness,
                         int32_t facets, double angle, double border, double border_bias,
                         double aspect, const float* table, int32_t table_size,
                         ov::OstrovanneHost* host, int32_t flag = 0);

// Gives the kernel's own block back through FreeMemory and sets buffer to null (a null
// buffer is passed on and ignored).
void releaseIrisKernel(IrisKernel* kernel, ov::OstrovanneHost* host);
