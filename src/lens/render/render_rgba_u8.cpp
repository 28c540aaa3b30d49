// Render instance for the host format ImgHostRGBA_U8.
#include "lens/render_impl.h"

PEL_LENS_RENDER_INSTANCE(ImgHostRGBA_U8);
