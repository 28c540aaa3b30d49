// Render instance for the host format ImgHostRGB_U16.
#include "lens/render_impl.h"

PEL_LENS_RENDER_INSTANCE(ImgHostRGB_U16);
