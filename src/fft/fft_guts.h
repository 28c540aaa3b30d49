// Fast kernels of the real two-dimensional FFT filter: the same butterflies and split as
// complexFFT and realFFTSplit (fft.h), bit for bit, with the loop structure changed.
//
// - Twiddle factors come from tables filled once per transform by the very recurrence of
//   the reference forms. The recurrence of one span depends only on its length and the
//   direction, so one complex table serves every transform length up to its own: the span
//   of mmax pixels has its mmax / 2 factors (wr, wi) at pair index mmax / 2 - 1.
// - A "pixel" here is L floats that never mix. The filter gathers G neighbouring complex
//   columns into one super-pixel of G x S floats (real parts of all G columns, then their
//   imaginary parts), so a column FFT of G columns is one FFT of wide pixels; SIMD lanes run
//   across the floats of a pixel (SSE2: four floats as two double pairs).
// - Within one stage every butterfly reads and writes its own four pixels, so the order in
//   which a stage visits them does not change any bit.
// Private to src/fft.
#pragma once

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "fft/fft.h"

namespace ov::fft_guts {

// Number of (wr, wi) pairs of the complex table that covers transforms of up to nn values.
inline uint32_t complexTwiddlePairs(uint32_t nn) { return nn > 1 ? nn - 1 : 0; }

// Fills the complex table for transforms of up to nn values in direction isign.
inline void fillComplexTwiddles(double* tw, uint32_t nn, int32_t isign) {
    const uint32_t n = nn << 1;
    for (uint32_t mmax = 2; n > mmax; mmax <<= 1) {
        const double theta = (fft_constants::kTwoPi / static_cast<double>(mmax)) *
                             static_cast<double>(isign);
        const double t = fftSine(theta * 0.5);
        const double wpr = (t * -2.0) * t;
        const double wpi = fftSine(theta);
        double wr = 1.0, wi = 0.0;
        double* w = tw + 2 * static_cast<size_t>(mmax / 2 - 1);
        for (uint32_t m = 1; m < mmax; m += 2) {
            *w++ = wr;
            *w++ = wi;
            const double wtemp = wr;
            wr = wr + (wr * wpr - wi * wpi);
            wi = wi + (wi * wpr + wtemp * wpi);
        }
    }
}

// Number of pairs of the split table of n real values (one per i = 2 .. n/4).
inline uint32_t splitTwiddlePairs(uint32_t n) { return (n >> 2) >= 2 ? (n >> 2) - 1 : 0; }

inline void fillSplitTwiddles(double* tw, uint32_t n, int32_t isign) {
    double theta = fft_constants::kPi / static_cast<double>(n >> 1);
    if (isign != 1) theta = -theta;
    const double t = fftSine(0.5 * theta);
    const double wpr = (t * -2.0) * t;
    const double wpi = fftSine(theta);
    double wr = 1.0 + wpr, wi = wpi;
    const uint32_t pairs = splitTwiddlePairs(n);
    for (uint32_t k = 0; k < pairs; ++k) {
        tw[2 * k] = wr;
        tw[2 * k + 1] = wi;
        const double wtemp = wr;
        wr = wr + (wr * wpr - wi * wpi);
        wi = wi + (wi * wpr + wtemp * wpi);
    }
}

// ---- one butterfly over L floats ------------------------------------------------------

inline void butterflyScalar(float* pi, float* pi1, float* pj, float* pj1, double wr,
                            double wi) {
    const float xr = *pj, xi = *pj1;
    const float a = toSingle(wr * static_cast<double>(xr));
    const float tempr = toSingle(static_cast<double>(a) - wi * static_cast<double>(xi));
    const float b = toSingle(wr * static_cast<double>(xi));
    const float tempi = toSingle(static_cast<double>(b) + wi * static_cast<double>(xr));
    const float ur = *pi, ui = *pi1;
    *pj = ur - tempr;
    *pj1 = ui - tempi;
    *pi = ur + tempr;
    *pi1 = ui + tempi;
}

#if defined(__SSE2__)
// Two floats through the double pipeline: returns (tempr, tempi) lanes in the low halves.
inline void butterflyPair(__m128d xr, __m128d xi, __m128d vwr, __m128d vwi, __m128& tr,
                          __m128& ti) {
    const __m128d a = _mm_cvtps_pd(_mm_cvtpd_ps(_mm_mul_pd(vwr, xr)));
    const __m128d b = _mm_cvtps_pd(_mm_cvtpd_ps(_mm_mul_pd(vwr, xi)));
    tr = _mm_cvtpd_ps(_mm_sub_pd(a, _mm_mul_pd(vwi, xi)));
    ti = _mm_cvtpd_ps(_mm_add_pd(b, _mm_mul_pd(vwi, xr)));
}

inline void butterfly4(float* pi, float* pi1, float* pj, float* pj1, __m128d vwr, __m128d vwi) {
    const __m128 xr = _mm_loadu_ps(pj), xi = _mm_loadu_ps(pj1);
    __m128 tr0, ti0, tr1, ti1;
    butterflyPair(_mm_cvtps_pd(xr), _mm_cvtps_pd(xi), vwr, vwi, tr0, ti0);
    butterflyPair(_mm_cvtps_pd(_mm_movehl_ps(xr, xr)), _mm_cvtps_pd(_mm_movehl_ps(xi, xi)), vwr,
                  vwi, tr1, ti1);
    const __m128 tr = _mm_movelh_ps(tr0, tr1), ti = _mm_movelh_ps(ti0, ti1);
    const __m128 ur = _mm_loadu_ps(pi), ui = _mm_loadu_ps(pi1);
    _mm_storeu_ps(pj, _mm_sub_ps(ur, tr));
    _mm_storeu_ps(pj1, _mm_sub_ps(ui, ti));
    _mm_storeu_ps(pi, _mm_add_ps(ur, tr));
    _mm_storeu_ps(pi1, _mm_add_ps(ui, ti));
}

// Two floats at any 4-byte alignment (the 64-bit integer moves are the unaligned forms).
inline __m128 load2(const float* p) {
    return _mm_castsi128_ps(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(p)));
}
inline void store2(float* p, __m128 v) {
    _mm_storel_epi64(reinterpret_cast<__m128i*>(p), _mm_castps_si128(v));
}

