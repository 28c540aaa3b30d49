// Rounding points that the optimiser must keep.
//
// Results here are fixed to the rounding: a product formed in double, rounded to float and
// widened again for the next double operation must really pass through float. GCC 12's
// vectoriser at -O2 (native and mingw-w64 alike) has been seen to drop such a round trip,
// computing (double)(float)(x) as x inside vectorised code; a ten-line loop reproduces it.
// toSingle and keepSingle put the value in a register through an empty asm statement, which
// no pass can see through, so the rounding happens exactly where the arithmetic says.
#pragma once

namespace ov {

// x rounded to the nearest float (ties to even), as a value the compiler must materialise.
inline float toSingle(double x) {
    float f = static_cast<float>(x);
#if defined(__GNUC__) && (defined(__x86_64__) || defined(__i386__))
    __asm__("" : "+x"(f));
#elif defined(__GNUC__)
    __asm__("" : "+r"(f));
#endif
    return f;
}

// A float result of single-precision arithmetic, kept as a float before it is widened.
inline float keepSingle(float f) {
#if defined(__GNUC__) && (defined(__x86_64__) || defined(__i386__))
    __asm__("" : "+x"(f));
#elif defined(__GNUC__)
    __asm__("" : "+r"(f));
#endif
    return f;
}

}  // namespace ov
