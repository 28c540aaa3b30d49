// Edge modes: mapping a coordinate outside an image.
//
// EdgeMode 1 clamps, 2 mirrors about the border with the edge pixel repeated (period 2n:
// -1 maps to 0), 3 wraps with period n (-n maps to 0); any other value (4: the user's
// outside colour) leaves the coordinate outside for the caller to substitute its colour.
// Both functions answer true (and leave the coordinate) when it lies inside, false
// otherwise; the in-range test is the inline fast path, the mapping is out of line.
// n must be at least 1.
#pragma once

#include <cmath>
#include <cstdint>

namespace ov {

enum EdgeMode : int32_t {
    EdgeModeClamp = 1,
    EdgeModeMirror = 2,
    EdgeModeWrap = 3,
    EdgeModeColour = 4,
};

namespace detail {

// The mapping of an integer coordinate outside 0 .. n-1 (64-bit arithmetic, so no input
// overflows).
inline int32_t edge_index_outside(int32_t c, int32_t n, int32_t mode) {
    const int64_t N = n;
    int64_t x = c;
    if (x >= N) {
        const int64_t q = x / N, r = x - q * N;
        switch (mode) {
            case EdgeModeClamp: return n - 1;
            case EdgeModeMirror: return int32_t((q % 2 == 0) ? r : N - 1 - r);
            case EdgeModeWrap: return int32_t(r);
            default: return c;
        }
    }
    switch (mode) {
        case EdgeModeClamp: return 0;
        case EdgeModeMirror: {
            const int64_t d = -x - 1;
            const int64_t q = d / N, r = d - q * N;
            return int32_t((q % 2 == 0) ? r : N - 1 - r);
        }
        case EdgeModeWrap: {
            const int64_t q = x / N;
            int64_t m = x - (q - 1) * N;
            if (m == N) m = 0;
            return int32_t(m);
        }
        default: return c;
    }
}

inline double edge_coordinate_outside(double x, int32_t n, int32_t mode) {
    const double N = static_cast<double>(n);
    // q = x / N truncated; only its parity is used (safe beyond the 32-bit range too).
    const double q = std::trunc(x / N);
    const bool odd = std::fmod(q, 2.0) != 0.0;
    const double r = std::fmod(x, N);
    if (x >= N) {
        switch (mode) {
            case EdgeModeClamp: return N - 1.0;
            case EdgeModeMirror: {
                double m = odd ? N - r : r;
                return m == N ? N - 0.0001 : m;
            }
            case EdgeModeWrap: return r;
            default: return x;
        }
    }
    if (x < 0.0) {
        double m;
        switch (mode) {
            case EdgeModeClamp: return 0.0;
            case EdgeModeMirror: m = odd ? r + N : -r; break;
            case EdgeModeWrap: m = r + N; break;
            default: return x;
        }
        return m == N ? N - 0.0001 : m;
    }
    return x;  // not a number: left as it is
}

}  // namespace detail

// Integer coordinate c of an extent n by mode; true when 0 <= c < n (c unchanged).
inline bool edge_index(int32_t& c, int32_t n, int32_t mode) {
    if (static_cast<uint32_t>(c) < static_cast<uint32_t>(n)) return true;  // fast path
    c = detail::edge_index_outside(c, n, mode);
    return false;
}

// Continuous coordinate x of an extent n by mode; true when 0 <= x < n (x unchanged).
inline bool edge_coordinate(double& x, int32_t n, int32_t mode) {
    if (x >= 0.0 && x < static_cast<double>(n)) return true;  // fast path
    x = detail::edge_coordinate_outside(x, n, mode);
    return false;
}

}  // namespace ov
