// When the compressed video stream asks its compressor for a key frame:
// at the first frame, and whenever the key-frame interval has passed since
// the last key frame. Counted in stream positions, so dropped frames
// (gaps) cannot skip a key frame.
#pragma once

#include <cstdint>
#include <optional>

// interval 0: only the first frame is asked to be a key frame.
bool KeyFrameDue(int64_t position, std::optional<int64_t> lastKeyPosition, uint32_t interval);
