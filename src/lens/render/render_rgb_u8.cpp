// Render instance for the host format ImgHostRGB_U8.
#include "lens/render_impl.h"

PEL_LENS_RENDER_INSTANCE(ImgHostRGB_U8);
