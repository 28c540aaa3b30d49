// ov::OutOfFocusFilter: the lens blur of the out-of-focus effect, one large convolution of
// the edge-extended image with the iris kernel through real two-dimensional FFTs.
//
// Skeleton of render(pass, passCount):
//   decide the highlight flags; size the grids (an empty destination returns StatusOk at
//   once; a grid whose bytes do not fit the host's 32-bit allocation size returns
//   StatusOutOfMemory before anything is taken); take four blocks through AllocateMemory
//   (kernel grid, toLinearTable, fromLinearTable, image grid; if one is null all four go
//   back and the result is StatusOutOfMemory, the destination untouched); fill the transfer
//   tables; run nine progress steps, each at pass 9p + k of 9P, while the status is StatusOk:
//     0 clear the kernel grid            1 draw the iris kernel into kernelWindow
//     2 prepare_slice bands (image grid) 3 move the kernel centre to the grid origin,
//                                          linearise, clip to the grid's safe reach, sum in
//                                          double and normalise each plane to a total of 1
//     4 forward transform of the kernel  5 forward transform of the image (all grid rows)
//     6 spectrum product                 7 inverse transform of the image
//     8 render_slice bands (destination)
//   then free the four blocks (toLinearTable, fromLinearTable, kernel, image) on every road
//   and return the first status other than StatusOk. A kernel whose total is 0 (or not a
//   positive number) copies the source into the destination in step 8 instead.
//
// Ownership: the object owns no memory between renders; the four work views and the two
// table pointers refer to memory only while render runs. The input views are the caller's.
// Statuses: StatusOk, StatusOutOfMemory, or the first other status of a step (a refused
// progress report gives StatusCancelled). Every destination sample is written in step 8.
//
// Sizes (per axis, see computeOutOfFocusGeometry): the margin is the larger of
// trunc(r + 1) + trunc(2 r s / (W sx + H sy)) and the kernel's real reach (aspect stretch,
// softening, the selection as iris), the padded side is capped at three image sides and
// rounded up to even, and the kernel is clipped to the margin the grid really has, so that
// no image pixel ever takes a neighbour from the opposite edge's fill.
#pragma once

#include <cstdint>

#include "core/ostrovanne_filter.h"
#include "outoffocus/out_of_focus_params.h"
#include "pixel/formats.h"

namespace ov {

// The selection used as the iris, as far as the grid size depends on it.
struct IrisImageExtent {
    uint32_t width = 0;
    uint32_t height = 0;
    double scale = 1.0;
};

// The sizes of one render. All values are non-negative; the padded sides are even, the
// transform sides powers of two not smaller than them.
struct OutOfFocusGeometry {
    int32_t margin = 0;        // trunc(r + 1) + softness allowance, both axes
    int32_t reachX = 0;        // the drawn kernel's largest column offset from its centre
    int32_t reachY = 0;        // ... largest row offset
    int32_t marginX = 0;       // max(margin, reachX)
    int32_t marginY = 0;       // max(margin, reachY)
    int32_t paddedWidth = 0;   // W + 2 marginX, capped at 3 W, rounded up to even
    int32_t paddedHeight = 0;
    int32_t fftWidth = 0;      // nextPowerOfTwo(paddedWidth)
    int32_t fftHeight = 0;
    int32_t fftRowLength = 0;  // fftWidth + 2 elements per grid row
    int32_t imageX = 0;        // grid column of image column 0: (paddedWidth - W) / 2
    int32_t imageY = 0;        // grid row of image row 0: (paddedHeight - H) / 2
};

// Sizes for a W x H destination. kernelScale is the `scale` of the source (the kernel
// window's scale); iris is null when the iris settings are drawn, else the selection's
// extent. Returns false (nothing to render, or sizes beyond 2^30 per side) for W or H of 0
// and for sides that cannot be transformed; the caller then returns StatusOk (empty) or
// StatusOutOfMemory.
bool computeOutOfFocusGeometry(uint32_t width, uint32_t height, const OutOfFocusParams& params,
                               double kernelScale, const IrisImageExtent* iris,
                               OutOfFocusGeometry& geometry);

// The BT.709 transfer tables, 32768 entries each, entry i for x = i / 32767: toLinear the
// decoding of x (x itself without gamma), fromLinear the encoding of x times maxValue
// (x times maxValue without gamma).
inline constexpr int kTransferTableSize = 32768;
void fillTransferTables(float* toLinear, float* fromLinear, bool gammaCorrection,
                        double maxValue);

// The kernel pixel of a filter instance: one gray float sample (ColorKernel 0), or the
// working pixel of the format (ColorKernel 1).
template <class Src, int ColorKernel>
using OutOfFocusKernelOf =
    WorkView<std::conditional_t<ColorKernel == 0, PxWorkGray_F1,
                                WorkPixelOf<typename Src::pixel_type, 0, 1>>>;

template <class Src, class Dst, class Sel, int ColorKernel, class Kernel>
class OutOfFocusFilter : public OstrovanneFilter {
public:
    using SrcPixel = typename Src::pixel_type;
    using DstPixel = typename Dst::pixel_type;
    using WorkPixel = WorkPixelOf<SrcPixel, 0, 1>;      // colour samples, alpha
    using WeightedPixel = WorkPixelOf<SrcPixel, 1, 1>;  // ... and the highlight weight
    using W = WorkView<WorkPixel>;
    using WW = WorkView<WeightedPixel>;
    using KernelPixel = typename Kernel::pixel_type;
    static constexpr int kernelSamples = KernelPixel::sample_count;

