#include "framework/unique_resource.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

// Handles are ints; 0 and -1 are both empty (like NULL and
// INVALID_HANDLE_VALUE). Each release is logged with the owner the
// wrapper kept for it.
std::vector<std::pair<int, int>> released;

struct FakeTraits {
  using Handle = int;
  int owner = 0;
  static Handle Empty() { return 0; }
  static bool IsEmpty(Handle h) { return h == 0 || h == -1; }
  void Release(Handle h) { released.emplace_back(h, owner); }
};
using Fake = UniqueResource<FakeTraits>;

class UniqueResourceTest : public ::testing::Test {
 protected:
  void SetUp() override { released.clear(); }
};

TEST_F(UniqueResourceTest, ReleasesExactlyOnceWithTheOwnerItKept) {
  { Fake a(7, FakeTraits{42}); }
  { Fake empty; }
  { Fake invalid(-1); }
  EXPECT_EQ(released, (std::vector<std::pair<int, int>>{{7, 42}}));
}

TEST_F(UniqueResourceTest, MovesTransferOwnershipAndAssignmentReleasesTheOld) {
  Fake a(1, FakeTraits{10});
  Fake b(std::move(a));
  EXPECT_FALSE(a);
  EXPECT_EQ(b.Get(), 1);
  Fake c(2, FakeTraits{20});
  c = std::move(b);  // releases 2 to its own owner, takes 1 with owner 10
  EXPECT_EQ(released, (std::vector<std::pair<int, int>>{{2, 20}}));
  EXPECT_EQ(c.traits().owner, 10);
  Fake& self = c;
  c = std::move(self);  // self-move keeps the handle
  EXPECT_EQ(c.Get(), 1);
  c.Reset();
  EXPECT_EQ(released.back(), std::make_pair(1, 10));
  c.Reset();  // a second release is harmless
  EXPECT_EQ(released.size(), 2u);
}

TEST_F(UniqueResourceTest, DetachAndReceive) {
  Fake a(3);
  EXPECT_EQ(a.Detach(), 3);  // ownership passes elsewhere: no release
  EXPECT_FALSE(a);
  Fake b(4);
  *b.Receive() = 5;  // an out-parameter replaces the old handle after releasing it
  EXPECT_EQ(b.Get(), 5);
  EXPECT_EQ(released, (std::vector<std::pair<int, int>>{{4, 0}}));
}

}  // namespace
