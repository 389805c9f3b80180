// Date-times as the module keeps them: days since 30 December 1899 00:00 as a
// double, the fraction being the time of day.
#pragma once

#include <cstdint>

#include "platform/text.h"

namespace vantrel {

using DateTime = double;

constexpr std::int64_t kMSecsPerDay = 86400000;

// The date-time of a calendar date and time of day.
DateTime EncodeDateTime(int year, int month, int day, int hour, int minute, int second, int msec);

// Whole milliseconds since 30 December 1899 00:00, rounded to the nearest.
std::int64_t DateTimeToMilliseconds(DateTime value);

// Whole hours between two date-times, the remainder dropped.
std::int64_t HoursBetween(DateTime a, DateTime b);

// A calendar date and a time of day to the second.
struct CivilTime {
  int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0;
  bool operator==(const CivilTime&) const = default;
};

// The civil time of a date-time, the milliseconds dropped.
CivilTime DecodeDateTime(DateTime value);

// Seconds since 1970-01-01 00:00 of a civil time read as UTC, and back.
std::int64_t UnixSecondsOf(const CivilTime& time);
CivilTime CivilTimeOfUnixSeconds(std::int64_t seconds);

// "yyyy-mm-dd hh:mm:ss", or "yyyy-mm-dd hh:mm" without the seconds.
String FormatCivilTime(const CivilTime& time, bool with_seconds = true);

}  // namespace vantrel
