// The headers the writer makes from the stream headers and formats it is
// given, and the calls it refuses.
#include <gtest/gtest.h>

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
    const uint32_t want[] = {c.microsecondsPerFrame, 0, 0, 0x910, 5, 0, 2, 1001, 320, 240};
    for (size_t i = 0; i < std::size(want); ++i) EXPECT_EQ(U32(f, avih + 4 * i), want[i]) << i;
    const auto strls = Hdrl(riff).All(kList, Id("strl"));
    ASSERT_EQ(strls.size(), 2u);
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
