// Run-time texts are held scrambled: a run of capital letters, two letters
// per byte, turned back into their plain bytes (UTF-8) only where they are
// shown. Neither form sits in the program's string data.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

// Multiplier, increment and start key of the rolling key. The same for
// every text.
constexpr uint16_t kScrambleMultiplier = 0x6D2B;
constexpr uint16_t kScrambleIncrement = 0x3A91;
constexpr uint16_t kTextStartKey = 0xB7E5;
constexpr unsigned kLettersInAlphabet = 26;

// The key for the next byte, from the byte a letter pair gives (before the XOR).
constexpr uint16_t NextScrambleKey(uint16_t key, uint8_t pairByte) {
  return static_cast<uint16_t>((pairByte + key) * kScrambleMultiplier + kScrambleIncrement);
}

// Letter pairs to bytes, then the rolling-key XOR. An odd last letter is
// ignored; any characters are accepted.
std::string UnscrambleText(std::string scrambled, uint16_t startKey);

// The inverse: writes the 2 * plain.size() letters of plain's scrambled
// form. Run by the compiler for the program's own texts
// (text/scrambled_text.h) and by the host tool tools/scramble.
constexpr void ScrambleInto(std::string_view plain, uint16_t startKey, char* letters) {
  uint16_t key = startKey;
  for (char c : plain) {
    auto pairByte = static_cast<uint8_t>(static_cast<unsigned char>(c) ^ (key >> 8));
    *letters++ = static_cast<char>('A' + pairByte / kLettersInAlphabet);
    *letters++ = static_cast<char>('A' + pairByte % kLettersInAlphabet);
    key = NextScrambleKey(key, pairByte);
  }
}

std::string ScrambleText(std::string_view plain, uint16_t startKey);
