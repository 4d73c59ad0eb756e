#include "avi/avi_writer.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>
#include <vector>

#include "avi/riff_layout.h"

namespace {

using riff::kChunkHeaderBytes;
using riff::kListHeaderBytes;

constexpr uint32_t kFormAvi = MakeFourCC('A', 'V', 'I', ' ');
constexpr uint32_t kFormAviExtension = MakeFourCC('A', 'V', 'I', 'X');
constexpr uint32_t kListHdrl = MakeFourCC('h', 'd', 'r', 'l');
constexpr uint32_t kListStrl = MakeFourCC('s', 't', 'r', 'l');
constexpr uint32_t kListOdml = MakeFourCC('o', 'd', 'm', 'l');
constexpr uint32_t kChunkAvih = MakeFourCC('a', 'v', 'i', 'h');
constexpr uint32_t kChunkStrh = MakeFourCC('s', 't', 'r', 'h');
constexpr uint32_t kChunkStrf = MakeFourCC('s', 't', 'r', 'f');
constexpr uint32_t kChunkStrn = MakeFourCC('s', 't', 'r', 'n');
constexpr uint32_t kChunkIndx = MakeFourCC('i', 'n', 'd', 'x');
constexpr uint32_t kChunkDmlh = MakeFourCC('d', 'm', 'l', 'h');
constexpr uint32_t kChunkIdx1 = MakeFourCC('i', 'd', 'x', '1');

constexpr uint32_t kMainHeaderBytes = 56;
constexpr uint32_t kMainHeaderReservedBytes = 16;
constexpr uint32_t kStreamHeaderBytes = 56;
constexpr uint32_t kStreamNameBytes = sizeof(AviStreamInfo::szName);
constexpr uint32_t kDmlhBytes = 248;        // the frame count, then room for future fields
constexpr uint32_t kIndexHeaderBytes = 24;  // after the chunk header, both index kinds
constexpr uint32_t kIndexReservedBytes = 12;
constexpr uint32_t kSuperIndexEntryBytes = 16;
constexpr uint32_t kStdIndexEntryBytes = 8;
constexpr uint32_t kIdx1EntryBytes = 16;
constexpr uint32_t kIndexLongBytes = 4;  // indexes give their entry size in 32-bit units
constexpr uint16_t kSuperIndexLongsPerEntry = kSuperIndexEntryBytes / kIndexLongBytes;
constexpr uint16_t kStdIndexLongsPerEntry = kStdIndexEntryBytes / kIndexLongBytes;
constexpr uint8_t kIndexOfIndexes = 0;
constexpr uint8_t kIndexOfChunks = 1;
constexpr uint32_t kStdIndexDeltaFrame = 0x80000000;  // top bit of dwSize: not a key frame

constexpr uint32_t kAvifHasIndex = 0x10;
constexpr uint32_t kAvifIsInterleaved = 0x100;
constexpr uint64_t kMicrosecondsPerSecond = 1000000;

// Each refresh adds one standard index per stream to the current part, since
// only chunks that an index on disk lists are safe after a crash. Every
// kRefreshIndexesPerFold of them are folded into one index of the same
// chunks, and closing a part folds all of its indexes into one, so a
// stream's super index holds one entry per closed part plus the folded and
// refresh indexes of the open part. A part is closed early once that would
// pass kMaxIndexesPerOpenPart, which at one refresh every 2 s is after more
// than 60 hours.
constexpr uint32_t kSuperIndexEntries = 2048;
constexpr uint32_t kRefreshIndexesPerFold = 128;
constexpr uint32_t kMaxIndexesPerOpenPart = kSuperIndexEntries / 2;
constexpr uint32_t kMaxParts = kSuperIndexEntries - kMaxIndexesPerOpenPart;

constexpr uint64_t kMaxStrlBytes = kListHeaderBytes + kChunkHeaderBytes + kStreamHeaderBytes +
                                   kChunkHeaderBytes + kAviMaxFormatBytes + kChunkHeaderBytes +
                                   kStreamNameBytes + kChunkHeaderBytes + kIndexHeaderBytes +
                                   kSuperIndexEntryBytes * kSuperIndexEntries;
// The first part's headers take a fixed room before its movi list: a slot
// per possible stream, each a strl padded with JUNK inside it (or only JUNK
// while the stream is not listed), so streams can be added and indexes grow
// without moving anything. The padding stays inside the strl because
// readers such as the platform's AVI file service take one child of hdrl
// per stream. A refresh then rewrites only what changed, each stream's
// slot on its own, so a writer stopped between two writes leaves every
// stream's header and index consistent with each other.
constexpr uint64_t kStreamSlotBytes = kMaxStrlBytes + kChunkHeaderBytes;
constexpr uint64_t kFirstSlotOffset =
    kListHeaderBytes + kListHeaderBytes + kChunkHeaderBytes + kMainHeaderBytes;
constexpr uint64_t kOdmlListBytes = kListHeaderBytes + kChunkHeaderBytes + kDmlhBytes;
constexpr uint64_t kHeaderRegionBytes =
    kFirstSlotOffset + kAviMaxStreams * kStreamSlotBytes + kOdmlListBytes + kListHeaderBytes;
constexpr uint8_t kPadByte = 0;
constexpr uint8_t kNoIndexSubType = 0;

struct IndexEntry {
  uint32_t offset;       // of the chunk's data, from the part's movi list
  uint32_t sizeAndFlag;  // bytes, kStdIndexDeltaFrame unless a key frame
};

struct SuperIndexEntry {
  uint64_t offset;  // of the standard index chunk
  uint32_t bytes;   // of that chunk, header included
  uint32_t duration;
};

struct Stream {
  AviStreamInfo info{};
  uint32_t chunkId = 0;
  std::vector<uint8_t> format;
  uint64_t length = 0;  // samples written, dropped frames included
  uint32_t largestChunkBytes = 0;
  uint32_t firstPartChunks = 0;         // chunks in the 'AVI ' part
  std::vector<IndexEntry> partEntries;  // chunks in the open part
  size_t firstUnindexed = 0;            // of partEntries, not yet in an index on disk
  std::vector<SuperIndexEntry> superIndex;
  size_t partSuperIndexStart = 0;      // superIndex entries from here are the open part's
  size_t runSuperIndexStart = 0;       // from here the refresh indexes not yet folded
  size_t runFirstEntry = 0;            // of partEntries, the first those list
  size_t superIndexEntriesOnDisk = 0;  // the most ever published, stale ones are zeroed
};

// Bytes to put at a position of the file.
struct Patch {
  uint64_t offset;
  std::vector<uint8_t> bytes;
};

// What one publication puts on the disk after the data it describes: part
// sizes, then headers, then (once nothing points at them) JUNK over the
// indexes that folded ones replaced.
struct Publication {
  std::vector<Patch> headers;
  std::vector<uint64_t> staleIndexes;
};

struct Part {
  uint32_t form;      // 'AVI ' or 'AVIX'
  uint64_t start;     // of its RIFF header
  uint64_t moviList;  // of its movi LIST header, the base of its indexes
  uint64_t moviEnd;
  uint64_t end;
};

uint32_t Saturated32(uint64_t value) {
  return static_cast<uint32_t>(std::min<uint64_t>(value, UINT32_MAX));
}

int64_t SteadyClockMs() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

}  // namespace

