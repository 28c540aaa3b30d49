// Render instance for the host format ImgHostGray_U16.
#include "lens/render_impl.h"

PEL_LENS_RENDER_INSTANCE(ImgHostGray_U16);
