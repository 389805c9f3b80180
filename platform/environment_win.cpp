#include <windows.h>

#include <vector>

#include "platform/environment.h"
#include "platform/wide_text.h"

namespace vantrel {

std::optional<String> GetEnvironmentValue(const String& name) {
  const auto* wname = Wide(name);
  SetLastError(ERROR_SUCCESS);
  DWORD size = GetEnvironmentVariableW(wname, nullptr, 0);
  if (size == 0) {
    if (GetLastError() == ERROR_ENVVAR_NOT_FOUND) return std::nullopt;
    return String();
  }
  std::vector<wchar_t> buffer(size);
  DWORD length = GetEnvironmentVariableW(wname, buffer.data(), size);
  if (length >= size) return std::nullopt;  // changed between the two calls
  return String(reinterpret_cast<const char16_t*>(buffer.data()), length);
}

String ComputerName() { return GetEnvironmentValue(u"computername").value_or(String()); }

}  // namespace vantrel
