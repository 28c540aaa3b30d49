// Explicit instances of ov::FillInfoBufferFilter, one per host format.
#include "refract/info_buffer.h"

#include "refract/refract_formats.h"

namespace ov {
#define PEL_INSTANTIATE(V) template class FillInfoBufferFilter<V>;
PEL_REFRACT_HOST_VIEWS(PEL_INSTANTIATE)
#undef PEL_INSTANTIATE
}  // namespace ov
