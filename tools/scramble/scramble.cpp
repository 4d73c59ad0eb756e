// Host tool: prints the scrambled form of a plain UTF-8 text as the
// letter list that the program's sources hold at the text's point of use.
//
//   build/native/tools/scramble/scramble "正在保存"
//   -> UnscrambleLetters<'D', 'K', ...>()
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
  std::string out = "UnscrambleLetters<";
  for (size_t i = 0; i < scrambled.size(); ++i) {
    out += (i ? ", '" : "'") + std::string(1, scrambled[i]) + "'";
  }
  std::printf("%s>()\n", out.c_str());
  return 0;
}