inline void butterfly2(float* pi, float* pi1, float* pj, float* pj1, __m128d vwr, __m128d vwi) {
    const __m128 xr = load2(pj), xi = load2(pj1);
    __m128 tr, ti;
    butterflyPair(_mm_cvtps_pd(xr), _mm_cvtps_pd(xi), vwr, vwi, tr, ti);
    const __m128 ur = load2(pi), ui = load2(pi1);
    store2(pj, _mm_sub_ps(ur, tr));
    store2(pj1, _mm_sub_ps(ui, ti));
    store2(pi, _mm_add_ps(ur, tr));
    store2(pi1, _mm_add_ps(ui, ti));
}
#endif

// Butterfly of pixel i (and i + 1) with pixel j (and j + 1), L floats each.
template <int L>
inline void butterfly(float* pi, float* pj, double wr, double wi) {
    float* pi1 = pi + L;
    float* pj1 = pj + L;
    int k = 0;
#if defined(__SSE2__)
    const __m128d vwr = _mm_set1_pd(wr), vwi = _mm_set1_pd(wi);
    for (; k + 4 <= L; k += 4) butterfly4(pi + k, pi1 + k, pj + k, pj1 + k, vwr, vwi);
    if constexpr (L % 4 >= 2) {
        butterfly2(pi + k, pi1 + k, pj + k, pj1 + k, vwr, vwi);
        k += 2;
    }
#endif
    for (; k < L; ++k) butterflyScalar(pi + k, pi1 + k, pj + k, pj1 + k, wr, wi);
}

// complexFFT over pixels of L floats, twiddles from a complex table of this direction that
// covers at least nn values. With reorder false the caller has already put the values in
// bit-reversed order (the column gather does it while copying).
template <int L>
void complexFFT(float* data, uint32_t nn, const double* tw, bool reorder = true) {
    const uint32_t n = nn << 1;
    // P(p): pixel p counted from 1.
    auto P = [data](uint32_t p) { return data + static_cast<size_t>(p - 1) * L; };
    uint32_t j = 1;
    for (uint32_t i = 1; reorder && i < n; i += 2) {
        if (j > i) {
            float tmp[2 * L];
            std::memcpy(tmp, P(j), sizeof tmp);
            std::memcpy(P(j), P(i), sizeof tmp);
            std::memcpy(P(i), tmp, sizeof tmp);
        }
        uint32_t m = n >> 1;
        while (m >= 2 && j > m) {
            j -= m;
            m >>= 1;
        }
        j += m;
    }
    for (uint32_t mmax = 2; n > mmax; mmax <<= 1) {
        const uint32_t istep = mmax << 1;
        const double* w = tw + 2 * static_cast<size_t>(mmax / 2 - 1);
        for (uint32_t base = 1; base <= n; base += istep) {
            float* pi = P(base);
            float* pj = pi + static_cast<size_t>(mmax) * L;
            for (uint32_t t = 0; t < mmax / 2; ++t)
                butterfly<L>(pi + 2 * static_cast<size_t>(t) * L, pj + 2 * static_cast<size_t>(t) * L,
                             w[2 * t], w[2 * t + 1]);
        }
    }
}

// ---- the real split over L floats -----------------------------------------------------

