// avi_sample_files DIR: writes recordings of real H.264 and MP3 through the
// writer, for the end-to-end tests to open in outside readers:
// DIR/one-part.avi (all in the first RIFF part) and DIR/parts.avi (several
// parts). Prints "<name> <video positions> <sound bytes>" for each.
#include <cstdio>
#include <string>

#include "avi_test_support.h"

namespace {

constexpr uint64_t kSmallPartLimitBytes = 160 * 1024;
constexpr int kOnePartFrames = 60;
constexpr int kPartsFrames = 300;
constexpr int kDropEvery = 5;

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: avi_sample_files DIR\n");
    return 2;
  }
  const struct {
    const char* name;
    uint64_t partLimitBytes;
    int frames;
  } files[] = {{"one-part.avi", kAviDefaultRiffPartLimitBytes, kOnePartFrames},
               {"parts.avi", kSmallPartLimitBytes, kPartsFrames}};
  for (const auto& file : files) {
    AviFileOptions options;
    options.riffPartLimitBytes = file.partLimitBytes;
    const avitest::Recording recording =
        avitest::Record(std::string(argv[1]) + "/" + file.name, options, file.frames, kDropEvery);
    if (recording.result != kAviOk) return 1;
    std::printf("%s %d %zu\n", file.name, recording.positions.back() + 1, recording.soundBytes);
  }
  return 0;
}
