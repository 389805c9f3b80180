#include <windows.h>

#include "platform/local_clock.h"

namespace vantrel {

DateTime LocalNow() {
  SYSTEMTIME st{};
  GetLocalTime(&st);
  return EncodeDateTime(st.wYear, st.wMonth, st.wDay, st.wHour, st.wMinute, st.wSecond, st.wMilliseconds);
}

int LocalUtcOffsetMinutes(std::int64_t unix_seconds) {
  // 100 ns steps since 1601-01-01, as FILETIME counts.
  constexpr std::int64_t kSecondsFrom1601To1970 = 11644473600LL;
  const auto ticks = static_cast<ULONGLONG>((unix_seconds + kSecondsFrom1601To1970) * 10000000LL);
  FILETIME utc_file{static_cast<DWORD>(ticks), static_cast<DWORD>(ticks >> 32)};
  SYSTEMTIME utc{}, local{};
  FILETIME local_file{};
  if (!FileTimeToSystemTime(&utc_file, &utc) || !SystemTimeToTzSpecificLocalTime(nullptr, &utc, &local) ||
      !SystemTimeToFileTime(&local, &local_file)) {
    return 0;
  }
  const auto local_ticks =
      static_cast<std::int64_t>((ULONGLONG{local_file.dwHighDateTime} << 32) | local_file.dwLowDateTime);
  return static_cast<int>((local_ticks - static_cast<std::int64_t>(ticks)) / 600000000LL);
}

}  // namespace vantrel
