// Pixel blend modes: blendPixel(dst, src, mode) on double pixels.
//
// Both pixels hold straight colour on the format's own scale 0..MAX; dst is overwritten with
// the straight result. Channels are read through the RGB channel view: an absent colour reads
// 0 and ignores writes, an absent alpha reads MAX and ignores writes, so one formula serves
// the six layouts and three MAX values of the 18 host formats. Modes 1..22; any other value
// copies the whole source. No state, no allocation.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstdint>

#include "pixel/colour.h"
#include "pixel/pixel_rgb.h"

namespace ov {

enum BlendMode : int32_t {
    BlendNormal = 1,
    BlendKeyedOver = 2,
    BlendScreen = 3,
    BlendOverlay = 4,
    BlendAdd = 5,
    BlendSubtract = 6,
    BlendMultiply = 7,
    BlendDivide = 8,
    BlendDifference = 9,
    BlendExclusion = 10,
    BlendLighten = 11,
    BlendDarken = 12,
    BlendLighterLuminance = 13,
    BlendDarkerLuminance = 14,
    BlendHue = 15,
    BlendSaturation = 16,
    BlendColour = 17,
    BlendHueLightness = 18,
    BlendAlphaPlusLuminance = 19,
    BlendAlphaMinusLuminance = 20,
    BlendAlphaTimesLuminance = 21,
    BlendAlphaFromLuminance = 22,
};

template <class P>
inline void blendPixel(P& dst, const P& src, int32_t mode) {
    static_assert(std::is_same_v<typename P::sample_type, double>, "blendPixel works on double pixels");
    constexpr double MAX = P::max_value;
    constexpr double inv = P::inverse_max;
    constexpr int NC = P::colour_count;

    if (mode < 1 || mode > 22) {
        dst = src;
        return;
    }
    if (mode == BlendLighterLuminance) {
        if (luminance(src) > luminance(dst)) dst = src;
        return;
    }
    if (mode == BlendDarkerLuminance) {
        if (luminance(src) < luminance(dst)) dst = src;
        return;
    }
    if (mode >= BlendAlphaPlusLuminance) {
        if constexpr (P::has_alpha) {
            double& ad = dst.v[P::alpha_index];
            const double L = luminance(src);
            switch (mode) {
                case BlendAlphaPlusLuminance: ad = ad + L; clamp_alpha(dst); break;
                case BlendAlphaMinusLuminance: ad = ad - L; raise_alpha(dst, 0.0); break;
                case BlendAlphaTimesLuminance: ad = ad * L * inv; clamp_alpha(dst); break;
                default: ad = L; clamp_alpha(dst); break;
            }
        }
        return;
    }

    // Modes 1..12 and 15..18: channel view over three colours and alpha.
    const double ad = dst.alpha(), as = src.alpha();
    const double aD = ad * inv, aS = as * inv;
    double s[3], S[3], D[3], out[3];
    for (int c = 0; c < 3; ++c) {
        s[c] = src.colour(c);
        S[c] = aS * s[c];
        D[c] = aD * dst.colour(c);
    }
    double alphaOut = ad;
    bool fixup = true;  // F (unpremultiply_fixup) or U (unpremultiply)

    switch (mode) {
        case BlendNormal:
            for (int c = 0; c < 3; ++c) out[c] = S[c] + (1.0 - aS) * D[c];
            alphaOut = as + (1.0 - aS) * ad;
            fixup = false;
            break;
        case BlendKeyedOver: {
            const double m = std::max(std::max(s[0], s[1]), s[2]);
            const double t = 1.0 - m * inv * aS;
            for (int c = 0; c < 3; ++c) out[c] = S[c] + t * (D[c] - S[c]);
            break;
        }
        case BlendScreen:
            for (int c = 0; c < 3; ++c) out[c] = S[c] + (1.0 - S[c] * inv) * D[c];
            break;
        case BlendOverlay:
            for (int c = 0; c < 3; ++c) {
                const double nD = D[c] * inv, ns = s[c] * inv;
                const double r = nD < 0.5 ? 2.0 * ns * nD
                                          : 1.0 - 2.0 * (1.0 - std::min(nD, 1.0)) * (1.0 - std::min(ns, 1.0));
                out[c] = D[c] + aS * (MAX * r - D[c]) + (1.0 - aD) * S[c];
            }
            alphaOut = ad + (1.0 - aD) * as;
            fixup = false;
            break;
        case BlendAdd:
            for (int c = 0; c < 3; ++c) out[c] = D[c] + S[c];
            break;
        case BlendSubtract:
            for (int c = 0; c < 3; ++c) out[c] = D[c] - S[c];
            for (int c = 0; c < 3; ++c) if (out[c] < 0) out[c] = 0;
            break;
        case BlendMultiply:
            for (int c = 0; c < 3; ++c) {
                const double Pm = D[c] * (s[c] * inv);
                out[c] = Pm + (1.0 - aS) * (D[c] - Pm) + (1.0 - aD) * S[c];
            }
            alphaOut = ad + (1.0 - aD) * as;
            break;
        case BlendDivide:
            for (int c = 0; c < 3; ++c) {
                const double q = D[c] / (S[c] * inv + 0.0001);
                out[c] = D[c] + aS * (q - D[c]);
            }
            break;
        case BlendDifference:
            for (int c = 0; c < 3; ++c) out[c] = std::fabs(D[c] - S[c]);
            break;
        case BlendExclusion:
            for (int c = 0; c < 3; ++c) out[c] = (1.0 - D[c] * inv) * S[c] + (1.0 - S[c] * inv) * D[c];
            break;
        case BlendLighten:
            for (int c = 0; c < 3; ++c) out[c] = S[c] <= D[c] ? D[c] : S[c];
            break;
        case BlendDarken:
            for (int c = 0; c < 3; ++c) out[c] = D[c] + aS * (std::min(D[c], S[c]) - D[c]);
            break;
        default: {  // 15..18: hue, saturation, colour, hue and lightness
            double hD, sD, lD, hS, sS, lS;
            rgb_to_hsl(D[0] * inv, D[1] * inv, D[2] * inv, hD, sD, lD);
            rgb_to_hsl(S[0] * inv, S[1] * inv, S[2] * inv, hS, sS, lS);
            double h, sat, l;
            switch (mode) {
                case BlendHue: h = hS; sat = sD; l = lD; break;
                case BlendSaturation: h = hD; sat = sS; l = lD; break;
                case BlendColour: h = hS; sat = sS; l = lD; break;
                default: h = hS; sat = sD; l = lS; break;
            }
            if (sS == 0.0) sat = 0.0;
            double cc[3];
            hsl_to_rgb(h, sat, l, cc[0], cc[1], cc[2]);
            for (int c = 0; c < 3; ++c) out[c] = D[c] + aS * (MAX * cc[c] - D[c]) + (1.0 - aD) * S[c];
            alphaOut = ad + (1.0 - aD) * as;
            break;
        }
    }

    for (int c = 0; c < NC; ++c) dst.v[c] = out[c];
    if constexpr (P::has_alpha) {
        dst.v[P::alpha_index] = alphaOut;
        if (mode == BlendOverlay) clamp_alpha(dst);
        if (fixup) unpremultiply_fixup(dst);
        else unpremultiply(dst);
    }
}

}  // namespace ov
