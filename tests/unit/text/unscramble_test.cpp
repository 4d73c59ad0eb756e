#include <gtest/gtest.h>

#include "text/scrambled_text.h"
#include "text/unscramble.h"

namespace {

// Worked by hand from the rule: byte = (26 * a + b + 37) mod 256, shown as
// byte ^ (key >> 8), then key = ((byte + key) * 0x6D2B + 0x3A91) mod 65536.
// "BC" is 1 * 26 + 2 = 28; from key 0 the next key is 28 * 0x6D2B + 0x3A91
// = 0x2B45; from key 0x12FF it is 0x131B * 0x6D2B + 0x3A91 = 0xEF1A.
TEST(UnscrambleText, GivesTheBytesWorkedByHand) {
  struct Case {
    std::string scrambled;
    uint16_t startKey;
    std::string plain;
  } cases[] = {
      {"", kTextStartKey, ""},            // empty gives empty
      {"Q", kTextStartKey, ""},           // a lone letter has no partner
      {"BCAA", 0x0000, "\x1C\x2B"},       // the second byte's key follows the first pair
      {"BCAAZ", 0x0000, "\x1C\x2B"},      // an odd last letter is ignored
      {"BCAA", 0x12FF, "\x0E\xEF"},       // the first byte sees only the key's high byte
      {"JW", 0x0000, std::string(1, 0)},  // 9 * 26 + 22 = 256 wraps to 0 ...
      {"AA", 0x0000, std::string(1, 0)},  // ... the same byte as "AA"
      {"\xFF\x01", 0x0000, "\x0C"},       // any bytes: 26 * 255 + 1 + 37 = 6668 = 0x0C mod 256
  };
  for (const Case& c : cases) {
    EXPECT_EQ(UnscrambleText(c.scrambled, c.startKey), c.plain) << c.scrambled;
  }
}

// The program's texts both ways, letters worked by hand with the program's
// start key 0xB7E5.
TEST(ScrambleText, ProgramTextsBothWays) {
  struct Case {
    const char* letters;
    const char* plain;
  } cases[] = {
      {"DEBQGSFRENAI", "开始"},
      {"HZIGAFAUEEFJASGRBYBWAE", "x264vfw.dll"},
      {"JOBR", "OK"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(UnscrambleText(c.letters, kTextStartKey), c.plain) << c.letters;
    EXPECT_EQ(ScrambleText(c.plain, kTextStartKey), c.letters) << c.plain;
  }
  std::string everyByte;
  for (int b = 0; b < 256; ++b) everyByte.push_back(static_cast<char>(b));
  std::string scrambled = ScrambleText(everyByte, kTextStartKey);
  EXPECT_EQ(scrambled.find_first_not_of("ABCDEFGHIJKLMNOPQRSTUVWXYZ"), std::string::npos);
  EXPECT_EQ(UnscrambleText(scrambled, kTextStartKey), everyByte);
  static_assert(kScrambledLetters<texts::StartCaption>[0] == 'D' &&
                    kScrambledLetters<texts::StartCaption>[11] == 'I',
                "the compiler scrambles a named text as by hand");
  EXPECT_EQ(Unscrambled<texts::StartCaption>(), "开始");
}

}  // namespace
