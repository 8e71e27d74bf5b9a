// The drawing-surface unit: the surface with its DirectDraw objects (DXDrawsCore.h) and the picture list
// with the hardware 2D renderer (DXDrawsImages.h).
#pragma once

#include "render/DXDrawsCore.h"
#include "render/DXDrawsImages.h"
