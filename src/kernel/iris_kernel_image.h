// The iris kernel image: the aperture drawn as a float image, centred on (W / 2, H / 2).
//
// Two sources: without iris image data the polygon of the out-of-focus settings' iris fields
// (rasterised by buildIrisKernel into one block from AllocateMemory, then integrated row by
// row into the image); with data, the iris image (the selection used as the aperture)
// resampled to the kernel's diameter by ov::ZoomFilter and turned to its luminance unless
// keep_color is set. Either may then be softened in place by ov::GlowFilter when the iris
// softness is above 0. The values are not normalised: every colour sample holds the kernel
// value times MAX.
//
// Contract: the caller clears a format without alpha beforehand (the polygon path writes only
// the kernel's rows, up to each row's last change); formats with alpha are filled with
// colour 0, alpha MAX first. Progress: the caller's pass p of P becomes passes 3p (zoom),
// 3p + 1 (fill or grey conversion) and 3p + 2 (glow) of 3P. Statuses: StatusOk,
// StatusOutOfMemory (no block for the polygon, or a kernel whose block would not fit in
// 32 bits: nothing drawn), or the first other status of a step; the block is given back on
// every path. Runs on the calling thread; the fill, zoom and glow run their rows in parallel.
#pragma once

#include <cstdint>

#include "core/host.h"
#include "kernel/glow_filter.h"
#include "outoffocus/out_of_focus_params.h"
#include "pixel/formats.h"

// The kernel diameter in full-resolution pixels: 2 x blur_radius, or in the iris view
// (view 2) 100 (W sx / 640 + H sy / 480), kept below half of either side.
double irisKernelDiameter(const OutOfFocusParams& params, uint32_t width, uint32_t height);

// One member per float kernel format (six layouts at MAX 1, 255 and 32768).
template <class KernelView>
uint32_t buildIrisKernelImage(KernelView kernelImage, ov::ImgMask8 irisImage,
                              OutOfFocusParams params, uint32_t pass, uint32_t passCount,
                              ov::OstrovanneHost* host);

#define PEL_KERNEL_IMAGE_EXTERN(V)                                                           \
  extern template uint32_t buildIrisKernelImage<ov::V>(ov::V, ov::ImgMask8, OutOfFocusParams, \
                                                       uint32_t, uint32_t, ov::OstrovanneHost*);
PEL_KERNEL_FORMATS(PEL_KERNEL_IMAGE_EXTERN)
#undef PEL_KERNEL_IMAGE_EXTERN