class AviWriterCore {
 public:
  ~AviWriterCore() { StopSyncThread(); }

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
    syncThread_ = std::thread(&AviWriterCore::PublishWhenAsked, this);
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
    AskForPublication();
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
      AskForPublication();
      const uint64_t last = publicationsAsked_;
      published_.wait(lock, [&] { return publicationsDone_ >= last; });
    }
    StopSyncThread();
    options_.io->Close();
  }

 private:
  Part& CurrentPart() { return parts_ == 1 ? first_ : last_; }

  // Streams are listed in the headers once they have a format, in creation
  // order: chunk ids carry the number, so a stream may only be listed when
  // all before it are.
  size_t ListedStreams() const {
    size_t listed = 0;
    while (listed < streams_.size() && !streams_[listed].format.empty()) ++listed;
    return listed;
  }

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

  // A RIFF or LIST header for the list from offset to end.
  static Patch ListHeader(uint64_t offset, uint32_t fourcc, uint64_t end, uint32_t type) {
    Patch patch{offset, std::vector<uint8_t>(kListHeaderBytes)};
    riff::StoreU32(patch.bytes.data(), fourcc);
    riff::StoreU32(patch.bytes.data() + sizeof fourcc,
                   static_cast<uint32_t>(end - offset - kChunkHeaderBytes));
    riff::StoreU32(patch.bytes.data() + kChunkHeaderBytes, type);
    return patch;
  }

  // The part's RIFF and movi headers, in that order.
  static void AddListHeaders(const Part& part, std::vector<Patch>* patches) {
    patches->push_back(ListHeader(part.start, riff::kRiff, part.end, part.form));
    patches->push_back(ListHeader(part.moviList, riff::kList, part.moviEnd, riff::kMovi));
  }

  void FailIo() {
    ioFailed_ = true;
    if (error_ == kAviOk) error_ = kAviErrorWrite;
  }

  static uint64_t StdIndexBytes(uint64_t entries) {
    return kChunkHeaderBytes + kIndexHeaderBytes + kStdIndexEntryBytes * entries;
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
      AskForPublication();
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
    AskForPublication();
  }

  // The writing thread takes the publication itself when the sync thread is
  // free, so it describes the file as of this moment; otherwise the sync
  // thread takes the next one when it is done with its own.
  void AskForPublication() {
    ++publicationsAsked_;
    if (syncThread_.joinable() && !publicationReady_ && !committing_) {
      ready_ = TakePublication();
      publicationsTaken_ = publicationsAsked_;
      publicationReady_ = true;
    }
    publicationWanted_.notify_one();
  }

  // The sync thread: each publication describes what was written when it
  // was taken, and is put on the disk only after all of that is.
  void PublishWhenAsked() {
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
      publicationWanted_.wait(lock, [&] {
        return stopSyncThread_ || publicationReady_ || publicationsTaken_ < publicationsAsked_;
      });
      if (!publicationReady_) {
        if (publicationsTaken_ == publicationsAsked_) return;
        ready_ = TakePublication();
        publicationsTaken_ = publicationsAsked_;
      }
      const Publication publication = std::move(ready_);
      const uint64_t number = publicationsTaken_;
      publicationReady_ = false;
      committing_ = true;
      lock.unlock();
      const bool written = Commit(publication);
      lock.lock();
      committing_ = false;
      if (!written) FailIo();
      publicationsDone_ = number;
      published_.notify_all();
    }
  }

  void StopSyncThread() {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      stopSyncThread_ = true;
    }
    publicationWanted_.notify_one();
    if (syncThread_.joinable()) syncThread_.join();
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
    BuildHeaders();
    for (const ByteRange& range : changed_) {
      publication.headers.push_back(
          {range.begin,
           std::vector<uint8_t>(headers_.Data() + range.begin, headers_.Data() + range.end)});
    }
    publication.staleIndexes.swap(staleIndexes_);
    return publication;
  }

  // Everything the headers point at goes to the disk before the headers do,
  // so no order of writes reaching the disk can leave headers that describe
  // missing data. Runs without the lock: the writing threads go on
  // appending meanwhile, at other positions.
  bool Commit(const Publication& publication) {
    const auto write = [&](uint64_t offset, const void* data, size_t bytes) {
      return !ioFailed_ && options_.io->Write(offset, data, bytes);
    };
    if (ioFailed_ || !options_.io->Sync()) return false;
    for (const Patch& patch : publication.headers) {
      if (!write(patch.offset, patch.bytes.data(), patch.bytes.size())) return false;
    }
    if (!options_.io->Sync()) return false;
    // Only now no header points at the indexes that folded ones replaced.
    uint8_t junk[sizeof riff::kJunk];
    riff::StoreU32(junk, riff::kJunk);
    for (uint64_t offset : publication.staleIndexes) {
      if (!write(offset, junk, sizeof junk)) return false;
    }
    return true;
  }

  // The hdrl list into headers_, at its offsets in the file, and in changed_
  // the ranges that may differ from what is on disk, in the order to write
  // them: the streams' slots, then the main header, then dmlh.
  void BuildHeaders() {
    const size_t listed = ListedStreams();
    const Stream* video = nullptr;
    uint32_t suggestedBufferBytes = 0;
    for (size_t i = 0; i < listed; ++i) {
      if (video == nullptr && streams_[i].info.fccType == kAviStreamTypeVideo) video = &streams_[i];
      suggestedBufferBytes = std::max(suggestedBufferBytes, SuggestedBufferBytes(streams_[i]));
    }
    riff::Builder& out = headers_;
    out.Clear();
    changed_.clear();
    out.Zeros(kListHeaderBytes);  // the RIFF header, see AddListHeaders
    const size_t hdrl = out.BeginList(riff::kList, kListHdrl);
    const size_t avih = out.BeginChunk(kChunkAvih);
    out.U32(video != nullptr && video->info.dwRate != 0
                ? static_cast<uint32_t>(
                      (kMicrosecondsPerSecond * video->info.dwScale + video->info.dwRate / 2) /
                      video->info.dwRate)
                : 0);
    out.U32(0);  // max bytes per second: unknown until the end, and players ignore it
    out.U32(0);  // padding granularity
    // Readers that trust the flag look for idx1 only, which the first part
    // gets when it closes.
    const bool hasIdx1 = parts_ > 1 || !partOpen_;
    // No AVIF_TRUSTCKTYPE: readers that trust chunk types take every 'dc'
    // chunk for a delta frame, whatever the index says.
    out.U32((hasIdx1 ? kAvifHasIndex : 0) | kAvifIsInterleaved);
    // Readers of AVI 1.0 see the first part only, so the main header counts
    // its frames; dmlh has them all.
    out.U32(video == nullptr ? 0 : video->firstPartChunks);
    out.U32(0);  // initial frames
    out.U32(static_cast<uint32_t>(listed));
    out.U32(suggestedBufferBytes);
    out.U32(video == nullptr
                ? 0
                : static_cast<uint32_t>(video->info.rcFrame.right - video->info.rcFrame.left));
    out.U32(video == nullptr
                ? 0
                : static_cast<uint32_t>(video->info.rcFrame.bottom - video->info.rcFrame.top));
    out.Zeros(kMainHeaderReservedBytes);
    out.EndChunk(avih);
    for (size_t i = 0; i < kAviMaxStreams; ++i) {
      const size_t slot = out.Size();
      const size_t strl = i < listed ? out.BeginList(riff::kList, kListStrl) : slot;
      const size_t strlChanged = i < listed ? BuildStreamList(streams_[i]) : slot;
      const size_t junk = out.Size();
      out.U32(riff::kJunk);
      out.U32(static_cast<uint32_t>(slot + kStreamSlotBytes - junk - kChunkHeaderBytes));
      out.Zeros(slot + kStreamSlotBytes - out.Size());
      if (i < listed) out.EndChunk(strl);
      // The JUNK in a new strl lands inside the slot's old JUNK, which
      // still covers the slot until the strl is written over its header.
      changed_.push_back({junk, junk + kChunkHeaderBytes});
      if (strlChanged > slot) changed_.push_back({slot, strlChanged});
    }
    const size_t odml = out.BeginList(riff::kList, kListOdml);
    const size_t dmlh = out.BeginChunk(kChunkDmlh);
    out.U32(video == nullptr ? 0 : Saturated32(video->length));
    out.Zeros(kDmlhBytes - sizeof(uint32_t));
    out.EndChunk(dmlh);
    out.EndChunk(odml);
    out.EndChunk(hdrl);
    changed_.push_back({kListHeaderBytes, kFirstSlotOffset});
    changed_.push_back({odml - kChunkHeaderBytes, out.Size()});
  }

  uint32_t SuggestedBufferBytes(const Stream& stream) const {
    return std::max(stream.info.dwSuggestedBufferSize, stream.largestChunkBytes);
  }

  // The strl's chunks after its list header. Returns the end of what may
  // have changed: the strl up to its super index entries in use, or once in
  // use and now to be zeroed.
  size_t BuildStreamList(Stream& stream) {
    riff::Builder& out = headers_;
    const AviStreamInfo& info = stream.info;
    const size_t strh = out.BeginChunk(kChunkStrh);
    out.U32(info.fccType);
    out.U32(info.fccHandler);
    out.U32(info.dwFlags);
    out.U16(info.wPriority);
    out.U16(info.wLanguage);
    out.U32(info.dwInitialFrames);
    out.U32(info.dwScale);
    out.U32(info.dwRate);
    out.U32(info.dwStart);
    out.U32(Saturated32(stream.length));
    out.U32(SuggestedBufferBytes(stream));
    out.U32(info.dwQuality);
    out.U32(info.dwSampleSize);
    for (int32_t edge :
         {info.rcFrame.left, info.rcFrame.top, info.rcFrame.right, info.rcFrame.bottom}) {
      out.U16(static_cast<uint16_t>(edge));  // the file keeps 16-bit edges
    }
    out.EndChunk(strh);
    const size_t strf = out.BeginChunk(kChunkStrf);
    out.Bytes(stream.format.data(), stream.format.size());
    out.EndChunk(strf);
    const size_t nameBytes =
        std::find(info.szName, info.szName + kStreamNameBytes - 1, '\0') - info.szName;
    if (nameBytes > 0) {
      const size_t strn = out.BeginChunk(kChunkStrn);
      out.Bytes(info.szName, nameBytes);
      out.Bytes(&kPadByte, sizeof kPadByte);  // the name's terminator
      out.EndChunk(strn);
    }
    const size_t indx = out.BeginChunk(kChunkIndx);
    out.U16(kSuperIndexLongsPerEntry);
    out.U8(kNoIndexSubType);
    out.U8(kIndexOfIndexes);
    out.U32(static_cast<uint32_t>(stream.superIndex.size()));
    out.U32(stream.chunkId);
    out.Zeros(kIndexReservedBytes);
    const size_t entries = out.Size();
    for (const SuperIndexEntry& entry : stream.superIndex) {
      out.U64(entry.offset);
      out.U32(entry.bytes);
      out.U32(entry.duration);
    }
    out.Zeros(kSuperIndexEntryBytes * (kSuperIndexEntries - stream.superIndex.size()));
    out.EndChunk(indx);
    stream.superIndexEntriesOnDisk =
        std::max(stream.superIndexEntriesOnDisk, stream.superIndex.size());
    return entries + kSuperIndexEntryBytes * stream.superIndexEntriesOnDisk;
  }

  std::mutex mutex_;
  AviFileOptions options_;
  std::vector<Stream> streams_;
  int error_ = kAviOk;
  std::atomic<bool> ioFailed_{false};  // also read by the sync thread between publications
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
  riff::Builder headers_;
  struct ByteRange {
    size_t begin, end;
  };
  std::vector<ByteRange> changed_;
  riff::Builder scratch_;

  std::thread syncThread_;
  std::condition_variable publicationWanted_;
  std::condition_variable published_;
  Publication ready_;  // taken, for the sync thread to commit
  bool publicationReady_ = false;
  bool committing_ = false;
  uint64_t publicationsAsked_ = 0;
  uint64_t publicationsTaken_ = 0;
  uint64_t publicationsDone_ = 0;
  bool stopSyncThread_ = false;
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
  if (result == kAviOk) *stream = new WriterStream(file->core, number);
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
  delete stream;
}

void AviFileRelease(AviFile* file) {
  if (file == nullptr) return;
  file->core->Release();
  delete file;
}
