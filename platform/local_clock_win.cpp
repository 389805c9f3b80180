#include <windows.h>

#include "platform/local_clock.h"

namespace vantrel {

DateTime LocalNow() {
  SYSTEMTIME st{};
  GetLocalTime(&st);
  return EncodeDateTime(st.wYear, st.wMonth, st.wDay, st.wHour, st.wMinute, st.wSecond, st.wMilliseconds);
}

}  // namespace vantrel
