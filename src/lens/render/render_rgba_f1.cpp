// Render instance for the host format ImgHostRGBA_F1.
#include "lens/render_impl.h"

PEL_LENS_RENDER_INSTANCE(ImgHostRGBA_F1);
