// Paints the mouse pointer into a grabbed picture through a DC on the
// back-end's surface, before the pixels are copied into the frame.
#pragma once

#include <windows.h>

// originX, originY: screen coordinates of the surface's top-left pixel.
void PaintPointer(HDC dc, int originX, int originY);
