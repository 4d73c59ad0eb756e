// The two ways a session grabs the screen. Direct3D copies the whole front
// buffer; DirectDraw blits the capture rectangle from the primary surface.
// Each grab paints the pointer (when wanted) and copies the capture
// rectangle into the frame, bottom row first.
#pragma once

#include "video/frame_copy.h"

enum class CaptureBackend { kNone, kDirect3D, kDirectDraw };

// Each makes its back-end's first object of the process and releases it:
// the libraries stay loaded, and their first use is paid for.
void WarmUpDirect3D();
void WarmUpDirectDraw();

// Creates the Direct3D device (d3d9.dll is loaded at run time; a system
// without it counts as Direct3DCreate9 failing).
bool InitDirect3DCapture();
// Reads the display mode, creates the screen-sized surface and checks with
// a test grab that the front-buffer copy really holds the screen.
bool SetUpDirect3DSurface();
// A grab returns false while the device or its surfaces are lost and not
// back yet: the frame keeps its last picture.
bool GrabDirect3D(const FrameGeometry& geometry);
void ReleaseDirect3D();

bool InitDirectDrawCapture();
bool GrabDirectDraw(const FrameGeometry& geometry);
void ReleaseDirectDraw();
