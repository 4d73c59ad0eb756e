#include "avi_test_support.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <sstream>

namespace avitest {

const Bytes kH264Format = {40, 0, 0,   0,   0x40, 1,   0, 0,    0xF0, 0, 0, 0, 1, 0,
                           24, 0, 'H', '2', '6',  '4', 0, 0x84, 3,    0, 0, 0, 0, 0,
                           0,  0, 0,   0,   0,    0,   0, 0,    0,    0, 0, 0};
// Layer 3, mono, 44100 Hz, 8000 bytes/s, block align 1, 12 more bytes: MPEG
// id, ISO padding, 209-byte blocks of one frame, 1393 samples of delay.
const Bytes kMp3Format = {0x55, 0,  1, 0, 0x44, 0xAC, 0, 0, 0x40, 0x1F, 0, 0, 1, 0,    0,
                          0,    12, 0, 1, 0,    0,    0, 0, 0,    0xD1, 0, 1, 0, 0x71, 5};

namespace {

constexpr uint32_t kMp3BytesPerSecond = 8000;
constexpr int kMsPerSecond = 1000;
constexpr uint32_t kDeltaFrameBit = 0x80000000;

std::vector<std::string> Run(const std::string& command) {
  std::string output;
  FILE* pipe = popen(command.c_str(), "r");
  char buffer[4096];
  for (size_t n; pipe != nullptr && (n = fread(buffer, 1, sizeof buffer, pipe)) > 0;) {
    output.append(buffer, n);
  }
  EXPECT_EQ(pipe == nullptr ? -1 : pclose(pipe), 0) << command << "\n" << output;
  std::vector<std::string> lines;
  std::istringstream in(output);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

// An ffmpeg-made elementary stream, split into the packets ffprobe finds.
std::vector<Bytes> Encode(const std::string& arguments, std::vector<bool>* keys) {
  const std::string path = TempPath("clip");
  Run("ffmpeg -v error -nostdin -y " + arguments + " " + path);
  const Bytes stream = ReadFile(path);
  std::vector<Bytes> packets;
  for (const std::string& line :
       Run("ffprobe -v error -show_entries packet=size,pos,flags -of csv=p=0 " + path)) {
    size_t size = 0, pos = 0;
    char key = 0;
    EXPECT_EQ(sscanf(line.c_str(), "%zu,%zu,%c", &size, &pos, &key), 3) << line;
    packets.emplace_back(stream.begin() + pos, stream.begin() + pos + size);
    keys->push_back(key == 'K');
  }
  std::remove(path.c_str());
  return packets;
}

void ParseList(const Bytes& file, uint64_t at, uint64_t end, std::vector<Chunk>* kids) {
  for (uint64_t next; at < end; at = next) {
    Chunk chunk{U32(file, at), 0, at + 8, U32(file, at + 4), {}};
    next = chunk.data + chunk.size + (chunk.size & 1);
    if (next > end) {
      ADD_FAILURE() << "chunk at " << at << " runs past its list's end " << end;
      return;
    }
    if (chunk.id == MakeFourCC('R', 'I', 'F', 'F') || chunk.id == kList) {
      chunk.type = U32(file, chunk.data);
      chunk.data += 4;
      ParseList(file, chunk.data, chunk.data + chunk.size - 4, &chunk.kids);
    }
    kids->push_back(std::move(chunk));
  }
}

}  // namespace

uint32_t U32(const Bytes& file, uint64_t at) {
  return file[at] | file[at + 1] << 8 | file[at + 2] << 16 | uint32_t{file[at + 3]} << 24;
}

uint64_t U64(const Bytes& file, uint64_t at) {
  return U32(file, at) | uint64_t{U32(file, at + 4)} << 32;
}

bool MemoryIo::Write(uint64_t offset, const void* data, size_t bytes) {
  std::lock_guard<std::mutex> hold(lock_);
  const uint64_t fits = std::min<uint64_t>(bytes, capacityBytes - std::min(offset, capacityBytes));
  const auto* first = static_cast<const uint8_t*>(data);
  if (file.size() < offset + fits) file.resize(offset + fits);
  std::copy(first, first + fits, file.begin() + offset);
  events_.push_back({offset, fits, log_.size()});
  log_.insert(log_.end(), first, first + fits);
  return fits == bytes;
}

Bytes MemoryIo::Replay(uint64_t bytes) const {
  Bytes image;
  for (const Event& event : events_) {
    const bool whole = event.logStart + event.bytes <= bytes;
    if (!whole && (event.offset < image.size() || event.logStart >= bytes)) break;
    const uint64_t take = whole ? event.bytes : bytes - event.logStart;
    if (image.size() < event.offset + take) image.resize(event.offset + take);
    std::copy_n(log_.begin() + event.logStart, take, image.begin() + event.offset);
    if (!whole) break;
  }
  return image;
}

std::vector<uint64_t> MemoryIo::WriteStarts(bool headersOnly) const {
  std::vector<uint64_t> starts;
  for (const Event& event : events_) {
    if (!headersOnly || event.offset == 0) starts.push_back(event.logStart);
  }
  return starts;
}

std::vector<uint64_t> MemoryIo::IndexWriteStarts() const {
  std::vector<uint64_t> starts;
  for (const Event& event : events_) {
    if (event.bytes >= 4 && (U32(log_, event.logStart) & 0xFFFF) == MakeFourCC('i', 'x', 0, 0)) {
      starts.push_back(event.logStart);
    }
  }
  return starts;
}

std::vector<const Chunk*> Chunk::All(uint32_t wantedId, uint32_t wantedType) const {
  std::vector<const Chunk*> found;
  for (const Chunk& kid : kids) {
    if (kid.id == wantedId && kid.type == wantedType) found.push_back(&kid);
  }
  return found;
}

const Chunk& Chunk::Get(uint32_t wantedId, uint32_t wantedType) const {
  static const Chunk kMissing;
  const auto found = All(wantedId, wantedType);
  EXPECT_EQ(found.size(), 1u) << std::string(reinterpret_cast<const char*>(&wantedId), 4);
  return found.size() == 1 ? *found[0] : kMissing;
}

Chunk ParseRiff(const Bytes& file, bool firstOnly) {
  Chunk root;
  ParseList(file, 0, firstOnly ? std::min<uint64_t>(file.size(), U32(file, 4) + 8) : file.size(),
            &root.kids);
  return root;
}

const Chunk& Hdrl(const Chunk& riff) {
  return riff.kids.at(0).Get(kList, MakeFourCC('h', 'd', 'r', 'l'));
}

std::vector<std::vector<IndexEntry>> ReadOdmlIndex(const Bytes& file, const Chunk& riff) {
  std::vector<std::vector<IndexEntry>> streams;
  for (const Chunk* strl : Hdrl(riff).All(kList, MakeFourCC('s', 't', 'r', 'l'))) {
    const uint64_t indx = strl->Get(MakeFourCC('i', 'n', 'd', 'x')).data;
    streams.emplace_back();
    for (uint32_t i = 0; i < U32(file, indx + 4); ++i) {
      const uint64_t ix = U64(file, indx + 24 + 16 * i);
      EXPECT_EQ(U32(file, ix) & 0xFFFF, MakeFourCC('i', 'x', 0, 0));
      for (uint32_t e = 0; e < U32(file, ix + 12); ++e) {
        const uint32_t size = U32(file, ix + 36 + 8 * e);
        streams.back().push_back({U32(file, ix + 16),
                                  U64(file, ix + 20) + U32(file, ix + 32 + 8 * e),
                                  size & ~kDeltaFrameBit, !(size & kDeltaFrameBit)});
      }
    }
  }
  return streams;
}

std::vector<IndexEntry> ReadIdx1(const Bytes& file, const Chunk& riff) {
  // Offsets count from the movi list's type, to the chunk's header.
  const uint64_t origin = riff.kids.at(0).Get(kList, MakeFourCC('m', 'o', 'v', 'i')).data - 4 + 8;
  const Chunk& idx1 = riff.kids.at(0).Get(MakeFourCC('i', 'd', 'x', '1'));
  std::vector<IndexEntry> entries;
  for (uint64_t at = idx1.data; at < idx1.data + idx1.size; at += 16) {
    entries.push_back({U32(file, at), origin + U32(file, at + 8), U32(file, at + 12),
                       (U32(file, at + 4) & kAviIfKeyframe) != 0});
  }
  return entries;
}

AviStreamInfo VideoInfo(uint32_t rate, uint32_t scale) {
  AviStreamInfo info{};
  info.fccType = kAviStreamTypeVideo;
  info.fccHandler = MakeFourCC('H', '2', '6', '4');
  info.dwScale = scale;
  info.dwRate = rate;
  info.rcFrame = {0, 0, 320, 240};
  return info;
}

AviStreamInfo Mp3Info() {
  AviStreamInfo info{};
  info.fccType = kAviStreamTypeAudio;
  info.dwScale = 1;
  info.dwRate = kMp3BytesPerSecond;
  info.dwSampleSize = 1;
  return info;
}

Recording Record(const std::string& path, AviFileOptions options, int frames, int dropEvery,
                 const std::function<void(AviFile*)>& afterFrame) {
  static std::vector<bool> keys, mp3Keys;
  // 6 s of video that begins with an IDR frame, so it can be played over and over.
  static const std::vector<Bytes> video = Encode(
      "-f lavfi -i testsrc=size=320x240:rate=15 -frames:v 90 -pix_fmt yuv420p -c:v libx264 "
      "-bf 0 -g 30 -x264-params repeat-headers=1 -f h264",
      &keys);
  static const std::vector<Bytes> mp3 = Encode(
      "-f lavfi -i sine=frequency=440:sample_rate=44100:duration=8 -ac 1 -c:a libmp3lame -b:a 64k "
      "-write_xing 0 -id3v2_version 0 -f mp3",
      &mp3Keys);
  int64_t nowMs = 0;
  options.clockMs = [&nowMs] { return nowMs; };
  Recording recording;
  AviFile* file = nullptr;
  AviStream* streams[2] = {};
  int result = AviFileOpen(&file, path.c_str(), &options);
  for (const AviStreamInfo& info : {VideoInfo(kVideoFps), Mp3Info()}) {
    AviStream*& stream = streams[info.fccType == kAviStreamTypeAudio];
    const Bytes& format = info.fccType == kAviStreamTypeVideo ? kH264Format : kMp3Format;
    if (result == kAviOk) result = AviFileCreateStream(file, &stream, &info);
    if (result == kAviOk)
      result = AviStreamSetFormat(stream, 0, format.data(), int32_t(format.size()));
  }
  EXPECT_EQ(result, kAviOk);
  const auto write = [&recording](AviStream* stream, int32_t start, const Bytes& data,
                                  int32_t samples, uint32_t flags) {
    const int written = AviStreamWrite(stream, start, samples, data.data(), int32_t(data.size()),
                                       flags, nullptr, nullptr);
    recording.writesOkAfterFailure += recording.result != kAviOk && written == kAviOk;
    if (recording.result == kAviOk) recording.result = written;
    return written == kAviOk;
  };
  // Audio goes in as runs of whole MP3 frames, some empty: a run ending
  // inside a frame would leave a cut-off file ending in half a frame.
  constexpr size_t kAudioRunFrames[] = {0, 1, 3, 2, 0, 1};
  int32_t audioBytes = 0;
  Bytes run;
  for (int32_t i = 0, position = 0; i < frames && streams[1] != nullptr; ++i, ++position) {
    if (dropEvery > 0 && position % dropEvery == dropEvery - 1) ++position;
    nowMs = int64_t{position} * kMsPerSecond / kVideoFps;
    for (size_t runs = 0; int64_t{audioBytes} * kMsPerSecond <= nowMs * kMp3BytesPerSecond;
         ++runs) {
      run.clear();
      for (size_t n = kAudioRunFrames[(i + runs) % std::size(kAudioRunFrames)]; n > 0; --n) {
        const Bytes& frame = mp3[recording.mp3Frames++ % mp3.size()];
        run.insert(run.end(), frame.begin(), frame.end());
      }
      write(streams[1], audioBytes, run, int32_t(run.size()), 0);  // as the recorder writes sound
      audioBytes += int32_t(run.size());
      recording.soundBytes += run.size();
    }
    if (write(streams[0], position, video[i % video.size()], 1,
              keys[i % video.size()] ? kAviIfKeyframe : 0)) {
      recording.positions.push_back(position);
    }
    if (afterFrame) afterFrame(file);
  }
  for (AviStream* stream : streams) AviStreamRelease(stream);
  AviFileRelease(file);
  return recording;
}

std::string TempPath(const std::string& name) {
  return testing::TempDir() + "avi_" + std::to_string(getpid()) + "_" + name;
}

void WriteFile(const std::string& path, const Bytes& bytes) {
  std::ofstream(path, std::ios::binary)
      .write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
}

Bytes ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

Probe ProbeFile(const std::string& path) {
  Probe probe;
  for (const std::string& line : Run("ffprobe -v error -show_entries "
                                     "stream=codec_name:packet=codec_type,dts -of csv " +
                                     path)) {
    if (line.rfind("stream,", 0) == 0) {
      probe.streams += (probe.streams.empty() ? "" : ",") + line.substr(7);
    } else if (line.rfind("packet,video,", 0) == 0) {
      probe.videoDts.push_back(std::stoll(line.substr(13)));
    } else {
      probe.audioPackets += line.rfind("packet,audio,", 0) == 0;
    }
  }
  for (const std::string& line : Run("ffmpeg -v error -nostdin -i " + path + " -f null - 2>&1")) {
    probe.decodeMessages += line + "\n";
  }
  return probe;
}

AviStream* NewStream(AviFile* file, bool video) {
  const AviStreamInfo info = video ? VideoInfo(kVideoFps) : Mp3Info();
  const Bytes& format = video ? kH264Format : kMp3Format;
  AviStream* stream = nullptr;
  EXPECT_EQ(AviFileCreateStream(file, &stream, &info), kAviOk);
  EXPECT_EQ(AviStreamSetFormat(stream, 0, format.data(), int32_t(format.size())), kAviOk);
  return stream;
}

}  // namespace avitest
