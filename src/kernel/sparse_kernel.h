// A sparse aperture kernel from a gray mask image.
//
// Turns a packed gray mask into an IrisKernel of the same form the polygon rasteriser draws:
// per kernel row, a change record {d, d, x} at each column where the mask's level differs
// by more than 0.002 from the level last recorded in the row, a closing record at
// x = W - W / 2 when the row ends above 0, and the row end record. Mask row r is kernel
// row r - H / 2, mask column c the offset c - W / 2. Levels: 8-bit samples / 255, 16-bit
// samples / 32768 (nothing clamped), float samples as stored; coverage_delta equals
// weight_delta. sum is the total of the recorded levels over all pixels, inv_sum 1 / sum or
// 0; radius is not written.
//
// Ownership: the builder allocates one block through AllocateMemory (48 H + 72 H (W + 92)
// bytes) and stores it in `buffer`; the kernel owns it until releaseIrisKernel. A block the
// kernel already owned is not released. Runs on the calling thread.
//
// Statuses: StatusOk (also for a mask without rows: a kernel whose row range is empty),
// StatusOutOfMemory (no block, or a block size beyond 32 bits; buffer null, nothing else
// written), or the answer of a progress report (ReportProgress(50, 100) after each row)
// that was not StatusOk; inv_sum is set from the rows built also then.
#pragma once

#include <cstdint>

#include "kernel/iris_kernel.h"
#include "pixel/formats.h"

// The block size for a W x H mask in 64 bits: 48 H + 72 H (W + 92).
uint64_t sparseKernelBufferSize(uint32_t width, uint32_t height);

// Members for the three packed gray masks (only width, height, rowBytes and data are read).
uint32_t buildSparseKernelFromMask(IrisKernel* kernel, const ov::ImgPackedGray_U8& mask,
                                   ov::OstrovanneHost* host);
uint32_t buildSparseKernelFromMask(IrisKernel* kernel, const ov::ImgPackedGray_U16& mask,
                                   ov::OstrovanneHost* host);
uint32_t buildSparseKernelFromMask(IrisKernel* kernel, const ov::ImgWorkGray_F1& mask,
                                   ov::OstrovanneHost* host);

// The same, for callers that hold the mask by pointer.
template <class Mask>
inline uint32_t buildSparseKernelFromMask(IrisKernel* kernel, const Mask* mask,
                                          ov::OstrovanneHost* host) {
  return buildSparseKernelFromMask(kernel, *mask, host);
}
