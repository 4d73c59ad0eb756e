#include "avi/avi_writer.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <memory>
#include <mutex>
#include <vector>

#include "avi/avi_headers.h"
#include "avi/avi_layout.h"
#include "avi/header_publisher.h"
#include "avi/riff_layout.h"

namespace {

using namespace avi_layout;

int64_t SteadyClockMs() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

}  // namespace

class AviWriterCore {
 public:
  AviWriterCore()
      : publisher_(
            mutex_, [this] { return TakePublication(); }, [this] { FailIo(); }, ioFailed_) {}

  int Open(const char* path, const AviFileOptions& options) {
    options_ = options;
    if (!options_.io) options_.io = AviMakeDiskFileIo();
    if (!options_.clockMs) options_.clockMs = SteadyClockMs;
    if (options_.riffPartLimitBytes == 0 ||
        options_.riffPartLimitBytes > kAviMaxRiffPartLimitBytes) {
      return kAviErrorArgument;
    }
    if (!options_.io->Open(path)) return kAviErrorOpen;
    end_ = kHeaderRegionBytes;
    first_ = Part{kFormAvi, 0, kHeaderRegionBytes - kListHeaderBytes, end_, end_};
    parts_ = 1;
    partOpen_ = true;
    lastRefreshMs_ = options_.clockMs();
    // An empty file: its headers describe no data, so nothing need be on the disk first.
    for (const Patch& patch : TakePublication().headers) {
      Put(patch.offset, patch.bytes.data(), patch.bytes.size());
    }
    if (error_ != kAviOk) {
      options_.io->Close();
      return error_;
    }
    publisher_.Start(options_.io.get());
    return kAviOk;
  }

