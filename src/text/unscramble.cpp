#include "text/unscramble.h"

namespace {

constexpr unsigned kLettersInAlphabet = 26;
// (26 * a + b + 37) mod 256 is the pair read as base-26 digits with 'A' as
// zero: 26 * 'A' + 'A' + 37 = 1792 = 7 * 256.
constexpr unsigned kPairBias = 37;

uint16_t NextKey(uint16_t key, uint8_t pairByte) {
  return static_cast<uint16_t>((pairByte + key) * kScrambleMultiplier + kScrambleIncrement);
}

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
    key = NextKey(key, pairByte);
  }
  return plain;
}

std::string ScrambleText(const std::string& plain, uint16_t startKey) {
  std::string scrambled;
  scrambled.reserve(plain.size() * 2);
  uint16_t key = startKey;
  for (char c : plain) {
    auto pairByte = static_cast<uint8_t>(static_cast<unsigned char>(c) ^ (key >> 8));
    scrambled.push_back(static_cast<char>('A' + pairByte / kLettersInAlphabet));
    scrambled.push_back(static_cast<char>('A' + pairByte % kLettersInAlphabet));
    key = NextKey(key, pairByte);
  }
  return scrambled;
}
