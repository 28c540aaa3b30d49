// The 18 instances of the highlight selection filter, one per host format.
#include "kernel/hsl_range_selection_filter.h"

namespace ov {

#define PEL_HSL_SELECTION_INSTANCE(V) template class HslRangeSelectionFilter<V, V, V>;
PEL_HSL_SELECTION_FORMATS(PEL_HSL_SELECTION_INSTANCE)
#undef PEL_HSL_SELECTION_INSTANCE

}  // namespace ov
