// Paints the mouse pointer into a grabbed picture before it is written:
// through a DC on the back-end's surface, or, where the surface gives none
// (Direct3D's A8R8G8B8 front-buffer copy: GetDC takes no format with
// alpha), straight into the frame.
#pragma once

#include <windows.h>

#include <cstdint>

#include "video/frame_copy.h"

// originX, originY: screen coordinates of the surface's top-left pixel.
void PaintPointer(HDC dc, int originX, int originY);

// The same picture painted into the bottom-up frame whose top-left pixel is
// at screen (originX, originY): the pointer's part of the frame goes to a
// small DIB section, is drawn on there and copied back, so the result is
// what drawing on the surface would have given.
void PaintPointerIntoFrame(uint8_t* frame, const FrameGeometry& geometry, int originX, int originY);

// Frees the DIB section PaintPointerIntoFrame keeps between frames.
void ReleasePointerPatch();
