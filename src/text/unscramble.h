// Run-time texts are held scrambled: a run of capital letters, two letters
// per byte, turned back into their plain bytes (UTF-8) only where they are
// shown. Neither form sits in the program's string data.
#pragma once

#include <cstdint>
#include <string>

// Multiplier, increment and start key of the rolling key. The same for
// every text; tools/scramble uses them to make the scrambled form.
constexpr uint16_t kScrambleMultiplier = 0x6D2B;
constexpr uint16_t kScrambleIncrement = 0x3A91;
constexpr uint16_t kTextStartKey = 0xB7E5;

// Letter pairs to bytes, then the rolling-key XOR. An odd last letter is
// ignored; any characters are accepted.
std::string UnscrambleText(std::string scrambled, uint16_t startKey);

// The inverse, for the host tool that writes scrambled texts into the
// sources (the program itself only unscrambles).
std::string ScrambleText(const std::string& plain, uint16_t startKey);
