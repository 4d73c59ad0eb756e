// x264vfw - H.264 Video-for-Windows compressor built on libx264.
// Copyright (C) Parvelo developers. GPL-2.0-or-later; see LICENSE.

#include "codec/key_frame_planner.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace parvelo::codec {
namespace {

struct Call {
  int64_t frame_number;
  bool asks_key;
};

struct Case {
  const char* name;
  uint32_t interval;
  std::vector<Call> calls;
  std::string keys;                // 'K' key frame, '.' not, one per call
  std::vector<int64_t> positions;  // empty: same as the frame numbers
};

std::vector<Call> Numbered(int64_t first, int64_t count) {
  std::vector<Call> calls;
  for (int64_t i = 0; i < count; ++i) calls.push_back({first + i, false});
  return calls;
}

std::vector<Call> Asking(std::vector<Call> calls, std::initializer_list<size_t> indices) {
  for (size_t i : indices) calls[i].asks_key = true;
  return calls;
}

TEST(CodecKeyFrames, DecisionsFollowRequestsIntervalAndFrameNumbers) {
  const Case cases[] = {
      {"first frame and every fifth", 5, Numbered(0, 12), "K....K....K.", {}},
      {"first frame even when numbering starts late", 5, Numbered(7, 6), "K....K", {}},
      {"interval 1: every frame", 1, Numbered(0, 4), "KKKK", {}},
      {"a request restarts the count", 5, Asking(Numbered(0, 10), {3}), "K..K....K.", {}},
      {"requests on consecutive frames", 100, Asking(Numbered(0, 4), {1, 2}), "KKK.", {}},
      {"gaps count as frames passed",
       4,
       {{0, false}, {1, false}, {3, false}, {4, false}, {9, false}, {10, false}},
       "K..KK.",
       {}},
      {"unnumbered calls count one each",
       3,
       {{0, false}, {0, false}, {0, false}, {0, false}, {0, false}},
       "K..K.",
       {0, 1, 2, 3, 4}},
      {"numbers going back count one each",
       3,
       {{10, false}, {11, false}, {5, false}, {6, false}, {20, false}},
       "K..KK",
       {10, 11, 12, 13, 20}},
  };
  for (const Case& c : cases) {
    KeyFramePlanner planner(c.interval);
    std::string keys;
    std::vector<int64_t> positions;
    for (const Call& call : c.calls) {
      FramePlan plan = planner.Next(call.frame_number, call.asks_key);
      keys += plan.key ? 'K' : '.';
      positions.push_back(plan.position);
    }
    EXPECT_EQ(keys, c.keys) << c.name;
    std::vector<int64_t> expected_positions = c.positions;
    if (expected_positions.empty()) {
      for (const Call& call : c.calls) expected_positions.push_back(call.frame_number);
    }
    EXPECT_EQ(positions, expected_positions) << c.name;
  }
}

}  // namespace
}  // namespace parvelo::codec
