// Render instance for the host format ImgHostRGB_F1.
#include "lens/render_impl.h"

PEL_LENS_RENDER_INSTANCE(ImgHostRGB_F1);
