// Explicit instances of ov::RefractFilter, one per host format (the 18 rows of
// the instance table: host source, packed float twin destination, the InfoBuffer).
#include "refract/refract_filter.h"

#include "refract/refract_formats.h"

namespace ov {
#define PEL_INSTANTIATE(V) template class RefractFilter<V, TwinViewOf<V>>;
PEL_REFRACT_HOST_VIEWS(PEL_INSTANTIATE)
#undef PEL_INSTANTIATE
}  // namespace ov
