// The instances of the clear and fill filters.
#include "pixel/clear_fill_filter.h"

namespace ov {

#define PEL_INSTANTIATE_CLEAR(V) template class ClearImageFilter<V>;
#define PEL_INSTANTIATE_FILL(V) template class FillImageFilter<V>;
PEL_CLEAR_FILL_INSTANCES(PEL_INSTANTIATE_CLEAR, PEL_INSTANTIATE_FILL)

}  // namespace ov
