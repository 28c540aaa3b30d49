// Depth-of-field filter instances of the gray with alpha host formats (8-bit, 16-bit, float).
#include "depthoffield/depth_of_field_filter_impl.h"
#include "depthoffield/depth_of_field_tiles_impl.h"

namespace ov {

template class PEL_DOF_FILTER(GrayA, U8);
PEL_DOF_TILE_INSTANCES(GrayA, U8)
template class PEL_DOF_FILTER(GrayA, U16);
PEL_DOF_TILE_INSTANCES(GrayA, U16)
template class PEL_DOF_FILTER(GrayA, F1);
PEL_DOF_TILE_INSTANCES(GrayA, F1)

}  // namespace ov
