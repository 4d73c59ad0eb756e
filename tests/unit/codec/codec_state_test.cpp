// x264vfw - H.264 Video-for-Windows compressor built on libx264.
// Copyright (C) Parvelo developers. GPL-2.0-or-later; see LICENSE.

#include "codec/codec_state.h"

#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <functional>
#include <iterator>
#include <string>

namespace parvelo::codec {
namespace {

uint32_t U32At(const StateBlock& block, size_t offset) {
  uint32_t value;
  std::memcpy(&value, block.data() + offset, sizeof(value));
  return value;
}

TEST(CodecState, DefaultBlockLayout) {
  StateBlock block = SerializeState(CodecConfig());
  EXPECT_GT(block.size(), 605u);
  EXPECT_EQ(std::memcmp(block.data(), "X264", 4), 0);
  EXPECT_EQ(U32At(block, 4), 1u);
  EXPECT_EQ(U32At(block, 8), 1024u);
  EXPECT_EQ(U32At(block, 12), 0u);     // ultrafast
  EXPECT_EQ(U32At(block, 16), 7500u);  // default quality
  EXPECT_EQ(U32At(block, 20), 250u);   // key-frame interval
  EXPECT_EQ(U32At(block, 24), 0u);     // threads: automatic
  EXPECT_EQ(block[28], 1);             // zero latency on
  EXPECT_EQ(block[29], 0);             // colour matrix by frame size
  EXPECT_EQ(block[30], 0);             // limited range
  EXPECT_EQ(block[64], 0);             // no extra options
  EXPECT_EQ(block[604], 0);            // no statistics log
  EXPECT_EQ(block[608], 0);            // default log path
}

CodecConfig Unusual() {
  CodecConfig config;
  config.preset = 3;
  config.default_quality = 9000;
  config.key_frame_interval_frames = 30;
  config.threads = 2;
  config.zero_latency = false;
  config.colour_matrix = ColourMatrixChoice::kBt709;
  config.full_range = true;
  config.extra_options = "ref=2:deblock=1,1";
  config.write_log = true;
  config.log_path = "C:\\logs\\x264vfw.log";
  return config;
}

TEST(CodecState, EveryFieldRoundTrips) {
  CodecConfig original = Unusual();
  StateBlock block = SerializeState(original);
  CodecConfig parsed;
  ASSERT_EQ(ParseState(block.data(), block.size(), &parsed), StateVerdict::kAccepted);
  EXPECT_TRUE(parsed == original);
  EXPECT_EQ(block[state_offset::kZeroLatency], 0);
  EXPECT_EQ(block[state_offset::kWriteLog], 1);
  EXPECT_EQ(std::memcmp(block.data() + 64, "ref=2:deblock=1,1", 18), 0);
  EXPECT_EQ(std::memcmp(block.data() + 608, "C:\\logs\\x264vfw.log", 20), 0);
}

// The recorder treats the codec as an outside DLL and keeps its own copy
// of the two bytes it sets (src/video/win32/codec_installation.cpp); read them
// from there, as the recorder has them.
size_t RecorderConstant(const std::string& name) {
  std::ifstream source(PARVELO_SOURCE_DIR "/src/video/win32/codec_installation.cpp");
  std::string text((std::istreambuf_iterator<char>(source)), std::istreambuf_iterator<char>());
  size_t at = text.find(" " + name + " = ");
  EXPECT_NE(at, std::string::npos) << name;
  return at == std::string::npos ? 0 : std::stoul(text.substr(at + name.size() + 4));
}

TEST(CodecState, TheRecordersTwoBytesSwitchZeroLatencyOnAndTheLogOff) {
  EXPECT_EQ(RecorderConstant("kStateZeroLatencyOffset"), state_offset::kZeroLatency);
  EXPECT_EQ(RecorderConstant("kStateStatsFileOffset"), state_offset::kWriteLog);
  StateBlock block = SerializeState(Unusual());
  block[RecorderConstant("kStateZeroLatencyOffset")] =
      static_cast<uint8_t>(RecorderConstant("kStateZeroLatencyOn"));
  block[RecorderConstant("kStateStatsFileOffset")] =
      static_cast<uint8_t>(RecorderConstant("kStateStatsFileOff"));
  CodecConfig parsed;
  ASSERT_EQ(ParseState(block.data(), block.size(), &parsed), StateVerdict::kAccepted);
  EXPECT_TRUE(parsed.zero_latency);
  EXPECT_FALSE(parsed.write_log);
  CodecConfig expected = Unusual();
  expected.zero_latency = true;
  expected.write_log = false;
  EXPECT_TRUE(parsed == expected);
}

TEST(CodecState, ReservedBytesAreIgnoredAndWrittenAsZero) {
  StateBlock block = SerializeState(Unusual());
  for (size_t offset : {31u, 40u, 580u, 605u, 900u, 1023u}) block[offset] = 0x77;
  CodecConfig parsed;
  ASSERT_EQ(ParseState(block.data(), block.size(), &parsed), StateVerdict::kAccepted);
  StateBlock again = SerializeState(parsed);
  EXPECT_EQ(again, SerializeState(Unusual()));
}

TEST(CodecState, RejectsBrokenBlocks) {
  struct Case {
    const char* name;
    std::function<void(StateBlock&)> damage;
    StateVerdict expected;
  };
  auto set_u32 = [](StateBlock& b, size_t offset, uint32_t value) {
    std::memcpy(b.data() + offset, &value, sizeof(value));
  };
  const Case cases[] = {
      {"magic", [](StateBlock& b) { b[0] = 'Y'; }, StateVerdict::kBadMagic},
      {"version 0", [&](StateBlock& b) { set_u32(b, 4, 0); }, StateVerdict::kWrongVersion},
      {"version 2", [&](StateBlock& b) { set_u32(b, 4, 2); }, StateVerdict::kWrongVersion},
      {"size field", [&](StateBlock& b) { set_u32(b, 8, 868); }, StateVerdict::kSizeFieldMismatch},
      {"preset 10", [&](StateBlock& b) { set_u32(b, 12, 10); }, StateVerdict::kFieldOutOfRange},
      {"quality", [&](StateBlock& b) { set_u32(b, 16, 10001); }, StateVerdict::kFieldOutOfRange},
      {"interval 0", [&](StateBlock& b) { set_u32(b, 20, 0); }, StateVerdict::kFieldOutOfRange},
      {"threads", [&](StateBlock& b) { set_u32(b, 24, 129); }, StateVerdict::kFieldOutOfRange},
      {"zero latency 2", [](StateBlock& b) { b[28] = 2; }, StateVerdict::kFieldOutOfRange},
      {"matrix 3", [](StateBlock& b) { b[29] = 3; }, StateVerdict::kFieldOutOfRange},
      {"range 2", [](StateBlock& b) { b[30] = 2; }, StateVerdict::kFieldOutOfRange},
      {"log 2", [](StateBlock& b) { b[604] = 2; }, StateVerdict::kFieldOutOfRange},
      {"options unterminated", [](StateBlock& b) { std::memset(b.data() + 64, 'a', 512); },
       StateVerdict::kUnterminatedText},
      {"path unterminated", [](StateBlock& b) { std::memset(b.data() + 608, 'a', 260); },
       StateVerdict::kUnterminatedText},
  };
  for (const Case& c : cases) {
    StateBlock block = SerializeState(CodecConfig());
    c.damage(block);
    CodecConfig config = Unusual();
    EXPECT_EQ(ParseState(block.data(), block.size(), &config), c.expected) << c.name;
    EXPECT_TRUE(config == Unusual()) << c.name << " changed the configuration";
  }
}

TEST(CodecState, RejectsWrongSizes) {
  StateBlock block = SerializeState(CodecConfig());
  CodecConfig config;
  for (size_t size : {0u, 605u, 1023u, 1025u}) {
    EXPECT_EQ(ParseState(block.data(), size, &config), StateVerdict::kWrongSize) << size;
  }
}

TEST(CodecState, LongestTextsFitWithTheirTerminator) {
  CodecConfig config;
  config.extra_options.assign(kExtraOptionsBytes - 1, 'o');
  config.log_path.assign(kLogPathBytes - 1, 'p');
  StateBlock block = SerializeState(config);
  CodecConfig parsed;
  ASSERT_EQ(ParseState(block.data(), block.size(), &parsed), StateVerdict::kAccepted);
  EXPECT_EQ(parsed.extra_options, config.extra_options);
  EXPECT_EQ(parsed.log_path, config.log_path);
}

}  // namespace
}  // namespace parvelo::codec
