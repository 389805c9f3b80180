// The local wall clock, millisecond resolution.
#pragma once

#include <cstdint>

#include "platform/date_time.h"

namespace vantrel {

// The current local time.
DateTime LocalNow();

// The local time zone's offset from UTC in minutes (east positive) at the
// moment given in seconds since 1970-01-01 00:00 UTC, summer time included.
int LocalUtcOffsetMinutes(std::int64_t unix_seconds);

}  // namespace vantrel
