// Depth-of-field filter instances of the two-channel host formats (8-bit, 16-bit, float).
#include "depthoffield/depth_of_field_filter_impl.h"
#include "depthoffield/depth_of_field_tiles_impl.h"

namespace ov {

template class PEL_DOF_FILTER(TwoCh, U8);
PEL_DOF_TILE_INSTANCES(TwoCh, U8)
template class PEL_DOF_FILTER(TwoCh, U16);
PEL_DOF_TILE_INSTANCES(TwoCh, U16)
template class PEL_DOF_FILTER(TwoCh, F1);
PEL_DOF_TILE_INSTANCES(TwoCh, F1)

}  // namespace ov
