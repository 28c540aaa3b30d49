// Render instance for the host format ImgHostGrayA_F1.
#include "lens/render_impl.h"

PEL_LENS_RENDER_INSTANCE(ImgHostGrayA_F1);
