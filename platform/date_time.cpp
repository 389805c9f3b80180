#include "platform/date_time.h"

#include <cmath>
#include <cstdlib>

namespace vantrel {

namespace {

// Days from 0001-01-01 to the given date in the proleptic Gregorian calendar.
std::int64_t DaysFromCivil(int y, int m, int d) {
  y -= m <= 2;
  const std::int64_t era = (y >= 0 ? y : y - 399) / 400;
  const std::int64_t yoe = y - era * 400;
  const std::int64_t doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const std::int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + doe;  // days since 0000-03-01
}

// The date of a day count of DaysFromCivil.
void CivilFromDays(std::int64_t days, int& y, int& m, int& d) {
  const std::int64_t era = (days >= 0 ? days : days - 146096) / 146097;
  const std::int64_t doe = days - era * 146097;
  const std::int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const std::int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const std::int64_t mp = (5 * doy + 2) / 153;
  d = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
  m = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
  y = static_cast<int>(yoe + era * 400 + (m <= 2));
}

std::int64_t FloorDiv(std::int64_t a, std::int64_t b) { return a / b - ((a % b != 0) && ((a < 0) != (b < 0))); }

void PutNumber(String& out, int value, int width) {
  String digits = IntToStr(value < 0 ? -value : value);
  if (value < 0) out += u'-';
  for (std::size_t i = digits.size(); i < static_cast<std::size_t>(width); ++i) out += u'0';
  out += digits;
}

}  // namespace

DateTime EncodeDateTime(int year, int month, int day, int hour, int minute, int second, int msec) {
  const std::int64_t days = DaysFromCivil(year, month, day) - DaysFromCivil(1899, 12, 30);
  const double time = (hour * 3600000.0 + minute * 60000.0 + second * 1000.0 + msec) / kMSecsPerDay;
  // Before the epoch the fraction still counts forward from midnight.
  return days >= 0 ? days + time : days - time;
}

std::int64_t DateTimeToMilliseconds(DateTime value) {
  // Negative date-times hold the time of day as a positive fraction.
  const double whole = std::trunc(value);
  const double fraction = std::fabs(value - whole);
  return static_cast<std::int64_t>(whole) * kMSecsPerDay + std::llround(fraction * kMSecsPerDay);
}

std::int64_t HoursBetween(DateTime a, DateTime b) {
  return std::llabs(DateTimeToMilliseconds(a) - DateTimeToMilliseconds(b)) / 3600000;
}

CivilTime DecodeDateTime(DateTime value) {
  const std::int64_t ms = DateTimeToMilliseconds(value);
  const std::int64_t epoch = DaysFromCivil(1899, 12, 30);
  return CivilTimeOfUnixSeconds(FloorDiv(ms, 1000) + (epoch - DaysFromCivil(1970, 1, 1)) * 86400);
}

std::int64_t UnixSecondsOf(const CivilTime& t) {
  return (DaysFromCivil(t.year, t.month, t.day) - DaysFromCivil(1970, 1, 1)) * 86400 + t.hour * 3600 + t.minute * 60 +
         t.second;
}

CivilTime CivilTimeOfUnixSeconds(std::int64_t seconds) {
  const std::int64_t days = FloorDiv(seconds, 86400);
  const std::int64_t rest = seconds - days * 86400;
  CivilTime t;
  CivilFromDays(days + DaysFromCivil(1970, 1, 1), t.year, t.month, t.day);
  t.hour = static_cast<int>(rest / 3600);
  t.minute = static_cast<int>(rest / 60 % 60);
  t.second = static_cast<int>(rest % 60);
  return t;
}

String FormatCivilTime(const CivilTime& t, bool with_seconds) {
  String out;
  PutNumber(out, t.year, 4);
  out += u'-';
  PutNumber(out, t.month, 2);
  out += u'-';
  PutNumber(out, t.day, 2);
  out += u' ';
  PutNumber(out, t.hour, 2);
  out += u':';
  PutNumber(out, t.minute, 2);
  if (with_seconds) {
    out += u':';
    PutNumber(out, t.second, 2);
  }
  return out;
}

}  // namespace vantrel
