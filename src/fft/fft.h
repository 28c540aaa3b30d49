// FFT primitives over packed float pixels: complexFFT, realFFTSplit, scale_samples,
// nextPowerOfTwo.
//
// Contract
// - An array is a run of packed float pixels (ov::PixelRGB with float samples); the
//   transforms count pixels from 1 at `data`. Complex value k (k = 1, 2, ...) is the pair of
//   pixels 2k - 1 (real parts) and 2k (imaginary parts). Each sample position is a complex
//   sequence of its own: samples never mix, and every position goes through the same
//   operations with the same twiddle factors.
// - Sign convention: isign +1 is the forward direction and uses the positive exponent,
//   X_k = sum_j z_j e^(+2 pi i jk / N); isign -1 uses the negative exponent. Nothing is
//   normalised: complexFFT(+1) then complexFFT(-1) returns nn times the input, the real pair
//   returns n/2 times it.
// - Rounding is part of the result: twiddle arithmetic is double, and each butterfly
//   rounds its first products to float before the second product is added in double. These
//   are the reference forms; the filter's fast kernels (fft_guts.h) are proven bit-equal to
//   them by the tests.
// - No allocation, no state, no status; re-entrant. Preconditions are not tested:
//   nn a power of two with 2 * nn pixels behind data; n a power of two of at least 2.
#pragma once

#include <cmath>
#include <cstdint>
#include <utility>

#include "fft/single_precision.h"
#include "pixel/pixel_rgb.h"

