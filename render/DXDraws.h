// The drawing-surface unit: the surface with its DirectDraw objects (DXDrawsCore.h) and the picture list
// with the hardware 2D renderer (DXDrawsImages.h).
#pragma once

#include "render/DXDrawsCore.h"

#if __has_include("render/DXDrawsImages.h")
#include "render/DXDrawsImages.h"
#endif
