// Render instance for the host format ImgHostRGBA_F1 (Part 4.103).
#include "lens/render_impl.h"

PEL_LENS_RENDER_INSTANCE(ImgHostRGBA_F1);
