// The hotkey lists' entries and what a pair of selections registers.
#pragma once

#include <cstdint>
#include <optional>

// Modifier list: 0 none, 1 Ctrl, 2 Alt, 3 Shift. Key list: 0 no hotkey,
// 1..12 F1..F12.
constexpr int kModifierEntries = 4;
constexpr int kFunctionKeyEntries = 12;
constexpr int kDefaultStartModifier = 1;  // Ctrl
constexpr int kDefaultStartKey = 9;       // F9
constexpr int kDefaultStopModifier = 1;   // Ctrl
constexpr int kDefaultStopKey = 10;       // F10

struct HotkeyChoice {
  uint32_t modifiers;   // RegisterHotKey's MOD_* flags
  uint32_t virtualKey;  // VK_F1..VK_F12
};

// Pause and resume: Ctrl+F11, once per press however long it is held
// (MOD_CONTROL | MOD_NOREPEAT, VK_F11); fixed, and registered only while a
// session records.
constexpr HotkeyChoice kPauseHotkey = {0x4002, 0x7A};

// What RegisterHotKey gets for a modifier and a key selection; nothing
// when the key list shows its empty entry or a selection is out of range.
std::optional<HotkeyChoice> HotkeyForSelection(int modifierIndex, int keyIndex);
