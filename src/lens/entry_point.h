// The module's one export: ENTRYPOINT, with C linkage, under that name.
#pragma once

#include <cstdint>

#if defined(_WIN32)
#define PEL_ENTRY_EXPORT __declspec(dllexport)
#else
#define PEL_ENTRY_EXPORT __attribute__((visibility("default")))
#endif

extern "C" PEL_ENTRY_EXPORT void ENTRYPOINT(uint16_t selector, void* filterParamBlock, intptr_t* data,
                                            int16_t* result);

namespace ov {
class pfFilterPelidorn;
// The one filter object, constructed on first use (a function-local static).
pfFilterPelidorn& PelidornFilter();
}  // namespace ov
