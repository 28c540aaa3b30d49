// Render instance for the host format ImgHostGray_U8 (Part 4.103).
#include "lens/render_impl.h"

PEL_LENS_RENDER_INSTANCE(ImgHostGray_U8);
