// The writer's promise that headers reach the disk only after what they
// describe, and that the last ones asked for are there: files from the
// writer as ffmpeg plays them (real H.264 and MP3, several RIFF parts),
// files cut short by a crash or a full disk, and writers that go on while
// the disk syncs.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <mutex>
#include <thread>

#include "avi_test_support.h"

namespace avitest {
namespace {

// Past the first part's header room, a few seconds of the test clip each.
constexpr uint64_t kSmallPartLimitBytes = 160 * 1024;
constexpr uint32_t kRefreshMs = 500;
constexpr int kDropEvery = 6;
constexpr uint64_t kAvihFlagsOffset = 44;  // RIFF, hdrl and avih headers, 3 fields
constexpr uint32_t kAvifHasIndex = 0x10;

AviFileOptions SmallParts(std::shared_ptr<MemoryIo> io = nullptr) {
  AviFileOptions options;
  options.riffPartLimitBytes = kSmallPartLimitBytes;
  options.headerRefreshMs = kRefreshMs;
  options.io = io;
  return options;
}

// What a file cut off after `cut` bytes written must still play: the video
// frames written before an index that a finished publication lists. Headers
// are published one after another by the writer's sync thread, so the one
// before the last begun is whole, and it was taken after the one before it
// had begun to be written.
size_t FramesSafeAt(const MemoryIo& io, const std::vector<uint64_t>& frameEnds, uint64_t cut) {
  const std::vector<uint64_t> refreshes = io.WriteStarts(true), indexes = io.IndexWriteStarts();
  const auto next = std::upper_bound(refreshes.begin(), refreshes.end(), cut);
  if (next - refreshes.begin() < 3) return 0;
  const auto index = std::lower_bound(indexes.begin(), indexes.end(), *(next - 3));
  if (index == indexes.begin()) return 0;
  return std::upper_bound(frameEnds.begin(), frameEnds.end(), *(index - 1)) - frameEnds.begin();
}

// The file's own indexes list at least `safeFrames` video frames and point at
// whole chunks of their ids and sizes; it plays without a decoding error, its
// video the first frames written, at their positions.
void ExpectPlaysPrefix(const std::string& path, const Recording& recording, size_t safeFrames,
                       size_t* audioPackets = nullptr) {
  const Bytes file = ReadFile(path);
  const Chunk firstPart = ParseRiff(file, true);
  // The main header claims an index only once the first part has its idx1
  // (the part's size, which takes it in, is put down first).
  if (U32(file, kAvihFlagsOffset) & kAvifHasIndex) {
    EXPECT_EQ(firstPart.kids.at(0).All(MakeFourCC('i', 'd', 'x', '1')).size(), 1u);
  }
  const auto index = ReadOdmlIndex(file, firstPart);
  // Until a publication has landed the file need not even list its streams.
  if (safeFrames == 0 && index.size() < 2) return;
  ASSERT_EQ(index.size(), 2u);
  EXPECT_GE(index[0].size(), safeFrames);
  for (const auto& stream : index) {
    for (const IndexEntry& entry : stream) {
      ASSERT_LE(entry.data + entry.size, file.size());
      EXPECT_EQ(U32(file, entry.data - 8), entry.id);
      EXPECT_EQ(U32(file, entry.data - 4), entry.size);
    }
  }
  const Probe probe = ProbeFile(path);
  EXPECT_EQ(probe.streams, "h264,mp3");
  EXPECT_EQ(probe.decodeMessages, "");
  EXPECT_GE(probe.videoDts.size(), safeFrames);
  ASSERT_LE(probe.videoDts.size(), recording.positions.size());
  EXPECT_TRUE(
      std::equal(probe.videoDts.begin(), probe.videoDts.end(), recording.positions.begin()));
  if (audioPackets != nullptr) *audioPackets = probe.audioPackets;
}

TEST(AviPlayback, RealPayloadsPlayWithEveryFrameAtItsTime) {
  const struct {
    uint64_t partLimitBytes;
    int frames, dropEvery;
    size_t parts;
  } cases[] = {{kAviDefaultRiffPartLimitBytes, 60, 0, 1},
               {kAviDefaultRiffPartLimitBytes, 60, 4, 1},
               {kSmallPartLimitBytes, 300, 5, 4}};
  const std::string path = TempPath("play.avi");
  for (const auto& c : cases) {
    SCOPED_TRACE(c.frames * 100 + c.dropEvery);
    AviFileOptions options;
    options.riffPartLimitBytes = c.partLimitBytes;
    const Recording recording = Record(path, options, c.frames, c.dropEvery);
    ASSERT_EQ(recording.result, kAviOk);
    EXPECT_EQ(ParseRiff(ReadFile(path)).kids.size(), c.parts);
    size_t audioPackets = 0;
    ExpectPlaysPrefix(path, recording, recording.positions.size(), &audioPackets);
    EXPECT_EQ(audioPackets, recording.mp3Frames);
  }
  std::remove(path.c_str());
}

TEST(AviPlayback, FileCutAfterAnyByteWrittenPlaysUpToTheLastRefresh) {
  constexpr int kEvenCuts = 12;
  constexpr size_t kWritesOfOneRefresh = 8;
  auto io = std::make_shared<MemoryIo>();
  std::vector<uint64_t> frameEnds;
  const Recording recording = Record("", SmallParts(io), 150, kDropEvery,
                                     [&](AviFile*) { frameEnds.push_back(io->BytesWritten()); });
  ASSERT_EQ(recording.result, kAviOk);
  // Cuts spread over the data, inside the last write before each header
  // refresh (indexes, a part's end), and between the writes of one refresh.
  std::vector<uint64_t> cuts;
  for (int i = 0; i < kEvenCuts; ++i) {
    cuts.push_back(frameEnds[0] + (io->BytesWritten() - frameEnds[0]) * i / kEvenCuts);
  }
  const std::vector<uint64_t> refreshes = io->WriteStarts(true), writes = io->WriteStarts(false);
  for (uint64_t refresh : refreshes) {
    const auto start = std::lower_bound(writes.begin(), writes.end(), refresh);
    if (refresh > frameEnds[0]) cuts.push_back((*(start - 1) + refresh) / 2);
  }
  const auto middle =
      std::lower_bound(writes.begin(), writes.end(), refreshes[refreshes.size() / 2]);
  cuts.insert(cuts.end(), middle, middle + kWritesOfOneRefresh);
  const std::string path = TempPath("cut.avi");
  for (uint64_t cut : cuts) {
    SCOPED_TRACE(cut);
    WriteFile(path, io->Replay(cut));
    ExpectPlaysPrefix(path, recording, FramesSafeAt(*io, frameEnds, cut));
  }
  std::remove(path.c_str());
}

TEST(AviPlayback, WriterKilledMidRecordingLeavesAPlayableFile) {
  constexpr int kFramesBeforeKill = 100;
  constexpr int kMaxFrames = 3000;  // bounds the child should the kill never come
  constexpr int kFramesPerRefresh = kRefreshMs * kVideoFps / 1000 + 1;
  // Positions as the child writes them, from a recording of the same frames.
  auto sameIo = std::make_shared<MemoryIo>();
  const Recording same = Record("", SmallParts(sameIo), kMaxFrames / 10, kDropEvery);
  const uint64_t dmlh = Hdrl(ParseRiff(sameIo->file))
                            .Get(kList, MakeFourCC('o', 'd', 'm', 'l'))
                            .Get(MakeFourCC('d', 'm', 'l', 'h'))
                            .data;
  // Killed while writing: a refresh was asked for within the last refresh
  // interval before it stopped, and its sync thread publishes what was
  // written by the time it takes the publication: the dmlh, written last,
  // then counts at least the frames of that ask (all of them if the sync
  // thread ran late, which cannot be waited for). Killed while idle after
  // publishing, as a paused recording is: every frame.
  for (bool published : {false, true}) {
    SCOPED_TRACE(published);
    const std::string path = TempPath("killed.avi");
    int ready[2];
    ASSERT_EQ(pipe(ready), 0);
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      int written = 0;
      Record(path, SmallParts(), kMaxFrames, kDropEvery, [&](AviFile* file) {
        if (++written < kFramesBeforeKill) return;
        if (published && AviFilePublish(file) != kAviOk) _exit(1);
        if (write(ready[1], "k", 1) != 1) _exit(1);
        for (;;) pause();
      });
      _exit(0);
    }
    close(ready[1]);
    char byte = 0;
    ASSERT_EQ(read(ready[0], &byte, 1), 1);
    close(ready[0]);
    const int safeFrames = published ? kFramesBeforeKill : kFramesBeforeKill - kFramesPerRefresh;
    const auto frames = uint32_t(same.positions[safeFrames - 1] + 1);
    for (Bytes file = ReadFile(path); file.size() < dmlh + 4 || U32(file, dmlh) < frames;
         file = ReadFile(path)) {
      std::this_thread::yield();
    }
    kill(child, SIGKILL);
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFSIGNALED(status));
    ExpectPlaysPrefix(path, same,
                      published ? kFramesBeforeKill : kFramesBeforeKill - 2 * kFramesPerRefresh);
    std::remove(path.c_str());
  }
}

