// x264vfw - H.264 Video-for-Windows compressor built on libx264.
// Copyright (C) Parvelo developers. GPL-2.0-or-later; see LICENSE.

#include "codec/quality_map.h"

#include <gtest/gtest.h>

namespace parvelo::codec {
namespace {

TEST(CodecQuality, AnchorsAndInterpolation) {
  struct Case {
    uint32_t quality;
    float crf;
  } cases[] = {
      {0, 51.0f},     {2500, 40.5f},  {5000, 30.0f},
      {6250, 25.0f},  {7500, 20.0f},  {8750, 15.0f},
      {10000, 10.0f}, {10001, 10.0f}, {kQualityMax * 3, 10.0f},
  };
  for (const Case& c : cases) {
    EXPECT_FLOAT_EQ(CrfForQuality(c.quality), c.crf) << c.quality;
  }
}

TEST(CodecQuality, HigherQualityNeverMeansCoarserQuantising) {
  float previous = CrfForQuality(0);
  for (uint32_t quality = 1; quality <= kQualityMax; ++quality) {
    float crf = CrfForQuality(quality);
    ASSERT_LE(crf, previous) << quality;
    previous = crf;
  }
}

TEST(CodecQuality, DefaultQualityTakesTheFallback) {
  EXPECT_EQ(ResolveQuality(kQualityDefault, 7500), 7500u);
  EXPECT_EQ(ResolveQuality(3000, 7500), 3000u);
  EXPECT_EQ(ResolveQuality(0, 7500), 0u);
}

}  // namespace
}  // namespace parvelo::codec