namespace ov {

namespace fft_constants {
inline constexpr double kPi = 3.141592653589793;
inline constexpr double kTwoPi = 6.283185307179586;
}  // namespace fft_constants

// The platform's standard double sine, called out of line (fft.cpp) so that the optimiser
// cannot fold some calls at compile time with a differently rounded sine: every transform
// and every twiddle table sees the same bits for the same angle.
double fftSine(double x);

// Every sample of `p` times `factor`, formed in double and rounded back to float.
template <class Pixel>
inline void scale_samples(Pixel& p, double factor) {
    static_assert(Pixel::is_float, "FFT pixels have float samples");
    for (int s = 0; s < Pixel::sample_count; ++s)
        p.v[s] = toSingle(static_cast<double>(p.v[s]) * factor);
}

// In-place radix-2 decimation-in-time complex FFT of nn complex values (2 * nn pixels).
template <class Pixel>
void complexFFT(Pixel* data, uint32_t nn, int32_t isign) {
    static_assert(Pixel::is_float, "FFT pixels have float samples");
    constexpr int S = Pixel::sample_count;
    Pixel* P = data - 1;  // P[1] is the first pixel
    const uint32_t n = nn << 1;

    uint32_t j = 1;
    for (uint32_t i = 1; i < n; i += 2) {
        if (j > i) {
            std::swap(P[j], P[i]);
            std::swap(P[j + 1], P[i + 1]);
        }
        uint32_t m = n >> 1;
        while (m >= 2 && j > m) {
            j -= m;
            m >>= 1;
        }
        j += m;
    }

    uint32_t mmax = 2;
    while (n > mmax) {
        const uint32_t istep = mmax << 1;
        const double theta = (fft_constants::kTwoPi / static_cast<double>(mmax)) *
                             static_cast<double>(isign);
        const double t = fftSine(theta * 0.5);
        const double wpr = (t * -2.0) * t;
        const double wpi = fftSine(theta);
        double wr = 1.0, wi = 0.0;
        for (uint32_t m = 1; m < mmax; m += 2) {
            for (uint32_t i = m; i <= n; i += istep) {
                const uint32_t jj = i + mmax;
                for (int s = 0; s < S; ++s) {
                    const float xr = P[jj].v[s], xi = P[jj + 1].v[s];
                    const float a = toSingle(wr * static_cast<double>(xr));
                    const float tempr = toSingle(static_cast<double>(a) -
                                                 wi * static_cast<double>(xi));
                    const float b = toSingle(wr * static_cast<double>(xi));
                    const float tempi = toSingle(static_cast<double>(b) +
                                                 wi * static_cast<double>(xr));
                    const float ur = P[i].v[s], ui = P[i + 1].v[s];
                    P[jj].v[s] = ur - tempr;
                    P[jj + 1].v[s] = ui - tempi;
                    P[i].v[s] = ur + tempr;
                    P[i + 1].v[s] = ui + tempi;
                }
            }
            const double wtemp = wr;
            wr = wr + (wr * wpr - wi * wpi);
            wi = wi + (wi * wpr + wtemp * wpi);
        }
        mmax = istep;
    }
}

// The split step of the real transform of n real values packed as n/2 complex values.
// Forward (isign == 1): run after complexFFT(data, n/2, +1); leaves F_0 in pixel 1, F_(n/2)
// in pixel 2 and F_k in pixels 2k + 1, 2k + 2. Inverse (any other isign): run before
// complexFFT(data, n/2, -1).
template <class Pixel>
void realFFTSplit(Pixel* data, uint32_t n, int32_t isign) {
    static_assert(Pixel::is_float, "FFT pixels have float samples");
    constexpr int S = Pixel::sample_count;
    Pixel* P = data - 1;
    double theta = fft_constants::kPi / static_cast<double>(n >> 1);
    double c2;
    if (isign == 1) {
        c2 = -0.5;
    } else {
        c2 = 0.5;
        theta = -theta;
    }
    const float c1 = 0.5f;
    const double t = fftSine(0.5 * theta);
    const double wpr = (t * -2.0) * t;
    const double wpi = fftSine(theta);
    double wr = 1.0 + wpr, wi = wpi;
    const uint32_t n4 = n >> 2;
    for (uint32_t i = 2; i <= n4; ++i) {
        const uint32_t i1 = 2 * i - 1, i2 = 2 * i, i3 = n + 3 - 2 * i, i4 = n + 4 - 2 * i;
        for (int s = 0; s < S; ++s) {
            const float x1 = P[i1].v[s], x2 = P[i2].v[s], x3 = P[i3].v[s], x4 = P[i4].v[s];
            const double h1r = keepSingle((x1 + x3) * c1);
            const float h1if = keepSingle((x2 - x4) * c1);
            const double h1i = h1if, nh1i = keepSingle(-h1if);
            const double h2r = toSingle(-c2 * static_cast<double>(keepSingle(x2 + x4)));
            const double h2i = toSingle(c2 * static_cast<double>(keepSingle(x1 - x3)));
            P[i1].v[s] = toSingle(static_cast<double>(toSingle(h1r + wr * h2r)) - wi * h2i);
            P[i2].v[s] = toSingle(static_cast<double>(toSingle(h1i + wr * h2i)) + wi * h2r);
            P[i3].v[s] = toSingle(static_cast<double>(toSingle(h1r - wr * h2r)) + wi * h2i);
            P[i4].v[s] = toSingle(static_cast<double>(toSingle(nh1i + wr * h2i)) + wi * h2r);
        }
        const double wtemp = wr;
        wr = wr + (wr * wpr - wi * wpi);
        wi = wi + (wi * wpr + wtemp * wpi);
    }
    // End step: the difference is d1 plus d2 negated through scale_samples(-1.0), and the
    // inverse halves through scale_samples(0.5); both are part of the bit pattern (a NaN
    // keeps its sign under a multiplication by -1, it would not under a negation).
    const Pixel d1 = P[1], d2 = P[2];
    Pixel negated = d2;
    scale_samples(negated, -1.0);
    for (int s = 0; s < S; ++s) {
        P[1].v[s] = d1.v[s] + d2.v[s];
        P[2].v[s] = d1.v[s] + negated.v[s];
    }
    if (isign != 1) {
        scale_samples(P[1], 0.5);
        scale_samples(P[2], 0.5);
    }
}

// The smallest power of two not below n: n <= 0 gives 2, 1 gives 1. For n above 2^30 no
// signed 32-bit power of two is large enough; the result is then 0, which no caller can
// mistake for a transform size (the conversion of 2^31 would be undefined).
inline int32_t nextPowerOfTwo(int32_t n) {
    if (n > (1 << 30)) return 0;
    int32_t k = 0;
    int32_t m = n;
    while (m > 1) {
        m >>= 1;
        ++k;
    }
    if (n != (int32_t{1} << k)) ++k;
    return static_cast<int32_t>(std::pow(2.0, k));
}

}  // namespace ov
