// Render instance for the host format ImgHostTwoChA_U8.
#include "lens/render_impl.h"

PEL_LENS_RENDER_INSTANCE(ImgHostTwoChA_U8);