inline void splitScalar(float* p1, float* p2, float* p3, float* p4, double c2, double wr,
                        double wi) {
    const float c1 = 0.5f;
    const float x1 = *p1, x2 = *p2, x3 = *p3, x4 = *p4;
    const double h1r = keepSingle((x1 + x3) * c1);
    const float h1if = keepSingle((x2 - x4) * c1);
    const double h1i = h1if, nh1i = keepSingle(-h1if);
    const double h2r = toSingle(-c2 * static_cast<double>(keepSingle(x2 + x4)));
    const double h2i = toSingle(c2 * static_cast<double>(keepSingle(x1 - x3)));
    *p1 = toSingle(static_cast<double>(toSingle(h1r + wr * h2r)) - wi * h2i);
    *p2 = toSingle(static_cast<double>(toSingle(h1i + wr * h2i)) + wi * h2r);
    *p3 = toSingle(static_cast<double>(toSingle(h1r - wr * h2r)) + wi * h2i);
    *p4 = toSingle(static_cast<double>(toSingle(nh1i + wr * h2i)) + wi * h2r);
}

#if defined(__SSE2__)
inline __m128d roundToFloat(__m128d x) { return _mm_cvtps_pd(_mm_cvtpd_ps(x)); }

// Two lanes of the split: inputs as floats in the low halves; outputs the same.
inline void splitPair(__m128 x1, __m128 x2, __m128 x3, __m128 x4, __m128d vnc2, __m128d vc2,
                      __m128d vwr, __m128d vwi, __m128& o1, __m128& o2, __m128& o3, __m128& o4) {
    const __m128 half = _mm_set1_ps(0.5f);
    const __m128d h1r = _mm_cvtps_pd(_mm_mul_ps(_mm_add_ps(x1, x3), half));
    const __m128 h1if = _mm_mul_ps(_mm_sub_ps(x2, x4), half);
    const __m128d h1i = _mm_cvtps_pd(h1if);
    const __m128d nh1i = _mm_cvtps_pd(_mm_xor_ps(h1if, _mm_set1_ps(-0.0f)));
    const __m128d h2r = roundToFloat(_mm_mul_pd(vnc2, _mm_cvtps_pd(_mm_add_ps(x2, x4))));
    const __m128d h2i = roundToFloat(_mm_mul_pd(vc2, _mm_cvtps_pd(_mm_sub_ps(x1, x3))));
    const __m128d wrh2r = _mm_mul_pd(vwr, h2r), wrh2i = _mm_mul_pd(vwr, h2i);
    const __m128d wih2r = _mm_mul_pd(vwi, h2r), wih2i = _mm_mul_pd(vwi, h2i);
    o1 = _mm_cvtpd_ps(_mm_sub_pd(roundToFloat(_mm_add_pd(h1r, wrh2r)), wih2i));
    o2 = _mm_cvtpd_ps(_mm_add_pd(roundToFloat(_mm_add_pd(h1i, wrh2i)), wih2r));
    o3 = _mm_cvtpd_ps(_mm_add_pd(roundToFloat(_mm_sub_pd(h1r, wrh2r)), wih2i));
    o4 = _mm_cvtpd_ps(_mm_add_pd(roundToFloat(_mm_add_pd(nh1i, wrh2i)), wih2r));
}
#endif

template <int L>
inline void splitStep(float* p1, float* p2, float* p3, float* p4, double c2, double wr,
                      double wi) {
    int k = 0;
#if defined(__SSE2__)
    const __m128d vnc2 = _mm_set1_pd(-c2), vc2 = _mm_set1_pd(c2);
    const __m128d vwr = _mm_set1_pd(wr), vwi = _mm_set1_pd(wi);
    for (; k + 2 <= L; k += 2) {
        __m128 o1, o2, o3, o4;
        splitPair(load2(p1 + k), load2(p2 + k), load2(p3 + k), load2(p4 + k), vnc2, vc2, vwr,
                  vwi, o1, o2, o3, o4);
        store2(p1 + k, o1);
        store2(p2 + k, o2);
        store2(p3 + k, o3);
        store2(p4 + k, o4);
    }
#endif
    for (; k < L; ++k) splitScalar(p1 + k, p2 + k, p3 + k, p4 + k, c2, wr, wi);
}

// realFFTSplit over pixels of L floats with the split table of n and isign.
template <int L>
void realFFTSplit(float* data, uint32_t n, int32_t isign, const double* tw) {
    auto P = [data](uint32_t p) { return data + static_cast<size_t>(p - 1) * L; };
    const double c2 = isign == 1 ? -0.5 : 0.5;
    const uint32_t n4 = n >> 2;
    for (uint32_t i = 2; i <= n4; ++i) {
        const double* w = tw + 2 * static_cast<size_t>(i - 2);
        splitStep<L>(P(2 * i - 1), P(2 * i), P(n + 3 - 2 * i), P(n + 4 - 2 * i), c2, w[0], w[1]);
    }
    float* p1 = P(1);
    float* p2 = P(2);
    for (int s = 0; s < L; ++s) {
        const float d1 = p1[s], d2 = p2[s];
        const float negated = toSingle(static_cast<double>(d2) * -1.0);
        float sum = keepSingle(d1 + d2), diff = keepSingle(d1 + negated);
        if (isign != 1) {
            sum = toSingle(static_cast<double>(sum) * 0.5);
            diff = toSingle(static_cast<double>(diff) * 0.5);
        }
        p1[s] = sum;
        p2[s] = diff;
    }
}

}  // namespace ov::fft_guts