  int CreateStream(const AviStreamInfo& info, int* number) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (closed_) return kAviErrorClosed;
    const bool video = info.fccType == kAviStreamTypeVideo;
    if (!video && info.fccType != kAviStreamTypeAudio) return kAviErrorArgument;
    if (streams_.size() == kAviMaxStreams) return kAviErrorLimit;
    *number = static_cast<int>(streams_.size());
    streams_.emplace_back();
    streams_.back().info = info;
    // Video chunks are compressed ('dc'), audio chunks are wave bytes ('wb').
    streams_.back().chunkId =
        video ? riff::StreamChunkId(*number, 'd', 'c') : riff::StreamChunkId(*number, 'w', 'b');
    return kAviOk;
  }

  int SetFormat(int number, int32_t position, const void* format, int32_t bytes) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (closed_) return kAviErrorClosed;
    if (position != 0 || format == nullptr || bytes <= 0) return kAviErrorArgument;
    if (bytes > kAviMaxFormatBytes) return kAviErrorLimit;
    if (error_ != kAviOk) return error_;
    Stream& stream = streams_[number];
    if (stream.length > 0) return kAviErrorFormat;
    const auto* first = static_cast<const uint8_t*>(format);
    stream.format.assign(first, first + bytes);
    publisher_.Ask();
    return error_;
  }

  int Write(int number, int64_t start, int32_t samples, const void* data, int32_t bytes,
            uint32_t flags) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (closed_) return kAviErrorClosed;
    if (start < 0 || samples < 0 || bytes < 0 || (bytes > 0 && data == nullptr)) {
      return kAviErrorArgument;
    }
    Stream& stream = streams_[number];
    if (stream.format.empty()) return kAviErrorFormat;
    const bool frames = stream.info.dwSampleSize == 0;
    if (frames ? samples != 1 : int64_t{samples} * stream.info.dwSampleSize != bytes) {
      return kAviErrorArgument;
    }
    // An audio encoder that is still filling its first frame hands over nothing.
    if (samples == 0) return error_;
    const auto startSample = static_cast<uint64_t>(start);
    if (startSample < stream.length || (!frames && startSample != stream.length)) {
      return kAviErrorPosition;
    }
    // Frames skipped over are dropped frames: empty chunks keep every later
    // frame at its time, and players show the previous frame meanwhile.
    // After a failure AddChunk writes nothing and the failure is returned.
    while (stream.length < startSample && error_ == kAviOk) AddChunk(number, nullptr, 0, 0, 1);
    // Any chunk of a sample stream can be read on its own.
    const uint32_t keyFlags = frames ? flags : flags | kAviIfKeyframe;
    AddChunk(number, data, static_cast<uint32_t>(bytes), keyFlags, static_cast<uint32_t>(samples));
    if (error_ == kAviOk &&
        options_.clockMs() - lastRefreshMs_ >= int64_t{options_.headerRefreshMs}) {
      Refresh();
    }
    return error_;
  }

  int Publish() {
    std::lock_guard<std::mutex> lock(mutex_);
    if (closed_) return kAviErrorClosed;
    if (error_ == kAviOk) Refresh();
    return error_;
  }

  int Info(int number, AviStreamInfo* info) {
    std::lock_guard<std::mutex> lock(mutex_);
    const Stream& stream = streams_[number];
    *info = stream.info;
    info->dwLength = Saturated32(stream.length);
    info->dwSuggestedBufferSize = SuggestedBufferBytes(stream);
    return kAviOk;
  }

  void Release() {
    {
      std::unique_lock<std::mutex> lock(mutex_);
      if (closed_) return;
      closed_ = true;
      if (partOpen_) ClosePart();
      publisher_.Ask();
      publisher_.AwaitLast(lock);
    }
    publisher_.Stop();
    options_.io->Close();
  }

 private:
  Part& CurrentPart() { return parts_ == 1 ? first_ : last_; }

  // After a failure nothing more is written, so the file keeps the last
  // headers that were put on the disk whole.
  void Put(uint64_t offset, const void* data, size_t bytes) {
    if (!ioFailed_ && !options_.io->Write(offset, data, bytes)) FailIo();
  }

  void Append(const void* data, size_t bytes) {
    Put(end_, data, bytes);
    end_ += bytes;
  }

  void AppendChunkHeader(uint32_t fourcc, uint32_t bytes) {
    uint8_t header[kChunkHeaderBytes];
    riff::StoreU32(header, fourcc);
    riff::StoreU32(header + sizeof fourcc, bytes);
    Append(header, sizeof header);
  }

  void FailIo() {
    ioFailed_ = true;
    if (error_ == kAviOk) error_ = kAviErrorWrite;
  }

  // Bytes the open part still needs for its indexes, were one more chunk of
  // the given stream added: the refresh index of its chunks not yet indexed,
  // the fold of its refresh indexes, the part's own index at its close, and
  // for the first part the idx1.
  uint64_t IndexBytesWith(int number) const {
    uint64_t bytes = 0;
    uint64_t chunks = 0;
    for (size_t i = 0; i < streams_.size(); ++i) {
      const Stream& stream = streams_[i];
      const size_t added = static_cast<int>(i) == number ? 1 : 0;
      const uint64_t entries = stream.partEntries.size() + added;
      for (uint64_t listed :
           {entries, entries - stream.firstUnindexed, entries - stream.runFirstEntry}) {
        if (listed > 0) bytes += StdIndexBytes(listed);
      }
      chunks += entries;
    }
    if (parts_ == 1) bytes += kChunkHeaderBytes + kIdx1EntryBytes * chunks;
    return bytes;
  }

  void AddChunk(int number, const void* data, uint32_t bytes, uint32_t flags, uint32_t samples) {
    if (error_ != kAviOk) return;
    const uint64_t chunkBytes = kChunkHeaderBytes + riff::PaddedBytes(bytes);
    if (partOpen_ && partChunks_ > 0 &&
        end_ - CurrentPart().start + chunkBytes + IndexBytesWith(number) >
            options_.riffPartLimitBytes) {
      ClosePart();
      publisher_.Ask();
    }
    if (!partOpen_) StartPart();
    if (error_ != kAviOk) return;
    Stream& stream = streams_[number];
    AppendChunkHeader(stream.chunkId, bytes);
    const uint64_t dataOffset = end_;
    if (bytes > 0) Append(data, bytes);  // a dropped frame has no data
    if (bytes & 1) Append(&kPadByte, sizeof kPadByte);
    const uint32_t key = flags & kAviIfKeyframe ? 0 : kStdIndexDeltaFrame;
    stream.partEntries.push_back(
        {static_cast<uint32_t>(dataOffset - CurrentPart().moviList), bytes | key});
    stream.length += samples;
    stream.largestChunkBytes = std::max(stream.largestChunkBytes, bytes);
    if (parts_ == 1) ++stream.firstPartChunks;
    ++partChunks_;
  }

  void StartPart() {
    if (parts_ == kMaxParts) {
      error_ = kAviErrorLimit;
      return;
    }
    const uint64_t moviList = end_ + kListHeaderBytes;
    end_ = moviList + kListHeaderBytes;
    last_ = Part{kFormAviExtension, moviList - kListHeaderBytes, moviList, end_, end_};
    std::vector<Patch> headers;
    AddListHeaders(last_, &headers);
    for (const Patch& patch : headers) Put(patch.offset, patch.bytes.data(), patch.bytes.size());
    ++parts_;
    partOpen_ = true;
  }

  uint32_t Duration(const Stream& stream, size_t first, size_t last) const {
    if (stream.info.dwSampleSize == 0) return static_cast<uint32_t>(last - first);
    uint64_t bytes = 0;
    for (size_t i = first; i < last; ++i) {
      bytes += stream.partEntries[i].sizeAndFlag & ~kStdIndexDeltaFrame;
    }
    return static_cast<uint32_t>(bytes / stream.info.dwSampleSize);
  }

  // Appends an ix## chunk listing partEntries[first, last) and returns its
  // super index entry.
  SuperIndexEntry AppendStdIndex(int number, size_t first, size_t last) {
    const Stream& stream = streams_[number];
    scratch_.Clear();
    const size_t mark = scratch_.BeginChunk(riff::IndexChunkId(number));
    scratch_.U16(kStdIndexLongsPerEntry);
    scratch_.U8(kNoIndexSubType);
    scratch_.U8(kIndexOfChunks);
    scratch_.U32(static_cast<uint32_t>(last - first));
    scratch_.U32(stream.chunkId);
    scratch_.U64(CurrentPart().moviList);
    scratch_.U32(0);  // reserved
    for (size_t i = first; i < last; ++i) {
      scratch_.U32(stream.partEntries[i].offset);
      scratch_.U32(stream.partEntries[i].sizeAndFlag);
    }
    scratch_.EndChunk(mark);
    const SuperIndexEntry entry{end_, static_cast<uint32_t>(scratch_.Size()),
                                Duration(stream, first, last)};
    Append(scratch_.Data(), scratch_.Size());
    return entry;
  }

  // Replaces the stream's super index entries from `from` on by one index
  // of partEntries[firstEntry, firstUnindexed); the replaced ones are JUNKed
  // once no header points at them.
  void FoldIndexes(int number, size_t from, size_t firstEntry) {
    Stream& stream = streams_[number];
    const SuperIndexEntry entry = AppendStdIndex(number, firstEntry, stream.firstUnindexed);
    for (size_t j = from; j < stream.superIndex.size(); ++j) {
      staleIndexes_.push_back(stream.superIndex[j].offset);
    }
    stream.superIndex.resize(from);
    stream.superIndex.push_back(entry);
    stream.runSuperIndexStart = stream.superIndex.size();
    stream.runFirstEntry = stream.firstUnindexed;
  }

  // The legacy index of the first part: all its chunks in file order, with
  // offsets from the 'movi' list type.
  void AppendIdx1() {
    scratch_.Clear();
    const size_t mark = scratch_.BeginChunk(kChunkIdx1);
    std::vector<size_t> next(streams_.size());
    for (;;) {
      int pick = -1;
      for (size_t i = 0; i < streams_.size(); ++i) {
        if (next[i] == streams_[i].partEntries.size()) continue;
        if (pick < 0 || streams_[i].partEntries[next[i]].offset <
                            streams_[pick].partEntries[next[pick]].offset) {
          pick = static_cast<int>(i);
        }
      }
      if (pick < 0) break;
      const IndexEntry& entry = streams_[pick].partEntries[next[pick]++];
      scratch_.U32(streams_[pick].chunkId);
      scratch_.U32(entry.sizeAndFlag & kStdIndexDeltaFrame ? 0 : kAviIfKeyframe);
      // From the chunk's data back over its header and the LIST header to the 'movi' type.
      scratch_.U32(entry.offset - kChunkHeaderBytes - kChunkHeaderBytes);
      scratch_.U32(entry.sizeAndFlag & ~kStdIndexDeltaFrame);
    }
    scratch_.EndChunk(mark);
    // Readers that scan a cut-off file for chunks where its headers end take
    // idx1 entries, which begin with chunk ids, for chunks. Growing the file
    // to the index's end first means a cut leaves the whole chunk, its tail
    // zeros, which they skip by its size.
    Put(end_ + scratch_.Size() - 1, scratch_.Data() + scratch_.Size() - 1, 1);
    Append(scratch_.Data(), scratch_.Size());
  }

  // Writes the part's own indexes (and the idx1 after the first part's movi
  // list), replacing its refresh and folded indexes in the super indexes.
  void ClosePart() {
    Part& part = CurrentPart();
    for (size_t i = 0; i < streams_.size(); ++i) {
      Stream& stream = streams_[i];
      stream.firstUnindexed = stream.partEntries.size();
      if (stream.partEntries.empty()) continue;
      FoldIndexes(static_cast<int>(i), stream.partSuperIndexStart, 0);
    }
    part.moviEnd = end_;
    if (parts_ == 1) AppendIdx1();
    part.end = end_;
    // A later publication covers only the first and the open part.
    if (parts_ > 1) AddListHeaders(part, &closedPartHeaders_);
    for (Stream& stream : streams_) {
      stream.partEntries.clear();
      stream.firstUnindexed = stream.runFirstEntry = 0;
      stream.partSuperIndexStart = stream.runSuperIndexStart = stream.superIndex.size();
    }
    partOpen_ = false;
    partChunks_ = 0;
  }

  // Whether a stream's super index has no room for another refresh index in
  // the open part.
  bool OpenPartIndexesFull() const {
    for (const Stream& stream : streams_) {
      if (stream.superIndex.size() - stream.partSuperIndexStart + 1 >= kMaxIndexesPerOpenPart) {
        return true;
      }
    }
    return false;
  }

  void AppendRefreshIndexes() {
    for (size_t i = 0; i < streams_.size(); ++i) {
      Stream& stream = streams_[i];
      if (stream.firstUnindexed == stream.partEntries.size()) continue;
      stream.superIndex.push_back(
          AppendStdIndex(static_cast<int>(i), stream.firstUnindexed, stream.partEntries.size()));
      stream.firstUnindexed = stream.partEntries.size();
      if (stream.superIndex.size() - stream.runSuperIndexStart == kRefreshIndexesPerFold) {
        FoldIndexes(static_cast<int>(i), stream.runSuperIndexStart, stream.runFirstEntry);
      }
    }
  }

  // Indexes what was written since the last refresh and has it published.
  void Refresh() {
    lastRefreshMs_ = options_.clockMs();
    if (partOpen_ && OpenPartIndexesFull()) {
      ClosePart();
    } else if (partOpen_) {
      AppendRefreshIndexes();
    }
    publisher_.Ask();
  }

  // Part sizes go first: sizes ahead of the indexes only cover more data
  // than is indexed.
  Publication TakePublication() {
    Publication publication;
    Part& part = CurrentPart();
    if (partOpen_) part.moviEnd = part.end = end_;
    AddListHeaders(first_, &publication.headers);
    publication.headers.insert(publication.headers.end(), closedPartHeaders_.begin(),
                               closedPartHeaders_.end());
    closedPartHeaders_.clear();
    if (parts_ > 1 && partOpen_) AddListHeaders(last_, &publication.headers);
    // Readers that trust the flag look for idx1 only, which the first part
    // gets when it closes.
    BuildHeaders(streams_, parts_ > 1 || !partOpen_, headers_);
    const uint8_t* image = headers_.bytes.Data();
    for (const ByteRange& range : headers_.changed) {
      publication.headers.push_back(
          {range.begin, std::vector<uint8_t>(image + range.begin, image + range.end)});
    }
    publication.staleIndexes.swap(staleIndexes_);
    return publication;
  }

  std::mutex mutex_;
  AviFileOptions options_;
  std::vector<Stream> streams_;
  int error_ = kAviOk;
  std::atomic<bool> ioFailed_{false};  // also read by the publisher's thread as it commits
  bool closed_ = false;
  uint64_t end_ = 0;  // where the next append goes
  Part first_{};      // the 'AVI ' part
  Part last_{};       // the latest 'AVIX' part
  uint32_t parts_ = 0;
  bool partOpen_ = false;
  uint32_t partChunks_ = 0;
  int64_t lastRefreshMs_ = 0;
  std::vector<uint64_t> staleIndexes_;
  std::vector<Patch> closedPartHeaders_;  // of 'AVIX' parts closed since the last publication
  HeaderImage headers_;
  riff::Builder scratch_;
  // Last: its thread, which takes publications, ends before the rest goes.
  HeaderPublisher publisher_;
};

