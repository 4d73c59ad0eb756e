#include "text/unscramble.h"

namespace {

// (26 * a + b + 37) mod 256 is the pair read as base-26 digits with 'A' as
// zero: 26 * 'A' + 'A' + 37 = 1792 = 7 * 256.
constexpr unsigned kPairBias = 37;

}  // namespace

std::string UnscrambleText(std::string scrambled, uint16_t startKey) {
  std::string plain;
  plain.reserve(scrambled.size() / 2);
  uint16_t key = startKey;
  for (size_t i = 0; i + 1 < scrambled.size(); i += 2) {
    unsigned a = static_cast<unsigned char>(scrambled[i]);
    unsigned b = static_cast<unsigned char>(scrambled[i + 1]);
    auto pairByte = static_cast<uint8_t>(kLettersInAlphabet * a + b + kPairBias);
    plain.push_back(static_cast<char>(pairByte ^ (key >> 8)));
    key = NextScrambleKey(key, pairByte);
  }
  return plain;
}

std::string ScrambleText(std::string_view plain, uint16_t startKey) {
  std::string scrambled(plain.size() * 2, '\0');
  ScrambleInto(plain, startKey, scrambled.data());
  return scrambled;
}
