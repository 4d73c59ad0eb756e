// x264vfw - H.264 Video-for-Windows compressor built on libx264.
// Copyright (C) Parvelo developers. GPL-2.0-or-later; see LICENSE.

// The benchmark's Windows side (bench/codec_bench.sh runs it under Wine):
//
//   codec_bench write FILE WIDTH HEIGHT FRAMES
//       writes screen-like pictures as raw top-down BGRA frames, the input both encoders get
//   codec_bench encode FILE WIDTH HEIGHT FRAMES PASSES KEY_RATE [PRESET]
//       compresses the frames PASSES times through x264vfw.dll (installed as Parvelo does, with
//       its default settings and the recorder's quality; PRESET overrides the state's preset
//       index) and prints frames per second
#include <windows.h>
#include <vfw.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "codec/codec_state.h"
#include "codec_host.h"
#include "synthetic_screen.h"

namespace {

constexpr int kExitOk = 0;
constexpr int kExitFailed = 1;
constexpr int kExitUsage = 2;
constexpr int kBits = 32;
constexpr LONG kRecorderQuality = 7500;
constexpr DWORD kFramesPerSecond = 25;
constexpr double kBitsPerKilobit = 1000.0 / 8.0;

int Write(const char* path, int width, int height, int frames) {
  std::FILE* file = std::fopen(path, "wb");
  if (file == nullptr) return kExitFailed;
  for (int frame = 0; frame < frames; ++frame) {
    std::vector<uint8_t> dib = synthetic_screen::ToDib(
        synthetic_screen::PaintRgb(width, height, frame), width, height, kBits, true);
    std::fwrite(dib.data(), 1, dib.size(), file);
  }
  std::fclose(file);
  return kExitOk;
}

int Encode(const char* path, int width, int height, int frames, int passes, int key_rate,
           const char* preset) {
  BITMAPINFOHEADER input = codec_host::RgbHeader(width, height, kBits, true);
  std::vector<std::vector<uint8_t>> pictures(frames, std::vector<uint8_t>(input.biSizeImage));
  std::FILE* file = std::fopen(path, "rb");
  if (file == nullptr) return kExitFailed;
  for (std::vector<uint8_t>& picture : pictures) {
    if (std::fread(picture.data(), 1, picture.size(), file) != picture.size()) {
      std::fclose(file);
      return kExitFailed;
    }
  }
  std::fclose(file);

  codec_host::InstalledDriver driver;
  HIC hic = driver.ok() ? ICOpen(ICTYPE_VIDEO, codec_host::kHandler, ICMODE_COMPRESS) : nullptr;
  if (hic == nullptr) return kExitFailed;
  std::vector<uint8_t> state = codec_host::ReadState(hic);
  codec_host::ApplyRecorderEdit(&state);
  if (preset != nullptr) {
    codec_host::PatchU32(&state, parvelo::codec::state_offset::kPreset, std::atoi(preset));
  }
  ICSetState(hic, state.data(), state.size());
  codec_host::SendFramesInfo(hic, kRecorderQuality, key_rate, kFramesPerSecond, 1);
  std::vector<uint8_t> format(ICCompressGetFormatSize(hic, &input));
  ICCompressGetFormat(hic, &input, format.data());
  std::vector<uint8_t> output(ICCompressGetSize(hic, &input, format.data()));
  if (ICCompressBegin(hic, &input, format.data()) != ICERR_OK) return kExitFailed;

  LARGE_INTEGER frequency, start, stop;
  QueryPerformanceFrequency(&frequency);
  QueryPerformanceCounter(&start);
  unsigned long long bytes = 0;
  int total = frames * passes;
  for (int i = 0; i < total; ++i) {
    BITMAPINFOHEADER header = *reinterpret_cast<BITMAPINFOHEADER*>(format.data());
    DWORD ckid = 0, flags = 0;
    if (ICCompress(hic, 0, &header, output.data(), &input, pictures[i % frames].data(), &ckid,
                   &flags, i, 0, kRecorderQuality, nullptr, nullptr) != ICERR_OK) {
      return kExitFailed;
    }
    bytes += header.biSizeImage;
  }
  QueryPerformanceCounter(&stop);
  ICCompressEnd(hic);
  ICClose(hic);
  double seconds = static_cast<double>(stop.QuadPart - start.QuadPart) / frequency.QuadPart;
  std::printf("frames=%d\nseconds=%.3f\nfps=%.1f\nkbit_per_second=%.0f\n", total, seconds,
              total / seconds, bytes * kFramesPerSecond / (total * kBitsPerKilobit));
  return kExitOk;
}

}  // namespace

int main(int argc, char** argv) {
  std::string mode = argc > 1 ? argv[1] : "";
  if (mode == "write" && argc == 6) {
    return Write(argv[2], std::atoi(argv[3]), std::atoi(argv[4]), std::atoi(argv[5]));
  }
  if (mode == "encode" && (argc == 8 || argc == 9)) {
    return Encode(argv[2], std::atoi(argv[3]), std::atoi(argv[4]), std::atoi(argv[5]),
                  std::atoi(argv[6]), std::atoi(argv[7]), argc == 9 ? argv[8] : nullptr);
  }
  std::fprintf(stderr,
               "usage: codec_bench write FILE W H FRAMES | encode FILE W H FRAMES PASSES KEY_RATE "
               "[PRESET]\n");
  return kExitUsage;
}
