// Where the pointer's picture goes in a grabbed surface: its hot spot on
// the pointer's screen position, moved into the surface's coordinates.
#pragma once

#include <cstdint>
#include <optional>

struct PointerPoint {
  int32_t x, y;
};

// `hotSpot` is empty when the pointer's icon information could not be
// read; the picture's corner then goes to the pointer position itself.
PointerPoint PointerDrawPosition(PointerPoint screenPosition, std::optional<PointerPoint> hotSpot,
                                 PointerPoint surfaceOrigin);

// Which picture to paint: the pointer's own, the standard arrow when the
// system says the pointer shows but hands out no pointer (Wine does this
// while another program is in front), or none.
enum class PointerPicture { kNone, kOwn, kStandardArrow };
PointerPicture ChoosePointerPicture(bool havePointerHandle, bool showing);
