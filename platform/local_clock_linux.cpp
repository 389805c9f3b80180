#include <time.h>

#include "platform/local_clock.h"

namespace vantrel {

DateTime LocalNow() {
  timespec ts{};
  clock_gettime(CLOCK_REALTIME, &ts);
  tm local{};
  localtime_r(&ts.tv_sec, &local);
  return EncodeDateTime(local.tm_year + 1900, local.tm_mon + 1, local.tm_mday, local.tm_hour, local.tm_min,
                        local.tm_sec, static_cast<int>(ts.tv_nsec / 1000000));
}

int LocalUtcOffsetMinutes(std::int64_t unix_seconds) {
  const time_t seconds = static_cast<time_t>(unix_seconds);
  tm local{};
  if (!localtime_r(&seconds, &local)) return 0;
  return static_cast<int>(local.tm_gmtoff / 60);
}

}  // namespace vantrel
