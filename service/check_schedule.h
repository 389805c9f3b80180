// When checks come. Once the first check has run, the timer ticks every ten
// minutes, and a tick runs a check when 12 or more whole hours have passed
// since the last completed one: a check that fails is tried again within
// ten minutes, and a completed one is followed by the next 12 hours later,
// at the first tick after that.
#pragma once

#include <cstdint>

namespace vantrel {

inline constexpr std::uint32_t kTickIntervalMs = 10 * 60 * 1000;
inline constexpr std::int64_t kHoursBetweenChecks = 12;

}  // namespace vantrel
