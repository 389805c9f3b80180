// What the end-to-end tests under Wine do as an administrator would: the
// service manager's view of VantrelSrv, the settings key's values, and the
// webhook in the test process. Each test calls RemoveService and
// DeleteTestValues before and after it, so that no VantrelSrv is installed
// or running outside it and its values are gone from the settings key.
#pragma once

#include <windows.h>

#include <optional>
#include <string>
#include <vector>

#include "platform/unique_handle.h"
#include "tests/host/run_program_win.h"
#include "tests/notify/test_server.h"

namespace vantrel::testing {

using ScHandle = UniqueHandle<SC_HANDLE, CloseServiceHandle>;
using KeyHandle = UniqueHandle<HKEY, RegCloseKey>;
using ProcessHandle = UniqueHandle<HANDLE, CloseHandle>;

inline constexpr wchar_t kServiceName[] = L"VantrelSrv";
inline constexpr wchar_t kSettingsKey[] = L"SOFTWARE\\tresk\\vantrel";
inline constexpr const wchar_t* kTestValues[] = {L"chaturl", L"instancename", L"lastrecnum"};
inline constexpr DWORD kPollMs = 50;

inline std::optional<SERVICE_STATUS_PROCESS> QueryStatus(SC_HANDLE service) {
  SERVICE_STATUS_PROCESS status{};
  DWORD needed = 0;
  if (!QueryServiceStatusEx(service, SC_STATUS_PROCESS_INFO, reinterpret_cast<BYTE*>(&status), sizeof status,
                            &needed)) {
    return std::nullopt;
  }
  return status;
}

// Polls until the service reports state; the last status seen, or nothing
// when it could not be read.
inline std::optional<SERVICE_STATUS_PROCESS> WaitForState(SC_HANDLE service, DWORD state, DWORD timeout_ms) {
  std::optional<SERVICE_STATUS_PROCESS> status = QueryStatus(service);
  for (DWORD waited = 0; status && status->dwCurrentState != state && waited < timeout_ms; waited += kPollMs) {
    Sleep(kPollMs);
    status = QueryStatus(service);
  }
  return status;
}

// Waits for the process to end and gives its exit code; a process that is
// still there after the wait is ended, and nothing is given.
inline std::optional<DWORD> WaitForProcessEnd(DWORD process_id, DWORD timeout_ms) {
  ProcessHandle process(
      OpenProcess(SYNCHRONIZE | PROCESS_TERMINATE | PROCESS_QUERY_LIMITED_INFORMATION, FALSE, process_id));
  if (!process) return std::nullopt;
  if (WaitForSingleObject(process.get(), timeout_ms) != WAIT_OBJECT_0) {
    TerminateProcess(process.get(), 1);
    WaitForSingleObject(process.get(), 5000);
    return std::nullopt;
  }
  DWORD code = STILL_ACTIVE;
  GetExitCodeProcess(process.get(), &code);
  return code;
}

// Leaves no VantrelSrv behind: a running one is stopped (its process ended
// if it will not stop) and the registration deleted.
inline void RemoveService() {
  ScHandle scm(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS));
  if (!scm) return;
  ScHandle service(OpenServiceW(scm.get(), kServiceName, SERVICE_ALL_ACCESS));
  if (!service) return;
  const std::optional<SERVICE_STATUS_PROCESS> status = QueryStatus(service.get());
  if (status && status->dwCurrentState != SERVICE_STOPPED) {
    SERVICE_STATUS ignored;
    ControlService(service.get(), SERVICE_CONTROL_STOP, &ignored);
    WaitForState(service.get(), SERVICE_STOPPED, 10000);
    if (status->dwProcessId != 0) WaitForProcessEnd(status->dwProcessId, 5000);
  }
  DeleteService(service.get());
}

inline void DeleteTestValues() {
  HKEY raw = nullptr;
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kSettingsKey, 0, KEY_SET_VALUE, &raw) != ERROR_SUCCESS) return;
  KeyHandle key(raw);
  for (const wchar_t* name : kTestValues) RegDeleteValueW(key.get(), name);
}

inline LSTATUS SetChatUrl(const std::string& url) {
  HKEY raw = nullptr;
  const LSTATUS opened =
      RegCreateKeyExW(HKEY_LOCAL_MACHINE, kSettingsKey, 0, nullptr, 0, KEY_SET_VALUE, nullptr, &raw, nullptr);
  if (opened != ERROR_SUCCESS) return opened;
  KeyHandle key(raw);
  const std::wstring wide(url.begin(), url.end());  // an ASCII URL
  return RegSetValueExW(key.get(), L"chaturl", 0, REG_SZ, reinterpret_cast<const BYTE*>(wide.c_str()),
                        static_cast<DWORD>((wide.size() + 1) * sizeof(wchar_t)));
}

inline LSTATUS SetStoredRecordNumber(DWORD value) {
  return RegSetKeyValueW(HKEY_LOCAL_MACHINE, kSettingsKey, L"lastrecnum", REG_DWORD, &value, sizeof value);
}

// The stored "lastrecnum" as a DWORD, or nothing when it is missing or of
// another type.
inline std::optional<DWORD> StoredRecordNumber() {
  DWORD type = 0, value = 0, size = sizeof value;
  if (RegGetValueW(HKEY_LOCAL_MACHINE, kSettingsKey, L"lastrecnum", RRF_RT_ANY, &type, &value, &size) !=
          ERROR_SUCCESS ||
      type != REG_DWORD) {
    return std::nullopt;
  }
  return value;
}

inline std::string Utf8(const std::wstring& text) {
  const int n =
      WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr);
  std::string out(n, '\0');
  WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), out.data(), n, nullptr, nullptr);
  return out;
}

// The computer name the program reads: the environment variable, which the
// service manager passes on to the services it starts.
inline std::wstring ComputerNameVariable() {
  wchar_t buffer[256];
  const DWORD n = GetEnvironmentVariableW(L"COMPUTERNAME", buffer, 256);
  return n < 256 ? std::wstring(buffer, n) : std::wstring();
}

inline bool WaitForRequests(TestServer& server, std::size_t count, DWORD timeout_ms) {
  for (DWORD waited = 0; server.Requests().size() < count; waited += kPollMs) {
    if (waited >= timeout_ms) return false;
    Sleep(kPollMs);
  }
  return true;
}

}  // namespace vantrel::testing
