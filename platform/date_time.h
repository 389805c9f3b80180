// Date-times as the module keeps them: days since 30 December 1899 00:00 as a
// double, the fraction being the time of day.
#pragma once

#include <cstdint>

namespace vantrel {

using DateTime = double;

constexpr std::int64_t kMSecsPerDay = 86400000;

// The date-time of a calendar date and time of day.
DateTime EncodeDateTime(int year, int month, int day, int hour, int minute, int second, int msec);

// Whole milliseconds since 30 December 1899 00:00, rounded to the nearest.
std::int64_t DateTimeToMilliseconds(DateTime value);

// Whole hours between two date-times, the remainder dropped.
std::int64_t HoursBetween(DateTime a, DateTime b);

}  // namespace vantrel
