// Render instance for the host format ImgHostTwoCh_F1.
#include "lens/render_impl.h"

PEL_LENS_RENDER_INSTANCE(ImgHostTwoCh_F1);
