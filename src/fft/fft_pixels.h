// The twelve pixel types of the FFT convolution: float samples, full intensity 1, in the
// gray, two-channel and RGB layouts, each with and without alpha and with and without the
// one extra sample that carries the highlight weight (the colour work and weighted work
// formats of pixel/formats.h at MAX 1). Every sample is transformed as a channel of its own.
#pragma once

#include "pixel/formats.h"

namespace ov {

using FftGray = PxWorkGray_F1;         // 1 sample
using FftGrayW = PxWeightedGray_F1;    // 2
using FftGrayA = PxWorkGrayA_F1;       // 2
using FftGrayAW = PxWeightedGrayA_F1;  // 3
using FftTwo = PxWorkTwoCh_F1;         // 2
using FftTwoW = PxWeightedTwoCh_F1;    // 3
using FftTwoA = PxWorkTwoChA_F1;       // 3
using FftTwoAW = PxWeightedTwoChA_F1;  // 4
using FftRgb = PxWorkRGB_F1;           // 3
using FftRgbW = PxWeightedRGB_F1;      // 4
using FftRgbA = PxWorkRGBA_F1;         // 4
using FftRgbAW = PxWeightedRGBA_F1;    // 5

// X(Pixel) once per FFT pixel type: the one list that instantiations expand.
#define OV_FFT_PIXEL_TYPES(X) \
    X(FftGray) X(FftGrayW) X(FftGrayA) X(FftGrayAW) X(FftTwo) X(FftTwoW) X(FftTwoA) \
    X(FftTwoAW) X(FftRgb) X(FftRgbW) X(FftRgbA) X(FftRgbAW)

}  // namespace ov