TEST(AviPlayback, FullDiskKeepsTheLastHeadersAndFailsEveryLaterWrite) {
  const std::string path = TempPath("full.avi");
  // The disk fills up in the first part, in the second, and in the third.
  for (uint64_t capacityBytes : {150 * 1024, 250 * 1024, 340 * 1024}) {
    SCOPED_TRACE(capacityBytes);
    auto io = std::make_shared<MemoryIo>();
    io->capacityBytes = capacityBytes;
    std::vector<uint64_t> frameEnds;
    const Recording recording = Record("", SmallParts(io), 250, kDropEvery,
                                       [&](AviFile*) { frameEnds.push_back(io->BytesWritten()); });
    EXPECT_EQ(recording.result, kAviErrorWrite);
    EXPECT_EQ(recording.writesOkAfterFailure, 0);
    WriteFile(path, io->file);
    ExpectPlaysPrefix(path, recording, FramesSafeAt(*io, frameEnds, io->BytesWritten()));
  }
  std::remove(path.c_str());
}

// A disk whose syncs wait until the test lets them go.
class HeldSyncIo : public MemoryIo {
 public:
  bool Sync() override {
    std::unique_lock<std::mutex> hold(lock_);
    ++syncsBegun_;
    changed_.notify_all();
    changed_.wait(hold, [&] { return released_; });
    return true;
  }
  void WaitForSync() {
    std::unique_lock<std::mutex> hold(lock_);
    changed_.wait(hold, [&] { return syncsBegun_ > 0; });
  }
  int SyncsBegun() {
    std::lock_guard<std::mutex> hold(lock_);
    return syncsBegun_;
  }
  void LetSyncsGo() {
    std::lock_guard<std::mutex> hold(lock_);
    released_ = true;
    changed_.notify_all();
  }

