#include <gtest/gtest.h>

#include "text/scrambled_text.h"
#include "text/unscramble.h"

namespace {

TEST(UnscrambleText, EdgeCasesOfTheLetterForm) {
  struct Case {
    const char* scrambled;
    const char* sameAs;
  } cases[] = {
      {"", ""},                   // empty gives empty
      {"Q", ""},                  // a lone letter has no partner
      {"ABCDE", "ABCD"},          // an odd last letter is ignored
      {"KDXAQ", "KDXA"},          //
      {"\xff\x01Z", "\xff\x01"},  // any bytes run through the same arithmetic
  };
  for (const Case& c : cases) {
    EXPECT_EQ(UnscrambleText(c.scrambled, kTextStartKey), UnscrambleText(c.sameAs, kTextStartKey))
        << c.scrambled;
  }
  EXPECT_EQ(UnscrambleText("Q", kTextStartKey), "");
  EXPECT_EQ(UnscrambleText("ABCDE", kTextStartKey).size(), 2u);
}

TEST(UnscrambleText, FirstByteIsThePairInBase26XorTheKeyHighByte) {
  // "BC" is 1 * 26 + 2 = 28; the first output byte only sees the high byte
  // of the start key.
  for (uint16_t key : {0x0000, 0x00FF, 0x1200, 0x12FF, 0xFFFF}) {
    std::string plain = UnscrambleText("BCAA", key);
    ASSERT_EQ(plain.size(), 2u);
    EXPECT_EQ(static_cast<unsigned char>(plain[0]), 28u ^ (key >> 8)) << key;
  }
  // Pairs past 255 wrap: "JW" is 9 * 26 + 22 = 256 -> 0, the same byte as "AA".
  EXPECT_EQ(UnscrambleText("JW", 0)[0], UnscrambleText("AA", 0)[0]);
  // The same key and text always give the same result; another key differs.
  EXPECT_EQ(UnscrambleText("HELLOTHERE", 0x4242), UnscrambleText("HELLOTHERE", 0x4242));
  EXPECT_NE(UnscrambleText("HELLOTHERE", 0x4242), UnscrambleText("HELLOTHERE", 0x4343));
}

TEST(UnscrambleText, RollingKeyFollowsThePreXorByte) {
  // Hand-computed with the program's multiplier and increment: the second
  // byte's key comes from the first pair's value before the XOR.
  const uint16_t start = 0x0100;
  const uint8_t first = 28;  // "BC"
  const uint16_t next =
      static_cast<uint16_t>((first + start) * kScrambleMultiplier + kScrambleIncrement);
  std::string plain = UnscrambleText("BCBC", start);
  EXPECT_EQ(static_cast<unsigned char>(plain[0]), first ^ 0x01);
  EXPECT_EQ(static_cast<unsigned char>(plain[1]), first ^ (next >> 8));
}

TEST(UnscrambleText, ScrambleRoundTripsEveryByteValue) {
  std::string all;
  for (int b = 0; b < 256; ++b) all.push_back(static_cast<char>(b));
  for (const std::string& plain : {std::string("正在保存…"), std::string("x264vfw.dll"), all}) {
    std::string scrambled = ScrambleText(plain, kTextStartKey);
    ASSERT_EQ(scrambled.size(), plain.size() * 2);
    for (char c : scrambled) EXPECT_TRUE(c >= 'A' && c <= 'Z');
    EXPECT_EQ(UnscrambleText(scrambled, kTextStartKey), plain);
  }
}

TEST(UnscrambleLetters, GivesThePlainTextOfALetterList) {
  // "开始" as the program holds it.
  EXPECT_EQ((UnscrambleLetters<'D', 'E', 'B', 'Q', 'G', 'S', 'F', 'R', 'E', 'N', 'A', 'I'>()),
            "开始");
}

}  // namespace
