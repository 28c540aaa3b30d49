// Explicit instances of the refraction stage, one per host format.
#include "refract/refraction_stage.h"

#include "refract/refract_formats.h"

namespace ov {
#define PEL_INSTANTIATE(V)                                                                  \
    template Status renderRefractionStage<V, V>(OstrovanneHost*, const V&, V&, const V&,     \
                                                const RefractionSettings&, uint32_t);
PEL_REFRACT_HOST_VIEWS(PEL_INSTANTIATE)
#undef PEL_INSTANTIATE
}  // namespace ov
