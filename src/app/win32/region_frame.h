// The region frame: a green, see-through, always-on-top 5-pixel outline
// whose edges the user drags to mark the area to record. Found by the
// rest of the program only by its class and title.
#pragma once

#include <windows.h>

constexpr UINT_PTR kFrameTrackTimerId = 1;
constexpr UINT kFrameTrackTimerMs = 10;

void CreateRegionFrame();
