// Out-of-focus effect and filter instances of the TwoChA host formats (8-bit, 16-bit, float).
#include "outoffocus/out_of_focus_effect_impl.h"

namespace ov {

#define PEL_OOF_INSTANCES(H)                                                        \
    template class OutOfFocusEffect<ImgHostTwoChA_##H, ImgHostTwoChA_##H, ImgMask8>; \
    template class PEL_OOF_FILTER(TwoChA, H, 0);                                     \
    template class PEL_OOF_FILTER(TwoChA, H, 1);
PEL_OOF_INSTANCES(U8)
PEL_OOF_INSTANCES(U16)
PEL_OOF_INSTANCES(F1)

}  // namespace ov