class AviFile {
 public:
  std::shared_ptr<AviWriterCore> core = std::make_shared<AviWriterCore>();
};

namespace {

class WriterStream final : public AviStream {
 public:
  WriterStream(std::shared_ptr<AviWriterCore> core, int number)
      : core_(std::move(core)), number_(number) {}

  int Info(AviStreamInfo* info) const override {
    if (info == nullptr) return kAviErrorArgument;
    return core_->Info(number_, info);
  }

  int SetFormat(int32_t position, const void* format, int32_t bytes) override {
    return core_->SetFormat(number_, position, format, bytes);
  }

  int Write(int64_t start, int32_t samples, const void* data, int32_t bytes, uint32_t flags,
            int32_t* samplesWritten, int32_t* bytesWritten) override {
    const int result = core_->Write(number_, start, samples, data, bytes, flags);
    if (samplesWritten != nullptr) *samplesWritten = result == kAviOk ? samples : 0;
    if (bytesWritten != nullptr) *bytesWritten = result == kAviOk ? bytes : 0;
    return result;
  }

 private:
  std::shared_ptr<AviWriterCore> core_;
  int number_;
};

}  // namespace

int AviFileOpen(AviFile** file, const char* path, const AviFileOptions* options) {
  if (file == nullptr || path == nullptr) return kAviErrorArgument;
  *file = nullptr;
  auto opened = std::make_unique<AviFile>();
  const int result = opened->core->Open(path, options == nullptr ? AviFileOptions{} : *options);
  if (result == kAviOk) *file = opened.release();
  return result;
}

