// AVI writer with the shape of the Windows AVIFile service, written without
// Windows so both builds compile it. It writes OpenDML (AVI 2.0) files: one
// 'AVI ' RIFF part with the legacy idx1 index, then 'AVIX' parts, each stream
// indexed by ix## standard indexes listed in its 'indx' super index.
//
// The first part grows to riffPartLimitBytes (about 1 GB by default), so
// readers that know only AVI 1.0 see as much as the convention allows.
//
// Crash safety: the headers and indexes on disk always describe data that was
// pushed to the disk before them. Every headerRefreshMs the chunks written
// since are indexed, and a thread of the writer's own pushes them to the disk
// and then publishes the headers that list them, so a file cut off at any
// moment plays up to that point, less at most headerRefreshMs and the time
// the disk takes for one publication. The threads that write never wait for
// the disk.
//
// Thread safety: every call may come from any thread; the file serialises
// them with its own lock. Stream objects stay valid until their own release,
// even after the file was released (their writes then fail with
// kAviErrorClosed).
#ifndef PARVELO_AVI_AVI_WRITER_H_
#define PARVELO_AVI_AVI_WRITER_H_

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>

constexpr uint32_t MakeFourCC(char a, char b, char c, char d) {
  return static_cast<uint32_t>(static_cast<uint8_t>(a)) |
         static_cast<uint32_t>(static_cast<uint8_t>(b)) << 8 |
         static_cast<uint32_t>(static_cast<uint8_t>(c)) << 16 |
         static_cast<uint32_t>(static_cast<uint8_t>(d)) << 24;
}

constexpr uint32_t kAviStreamTypeVideo = MakeFourCC('v', 'i', 'd', 's');
constexpr uint32_t kAviStreamTypeAudio = MakeFourCC('a', 'u', 'd', 's');

// Write flag, same value as AVIIF_KEYFRAME.
constexpr uint32_t kAviIfKeyframe = 0x10;

// Result codes. Errors are negative, like the HRESULTs AVIFile returns.
constexpr int kAviOk = 0;
constexpr int kAviErrorArgument = -1;  // null pointer, bad size, bad stream type
constexpr int kAviErrorOpen = -2;      // the file could not be created
constexpr int kAviErrorWrite = -3;     // writing failed (disk full, I/O error)
constexpr int kAviErrorClosed = -4;    // the file was released
constexpr int kAviErrorPosition = -5;  // a position before the stream's end
constexpr int kAviErrorFormat = -6;    // no format yet, or format change after data
constexpr int kAviErrorLimit = -7;     // out of stream, format or index room

// Fixed capacities of the header region reserved at the start of the file.
constexpr int kAviMaxStreams = 4;
constexpr int32_t kAviMaxFormatBytes = 2048;

constexpr uint64_t kAviDefaultRiffPartLimitBytes = (uint64_t{1} << 30) - (uint64_t{1} << 20);
// Index offsets inside a part are 32-bit, and some readers take RIFF sizes as signed.
constexpr uint64_t kAviMaxRiffPartLimitBytes = uint64_t{1} << 31;
constexpr uint32_t kAviDefaultHeaderRefreshMs = 2000;

struct AviStreamInfo {  // same fields and meaning as AVISTREAMINFOA
  uint32_t fccType, fccHandler, dwFlags, dwCaps;
  uint16_t wPriority, wLanguage;
  uint32_t dwScale, dwRate, dwStart, dwLength, dwInitialFrames, dwSuggestedBufferSize, dwQuality,
      dwSampleSize;
  struct {
    int32_t left, top, right, bottom;
  } rcFrame;
  uint32_t dwEditCount, dwFormatChangeCount;
  char szName[64];
};

// Where the bytes go. Offsets are absolute; the writer appends at the end
// except when it brings headers, sizes and index labels up to date. Write
// and Sync are called from two threads at once (appends beside header
// updates and syncs), never Write twice at the same bytes at once.
class AviFileIo {
 public:
  virtual ~AviFileIo() = default;
  virtual bool Open(const char* path) = 0;  // create or truncate
  virtual bool Write(uint64_t offset, const void* data, size_t bytes) = 0;
  virtual bool Sync() = 0;  // have everything written so far put on the disk
  virtual bool Close() = 0;
};

// The platform's files, written at positions: path is UTF-8 on every platform.
std::shared_ptr<AviFileIo> AviMakeDiskFileIo();

struct AviFileOptions {
  uint64_t riffPartLimitBytes = kAviDefaultRiffPartLimitBytes;
  uint32_t headerRefreshMs = kAviDefaultHeaderRefreshMs;
  std::function<int64_t()> clockMs;  // monotonic; empty: std::chrono::steady_clock
  std::shared_ptr<AviFileIo> io;     // empty: AviMakeDiskFileIo()
};

class AviFile;

class AviStream {  // abstract: the Windows layer derives a compressed video stream from it
 public:
  virtual ~AviStream() = default;
  // The stream header as created, with dwLength and dwSuggestedBufferSize up to date.
  virtual int Info(AviStreamInfo* info) const = 0;
  virtual int SetFormat(int32_t position, const void* format, int32_t bytes) = 0;
  virtual int Write(int64_t start, int32_t samples, const void* data, int32_t bytes, uint32_t flags,
                    int32_t* samplesWritten, int32_t* bytesWritten) = 0;
};

// Creates or truncates path and writes the first headers.
int AviFileOpen(AviFile** file, const char* path, const AviFileOptions* options = nullptr);
// info->fccType is kAviStreamTypeVideo or kAviStreamTypeAudio; streams are
// numbered in creation order, which names their chunks (00dc, 01wb, ...).
int AviFileCreateStream(AviFile* file, AviStream** stream, const AviStreamInfo* info);
// position must be 0; the format can change until the stream's first write.
int AviStreamSetFormat(AviStream* stream, int32_t position, const void* format, int32_t bytes);
// Frame streams (dwSampleSize 0): one frame per write; a start past the next
// frame records the frames between as dropped (empty chunks); flags say
// which frames are key frames. Sample streams: start must be the next sample
// and bytes == samples * dwSampleSize; a write of no samples writes nothing;
// every chunk is indexed as a key frame, since any sample can be read on its
// own. Positions are 64-bit: the 32-bit lengths in the headers stop at their
// largest value, the indexes stay exact.
int AviStreamWrite(AviStream* stream, int64_t start, int32_t samples, const void* data,
                   int32_t bytes, uint32_t flags, int32_t* samplesWritten, int32_t* bytesWritten);
// Indexes what has been written and has the headers that list it
// published, as a refresh does, without waiting for the disk: for a writer
// that is about to be idle for a while (a paused recording), whose next
// refresh would otherwise wait for its next write.
int AviFilePublish(AviFile* file);
void AviStreamRelease(AviStream* stream);
// Writes the final headers and indexes, returns once they are on the disk,
// and closes the file.
void AviFileRelease(AviFile* file);

#endif  // PARVELO_AVI_AVI_WRITER_H_
