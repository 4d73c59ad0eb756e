#include <gtest/gtest.h>

#include <algorithm>
#include <set>
#include <string>
#include <vector>

#include "session/output_file_name.h"

namespace {

TEST(FormatOutputFileName, LocalTimeToTheSecondWithPadding) {
  struct Case {
    LocalTime time;
    const char* name;
  } cases[] = {
      {{2016, 1, 3, 7, 4, 9}, "2016-01-03 07-04-09"},
      {{2015, 12, 31, 23, 59, 59}, "2015-12-31 23-59-59"},
      {{2015, 6, 10, 9, 5, 3}, "2015-06-10 09-05-03"},
      {{999, 1, 1, 0, 0, 0}, " 999-01-01 00-00-00"},  // year padded with spaces to 4
      {{12345, 1, 1, 0, 0, 0}, "12345-01-01 00-00-00"},
  };
  for (const Case& c : cases) EXPECT_EQ(FormatOutputFileName(c.time), c.name);
  EXPECT_EQ(NumberedFileName("2016-01-03 07-04-09", 1), "2016-01-03 07-04-09.avi");
  EXPECT_EQ(NumberedFileName("2016-01-03 07-04-09", 2), "2016-01-03 07-04-09_2.avi");
}

TEST(FormatOutputFileName, NamesSortByTimeAsTextWithTheirSuffixes) {
  std::vector<std::string> inTimeOrder;
  const LocalTime times[] = {{2015, 12, 31, 23, 59, 59}, {2016, 1, 3, 7, 4, 9},
                             {2016, 1, 3, 7, 4, 10},     {2016, 1, 3, 10, 0, 0},
                             {2016, 2, 1, 0, 0, 0},      {2016, 10, 1, 0, 0, 0}};
  for (const LocalTime& t : times) {
    for (int attempt = 1; attempt <= 9; ++attempt) {
      inTimeOrder.push_back(NumberedFileName(FormatOutputFileName(t), attempt));
    }
  }
  std::vector<std::string> sorted = inTimeOrder;
  std::sort(sorted.begin(), sorted.end());
  EXPECT_EQ(sorted, inTimeOrder);
}

TEST(ReserveFileName, SkipsTakenNamesAndStopsOnOtherFailures) {
  std::set<std::string> taken = {"t.avi", "t_2.avi"};
  std::vector<std::string> tried;
  auto tryCreate = [&](const std::string& name) {
    tried.push_back(name);
    return taken.insert(name).second ? FileCreation::kCreated : FileCreation::kExists;
  };
  EXPECT_EQ(ReserveFileName("t", tryCreate), "t_3.avi");
  EXPECT_EQ(tried, (std::vector<std::string>{"t.avi", "t_2.avi", "t_3.avi"}));
  EXPECT_EQ(ReserveFileName("t", tryCreate), "t_4.avi");  // the reservation holds

  EXPECT_EQ(ReserveFileName("t", [](const std::string&) { return FileCreation::kFailed; }), "");
  int attempts = 0;
  EXPECT_EQ(ReserveFileName("t",
                            [&](const std::string&) {
                              ++attempts;
                              return FileCreation::kExists;
                            }),
            "");
  EXPECT_EQ(attempts, kMaxNameAttempts);
}

}  // namespace
