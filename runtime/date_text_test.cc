#include "runtime/date_text.h"

#include <gtest/gtest.h>

#include <string>

#include "runtime/platform/clock.h"

namespace runtime {
namespace {

constexpr char kLogMask[] = "%yyyy/%mm/%dd - %hh:%ii:%ss - ";

std::string Expand(const char* mask, DateValue value) {
  return std::string(ExpandDateMask(Text(mask), value).view());
}

TEST(DateTextTest, FirstDayOfTheEpochCountsOnlyTheTimeOfDay) {
  EXPECT_EQ(DateValueFromFields(1970, 1, 1, 0, 0, 0), 0);
  EXPECT_EQ(DateValueFromFields(1970, 1, 1, 13, 7, 9), 13 * 3600 + 7 * 60 + 9);
  EXPECT_EQ(DateValueFromFields(1970, 1, 2, 0, 0, 0), 86400);
  EXPECT_EQ(DateValueFromFields(1969, 12, 31, 23, 59, 59), INVALID_DATE);
  EXPECT_EQ(DateValueFromFields(0, 1, 1, 0, 0, 0), INVALID_DATE);
  EXPECT_EQ(DateValueFromFields(-2000, 1, 1, 0, 0, 0), INVALID_DATE);
}

TEST(DateTextTest, DatesAfterTheOld32BitLimitStayReal) {
  EXPECT_EQ(DateValueFromFields(2038, 1, 19, 3, 14, 7), 2147483647);
  EXPECT_EQ(DateValueFromFields(2038, 1, 19, 3, 14, 8), int64_t{2147483648});
  EXPECT_EQ(Expand(kLogMask, DateValueFromFields(2038, 2, 1, 0, 0, 0)), "2038/02/01 - 00:00:00 - ");
  EXPECT_EQ(Expand(kLogMask, DateValueFromFields(2106, 2, 7, 6, 28, 16)),
            "2106/02/07 - 06:28:16 - ");

  const DateValue last = DateValueFromFields(9999, 12, 31, 23, 59, 59);
  EXPECT_EQ(last, MAX_DATE_VALUE);
  EXPECT_EQ(Expand(kLogMask, last), "9999/12/31 - 23:59:59 - ");
  EXPECT_EQ(DateValueFromFields(10000, 1, 1, 0, 0, 0), INVALID_DATE);
  // One second past the last valid value is not a date either.
  EXPECT_EQ(Expand("%yyyy%mm%dd%hh%ii%ss", MAX_DATE_VALUE + 1), "00000000000000");
  EXPECT_EQ(DateYear(MAX_DATE_VALUE + 1), 0);
}

TEST(DateTextTest, CalendarRulesRefuseImpossibleDates) {
  for (int32_t year : {1972, 1996, 2000, 2024, 2400}) {
    EXPECT_NE(DateValueFromFields(year, 2, 29, 12, 0, 0), INVALID_DATE) << year;
  }
  for (int32_t year : {1970, 1999, 2100, 2200, 2300, 2023}) {
    EXPECT_EQ(DateValueFromFields(year, 2, 29, 12, 0, 0), INVALID_DATE) << year;
  }
  EXPECT_EQ(DateValueFromFields(2024, 2, 30, 0, 0, 0), INVALID_DATE);
  EXPECT_EQ(DateValueFromFields(2024, 2, 31, 0, 0, 0), INVALID_DATE);
  for (int32_t month : {4, 6, 9, 11}) {
    EXPECT_EQ(DateValueFromFields(2024, month, 31, 0, 0, 0), INVALID_DATE) << month;
    EXPECT_NE(DateValueFromFields(2024, month, 30, 0, 0, 0), INVALID_DATE) << month;
  }
  for (int32_t month : {1, 3, 5, 7, 8, 10, 12}) {
    EXPECT_NE(DateValueFromFields(2024, month, 31, 0, 0, 0), INVALID_DATE) << month;
  }
  EXPECT_EQ(DateValueFromFields(2024, 5, 1, 24, 0, 0), INVALID_DATE);
  EXPECT_EQ(DateValueFromFields(2024, 5, 1, 0, 60, 0), INVALID_DATE);
  EXPECT_EQ(DateValueFromFields(2024, 5, 1, 0, 0, 60), INVALID_DATE);
  EXPECT_EQ(DateValueFromFields(2024, 5, 1, -1, 0, 0), INVALID_DATE);
  EXPECT_EQ(DateValueFromFields(2024, 5, 1, 0, -1, 0), INVALID_DATE);
  EXPECT_EQ(DateValueFromFields(2024, 5, 1, 0, 0, -1), INVALID_DATE);
  EXPECT_EQ(DateValueFromFields(2024, 5, 0, 0, 0, 0), INVALID_DATE);
  EXPECT_EQ(DateValueFromFields(2024, 0, 1, 0, 0, 0), INVALID_DATE);
  EXPECT_EQ(DateValueFromFields(2024, 13, 1, 0, 0, 0), INVALID_DATE);
  EXPECT_EQ(DateValueFromFields(2024, 1, 32, 0, 0, 0), INVALID_DATE);
}

TEST(DateTextTest, FieldsComeBackAsTheyWereGiven) {
  // Leap days, the turn of a century and the year 2000 are where calendar
  // arithmetic goes wrong.
  const int32_t dates[][6] = {{1970, 1, 1, 0, 0, 0},     {1972, 2, 29, 23, 59, 59},
                              {2000, 2, 29, 12, 30, 45}, {2000, 3, 1, 0, 0, 1},
                              {2100, 3, 1, 6, 7, 8},     {2024, 12, 31, 23, 59, 59},
                              {2038, 1, 19, 3, 14, 8},   {9999, 12, 31, 23, 59, 59}};
  for (const auto& d : dates) {
    const DateValue value = DateValueFromFields(d[0], d[1], d[2], d[3], d[4], d[5]);
    ASSERT_NE(value, INVALID_DATE) << d[0] << "-" << d[1] << "-" << d[2];
    EXPECT_EQ(DateYear(value), d[0]);
    EXPECT_EQ(DateMonth(value), d[1]);
    EXPECT_EQ(DateDay(value), d[2]);
    EXPECT_EQ(DateHour(value), d[3]);
    EXPECT_EQ(DateMinute(value), d[4]);
    EXPECT_EQ(DateSecond(value), d[5]);
  }
  // 2000-03-01 follows 2000-02-29 by one day; 2100 has no 29 February.
  EXPECT_EQ(DateValueFromFields(2000, 3, 1, 0, 0, 0) - DateValueFromFields(2000, 2, 28, 0, 0, 0),
            2 * 86400);
  EXPECT_EQ(DateValueFromFields(2100, 3, 1, 0, 0, 0) - DateValueFromFields(2100, 2, 28, 0, 0, 0),
            86400);

  for (DateValue invalid : {INVALID_DATE, DateValue{-2}, DateValue{INT64_MIN}}) {
    EXPECT_EQ(DateYear(invalid), 0);
    EXPECT_EQ(DateMonth(invalid), 0);
    EXPECT_EQ(DateDay(invalid), 0);
    EXPECT_EQ(DateHour(invalid), 0);
    EXPECT_EQ(DateMinute(invalid), 0);
    EXPECT_EQ(DateSecond(invalid), 0);
  }
}

TEST(DateTextTest, LogMaskGivesTheLocalClockReading) {
  const std::string line = Expand(kLogMask, DateValueFromFields(2023, 12, 7, 22, 53, 24));
  EXPECT_EQ(line, "2023/12/07 - 22:53:24 - ");
  EXPECT_EQ(line.size(), 24u);
  // A summer-time reading prints as read: no zone or daylight shift.
  EXPECT_EQ(Expand("%hh:%ii", DateValueFromFields(2024, 7, 15, 14, 5, 0)), "14:05");
  EXPECT_EQ(Expand(kLogMask, INVALID_DATE), "0000/00/00 - 00:00:00 - ");
  // A leap second is not a time of day, whatever the clock showed.
  EXPECT_EQ(Expand(kLogMask, DateValueFromFields(2016, 12, 31, 23, 59, 60)),
            "0000/00/00 - 00:00:00 - ");
  EXPECT_EQ(Expand("%yy", DateValueFromFields(2005, 1, 1, 0, 0, 0)), "05");
  EXPECT_EQ(Expand("%yy", INVALID_DATE), "00");
}

TEST(DateTextTest, MaskTokensIgnoreLetterCase) {
  const DateValue value = DateValueFromFields(2024, 3, 4, 5, 6, 7);
  const std::string expected = "2024/03/04 05:06:07 24";
  EXPECT_EQ(Expand("%yyyy/%mm/%dd %hh:%ii:%ss %yy", value), expected);
  EXPECT_EQ(Expand("%YYYY/%MM/%DD %HH:%II:%SS %YY", value), expected);
  EXPECT_EQ(Expand("%yYyY/%Mm/%dD %Hh:%iI:%sS %Yy", value), expected);
}

TEST(DateTextTest, PercentSignsThatStartNoTokenAreCopied) {
  const DateValue value = DateValueFromFields(2024, 3, 4, 5, 6, 7);
  EXPECT_EQ(Expand("%yyy", value), "24y");
  EXPECT_EQ(Expand("%yyyyy", value), "2024y");
  EXPECT_EQ(Expand("%m-%i-%y", value), "%m-%i-%y");
  EXPECT_EQ(Expand("%%yyyy", value), "%2024");
  EXPECT_EQ(Expand("100%", value), "100%");
  EXPECT_EQ(Expand("%", value), "%");
  EXPECT_EQ(Expand("%x%mm", value), "%x03");
  EXPECT_EQ(Expand("no tokens \xff\x01", value), "no tokens \xff\x01");
  EXPECT_EQ(Expand("", value), "");
  EXPECT_EQ(Expand(nullptr, value), "");
  // Only ASCII letters fold; bytes above 127 after a "%" are plain bytes.
  EXPECT_EQ(Expand("%\xd9\xf9%\xff", value), "%\xd9\xf9%\xff");
  EXPECT_EQ(Expand("%9999", value), "%9999");
}

TEST(DateTextTest, LongMasksAreExpandedInFull) {
  const DateValue value = DateValueFromFields(2024, 3, 4, 5, 6, 7);
  std::string mask;
  std::string expected;
  while (mask.size() <= 3 * 4096) {
    mask += "ab%yyyy%ss%";
    expected += "ab202407%";
  }
  const std::string expanded = Expand(mask.c_str(), value);
  EXPECT_EQ(expanded.size(), expected.size());
  EXPECT_EQ(expanded, expected);
}

TEST(DateTextTest, CurrentValueIsTheLocalWallClock) {
  // Read the clock on both sides so that a change of second in between
  // cannot make the comparison fail.
  for (int attempt = 0; attempt < 5; ++attempt) {
    const platform::WallClock before = platform::ReadLocalWallClock();
    const DateValue now = CurrentDateValue();
    const platform::WallClock after = platform::ReadLocalWallClock();
    if (before.second != after.second || before.minute != after.minute) continue;
    ASSERT_NE(now, INVALID_DATE);
    EXPECT_EQ(DateYear(now), before.year);
    EXPECT_EQ(DateMonth(now), before.month);
    EXPECT_EQ(DateDay(now), before.day);
    EXPECT_EQ(DateHour(now), before.hour);
    EXPECT_EQ(DateMinute(now), before.minute);
    EXPECT_EQ(DateSecond(now), before.second);
    return;
  }
  FAIL() << "the clock changed during every attempt";
}

}  // namespace
}  // namespace runtime
