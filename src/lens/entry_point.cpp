// ENTRYPOINT: constructs the one filter on the first call, traces the call and
// hands it to the selector dispatcher.
//
// Guarded: no exception leaves ENTRYPOINT. Out of memory
// (std::bad_alloc, also from the first call's construction) answers -108; any other
// exception answers -30100, the host's "problem with the filter module interface". The log
// indent is restored on the way out (LogScope).
#include "lens/entry_point.h"

#include <new>

#include "core/logger.h"
#include "lens/pelidorn_filter.h"

namespace ov {

pfFilterPelidorn& PelidornFilter() {
    static pfFilterPelidorn filter(
        "\xBBPelidorn\xAB", "Ostrovanne", 1, 4, 5,
        "Simulates a camera's 'Depth of Field' and 'Out of Focus' effect. An aperture-shaped lens blur "
        "with blooming highlights; with a depth map, a blur that follows the depth of the scene.\n");
    return filter;
}

}  // namespace ov

namespace {
constexpr int16_t kResultInternalError = -30100;
}

extern "C" PEL_ENTRY_EXPORT void ENTRYPOINT(uint16_t selector, void* filterParamBlock, intptr_t* data,
                                            int16_t* result) {
    try {
        ov::pfFilterPelidorn& filter = ov::PelidornFilter();
        ov::LogTrace("ENTRYPOINT( selector(", unsigned(selector), "), filterParamBlock(", ov::HexPtr(filterParamBlock),
                     "), data(", ov::HexPtr(data), "), result(", ov::HexPtr(result), ") )\n");
        ov::LogScope scope;
        filter.DispatchSelector(int16_t(selector), filterParamBlock, data, result);
    } catch (const std::bad_alloc&) {
        if (result) *result = memFullErr;
    } catch (...) {
        if (result) *result = kResultInternalError;
    }
}
