// Depth-of-field filter instances of the RGB with alpha host formats (8-bit, 16-bit, float).
#include "depthoffield/depth_of_field_filter_impl.h"
#include "depthoffield/depth_of_field_tiles_impl.h"

namespace ov {

template class PEL_DOF_FILTER(RGBA, U8);
PEL_DOF_TILE_INSTANCES(RGBA, U8)
template class PEL_DOF_FILTER(RGBA, U16);
PEL_DOF_TILE_INSTANCES(RGBA, U16)
template class PEL_DOF_FILTER(RGBA, F1);
PEL_DOF_TILE_INSTANCES(RGBA, F1)

}  // namespace ov
