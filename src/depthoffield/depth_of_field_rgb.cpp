// Depth-of-field filter instances of the RGB host formats (8-bit, 16-bit, float).
#include "depthoffield/depth_of_field_filter_impl.h"
#include "depthoffield/depth_of_field_tiles_impl.h"

namespace ov {

template class PEL_DOF_FILTER(RGB, U8);
PEL_DOF_TILE_INSTANCES(RGB, U8)
template class PEL_DOF_FILTER(RGB, U16);
PEL_DOF_TILE_INSTANCES(RGB, U16)
template class PEL_DOF_FILTER(RGB, F1);
PEL_DOF_TILE_INSTANCES(RGB, F1)

}  // namespace ov
