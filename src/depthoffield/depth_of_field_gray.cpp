// Depth-of-field filter instances of the gray host formats (8-bit, 16-bit, float).
#include "depthoffield/depth_of_field_filter_impl.h"
#include "depthoffield/depth_of_field_tiles_impl.h"

namespace ov {

template class PEL_DOF_FILTER(Gray, U8);
PEL_DOF_TILE_INSTANCES(Gray, U8)
template class PEL_DOF_FILTER(Gray, U16);
PEL_DOF_TILE_INSTANCES(Gray, U16)
template class PEL_DOF_FILTER(Gray, F1);
PEL_DOF_TILE_INSTANCES(Gray, F1)

}  // namespace ov
