#include "runtime/platform/clock_posix.h"

#include <gtest/gtest.h>

namespace runtime::platform {
namespace {

TEST(ClockPosixTest, LocalTimeFieldsPassUnchangedLeapSecondIncluded) {
  tm local{};
  local.tm_year = 2016 - 1900;
  local.tm_mon = 11;
  local.tm_mday = 31;
  local.tm_hour = 23;
  local.tm_min = 59;
  local.tm_sec = 60;
  const WallClock clock = WallClockFromLocalTime(local);
  EXPECT_EQ(clock.year, 2016);
  EXPECT_EQ(clock.month, 12);
  EXPECT_EQ(clock.day, 31);
  EXPECT_EQ(clock.hour, 23);
  EXPECT_EQ(clock.minute, 59);
  // Not a time of day: the date text shows it as the zero date.
  EXPECT_EQ(clock.second, 60);
}

}  // namespace
}  // namespace runtime::platform
