// When an entry was written: one value from the event source that reads it
// to the notice line that shows it.
#pragma once

#include <chrono>
#include <cstdint>

namespace vantrel {

// A moment in UTC, in microseconds since 1970-01-01 00:00.
using EntryTime = std::chrono::sys_time<std::chrono::microseconds>;

// The whole second (since 1970-01-01 00:00 UTC) that holds the moment; a
// moment before 1970 belongs to the second that began before it.
inline std::int64_t WholeSecondOf(EntryTime time) {
  return std::chrono::floor<std::chrono::seconds>(time).time_since_epoch().count();
}

}  // namespace vantrel