int AviFileCreateStream(AviFile* file, AviStream** stream, const AviStreamInfo* info) {
  if (file == nullptr || stream == nullptr || info == nullptr) return kAviErrorArgument;
  *stream = nullptr;
  int number = 0;
  const int result = file->core->CreateStream(*info, &number);
  if (result == kAviOk) *stream = std::make_unique<WriterStream>(file->core, number).release();
  return result;
}

int AviStreamSetFormat(AviStream* stream, int32_t position, const void* format, int32_t bytes) {
  if (stream == nullptr) return kAviErrorArgument;
  return stream->SetFormat(position, format, bytes);
}

int AviStreamWrite(AviStream* stream, int64_t start, int32_t samples, const void* data,
                   int32_t bytes, uint32_t flags, int32_t* samplesWritten, int32_t* bytesWritten) {
  if (stream == nullptr) return kAviErrorArgument;
  return stream->Write(start, samples, data, bytes, flags, samplesWritten, bytesWritten);
}

int AviFilePublish(AviFile* file) {
  if (file == nullptr) return kAviErrorArgument;
  return file->core->Publish();
}

void AviStreamRelease(AviStream* stream) {
  std::unique_ptr<AviStream> released(stream);
}

void AviFileRelease(AviFile* file) {
  std::unique_ptr<AviFile> released(file);
  if (released) released->core->Release();
}
