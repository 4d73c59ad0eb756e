#include "app/hotkey_map.h"

#include <gtest/gtest.h>

namespace {

TEST(HotkeyForSelection, MapsListIndexesToRegisterHotKeyArguments) {
  struct Case {
    int modifier, key;
    bool registers;
    uint32_t modifiers, virtualKey;
  } cases[] = {
      {1, 9, true, 0x0002, 0x78},   // Ctrl+F9, the start default
      {1, 10, true, 0x0002, 0x79},  // Ctrl+F10, the stop default
      {0, 1, true, 0x0000, 0x70},   // no modifier: the bare F1
      {2, 12, true, 0x0001, 0x7B},  // Alt+F12
      {3, 5, true, 0x0004, 0x74},   // Shift+F5
      {1, 0, false, 0, 0},          // key list on its empty entry: nothing
      {1, 13, false, 0, 0},         // out of range
      {1, -1, false, 0, 0},         // no selection (CB_ERR)
      {4, 9, false, 0, 0},          // modifier out of range
      {-1, 9, false, 0, 0},
  };
  for (const Case& c : cases) {
    auto choice = HotkeyForSelection(c.modifier, c.key);
    ASSERT_EQ(choice.has_value(), c.registers) << c.modifier << "+" << c.key;
    if (choice) {
      EXPECT_EQ(choice->modifiers, c.modifiers);
      EXPECT_EQ(choice->virtualKey, c.virtualKey);
    }
  }
}

}  // namespace
