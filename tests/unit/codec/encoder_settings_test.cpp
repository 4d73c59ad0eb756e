// x264vfw - H.264 Video-for-Windows compressor built on libx264.
// Copyright (C) Parvelo developers. GPL-2.0-or-later; see LICENSE.

#include "codec/encoder_settings.h"

#include <gtest/gtest.h>

#include "codec/quality_map.h"

namespace parvelo::codec {
namespace {

TEST(CodecSettings, OptionListsSplitIntoNamesAndValues) {
  struct Case {
    const char* text;
    bool ok;
    std::vector<std::string> names;
    std::vector<std::string> values;  // "-" for a bare name
  } cases[] = {
      {"", true, {}, {}},
      {"ref=2", true, {"ref"}, {"2"}},
      {"ref=2:deblock=1,1:cabac", true, {"ref", "deblock", "cabac"}, {"2", "1,1", "-"}},
      {"ref=2::me=hex:", true, {"ref", "me"}, {"2", "hex"}},
      {"aq-mode=", true, {"aq-mode"}, {""}},
      {"=3", false, {}, {}},
      {"ref=2:=x", false, {}, {}},
  };
  for (const Case& c : cases) {
    std::vector<OptionSetting> options;
    ASSERT_EQ(ParseOptionList(c.text, &options), c.ok) << c.text;
    if (!c.ok) continue;
    ASSERT_EQ(options.size(), c.names.size()) << c.text;
    for (size_t i = 0; i < options.size(); ++i) {
      EXPECT_EQ(options[i].name, c.names[i]);
      EXPECT_EQ(options[i].has_value ? options[i].value : "-", c.values[i]);
    }
  }
}

InputLayout Layout(int width, int height) {
  InputLayout layout;
  layout.width = width;
  layout.height = height;
  layout.bytes_per_pixel = 4;
  return layout;
}

TEST(CodecSettings, CallerHintsOverrideTheStoredDefaults) {
  CodecConfig config;
  config.key_frame_interval_frames = 250;
  CallerHints hints;
  hints.rate = 30000;
  hints.scale = 1001;
  hints.key_rate = 60;
  EncoderSettings settings = PlanEncoder(config, Layout(1920, 1080), hints, 7500);
  EXPECT_EQ(settings.fps_num, 30000u);
  EXPECT_EQ(settings.fps_den, 1001u);
  EXPECT_EQ(settings.key_frame_interval_frames, 60u);
  EXPECT_FLOAT_EQ(settings.crf, CrfForQuality(7500));
}

TEST(CodecSettings, WithoutHintsTheStoredDefaultsApply) {
  CodecConfig config;
  config.key_frame_interval_frames = 123;
  CallerHints missing_scale;
  missing_scale.rate = 15;
  for (const CallerHints& hints : {CallerHints(), missing_scale}) {
    EncoderSettings settings = PlanEncoder(config, Layout(640, 480), hints, 5000);
    EXPECT_EQ(settings.fps_num, 25u);
    EXPECT_EQ(settings.fps_den, 1u);
    EXPECT_EQ(settings.key_frame_interval_frames, 123u);
    EXPECT_FLOAT_EQ(settings.crf, CrfForQuality(5000));
  }
}

TEST(CodecSettings, ConfigurationCarriesThrough) {
  CodecConfig config;
  config.preset = 2;
  config.threads = 3;
  config.zero_latency = false;
  config.full_range = true;
  config.extra_options = "ref=2:cabac";
  EncoderSettings hd = PlanEncoder(config, Layout(1280, 720), CallerHints(), 7500);
  EXPECT_EQ(hd.preset, "veryfast");
  EXPECT_EQ(hd.threads, 3);
  EXPECT_FALSE(hd.zero_latency);
  EXPECT_EQ(hd.width, 1280);
  EXPECT_EQ(hd.height, 720);
  EXPECT_EQ(hd.colour_space.matrix, ColourMatrix::kBt709);
  EXPECT_TRUE(hd.colour_space.full_range);
  EXPECT_EQ(hd.vui.matrix, 1);
  EXPECT_TRUE(hd.vui.full_range);
  ASSERT_EQ(hd.extra_options.size(), 2u);
  EXPECT_EQ(hd.extra_options[1].name, "cabac");

  EncoderSettings sd = PlanEncoder(config, Layout(640, 480), CallerHints(), 7500);
  EXPECT_EQ(sd.colour_space.matrix, ColourMatrix::kBt601);
  EXPECT_EQ(sd.vui.matrix, 6);
}

}  // namespace
}  // namespace parvelo::codec
