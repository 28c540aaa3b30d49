// Render instance for the host format ImgHostTwoCh_U8.
#include "lens/render_impl.h"

PEL_LENS_RENDER_INSTANCE(ImgHostTwoCh_U8);
