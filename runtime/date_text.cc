#include "runtime/date_text.h"

#include <array>
#include <chrono>
#include <string>
#include <string_view>

#include "runtime/platform/clock.h"

namespace runtime {
namespace {

constexpr int64_t kSecondsPerDay = 86400;

// A date value broken down into its fields; all zero for an invalid value.
struct DateFields {
  int32_t year = 0;
  int32_t month = 0;
  int32_t day = 0;
  int32_t hour = 0;
  int32_t minute = 0;
  int32_t second = 0;
};

bool IsLeapYear(int32_t year) { return year % 4 == 0 && (year % 100 != 0 || year % 400 == 0); }

DateFields BreakDown(DateValue value) {
  DateFields fields;
  if (value < 0 || value > MAX_DATE_VALUE) return fields;
  const int64_t days = value / kSecondsPerDay;
  const int64_t seconds_of_day = value % kSecondsPerDay;
  const std::chrono::year_month_day date{std::chrono::sys_days{std::chrono::days{days}}};
  fields.year = static_cast<int32_t>(date.year());
  fields.month = static_cast<int32_t>(static_cast<unsigned>(date.month()));
  fields.day = static_cast<int32_t>(static_cast<unsigned>(date.day()));
  fields.hour = static_cast<int32_t>(seconds_of_day / 3600);
  fields.minute = static_cast<int32_t>(seconds_of_day / 60 % 60);
  fields.second = static_cast<int32_t>(seconds_of_day % 60);
  return fields;
}

char AsciiLower(char byte) { return byte >= 'A' && byte <= 'Z' ? byte - 'A' + 'a' : byte; }

// True when `rest` starts with `token` (lower-case letters), ignoring the
// case of ASCII letters only.
bool StartsWithToken(std::string_view rest, std::string_view token) {
  if (rest.size() < token.size()) return false;
  for (std::size_t i = 0; i < token.size(); ++i) {
    if (AsciiLower(rest[i]) != token[i]) return false;
  }
  return true;
}

// Fields are never negative, and the year never has more than four digits.
void AppendDigits(std::string& out, int32_t field, int width) {
  char digits[4];
  for (int i = width - 1; i >= 0; --i) {
    digits[i] = static_cast<char>('0' + field % 10);
    field /= 10;
  }
  out.append(digits, static_cast<std::size_t>(width));
}

}  // namespace

DateValue CurrentDateValue() {
  const platform::WallClock now = platform::ReadLocalWallClock();
  return DateValueFromFields(now.year, now.month, now.day, now.hour, now.minute, now.second);
}

DateValue DateValueFromFields(int32_t year, int32_t month, int32_t day, int32_t hour,
                              int32_t minute, int32_t second) {
  // The valid range ends with the year 9999, so the year alone bounds it.
  if (year < 1970 || year > 9999) return INVALID_DATE;
  if (day == 31 && (month == 4 || month == 6 || month == 9 || month == 11)) return INVALID_DATE;
  if (month == 2 && (day > 29 || (day == 29 && !IsLeapYear(year)))) return INVALID_DATE;
  if (second < 0 || second > 59 || minute < 0 || minute > 59 || hour < 0 || hour > 23 || day < 1 ||
      day > 31 || month < 1 || month > 12) {
    return INVALID_DATE;
  }
  const std::chrono::sys_days date{std::chrono::year{year} / month / day};
  return static_cast<DateValue>(date.time_since_epoch().count()) * kSecondsPerDay + hour * 3600 +
         minute * 60 + second;
}

int32_t DateYear(DateValue value) { return BreakDown(value).year; }
int32_t DateMonth(DateValue value) { return BreakDown(value).month; }
int32_t DateDay(DateValue value) { return BreakDown(value).day; }
int32_t DateHour(DateValue value) { return BreakDown(value).hour; }
int32_t DateMinute(DateValue value) { return BreakDown(value).minute; }
int32_t DateSecond(DateValue value) { return BreakDown(value).second; }

Text ExpandDateMask(const Text& mask, DateValue value) {
  const DateFields fields = BreakDown(value);
  struct Token {
    std::string_view letters;
    int32_t field;
    int width;
  };
  // "yyyy" before "yy": four y letters are the whole year, three are the
  // short year and a letter.
  const std::array<Token, 7> tokens{{{"yyyy", fields.year, 4},
                                     {"yy", fields.year % 100, 2},
                                     {"mm", fields.month, 2},
                                     {"dd", fields.day, 2},
                                     {"hh", fields.hour, 2},
                                     {"ii", fields.minute, 2},
                                     {"ss", fields.second, 2}}};
  const std::string_view in = mask.view();
  std::string out;
  out.reserve(in.size() + 16);
  std::size_t at = 0;
  while (at < in.size()) {
    const char byte = in[at++];
    if (byte != '%') {
      out.push_back(byte);
      continue;
    }
    const Token* found = nullptr;
    for (const Token& token : tokens) {
      if (StartsWithToken(in.substr(at), token.letters)) {
        found = &token;
        break;
      }
    }
    if (found == nullptr) {
      // The byte after an unmatched "%" is read like any other, so "%%yyyy"
      // keeps one "%" and expands the token.
      out.push_back(byte);
      continue;
    }
    AppendDigits(out, found->field, found->width);
    at += found->letters.size();
  }
  return Text(out);
}

}  // namespace runtime
