// The headers the writer makes from the stream headers and formats it is
// given, and the calls it refuses.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <functional>
#include <memory>

#include "avi/utf16_path.h"
#include "avi_test_support.h"

namespace avitest {
namespace {

constexpr uint32_t Id(const char (&fourcc)[5]) {
  return MakeFourCC(fourcc[0], fourcc[1], fourcc[2], fourcc[3]);
}

// A file in memory with a video stream (frames at 0, 1 and 4) and an MP3 one.
struct TwoStreams {
  explicit TwoStreams(AviStreamInfo video = VideoInfo(kVideoFps)) {
    AviFileOptions options;
    options.io = io;
    EXPECT_EQ(AviFileOpen(&file, "", &options), kAviOk);
    std::strcpy(video.szName, "screen");
    const AviStreamInfo audio = Mp3Info();
    EXPECT_EQ(AviFileCreateStream(file, &videoStream, &video), kAviOk);
    EXPECT_EQ(AviFileCreateStream(file, &audioStream, &audio), kAviOk);
    EXPECT_EQ(AviStreamSetFormat(videoStream, 0, kH264Format.data(), 40), kAviOk);
    EXPECT_EQ(AviStreamSetFormat(audioStream, 0, kMp3Format.data(), 30), kAviOk);
    for (int32_t position : {0, 1, 4})
      EXPECT_EQ(Write(videoStream, position, 1, 1001 - position), kAviOk);
    EXPECT_EQ(Write(audioStream, 0, 209, 209), kAviOk);
  }
  ~TwoStreams() {
    Release();
    AviStreamRelease(videoStream);
    AviStreamRelease(audioStream);
  }
  int Write(AviStream* stream, int32_t start, int32_t samples, size_t bytes) {
    const Bytes data(bytes, 1);
    return AviStreamWrite(stream, start, samples, data.data(), int32_t(bytes), 0, nullptr, nullptr);
  }
  void Release() {
    AviFileRelease(file);
    file = nullptr;
  }
  std::shared_ptr<MemoryIo> io = std::make_shared<MemoryIo>();
  AviFile* file = nullptr;
  AviStream* videoStream = nullptr;
  AviStream* audioStream = nullptr;
};

TEST(AviLayout, HeadersComeFromTheStreamHeadersAndFormats) {
  const struct {
    uint32_t rate, scale, microsecondsPerFrame;
  } cases[] = {{15, 1, 66667}, {25, 1, 40000}, {30000, 1001, 33367}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.rate);
    TwoStreams avi(VideoInfo(c.rate, c.scale));
    avi.Release();
    const Bytes& f = avi.io->file;
    const Chunk riff = ParseRiff(f);
    ASSERT_EQ(riff.kids.size(), 1u);
    const uint64_t avih = Hdrl(riff).Get(Id("avih")).data;
    // µs per frame, flags, frames (2 of 5 dropped), streams, buffer, width, height.
    const uint32_t want[] = {c.microsecondsPerFrame, 0, 0, 0x110, 5, 0, 2, 1001, 320, 240};
    for (size_t i = 0; i < std::size(want); ++i) EXPECT_EQ(U32(f, avih + 4 * i), want[i]) << i;
    const auto strls = Hdrl(riff).All(kList, Id("strl"));
    ASSERT_EQ(strls.size(), 2u);
    // Readers take one child of hdrl after avih per stream: each stream's
    // reserved room is padding inside its own strl.
    EXPECT_EQ(&Hdrl(riff).kids.at(1), strls[0]);
    EXPECT_EQ(&Hdrl(riff).kids.at(2), strls[1]);
    const uint64_t video = strls[0]->Get(Id("strh")).data, audio = strls[1]->Get(Id("strh")).data;
    EXPECT_EQ(U32(f, video), kAviStreamTypeVideo);
    EXPECT_EQ(U32(f, video + 4), Id("H264"));
    EXPECT_EQ(U64(f, video + 20), uint64_t{c.rate} << 32 | c.scale);
    EXPECT_EQ(U32(f, video + 32), 5u);  // length, dropped frames counted
    EXPECT_EQ(U64(f, video + 48), uint64_t{240} << 48 | uint64_t{320} << 32);  // rcFrame
    EXPECT_EQ(U32(f, audio), kAviStreamTypeAudio);
    EXPECT_EQ(U32(f, audio + 32), 209u);  // length in bytes
    EXPECT_EQ(U32(f, audio + 44), 1u);    // sample size
    for (size_t i = 0; i < 2; ++i) {
      const Chunk& strf = strls[i]->Get(Id("strf"));
      EXPECT_EQ(Bytes(f.begin() + strf.data, f.begin() + strf.data + strf.size),
                i == 0 ? kH264Format : kMp3Format);
    }
    EXPECT_STREQ(reinterpret_cast<const char*>(&f[strls[0]->Get(Id("strn")).data]), "screen");
    EXPECT_EQ(U32(f, Hdrl(riff).Get(kList, Id("odml")).Get(Id("dmlh")).data), 5u);
    // Audio was written with no flags; a sample stream's chunks are all key frames.
    for (const IndexEntry& entry : ReadIdx1(f, riff)) {
      EXPECT_EQ(entry.key, entry.id == Id("01wb"));
    }
    for (const auto& stream : ReadOdmlIndex(f, riff)) {
      for (const IndexEntry& entry : stream) EXPECT_EQ(entry.key, entry.id == Id("01wb"));
    }
    AviStreamInfo info{};
    ASSERT_EQ(avi.videoStream->Info(&info), kAviOk);  // the stream outlives the file
    EXPECT_EQ(info.dwLength, 5u);
    EXPECT_EQ(info.dwSuggestedBufferSize, 1001u);
    EXPECT_STREQ(info.szName, "screen");
  }
}

TEST(AviLayout, CallsOutOfOrderAreRefusedAndChangeNothing) {
  static const AviStreamInfo kVideo = VideoInfo(kVideoFps);
  const struct {
    const char* what;
    std::function<int(TwoStreams&)> call;
    int expected;
  } cases[] = {
      {"frame before the next", [](TwoStreams& a) { return a.Write(a.videoStream, 4, 1, 10); },
       kAviErrorPosition},
      {"gap in audio", [](TwoStreams& a) { return a.Write(a.audioStream, 210, 10, 10); },
       kAviErrorPosition},
      {"bytes not samples", [](TwoStreams& a) { return a.Write(a.audioStream, 209, 9, 10); },
       kAviErrorArgument},
      {"two frames in a chunk", [](TwoStreams& a) { return a.Write(a.videoStream, 5, 2, 10); },
       kAviErrorArgument},
      {"format after data",
       [](TwoStreams& a) { return AviStreamSetFormat(a.videoStream, 0, kH264Format.data(), 40); },
       kAviErrorFormat},
      {"no format, then one past the room",
       [](TwoStreams& a) {
         AviStream* s = nullptr;
         const Bytes big(kAviMaxFormatBytes + 2);
         EXPECT_EQ(AviFileCreateStream(a.file, &s, &kVideo), kAviOk);
         int result = a.Write(s, 0, 1, 10);
         if (result == kAviErrorFormat) result = AviStreamSetFormat(s, 0, big.data(), 2050);
         AviStreamRelease(s);
         return result;
       },
       kAviErrorLimit},
      {"fifth stream",
       [](TwoStreams& a) {
         AviStream* s[3] = {};
         int result = kAviOk;
         for (AviStream*& stream : s) result = AviFileCreateStream(a.file, &stream, &kVideo);
         for (AviStream* stream : s) AviStreamRelease(stream);
         return result;
       },
       kAviErrorLimit},
      {"not audio or video",
       [](TwoStreams& a) {
         AviStream* s = nullptr;
         AviStreamInfo text{};
         text.fccType = Id("txts");
         return AviFileCreateStream(a.file, &s, &text);
       },
       kAviErrorArgument},
      {"after the file's release",
       [](TwoStreams& a) {
         a.Release();
         return a.Write(a.videoStream, 5, 1, 10);
       },
       kAviErrorClosed},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    TwoStreams avi;
    EXPECT_EQ(c.call(avi), c.expected);
    avi.Release();
    const auto index = ReadOdmlIndex(avi.io->file, ParseRiff(avi.io->file));
    ASSERT_EQ(index.size(), 2u);
    EXPECT_EQ(index[0].size(), 5u);
    EXPECT_EQ(index[1].size(), 1u);
  }
  AviFile* file = nullptr;
  AviFileOptions tooLarge;
  tooLarge.riffPartLimitBytes = kAviMaxRiffPartLimitBytes + 1;
  EXPECT_EQ(AviFileOpen(&file, TempPath("x.avi").c_str(), &tooLarge), kAviErrorArgument);
  EXPECT_EQ(AviFileOpen(&file, "/nonexistent-dir/x.avi"), kAviErrorOpen);
}

// A disk that keeps only the first part's header room and throws the rest away.
class HeaderRoomIo : public AviFileIo {
 public:
  static constexpr uint64_t kKeptBytes = 256 * 1024;
  bool Open(const char*) override { return true; }
  bool Write(uint64_t offset, const void* data, size_t bytes) override {
    if (offset < kKeptBytes) {
      const size_t kept = size_t(std::min<uint64_t>(bytes, kKeptBytes - offset));
      std::copy_n(static_cast<const uint8_t*>(data), kept, file.begin() + offset);
    }
    return true;
  }
  bool Sync() override { return true; }
  bool Close() override { return true; }
  Bytes file = Bytes(kKeptBytes);
};

TEST(AviLayout, SeventyTwoHoursOfSoundAndPictureKeepExactIndexes) {
  constexpr int64_t kSeconds = 72 * 3600;
  constexpr int32_t kSoundBytesPerSecond = 16000;  // 128 kbit/s: past 2^31 bytes at 37 h
  constexpr size_t kFrameBytes = 100;
  auto io = std::make_shared<HeaderRoomIo>();
  int64_t nowMs = 0;
  AviFileOptions options;
  options.io = io;
  options.clockMs = [&nowMs] { return nowMs; };
  AviFile* file = nullptr;
  ASSERT_EQ(AviFileOpen(&file, "", &options), kAviOk);
  AviStream *video = nullptr, *audio = nullptr;
  const AviStreamInfo videoInfo = VideoInfo(1), audioInfo = Mp3Info();
  ASSERT_EQ(AviFileCreateStream(file, &video, &videoInfo), kAviOk);
  ASSERT_EQ(AviFileCreateStream(file, &audio, &audioInfo), kAviOk);
  ASSERT_EQ(AviStreamSetFormat(video, 0, kH264Format.data(), 40), kAviOk);
  ASSERT_EQ(AviStreamSetFormat(audio, 0, kMp3Format.data(), 30), kAviOk);
  const Bytes sound(kSoundBytesPerSecond), frame(kFrameBytes);
  for (int64_t second = 0; second < kSeconds; ++second) {
    nowMs = second * 1000;
    ASSERT_EQ(AviStreamWrite(video, second, 1, frame.data(), int32_t(kFrameBytes), kAviIfKeyframe,
                             nullptr, nullptr),
              kAviOk);
    ASSERT_EQ(AviStreamWrite(audio, second * kSoundBytesPerSecond, kSoundBytesPerSecond,
                             sound.data(), kSoundBytesPerSecond, 0, nullptr, nullptr),
              kAviOk)
        << second;
  }
  AviFileRelease(file);
  AviStreamRelease(video);
  AviStreamRelease(audio);
  const Bytes& f = io->file;
  // The first part filled up to about 1 GB, whatever the count of refreshes.
  EXPECT_GT(U32(f, 4) + 8u, kAviDefaultRiffPartLimitBytes - 64 * 1024);
  EXPECT_LE(U32(f, 4) + 8u, kAviDefaultRiffPartLimitBytes);
  constexpr uint64_t kSoundBytes = uint64_t{kSeconds} * kSoundBytesPerSecond;  // 4,147,200,000
  uint64_t hdrl = 12, strl = hdrl + 12 + 8 + 56;
  for (const uint64_t length : {uint64_t{kSeconds}, kSoundBytes}) {
    SCOPED_TRACE(length);
    ASSERT_EQ(U32(f, strl), kList);
    const uint64_t strh = strl + 12 + 8;
    EXPECT_EQ(U32(f, strh + 32), length);
    // The super index's durations add up to the stream's length.
    uint64_t indx = strh + 56;
    indx += 8 + U32(f, indx + 4);  // over strf
    ASSERT_EQ(U32(f, indx), Id("indx"));
    uint64_t indexed = 0;
    for (uint32_t i = 0; i < U32(f, indx + 12); ++i) indexed += U32(f, indx + 8 + 24 + 16 * i + 12);
    EXPECT_EQ(indexed, length);
    strl += 8 + U32(f, strl + 4);
  }
}

TEST(AviLayout, Utf8PathsBecomeUtf16) {
  const struct {
    const char* utf8;
    std::u16string utf16;  // empty: malformed
  } cases[] = {
      {"C:\\a.avi", u"C:\\a.avi"},
      {"Jos\xC3\xA9", u"Jos\u00E9"},
      {"\xE2\x82\xAC", u"\u20AC"},
      {"\xF0\x9F\x8E\xA5", u"\U0001F3A5"},
      {"\xC0\xAF", u""},          // overlong
      {"\xED\xA0\x80", u""},      // a surrogate
      {"\xF4\x90\x80\x80", u""},  // past U+10FFFF
      {"\xE2\x82", u""},          // cut short
      {"\x80", u""},              // a continuation first
  };
  for (const auto& c : cases) {
    std::u16string out;
    EXPECT_EQ(Utf8ToUtf16(c.utf8, &out), !c.utf16.empty()) << c.utf8;
    if (!c.utf16.empty()) {
      EXPECT_EQ(out, c.utf16) << c.utf8;
    }
  }
}

}  // namespace
}  // namespace avitest
