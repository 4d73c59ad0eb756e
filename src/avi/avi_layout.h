// What the AVI writer's files are made of: the RIFF and OpenDML names and
// sizes, the fixed room of the first part's headers, and the writer's
// records of streams, indexes, parts and publications. For the writer's
// own files only.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "avi/avi_writer.h"
#include "avi/riff_layout.h"

namespace avi_layout {

using riff::kChunkHeaderBytes;
using riff::kListHeaderBytes;

inline constexpr uint32_t kFormAvi = MakeFourCC('A', 'V', 'I', ' ');
inline constexpr uint32_t kFormAviExtension = MakeFourCC('A', 'V', 'I', 'X');
inline constexpr uint32_t kListHdrl = MakeFourCC('h', 'd', 'r', 'l');
inline constexpr uint32_t kListStrl = MakeFourCC('s', 't', 'r', 'l');
inline constexpr uint32_t kListOdml = MakeFourCC('o', 'd', 'm', 'l');
inline constexpr uint32_t kChunkAvih = MakeFourCC('a', 'v', 'i', 'h');
inline constexpr uint32_t kChunkStrh = MakeFourCC('s', 't', 'r', 'h');
inline constexpr uint32_t kChunkStrf = MakeFourCC('s', 't', 'r', 'f');
inline constexpr uint32_t kChunkStrn = MakeFourCC('s', 't', 'r', 'n');
inline constexpr uint32_t kChunkIndx = MakeFourCC('i', 'n', 'd', 'x');
inline constexpr uint32_t kChunkDmlh = MakeFourCC('d', 'm', 'l', 'h');
inline constexpr uint32_t kChunkIdx1 = MakeFourCC('i', 'd', 'x', '1');

inline constexpr uint32_t kMainHeaderBytes = 56;
inline constexpr uint32_t kMainHeaderReservedBytes = 16;
inline constexpr uint32_t kStreamHeaderBytes = 56;
inline constexpr uint32_t kStreamNameBytes = sizeof(AviStreamInfo::szName);
inline constexpr uint32_t kDmlhBytes = 248;        // the frame count, then room for future fields
inline constexpr uint32_t kIndexHeaderBytes = 24;  // after the chunk header, both index kinds
inline constexpr uint32_t kIndexReservedBytes = 12;
inline constexpr uint32_t kSuperIndexEntryBytes = 16;
inline constexpr uint32_t kStdIndexEntryBytes = 8;
inline constexpr uint32_t kIdx1EntryBytes = 16;
inline constexpr uint32_t kIndexLongBytes = 4;  // indexes give their entry size in 32-bit units
inline constexpr uint16_t kSuperIndexLongsPerEntry = kSuperIndexEntryBytes / kIndexLongBytes;
inline constexpr uint16_t kStdIndexLongsPerEntry = kStdIndexEntryBytes / kIndexLongBytes;
inline constexpr uint8_t kIndexOfIndexes = 0;
inline constexpr uint8_t kIndexOfChunks = 1;
inline constexpr uint32_t kStdIndexDeltaFrame = 0x80000000;  // top bit of dwSize: not a key frame

inline constexpr uint32_t kAvifHasIndex = 0x10;
inline constexpr uint32_t kAvifIsInterleaved = 0x100;
inline constexpr uint64_t kMicrosecondsPerSecond = 1000000;

// Each refresh adds one standard index per stream to the current part, since
// only chunks that an index on disk lists are safe after a crash. Every
// kRefreshIndexesPerFold of them are folded into one index of the same
// chunks, and closing a part folds all of its indexes into one, so a
// stream's super index holds one entry per closed part plus the folded and
// refresh indexes of the open part. A part is closed early once that would
// pass kMaxIndexesPerOpenPart, which at one refresh every 2 s is after more
// than 60 hours.
inline constexpr uint32_t kSuperIndexEntries = 2048;
inline constexpr uint32_t kRefreshIndexesPerFold = 128;
inline constexpr uint32_t kMaxIndexesPerOpenPart = kSuperIndexEntries / 2;
inline constexpr uint32_t kMaxParts = kSuperIndexEntries - kMaxIndexesPerOpenPart;

inline constexpr uint64_t kMaxStrlBytes =
    kListHeaderBytes + kChunkHeaderBytes + kStreamHeaderBytes + kChunkHeaderBytes +
    kAviMaxFormatBytes + kChunkHeaderBytes + kStreamNameBytes + kChunkHeaderBytes +
    kIndexHeaderBytes + kSuperIndexEntryBytes * kSuperIndexEntries;
// The first part's headers take a fixed room before its movi list: a slot
// per possible stream, each a strl padded with JUNK inside it (or only JUNK
// while the stream is not listed), so streams can be added and indexes grow
// without moving anything. The padding stays inside the strl because
// readers such as the platform's AVI file service take one child of hdrl
// per stream. A refresh then rewrites only what changed, each stream's
// slot on its own, so a writer stopped between two writes leaves every
// stream's header and index consistent with each other.
inline constexpr uint64_t kStreamSlotBytes = kMaxStrlBytes + kChunkHeaderBytes;
inline constexpr uint64_t kFirstSlotOffset =
    kListHeaderBytes + kListHeaderBytes + kChunkHeaderBytes + kMainHeaderBytes;
inline constexpr uint64_t kOdmlListBytes = kListHeaderBytes + kChunkHeaderBytes + kDmlhBytes;
inline constexpr uint64_t kHeaderRegionBytes =
    kFirstSlotOffset + kAviMaxStreams * kStreamSlotBytes + kOdmlListBytes + kListHeaderBytes;
inline constexpr uint8_t kPadByte = 0;
inline constexpr uint8_t kNoIndexSubType = 0;

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

inline uint32_t Saturated32(uint64_t value) {
  return static_cast<uint32_t>(std::min<uint64_t>(value, UINT32_MAX));
}

inline uint32_t SuggestedBufferBytes(const Stream& stream) {
  return std::max(stream.info.dwSuggestedBufferSize, stream.largestChunkBytes);
}

// A RIFF or LIST header for the list from offset to end.
inline Patch ListHeader(uint64_t offset, uint32_t fourcc, uint64_t end, uint32_t type) {
  Patch patch{offset, std::vector<uint8_t>(kListHeaderBytes)};
  riff::StoreU32(patch.bytes.data(), fourcc);
  riff::StoreU32(patch.bytes.data() + sizeof fourcc,
                 static_cast<uint32_t>(end - offset - kChunkHeaderBytes));
  riff::StoreU32(patch.bytes.data() + kChunkHeaderBytes, type);
  return patch;
}

// The part's RIFF and movi headers, in that order.
inline void AddListHeaders(const Part& part, std::vector<Patch>* patches) {
  patches->push_back(ListHeader(part.start, riff::kRiff, part.end, part.form));
  patches->push_back(ListHeader(part.moviList, riff::kList, part.moviEnd, riff::kMovi));
}

// The bytes of a standard index of `entries` chunks, its header included.
inline uint64_t StdIndexBytes(uint64_t entries) {
  return kChunkHeaderBytes + kIndexHeaderBytes + kStdIndexEntryBytes * entries;
}

// The byte range [begin, end) of a header image.
struct ByteRange {
  size_t begin, end;
};

}  // namespace avi_layout
