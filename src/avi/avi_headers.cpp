#include "avi/avi_headers.h"

#include <algorithm>

namespace {

using namespace avi_layout;

// Streams are listed in the headers once they have a format, in creation
// order: chunk ids carry the number, so a stream may only be listed when
// all before it are.
size_t ListedStreams(const std::vector<Stream>& streams) {
  size_t listed = 0;
  while (listed < streams.size() && !streams[listed].format.empty()) ++listed;
  return listed;
}

// The strl's chunks after its list header. Returns the end of what may
// have changed: the strl up to its super index entries in use, or once in
// use and now to be zeroed.
size_t BuildStreamList(Stream& stream, riff::Builder& out) {
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

}  // namespace

void BuildHeaders(std::vector<Stream>& streams, bool hasIdx1, HeaderImage& image) {
  const size_t listed = ListedStreams(streams);
  const Stream* video = nullptr;
  uint32_t suggestedBufferBytes = 0;
  for (size_t i = 0; i < listed; ++i) {
    if (video == nullptr && streams[i].info.fccType == kAviStreamTypeVideo) video = &streams[i];
    suggestedBufferBytes = std::max(suggestedBufferBytes, SuggestedBufferBytes(streams[i]));
  }
  riff::Builder& out = image.bytes;
  out.Clear();
  image.changed.clear();
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
    const size_t strlChanged = i < listed ? BuildStreamList(streams[i], out) : slot;
    const size_t junk = out.Size();
    out.U32(riff::kJunk);
    out.U32(static_cast<uint32_t>(slot + kStreamSlotBytes - junk - kChunkHeaderBytes));
    out.Zeros(slot + kStreamSlotBytes - out.Size());
    if (i < listed) out.EndChunk(strl);
    // The JUNK in a new strl lands inside the slot's old JUNK, which
    // still covers the slot until the strl is written over its header.
    image.changed.push_back({junk, junk + kChunkHeaderBytes});
    if (strlChanged > slot) image.changed.push_back({slot, strlChanged});
  }
  const size_t odml = out.BeginList(riff::kList, kListOdml);
  const size_t dmlh = out.BeginChunk(kChunkDmlh);
  out.U32(video == nullptr ? 0 : Saturated32(video->length));
  out.Zeros(kDmlhBytes - sizeof(uint32_t));
  out.EndChunk(dmlh);
  out.EndChunk(odml);
  out.EndChunk(hdrl);
  image.changed.push_back({kListHeaderBytes, kFirstSlotOffset});
  image.changed.push_back({odml - kChunkHeaderBytes, out.Size()});
}
