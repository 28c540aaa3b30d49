#include "tools/scene/scene_random.h"

namespace pelidorn {

uint32_t SceneHash(uint32_t x) {
    x ^= x >> 16;
    x *= 0x7feb352dU;
    x ^= x >> 15;
    x *= 0x846ca68bU;
    x ^= x >> 16;
    return x;
}

double SceneRandom(uint32_t& state) {
    state = SceneHash(state + 0x9e3779b9U);
    return (state & 0xFFFFFF) / double(0x1000000);
}

}  // namespace pelidorn
