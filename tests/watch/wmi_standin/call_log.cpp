#include "tests/watch/wmi_standin/call_log.h"

#include <windows.h>

#include "tests/watch/wmi_standin/fixture.h"
#include "tests/watch/wmi_standin/standin_clsid.h"

namespace wmi_standin {

namespace {

std::wstring ClassKeyValue(const wchar_t* name) {
  const std::wstring key = std::wstring(L"CLSID\\") + kClsidText;
  wchar_t buffer[MAX_PATH * 2];
  DWORD size = sizeof buffer;
  if (RegGetValueW(HKEY_CLASSES_ROOT, key.c_str(), name, RRF_RT_REG_SZ, nullptr, buffer, &size) != ERROR_SUCCESS) {
    return std::wstring();
  }
  return buffer;
}

}  // namespace

std::wstring FixturePath() { return ClassKeyValue(kFixtureValue); }

std::wstring CallLogPath() { return ClassKeyValue(kCallLogValue); }

void Record(const std::wstring& line) {
  const std::wstring path = CallLogPath();
  if (path.empty()) return;
  HANDLE file = CreateFileW(path.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                            nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return;
  const std::string bytes = ToUtf8(line) + "\n";
  DWORD written = 0;
  WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
  CloseHandle(file);
}

}  // namespace wmi_standin
