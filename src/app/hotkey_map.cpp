#include "app/hotkey_map.h"

#include <iterator>

namespace {

// MOD_ALT 0x1, MOD_CONTROL 0x2, MOD_SHIFT 0x4, by modifier-list index.
constexpr uint32_t kModifierFlags[kModifierEntries] = {0x0000, 0x0002, 0x0001, 0x0004};
// Key index k is VK_F1 (0x70) for k = 1 up to VK_F12 (0x7B) for k = 12.
constexpr uint32_t kKeyIndexToVirtualKey = 111;

}  // namespace

std::optional<HotkeyChoice> HotkeyForSelection(int modifierIndex, int keyIndex) {
  if (keyIndex < 1 || keyIndex > kFunctionKeyEntries) return std::nullopt;
  if (modifierIndex < 0 || modifierIndex >= static_cast<int>(std::size(kModifierFlags))) {
    return std::nullopt;
  }
  return HotkeyChoice{kModifierFlags[modifierIndex],
                      static_cast<uint32_t>(keyIndex) + kKeyIndexToVirtualKey};
}
