// CopyImageFilter instances: the 18 host-to-work pairs, one per host format.
#include "pixel/copy_image_filter.h"

namespace ov {

#define PEL_INSTANTIATE(F, H, W) template class PEL_COPY_HOST_TO_WORK(F, H, W);
PEL_FOR_EACH_HOST_FORMAT(PEL_INSTANTIATE)

}  // namespace ov
