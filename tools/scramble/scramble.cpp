// Host tool: prints the scrambled form of a plain UTF-8 text, the letters
// the compiler writes for a text named in src/text/program_texts.h.
//
//   build/native/tools/scramble/scramble "正在保存"
//   -> DDFCCVFPGPHMBAGQBBEQDLCS
#include <cstdio>
#include <string>

#include "text/unscramble.h"

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: scramble <plain UTF-8 text>\n");
    return 1;
  }
  std::string scrambled = ScrambleText(argv[1], kTextStartKey);
  if (UnscrambleText(scrambled, kTextStartKey) != argv[1]) return 1;
  std::printf("%s\n", scrambled.c_str());
  return 0;
}