 private:
  std::mutex lock_;
  std::condition_variable changed_;
  int syncsBegun_ = 0;
  bool released_ = false;
};

TEST(AviThreads, WritersGoOnWhileTheDiskSyncs) {
  constexpr int kChunks = 40;
  constexpr int64_t kPastRefreshMs = 10 * kAviDefaultHeaderRefreshMs;
  auto io = std::make_shared<HeldSyncIo>();
  auto nowMs = std::make_shared<std::atomic<int64_t>>(0);
  AviFileOptions options;
  options.io = io;
  options.clockMs = [nowMs] { return nowMs->load(); };
  AviFile* file = nullptr;
  ASSERT_EQ(AviFileOpen(&file, "", &options), kAviOk);
  AviStream* streams[] = {NewStream(file, true), NewStream(file, false)};
  io->WaitForSync();  // listing the streams asked for a publication
  const size_t headersBefore = io->WriteStarts(true).size();
  std::vector<std::thread> writers;
  for (const bool video : {true, false}) {
    writers.emplace_back([stream = streams[video ? 0 : 1], video, nowMs] {
      constexpr int32_t kBytes = 100;
      const Bytes data(kBytes, 7);
      for (int i = 0; i < kChunks; ++i) {
        nowMs->fetch_add(kPastRefreshMs);  // every write is due a refresh
        EXPECT_EQ(AviStreamWrite(stream, video ? i : i * kBytes, video ? 1 : kBytes, data.data(),
                                 kBytes, kAviIfKeyframe, nullptr, nullptr),
                  kAviOk);
      }
    });
  }
  for (std::thread& writer : writers) writer.join();
  // Both threads wrote everything while the disk was still busy with one
  // sync, and no header was put down before that sync ended.
  EXPECT_EQ(io->SyncsBegun(), 1);
  EXPECT_EQ(io->WriteStarts(true).size(), headersBefore);
  io->LetSyncsGo();
  AviFileRelease(file);
  for (AviStream* stream : streams) AviStreamRelease(stream);
  const auto index = ReadOdmlIndex(io->file, ParseRiff(io->file));
  ASSERT_EQ(index.size(), 2u);
  EXPECT_EQ(index[0].size(), size_t{kChunks});
  EXPECT_EQ(index[1].size(), size_t{kChunks});
}

}  // namespace
}  // namespace avitest
