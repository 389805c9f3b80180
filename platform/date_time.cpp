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

}  // namespace vantrel
