// Out-of-focus effect and filter instances of the RGBA host formats (8-bit, 16-bit, float).
#include "outoffocus/out_of_focus_effect_impl.h"

namespace ov {

#define PEL_OOF_INSTANCES(H)                                                        \
    template class OutOfFocusEffect<ImgHostRGBA_##H, ImgHostRGBA_##H, ImgMask8>; \
    template class PEL_OOF_FILTER(RGBA, H, 0);                                     \
    template class PEL_OOF_FILTER(RGBA, H, 1);
PEL_OOF_INSTANCES(U8)
PEL_OOF_INSTANCES(U16)
PEL_OOF_INSTANCES(F1)

}  // namespace ov
