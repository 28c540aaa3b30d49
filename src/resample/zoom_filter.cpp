// The 39 instances of ov::ZoomFilter (and with them the 21 box integrals and table fills).
#include "resample/zoom_filter.h"

namespace ov {

#define OV_ZOOM_INSTANCE(S, D) template class ZoomFilter<S, D>;
OV_ZOOM_PAIRS(OV_ZOOM_INSTANCE)
#undef OV_ZOOM_INSTANCE

}  // namespace ov
