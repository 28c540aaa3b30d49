// ov::MultiplyComplexHalfFilter: the product of two half spectra, in place.
//
// Contract
// - `spectrum` and `kernel` are packed views of half spectra in the row layout of
//   ov::RealFFFFilter (complex value j of a row in pixels 2j and 2j + 1, every sample its own
//   real or imaginary part). The kernel has at least the spectrum's width and height. The
//   caller owns both; only `spectrum` is written.
// - Each spectrum sample s of complex value j is multiplied by the kernel factor kr(s) + i
//   ki(s), taken from the kernel's pixels 2j and 2j + 1 by the kernel rule:
//     per channel  (kernel with alpha, the spectrum's colour layout): colour c takes the
//                  kernel's colour c; alpha and the weight sample take the kernel's alpha;
//     single       (gray kernel without alpha): its one sample for every spectrum sample;
//     mean         (kernel without alpha with n = 2 or 3 colours): the colours summed in
//                  single precision (c0 + c1, then + c2), widened and times the double
//                  nearest 1/n, for every sample. The colour-kernel convolution that uses
//                  this rule reduces a kernel pixel to gray by its mean, so two colours take
//                  1/2 (an older form divided by 3 for two colours too, which made a
//                  two-colour kernel of (1, 1) weigh 2/3 instead of 1).
//   Product: t = float(re kr); re' = float(t - im ki); u = float(im kr); im' = float(u + re ki),
//   each product and sum in double, both results from the values before the update.
// - A row of width w holds w / 2 complex values (an odd last pixel stays as it is).
// - render(pass, passCount) runs one job per spectrum row through ParallelRun; each row reports
//   ReportProgress(pass x H + row, passCount x H) after it is multiplied and returns that
//   status. render returns the status of ParallelRun. No allocation; a kernel smaller than
//   the spectrum is refused with StatusOutOfMemory before anything is touched.
#pragma once

#include <cstdint>

#include "core/ostrovanne_filter.h"
#include "fft/fft_pixels.h"
#include "fft/single_precision.h"
#include "pixel/pixel_array.h"

namespace ov {

enum class KernelFactorRule { PerChannel, Single, Mean };

template <class SpectrumArray, class KernelArray>
class MultiplyComplexHalfFilter : public OstrovanneFilter {
public:
    using SPixel = typename SpectrumArray::pixel_type;
    using KPixel = typename KernelArray::pixel_type;
    static_assert(SpectrumArray::b_flag == 0 && KernelArray::b_flag == 0, "packed arrays");
    static_assert(SPixel::is_float && KPixel::is_float, "float spectra");
    static constexpr int S = SPixel::sample_count;
    static constexpr KernelFactorRule rule =
        KPixel::sample_count == 1 ? KernelFactorRule::Single
        : KPixel::has_alpha       ? KernelFactorRule::PerChannel
                                  : KernelFactorRule::Mean;
    static_assert(rule == KernelFactorRule::Single ||
                      (KPixel::colour_count == SPixel::colour_count && KPixel::extra_count == 0),
                  "a colour kernel has the spectrum's colour layout");
    static_assert(rule != KernelFactorRule::PerChannel || SPixel::has_alpha,
                  "a kernel with alpha serves a spectrum with alpha");

    explicit MultiplyComplexHalfFilter(OstrovanneHost* host_ = nullptr) : OstrovanneFilter(host_) {}

    uint32_t render(uint32_t pass_, uint32_t passCount_) override {
        pass = pass_;
        passCount = passCount_;
        if (kernel.width < spectrum.width || kernel.height < spectrum.height)
            return host->StatusOutOfMemory();
        return host->ParallelRun(spectrum.height, [this](uint32_t i, uint32_t n, uint32_t t) {
            return multiply_row(i, n, t);
        });
    }

    uint32_t multiply_row(uint32_t thread_index, uint32_t, uint32_t) {
        SPixel* s = reinterpret_cast<SPixel*>(spectrum.row_bytes(thread_index));
        const KPixel* k = reinterpret_cast<const KPixel*>(kernel.row_bytes(thread_index));
        const int32_t values = static_cast<int32_t>(spectrum.width) / 2;
        for (int32_t j = 0; j < values; ++j) multiply(s[2 * j], s[2 * j + 1], k[2 * j], k[2 * j + 1]);
        const uint32_t H = spectrum.height;
        return host->ReportProgress(pass * H + thread_index, passCount * H);
    }

    // The factor of spectrum sample s from one kernel pixel.
    static double factor(const KPixel& kp, int s) {
        if constexpr (rule == KernelFactorRule::Single) {
            (void)s;
            return static_cast<double>(kp.v[0]);
        } else if constexpr (rule == KernelFactorRule::PerChannel) {
            return static_cast<double>(s < SPixel::colour_count ? kp.v[s] : kp.v[KPixel::alpha_index]);
        } else {
            (void)s;
            float sum = keepSingle(kp.v[0] + kp.v[1]);
            if constexpr (KPixel::colour_count == 3) sum = keepSingle(sum + kp.v[2]);
            constexpr double inverse = KPixel::colour_count == 3 ? 0.3333333333333333 : 0.5;
            return static_cast<double>(sum) * inverse;
        }
    }

    static void multiply(SPixel& re, SPixel& im, const KPixel& kre, const KPixel& kim) {
        double kr[S], ki[S];
        for (int s = 0; s < S; ++s) {
            kr[s] = factor(kre, s);
            ki[s] = factor(kim, s);
        }
        for (int s = 0; s < S; ++s) {
            const double r = re.v[s], i = im.v[s];
            const float t = toSingle(r * kr[s]);
            const float u = toSingle(i * kr[s]);
            re.v[s] = toSingle(static_cast<double>(t) - i * ki[s]);
            im.v[s] = toSingle(static_cast<double>(u) + r * ki[s]);
        }
    }

    SpectrumArray spectrum;
    KernelArray kernel;
};

// X(Spectrum pixel, Kernel pixel): the 22 instances.
#define OV_FFT_SPECTRUM_PRODUCTS(X) \
    X(FftTwoAW, FftTwoA) X(FftTwoAW, FftGray) X(FftTwoA, FftTwoA) X(FftTwoA, FftGray) \
    X(FftTwoW, FftTwo) X(FftTwoW, FftGray) X(FftTwo, FftTwo) X(FftTwo, FftGray) \
    X(FftGrayAW, FftGrayA) X(FftGrayAW, FftGray) X(FftGrayA, FftGrayA) X(FftGrayA, FftGray) \
    X(FftGrayW, FftGray) X(FftGray, FftGray) X(FftRgbAW, FftGray) X(FftRgbAW, FftRgbA) \
    X(FftRgbA, FftRgbA) X(FftRgbA, FftGray) X(FftRgbW, FftGray) X(FftRgbW, FftRgb) \
    X(FftRgb, FftRgb) X(FftRgb, FftGray)

#define OV_FFT_EXTERN_PRODUCT(SP, KP) \
    extern template class MultiplyComplexHalfFilter<WorkView<SP>, WorkView<KP>>;
OV_FFT_SPECTRUM_PRODUCTS(OV_FFT_EXTERN_PRODUCT)
#undef OV_FFT_EXTERN_PRODUCT

}  // namespace ov
