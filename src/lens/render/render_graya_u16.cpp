// Render instance for the host format ImgHostGrayA_U16.
#include "lens/render_impl.h"

PEL_LENS_RENDER_INSTANCE(ImgHostGrayA_U16);
