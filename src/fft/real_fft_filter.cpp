// The twelve instances of ov::RealFFFFilter, one per FFT pixel type.
#include "fft/real_fft_filter.h"

namespace ov {

#define OV_FFT_REAL_FILTER(P) template class RealFFFFilter<WorkView<P>>;
OV_FFT_PIXEL_TYPES(OV_FFT_REAL_FILTER)
#undef OV_FFT_REAL_FILTER

}  // namespace ov
