// Property: whatever the interleaving of a video thread and an audio thread,
// and whenever the audio stream is created, every chunk is where the indexes
// say, with its id, size, key flag and bytes, across several RIFF parts.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <iterator>
#include <random>
#include <thread>
#include <tuple>

#include "avi/session_stream.h"
#include "avi_test_support.h"

namespace avitest {
namespace {

constexpr int kWrites = 700;
constexpr uint32_t kMaxChunkBytes = 3000;
constexpr uint64_t kHeaderRoomBytes = 140 * 1024;  // about the first part's header room

struct Expected {
  uint32_t bytes;
  bool key;
  uint32_t seed;  // of the payload
};

uint8_t PayloadByte(uint32_t seed, size_t i) {
  return static_cast<uint8_t>(seed * 131 + i * 7);
}

// The audio stream is created once the video has written `audioAfter`
// frames; the video then waits for it, so both write the rest at once.
struct Start {
  int audioAfter;
  std::atomic<int> videoFrames{0};
  std::atomic<bool> audioCreated{false};
};

// kWrites chunks of random sizes and key flags to a new stream; the video
// skips positions at random (dropped frames: empty chunks).
std::vector<Expected> WriteStream(AviFile* file, bool video, uint32_t seed, Start* start) {
  std::mt19937 random(seed);
  while (!video && start->videoFrames.load() < start->audioAfter) std::this_thread::yield();
  const AviStreamInfo info = video ? VideoInfo(kVideoFps) : Mp3Info();
  const Bytes& format = video ? kH264Format : kMp3Format;
  AviStream* stream = nullptr;
  EXPECT_EQ(AviFileCreateStream(file, &stream, &info), kAviOk);
  EXPECT_EQ(AviStreamSetFormat(stream, 0, format.data(), int32_t(format.size())), kAviOk);
  if (!video) start->audioCreated.store(true);
  std::vector<Expected> expected;
  int32_t position = 0;
  Bytes data;
  for (int i = 1; i <= kWrites; ++i) {
    const uint32_t dropped = video && random() % 5 == 0 ? random() % 4 : 0;
    expected.insert(expected.end(), dropped, Expected{0, false, 0});
    position += int32_t(dropped);
    const uint32_t seedOfData = seed * kWrites + i;
    data.resize(random() % kMaxChunkBytes + 1);
    for (size_t b = 0; b < data.size(); ++b) data[b] = PayloadByte(seedOfData, b);
    const bool key = random() % 3 == 0;
    const int32_t samples = video ? 1 : int32_t(data.size());
    EXPECT_EQ(AviStreamWrite(stream, position, samples, data.data(), int32_t(data.size()),
                             key ? kAviIfKeyframe : 0, nullptr, nullptr),
              kAviOk);
    expected.push_back({uint32_t(data.size()), key, seedOfData});
    position += samples;
    if (video) start->videoFrames.store(i);
    while (video && i >= start->audioAfter && !start->audioCreated.load())
      std::this_thread::yield();
  }
  AviStreamRelease(stream);
  return expected;
}

TEST(AviThreads, ChunksFromTwoThreadsAreWhereTheIndexesSay) {
  const struct {
    uint32_t seed;
    uint64_t partLimitBytes;
    uint32_t refreshTicks;  // the clock ticks once a call, writes and refreshes alike
    size_t minParts;
  } cases[] = {
      {1, kHeaderRoomBytes + 64 * 1024, 7, 3},
      {2, kHeaderRoomBytes + 96 * 1024, 0, 3},   // a refresh after every write
      {3, kAviDefaultRiffPartLimitBytes, 0, 1},  // runs of refresh indexes folded in one part
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.seed);
    auto io = std::make_shared<MemoryIo>();
    auto ticks = std::make_shared<std::atomic<int64_t>>(0);
    AviFileOptions options;
    options.io = io;
    options.riffPartLimitBytes = c.partLimitBytes;
    options.headerRefreshMs = c.refreshTicks;
    options.clockMs = [ticks] { return ticks->fetch_add(1); };
    AviFile* file = nullptr;
    ASSERT_EQ(AviFileOpen(&file, "", &options), kAviOk);
    Start start{int(c.seed) * 50};
    std::vector<Expected> audio;
    std::thread audioThread([&] { audio = WriteStream(file, false, c.seed * 2, &start); });
    const std::vector<Expected> video = WriteStream(file, true, c.seed * 2 + 1, &start);
    audioThread.join();
    AviFileRelease(file);

    const Bytes& f = io->file;
    const Chunk riff = ParseRiff(f);  // also: every chunk padded to an even size
    ASSERT_FALSE(testing::Test::HasFailure());
    ASSERT_GE(riff.kids.size(), c.minParts);
    if (c.minParts == 1) {
      EXPECT_EQ(riff.kids.size(), 1u);  // the first part grows to its limit
    }
    size_t indexChunks = 0;
    for (size_t part = 0; part < riff.kids.size(); ++part) {
      EXPECT_EQ(riff.kids[part].type, MakeFourCC('A', 'V', 'I', part == 0 ? ' ' : 'X'));
      EXPECT_LE(riff.kids[part].size + 8u, c.partLimitBytes);
      for (const Chunk& chunk : riff.kids[part].Get(kList, MakeFourCC('m', 'o', 'v', 'i')).kids) {
        indexChunks += (chunk.id & 0xFFFF) == MakeFourCC('i', 'x', 0, 0);
      }
    }
    const auto index = ReadOdmlIndex(f, riff);
    const auto strls = Hdrl(riff).All(kList, MakeFourCC('s', 't', 'r', 'l'));
    ASSERT_EQ(index.size(), 2u);
    size_t superIndexEntries = 0;
    for (size_t stream = 0; stream < 2; ++stream) {
      const uint64_t strh = strls[stream]->Get(MakeFourCC('s', 't', 'r', 'h')).data;
      const bool isVideo = U32(f, strh) == kAviStreamTypeVideo;
      const std::vector<Expected>& want = isVideo ? video : audio;
      uint64_t length = 0;
      for (const Expected& chunk : want) length += isVideo ? 1 : chunk.bytes;
      EXPECT_EQ(U32(f, strh + 32), length);
      superIndexEntries += U32(f, strls[stream]->Get(MakeFourCC('i', 'n', 'd', 'x')).data + 4);
      ASSERT_EQ(index[stream].size(), want.size());
      for (size_t i = 0; i < want.size(); ++i) {
        const IndexEntry& entry = index[stream][i];
        EXPECT_EQ(entry.id,
                  MakeFourCC('0', char('0' + stream), isVideo ? 'd' : 'w', isVideo ? 'c' : 'b'));
        EXPECT_EQ(U32(f, entry.data - 8), entry.id);
        EXPECT_EQ(U32(f, entry.data - 4), want[i].bytes);
        EXPECT_EQ(entry.size, want[i].bytes);
        EXPECT_EQ(entry.key, want[i].key || !isVideo);  // sound chunks are all key frames
        for (size_t b = 0; b < want[i].bytes; ++b)
          ASSERT_EQ(f[entry.data + b], PayloadByte(want[i].seed, b));
      }
    }
    // The refresh indexes that folded ones replaced are JUNK now.
    EXPECT_EQ(indexChunks, superIndexEntries);
    // idx1 lists the first part's chunks in file order, as the ix## do.
    std::vector<IndexEntry> firstPart;
    for (const auto& stream : index) {
      std::copy_if(stream.begin(), stream.end(), std::back_inserter(firstPart),
                   [&](const IndexEntry& e) { return e.data < riff.kids[0].size; });
    }
    std::sort(firstPart.begin(), firstPart.end(),
              [](const IndexEntry& a, const IndexEntry& b) { return a.data < b.data; });
    const std::vector<IndexEntry> idx1 = ReadIdx1(f, riff);
    ASSERT_EQ(idx1.size(), firstPart.size());
    size_t firstPartFrames = 0;
    for (size_t i = 0; i < idx1.size(); ++i) {
      EXPECT_EQ(std::tie(idx1[i].id, idx1[i].data, idx1[i].size, idx1[i].key),
                std::tie(firstPart[i].id, firstPart[i].data, firstPart[i].size, firstPart[i].key));
      firstPartFrames += (idx1[i].id >> 16) == ('d' | 'c' << 8);
    }
    // The main header counts the video frames of the first part, dmlh all of them.
    EXPECT_EQ(U32(f, Hdrl(riff).Get(MakeFourCC('a', 'v', 'i', 'h')).data + 16), firstPartFrames);
    EXPECT_EQ(U32(f, Hdrl(riff)
                         .Get(kList, MakeFourCC('o', 'd', 'm', 'l'))
                         .Get(MakeFourCC('d', 'm', 'l', 'h'))
                         .data),
              video.size());
  }
}

TEST(AviThreads, AnAbandonedSoundStreamTouchesNoLaterFile) {
  constexpr int32_t kSoundBytes = 418;
  const Bytes sound(kSoundBytes, 5);
  const AviStreamInfo audioInfo = Mp3Info();
  for (const bool createdInTime : {false, true}) {
    SCOPED_TRACE(createdInTime);
    auto firstIo = std::make_shared<MemoryIo>(), laterIo = std::make_shared<MemoryIo>();
    AviFileOptions options;
    options.io = firstIo;
    SessionStream stream;
    stream.Begin();
    AviFile* file = nullptr;
    ASSERT_EQ(AviFileOpen(&file, "", &options), kAviOk);
    if (createdInTime) {
      EXPECT_TRUE(stream.Create(&file, audioInfo, kMp3Format.data(), int32_t(kMp3Format.size())));
      EXPECT_EQ(stream.Append(sound.data(), kSoundBytes), kAviOk);
    }
    // The owner gives up waiting, closes its file, and a later session
    // opens another in the same place.
    stream.Abandon();
    AviFileRelease(file);
    options.io = laterIo;
    ASSERT_EQ(AviFileOpen(&file, "", &options), kAviOk);
    AviStream* video = NewStream(file, true);
    std::thread late([&] {
      EXPECT_FALSE(stream.Create(&file, audioInfo, kMp3Format.data(), int32_t(kMp3Format.size())));
      EXPECT_EQ(stream.Append(sound.data(), kSoundBytes), kAviOk);
      EXPECT_FALSE(stream.Release());
    });
    late.join();
    AviFileRelease(file);
    AviStreamRelease(video);
    const auto laterIndex = ReadOdmlIndex(laterIo->file, ParseRiff(laterIo->file));
    EXPECT_EQ(laterIndex.size(), 1u);
    const auto firstIndex = ReadOdmlIndex(firstIo->file, ParseRiff(firstIo->file));
    ASSERT_EQ(firstIndex.size(), createdInTime ? 1u : 0u);
    if (createdInTime) {
      EXPECT_EQ(firstIndex[0].size(), 1u);
    }
  }
}

}  // namespace
}  // namespace avitest