    static_assert(ColorKernel == 0 || ColorKernel == 1, "ColorKernel is 0 or 1");
    static_assert(std::is_same_v<Kernel, OutOfFocusKernelOf<Src, ColorKernel>>,
                  "the kernel view type follows from Src and ColorKernel");

    // Stores the host; the eight views are empty. Nothing is allocated.
    explicit OutOfFocusFilter(OstrovanneHost* host_);

    uint32_t render(uint32_t pass_, uint32_t passCount_) override;
    // Step 8: destination rows [i q, (i + 1) q), q = H / n, the last band to H.
    uint32_t render_slice(uint32_t thread_index, uint32_t thread_iterations,
                          uint32_t threadID) override;
    // Step 2, run twice: first band i of n of the image's rows (grid rows imageY ..
    // imageY + H - 1), each element converted once per source pixel and the margin columns
    // copied; then band i of n of the other grid rows, copied from the image rows (or the
    // outside colour). q = rows / n rows per band, the last band takes the remainder.
    uint32_t prepare_slice(uint32_t thread_index, uint32_t thread_iterations,
                           uint32_t threadID) override;

    // Inputs, set by the caller.
    Src source;
    Dst destination;
    Src highlightSource;
    Sel irisImage;
    OutOfFocusParams params{};
    // Work views, set by render (valid only while it runs).
    Kernel kernelWindow;
    Kernel kernelGrid;
    WW weightedImageGrid;
    W imageGrid;
    // Flags and sizes, set by render and kept afterwards.
    uint8_t useAdditive = 0;
    uint8_t useWeight = 0;
    // Gamma correction on an image with transparency: colour goes to linear light straight
    // and is premultiplied there, and comes back divided by alpha before it is encoded (the
    // transfer curve is not linear, so the order matters). An opaque image, or one blurred
    // without gamma correction, premultiplies and divides around the unchanged values.
    uint8_t straightLinear = 0;
    int32_t paddedWidth = 0;
    int32_t paddedHeight = 0;
    int32_t fftWidth = 0;
    int32_t fftHeight = 0;
    int32_t fftRowLength = 0;
    // Total of each kernel plane after linearisation (colours in layout order, alpha last),
    // accumulated in double; render then scales each plane to a total of 1.
    double kernelSum[kernelSamples] = {};
    float* toLinearTable = nullptr;
    float* fromLinearTable = nullptr;
    // The grid's per-axis margin and the image's place in it (kept after render).
    OutOfFocusGeometry geometry;
    // Which rows the current run of prepare_slice fills: 0 the image rows, 1 the others.
    uint8_t prepareMarginRows = 0;

private:
    uint32_t placeKernel();
    void normaliseKernelSpectrum();
    template <class GridPixel>
    void toWorking(double* colour, double alpha, double gain, double weight, bool premultiply,
                   GridPixel& out) const;
    template <class GridPixel>
    GridPixel outsideElement() const;
    template <class GridPixel>
    uint32_t prepareImageRows(const WorkView<GridPixel>& grid, int32_t first, int32_t last);
    template <class GridPixel>
    uint32_t prepareMargin(const WorkView<GridPixel>& grid, int32_t first, int32_t last);
    template <class GridPixel>
    uint32_t writeBand(const WorkView<GridPixel>& grid, int32_t first, int32_t last);
};

// The two forms of one host view type.
template <class Src, int ColorKernel>
using OutOfFocusFilterOf =
    OutOfFocusFilter<Src, Src, ImgMask8, ColorKernel, OutOfFocusKernelOf<Src, ColorKernel>>;

#define PEL_OOF_FILTER(F, H, CK)                                                  \
    OutOfFocusFilter<ImgHost##F##_##H, ImgHost##F##_##H, ImgMask8, CK,                    \
                     OutOfFocusKernelOf<ImgHost##F##_##H, CK>>
#define PEL_EXTERN_OOF_FILTER(F, H, WS)                 \
    extern template class PEL_OOF_FILTER(F, H, 0); \
    extern template class PEL_OOF_FILTER(F, H, 1);
PEL_FOR_EACH_HOST_FORMAT(PEL_EXTERN_OOF_FILTER)
#undef PEL_EXTERN_OOF_FILTER

}  // namespace ov
