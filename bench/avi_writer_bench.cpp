// Writer cost per frame, and a recording past 4 GB made of a real H.264
// clip and MP3, for avi_writer_bench.sh to check with ffprobe.
//
// avi_writer_bench <clip.h264> <clip.h264.csv> <clip.mp3> <clip.mp3.csv> <out.avi> <bytes>
// The .csv files list each packet of the clip as "size,pos" (ffprobe).
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "avi/avi_writer.h"

namespace {

using Bytes = std::vector<uint8_t>;
using Clock = std::chrono::steady_clock;

constexpr uint32_t kFps = 25;
constexpr int64_t kMsPerSecond = 1000;
constexpr int32_t kWidth = 1920;
constexpr int32_t kHeight = 1080;
constexpr uint32_t kMp3BytesPerSecond = 8000;
// A 1080p screen recording at about 8 Mbit/s: a key frame every 2 s.
constexpr size_t kTypicalFrameBytes = 40 * 1000;
constexpr size_t kTypicalKeyFrameBytes = 250 * 1000;
constexpr int kKeyFrameEvery = 50;
constexpr int kOverheadFrames = 20000;
constexpr double kMicrosecondsPerSecond = 1e6;
constexpr int kBitmapInfoHeaderBytes = 40;
constexpr uint16_t kPlanes = 1;
constexpr uint16_t kBitsPerPixel = 24;
// MPEGLAYER3WAVEFORMAT of 64 kbit/s mono MP3 at 44.1 kHz.
constexpr uint16_t kMp3FormatTag = 0x55;
constexpr uint16_t kMonoChannels = 1;
constexpr uint32_t kSamplesPerSecond = 44100;
constexpr uint16_t kByteBlockAlign = 1;
constexpr uint16_t kCompressedBitsPerSample = 0;
constexpr uint16_t kMp3ExtraBytes = 12;
constexpr uint16_t kMpegId = 1;
constexpr uint32_t kIsoPadding = 0;
constexpr uint16_t kMp3BlockBytes = 209;
constexpr uint16_t kFramesPerBlock = 1;
constexpr uint16_t kCodecDelaySamples = 1393;

std::vector<Bytes> Packets(const char* data, const char* csv) {
  std::ifstream in(data, std::ios::binary);
  const Bytes all((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  std::vector<Bytes> packets;
  std::ifstream list(csv);
  for (size_t size, pos; list >> size && list.ignore(1) && list >> pos;) {
    packets.emplace_back(all.begin() + pos, all.begin() + pos + size);
  }
  return packets;
}

class NullIo final : public AviFileIo {
 public:
  bool Open(const char*) override { return true; }
  bool Write(uint64_t, const void*, size_t) override { return true; }
  bool Sync() override { return true; }
  bool Close() override { return true; }
};

void Put(Bytes* out, uint32_t value, int bytes) {
  for (int i = 0; i < bytes; ++i) out->push_back(static_cast<uint8_t>(value >> (8 * i)));
}

struct Recorder {
  AviFile* file = nullptr;
  AviStream* video = nullptr;
  AviStream* audio = nullptr;
  int64_t nowMs = 0;
  int32_t audioBytes = 0;

  explicit Recorder(const char* path, AviFileOptions options) {
    options.clockMs = [this] { return nowMs; };  // video time: a refresh every 2 s of it
    AviFileOpen(&file, path, &options);
    AviStreamInfo info{};
    info.fccType = kAviStreamTypeVideo;
    info.fccHandler = MakeFourCC('H', '2', '6', '4');
    info.dwScale = 1;
    info.dwRate = kFps;
    info.rcFrame = {0, 0, kWidth, kHeight};
    Bytes format;
    for (uint32_t field : {uint32_t(kBitmapInfoHeaderBytes), uint32_t(kWidth), uint32_t(kHeight)}) {
      Put(&format, field, 4);
    }
    Put(&format, kPlanes, 2);
    Put(&format, kBitsPerPixel, 2);
    Put(&format, info.fccHandler, 4);
    format.resize(kBitmapInfoHeaderBytes);
    AviFileCreateStream(file, &video, &info);
    AviStreamSetFormat(video, 0, format.data(), int32_t(format.size()));
    info = AviStreamInfo{};
    info.fccType = kAviStreamTypeAudio;
    info.dwScale = 1;
    info.dwRate = kMp3BytesPerSecond;
    info.dwSampleSize = 1;
    format.clear();
    Put(&format, kMp3FormatTag, 2);
    Put(&format, kMonoChannels, 2);
    Put(&format, kSamplesPerSecond, 4);
    Put(&format, kMp3BytesPerSecond, 4);
    Put(&format, kByteBlockAlign, 2);
    Put(&format, kCompressedBitsPerSample, 2);
    Put(&format, kMp3ExtraBytes, 2);
    Put(&format, kMpegId, 2);
    Put(&format, kIsoPadding, 4);
    Put(&format, kMp3BlockBytes, 2);
    Put(&format, kFramesPerBlock, 2);
    Put(&format, kCodecDelaySamples, 2);
    AviFileCreateStream(file, &audio, &info);
    AviStreamSetFormat(audio, 0, format.data(), int32_t(format.size()));
  }

  // Frame `position`, after the audio up to its time; false on a failure.
  bool Frame(int32_t position, const Bytes& frame, bool key, const std::vector<Bytes>& mp3,
             size_t* mp3Next) {
    nowMs = position * kMsPerSecond / kFps;
    while (int64_t{audioBytes} * kMsPerSecond <= nowMs * kMp3BytesPerSecond) {
      const Bytes& chunk = mp3[(*mp3Next)++ % mp3.size()];
      if (AviStreamWrite(audio, audioBytes, int32_t(chunk.size()), chunk.data(),
                         int32_t(chunk.size()), kAviIfKeyframe, nullptr, nullptr) != kAviOk) {
        return false;
      }
      audioBytes += int32_t(chunk.size());
    }
    return AviStreamWrite(video, position, 1, frame.data(), int32_t(frame.size()),
                          key ? kAviIfKeyframe : 0, nullptr, nullptr) == kAviOk;
  }

  ~Recorder() {
    AviStreamRelease(video);
    AviStreamRelease(audio);
    AviFileRelease(file);
  }
};

double Seconds(Clock::time_point since) {
  return std::chrono::duration<double>(Clock::now() - since).count();
}

// The writer's own cost: typical frames into a sink that keeps nothing.
void MeasureOverhead(const std::vector<Bytes>& mp3) {
  const Bytes frame(kTypicalFrameBytes), key(kTypicalKeyFrameBytes);
  AviFileOptions options;
  options.io = std::make_shared<NullIo>();
  Recorder recorder("", options);
  size_t mp3Next = 0;
  double slowest = 0;
  const Clock::time_point start = Clock::now();
  for (int32_t i = 0; i < kOverheadFrames; ++i) {
    const Clock::time_point before = Clock::now();
    const bool isKey = i % kKeyFrameEvery == 0;
    recorder.Frame(i, isKey ? key : frame, isKey, mp3, &mp3Next);
    slowest = std::max(slowest, Seconds(before));
  }
  const double total = Seconds(start);
  std::printf(
      "writer overhead per frame (1080p, %zu kB frames, %u fps, with its audio): "
      "%.2f us mean, %.0f us slowest (a header refresh); frame budget %.0f us\n",
      kTypicalFrameBytes / 1000, kFps, total / kOverheadFrames * kMicrosecondsPerSecond,
      slowest * kMicrosecondsPerSecond, kMicrosecondsPerSecond / kFps);
}

int WriteLargeFile(const std::vector<Bytes>& clip, const std::vector<Bytes>& mp3, const char* path,
                   uint64_t bytes) {
  std::shared_ptr<AviFileIo> io = AviMakeDiskFileIo();
  AviFileOptions options;
  options.io = io;
  int32_t frames = 0;
  size_t mp3Next = 0;
  uint64_t written = 0;
  double slowest = 0;
  const Clock::time_point start = Clock::now();
  {
    Recorder recorder(path, options);
    // The clip is all key frames, so any frame of it decodes on its own.
    for (; written < bytes; ++frames) {
      const Bytes& frame = clip[frames % clip.size()];
      const Clock::time_point before = Clock::now();
      const bool ok = recorder.Frame(frames, frame, true, mp3, &mp3Next);
      slowest = std::max(slowest, Seconds(before));
      if (!ok) {
        std::printf("write failed at frame %d\n", frames);
        return 1;
      }
      written += frame.size();
    }
  }
  const double seconds = Seconds(start);
  std::printf(
      "large file: %d frames, %.2f GB of video in %.1f s (%.0f MB/s), "
      "%.1f us per frame, slowest %.0f us (the disk holding writes back)\n",
      frames, written / 1e9, seconds, written / 1e6 / seconds,
      seconds / frames * kMicrosecondsPerSecond, slowest * kMicrosecondsPerSecond);
  std::printf("frames=%d duration=%.6f last_clip_frame=%d\n", frames, double(frames) / kFps,
              int((frames - 1) % clip.size()));
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  constexpr int kArguments = 7;
  if (argc != kArguments) {
    std::fprintf(stderr, "usage: %s clip.h264 clip.csv clip.mp3 mp3.csv out.avi bytes\n", argv[0]);
    return 2;
  }
  const std::vector<Bytes> clip = Packets(argv[1], argv[2]);
  const std::vector<Bytes> mp3 = Packets(argv[3], argv[4]);
  MeasureOverhead(mp3);
  return WriteLargeFile(clip, mp3, argv[5], std::stoull(argv[6]));
}
