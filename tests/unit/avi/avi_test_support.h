// Helpers for the AVI writer tests: an in-memory disk, a RIFF reader of the
// tests' own, format blocks, recordings of real H.264 and MP3, ffmpeg runs.
#ifndef PARVELO_TESTS_UNIT_AVI_AVI_TEST_SUPPORT_H_
#define PARVELO_TESTS_UNIT_AVI_AVI_TEST_SUPPORT_H_

#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "avi/avi_writer.h"

namespace avitest {

using Bytes = std::vector<uint8_t>;
constexpr uint32_t kList = MakeFourCC('L', 'I', 'S', 'T');

uint32_t U32(const Bytes& file, uint64_t at);
uint64_t U64(const Bytes& file, uint64_t at);

// A disk in memory that keeps every write in order, so a test can rebuild the
// file as a writer killed after any number of bytes written leaves it.
// Writes past capacityBytes fill the disk and fail. Writes may come from
// the writer's threads at once; the log keeps the order they landed in.
class MemoryIo : public AviFileIo {
 public:
  bool Open(const char*) override { return true; }
  bool Write(uint64_t offset, const void* data, size_t bytes) override;
  bool Sync() override { return true; }
  bool Close() override { return true; }
  // The file after the first `bytes` bytes written: an append may stop
  // midway, a write over earlier bytes lands whole or not at all.
  Bytes Replay(uint64_t bytes) const;
  // Also while the writer's threads write.
  uint64_t BytesWritten() const {
    std::lock_guard<std::mutex> hold(lock_);
    return log_.size();
  }
  std::vector<uint64_t> WriteStarts(bool headersOnly) const;  // a refresh begins at byte 0
  std::vector<uint64_t> IndexWriteStarts() const;             // of ix## chunks

  Bytes file;
  uint64_t capacityBytes = UINT64_MAX;

 private:
  struct Event {
    uint64_t offset, bytes, logStart;
  };
  mutable std::mutex lock_;
  std::vector<Event> events_;
  Bytes log_;
};

struct Chunk {
  uint32_t id = 0, type = 0;  // type: of RIFF and LIST chunks
  uint64_t data = 0;          // after the list type for lists
  uint32_t size = 0;
  std::vector<Chunk> kids;
  std::vector<const Chunk*> All(uint32_t id, uint32_t type = 0) const;
  const Chunk& Get(uint32_t id, uint32_t type = 0) const;  // the only one
};
// The top-level RIFFs (only the first: all a cut-off file's headers); a test
// failure if a chunk does not fit its list.
Chunk ParseRiff(const Bytes& file, bool firstOnly = false);
const Chunk& Hdrl(const Chunk& riff);

struct IndexEntry {
  uint32_t id;
  uint64_t data;  // offset of the chunk's data
  uint32_t size;
  bool key;
};
// Per listed stream, its chunks as its indx and ix## indexes give them.
std::vector<std::vector<IndexEntry>> ReadOdmlIndex(const Bytes& file, const Chunk& riff);
std::vector<IndexEntry> ReadIdx1(const Bytes& file, const Chunk& riff);

AviStreamInfo VideoInfo(uint32_t rate, uint32_t scale = 1);  // H.264, 320x240
AviStreamInfo Mp3Info();
extern const Bytes kH264Format;  // BITMAPINFOHEADER, 320x240
extern const Bytes kMp3Format;   // MPEGLAYER3WAVEFORMAT, 64 kbit/s mono
constexpr int kVideoFps = 15;
// A stream of the test clip's kind (H.264 video or MP3), created and given its format.
AviStream* NewStream(AviFile* file, bool video);

// Real H.264 frames at positions with a dropped frame every dropEvery, and
// MP3 interleaved by time, to `path` or options.io; the clock is video time.
struct Recording {
  std::vector<int32_t> positions;  // of the video frames written
  size_t mp3Frames = 0;
  size_t soundBytes = 0;
  int result = kAviOk;  // the first failure; writing goes on after it
  int writesOkAfterFailure = 0;
};
Recording Record(const std::string& path, AviFileOptions options, int frames, int dropEvery,
                 const std::function<void(AviFile*)>& afterFrame = {});

std::string TempPath(const std::string& name);
void WriteFile(const std::string& path, const Bytes& bytes);
Bytes ReadFile(const std::string& path);

struct Probe {
  std::string streams;  // codec names, "h264,mp3"
  std::vector<int64_t> videoDts;
  size_t audioPackets = 0;
  std::string decodeMessages;  // of ffmpeg -v error decoding everything
};
Probe ProbeFile(const std::string& path);

}  // namespace avitest

#endif  // PARVELO_TESTS_UNIT_AVI_AVI_TEST_SUPPORT_H_
