// Render instance for the host format ImgHostGray_F1.
#include "lens/render_impl.h"

PEL_LENS_RENDER_INSTANCE(ImgHostGray_F1);
