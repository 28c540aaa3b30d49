// The 22 instances of ov::MultiplyComplexHalfFilter (spectrum pixel, kernel pixel).
#include "fft/multiply_complex_half_filter.h"

namespace ov {

#define OV_FFT_PRODUCT(SP, KP) template class MultiplyComplexHalfFilter<WorkView<SP>, WorkView<KP>>;
OV_FFT_SPECTRUM_PRODUCTS(OV_FFT_PRODUCT)
#undef OV_FFT_PRODUCT

}  // namespace ov
