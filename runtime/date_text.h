#ifndef WEIGH_RUNTIME_DATE_TEXT_H_
#define WEIGH_RUNTIME_DATE_TEXT_H_

#include <cstdint>

#include "runtime/text.h"

namespace runtime {

// Seconds from 1970-01-01 00:00:00 to a local wall-clock date and time, both
// read as UTC (Gregorian calendar, 24-hour days, no zone, no daylight saving,
// no leap seconds), so the fields always show what the computer's clock
// showed. Valid from 0 (1970-01-01 00:00:00) to MAX_DATE_VALUE
// (9999-12-31 23:59:59). 64 bits wide, so dates after 2038-01-19 stay real.
using DateValue = int64_t;

// A date value that stands for no real date: every field of it is 0.
constexpr DateValue INVALID_DATE = -1;

// The last valid date value, 9999-12-31 23:59:59: years keep four digits.
constexpr DateValue MAX_DATE_VALUE = 253402300799;

// Returns the date value of the local wall clock now, or INVALID_DATE when
// the clock shows a date outside the valid range.
DateValue CurrentDateValue();

// Returns the date value of the given fields, or INVALID_DATE when they are
// not a real date and time (31 April, 29 February outside leap years, hour
// 24, minute or second 60...) or lie outside 1970 to 9999.
DateValue DateValueFromFields(int32_t year, int32_t month, int32_t day, int32_t hour,
                              int32_t minute, int32_t second);

// Return one field of `value`: the year (1970-9999), month (1-12), day of the
// month (1-31), hour (0-23), minute or second (0-59). Every field of a value
// outside the valid range (INVALID_DATE included) is 0.
int32_t DateYear(DateValue value);
int32_t DateMonth(DateValue value);
int32_t DateDay(DateValue value);
int32_t DateHour(DateValue value);
int32_t DateMinute(DateValue value);
int32_t DateSecond(DateValue value);

// Returns `mask` with each token after a "%" replaced by a field of `value`:
// "yyyy" the four-digit year, "yy" the year's last two digits, "mm" month,
// "dd" day, "hh" hour, "ii" minute, "ss" second, each two-digit field with a
// leading zero. Tokens ignore ASCII letter case and are tried in that order.
// A "%" that starts no token is copied, and so is every other byte.
Text ExpandDateMask(const Text& mask, DateValue value);

}  // namespace runtime

#endif  // WEIGH_RUNTIME_DATE_TEXT_H_
