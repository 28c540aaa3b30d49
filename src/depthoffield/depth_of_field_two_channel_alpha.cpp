// Depth-of-field filter instances of the two-channel with alpha host formats (8-bit, 16-bit, float).
#include "depthoffield/depth_of_field_filter_impl.h"
#include "depthoffield/depth_of_field_tiles_impl.h"

namespace ov {

template class PEL_DOF_FILTER(TwoChA, U8);
PEL_DOF_TILE_INSTANCES(TwoChA, U8)
template class PEL_DOF_FILTER(TwoChA, U16);
PEL_DOF_TILE_INSTANCES(TwoChA, U16)
template class PEL_DOF_FILTER(TwoChA, F1);
PEL_DOF_TILE_INSTANCES(TwoChA, F1)

}  // namespace ov
