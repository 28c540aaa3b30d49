// Render instance for the host format ImgHostGray_U8.
#include "lens/render_impl.h"

PEL_LENS_RENDER_INSTANCE(ImgHostGray_U8);
