// Render instance for the host format ImgHostTwoChA_F1.
#include "lens/render_impl.h"

PEL_LENS_RENDER_INSTANCE(ImgHostTwoChA_F1);
