#include "video/key_frame_schedule.h"

bool KeyFrameDue(int64_t position, std::optional<int64_t> lastKeyPosition, uint32_t interval) {
  if (!lastKeyPosition) return true;
  return interval != 0 && position - *lastKeyPosition >= static_cast<int64_t>(interval);
}
