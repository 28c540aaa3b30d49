// The out-of-line sine of the FFT primitives (see fft.h).
#include "fft/fft.h"

#include <cmath>

namespace ov {

double fftSine(double x) { return std::sin(x); }

}  // namespace ov
