#include "platform/date_time.h"

#include <gtest/gtest.h>

namespace vantrel {
namespace {

TEST(DateTimeTest, EncodesDaysSinceTheEpoch) {
  EXPECT_EQ(EncodeDateTime(1899, 12, 30, 0, 0, 0, 0), 0.0);
  EXPECT_EQ(EncodeDateTime(1900, 1, 1, 0, 0, 0, 0), 2.0);
  EXPECT_EQ(EncodeDateTime(2026, 12, 9, 12, 0, 0, 0), 46365.5);
  EXPECT_EQ(DateTimeToMilliseconds(EncodeDateTime(2026, 12, 9, 23, 59, 59, 999)), 46365LL * kMSecsPerDay + 86399999);
}

TEST(DateTimeTest, WholeHoursBetweenDropTheRemainder) {
  struct Row {
    const char* name;
    DateTime a, b;
    std::int64_t hours;
  } rows[] = {
      {"exactly 12 h", EncodeDateTime(2026, 1, 2, 0, 0, 0, 0), EncodeDateTime(2026, 1, 1, 12, 0, 0, 0), 12},
      {"one ms short", EncodeDateTime(2026, 1, 1, 23, 59, 59, 999), EncodeDateTime(2026, 1, 1, 12, 0, 0, 0), 11},
      {"order does not matter", EncodeDateTime(2026, 1, 1, 0, 0, 0, 0), EncodeDateTime(2026, 1, 1, 12, 10, 0, 0), 12},
      {"from the epoch", EncodeDateTime(2026, 1, 1, 0, 0, 0, 0), 0.0, 46023LL * 24},
  };
  for (const Row& row : rows) EXPECT_EQ(HoursBetween(row.a, row.b), row.hours) << row.name;
}

}  // namespace
}  // namespace vantrel
