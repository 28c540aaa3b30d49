// Deterministic noise for the project's drawn test scenes (the sample scene of pelidorn_sample
// and the small documents of the Windows test host): the same numbers on every platform and
// compiler, so that drawings, and the golden outputs rendered from them, never drift.
#pragma once

#include <cstdint>

namespace pelidorn {

// A 32-bit integer hash with full avalanche (every input bit flips about half the output bits).
uint32_t SceneHash(uint32_t x);

// The next number of the sequence held in `state`, uniform in [0, 1) with 24-bit resolution.
double SceneRandom(uint32_t& state);

}  // namespace pelidorn
