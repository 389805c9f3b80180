// The whole program under Wine, as an administrator sets it up: the real
// vantrel.exe installs itself, the webhook URL goes into the settings key,
// Wine's service manager starts it (net start), its first check posts the
// start notice to a webhook in this process and stores "lastrecnum", then
// net stop ends it and the program removes itself. Before and after the
// test no VantrelSrv is installed or running and the test's values are gone
// from the settings key.
#include <windows.h>

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "platform/unique_win_handle.h"
#include "tests/host/run_program_win.h"
#include "tests/notify/test_server.h"

namespace {

using ScHandle = vantrel::UniqueWinHandle<SC_HANDLE, CloseServiceHandle>;
using KeyHandle = vantrel::UniqueWinHandle<HKEY, RegCloseKey>;
using ProcessHandle = vantrel::UniqueWinHandle<HANDLE, CloseHandle>;

using vantrel::testing::Answer;
using vantrel::testing::RunCommandLine;
using vantrel::testing::RunProgram;
using vantrel::testing::TestServer;

constexpr wchar_t kServiceName[] = L"VantrelSrv";
constexpr wchar_t kSettingsKey[] = L"SOFTWARE\\tresk\\vantrel";
constexpr const wchar_t* kTestValues[] = {L"chaturl", L"instancename", L"lastrecnum"};
constexpr DWORD kPollMs = 50;

std::optional<SERVICE_STATUS_PROCESS> QueryStatus(SC_HANDLE service) {
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
std::optional<SERVICE_STATUS_PROCESS> WaitForState(SC_HANDLE service, DWORD state, DWORD timeout_ms) {
  std::optional<SERVICE_STATUS_PROCESS> status = QueryStatus(service);
  for (DWORD waited = 0; status && status->dwCurrentState != state && waited < timeout_ms; waited += kPollMs) {
    Sleep(kPollMs);
    status = QueryStatus(service);
  }
  return status;
}

// Waits for the process to end and gives its exit code; a process that is
// still there after the wait is ended, and nothing is given.
std::optional<DWORD> WaitForProcessEnd(DWORD process_id, DWORD timeout_ms) {
  ProcessHandle process(OpenProcess(SYNCHRONIZE | PROCESS_TERMINATE | PROCESS_QUERY_LIMITED_INFORMATION, FALSE,
                                    process_id));
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
void RemoveService() {
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

void DeleteTestValues() {
  HKEY raw = nullptr;
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kSettingsKey, 0, KEY_SET_VALUE, &raw) != ERROR_SUCCESS) return;
  KeyHandle key(raw);
  for (const wchar_t* name : kTestValues) RegDeleteValueW(key.get(), name);
}

LSTATUS SetChatUrl(const std::string& url) {
  HKEY raw = nullptr;
  const LSTATUS opened = RegCreateKeyExW(HKEY_LOCAL_MACHINE, kSettingsKey, 0, nullptr, 0, KEY_SET_VALUE, nullptr,
                                         &raw, nullptr);
  if (opened != ERROR_SUCCESS) return opened;
  KeyHandle key(raw);
  const std::wstring wide(url.begin(), url.end());  // an ASCII URL
  return RegSetValueExW(key.get(), L"chaturl", 0, REG_SZ, reinterpret_cast<const BYTE*>(wide.c_str()),
                        static_cast<DWORD>((wide.size() + 1) * sizeof(wchar_t)));
}

// The stored "lastrecnum" as a DWORD, or nothing when it is missing or of
// another type.
std::optional<DWORD> StoredRecordNumber() {
  DWORD type = 0, value = 0, size = sizeof value;
  if (RegGetValueW(HKEY_LOCAL_MACHINE, kSettingsKey, L"lastrecnum", RRF_RT_ANY, &type, &value, &size) !=
          ERROR_SUCCESS ||
      type != REG_DWORD) {
    return std::nullopt;
  }
  return value;
}

std::string Utf8(const std::wstring& text) {
  const int n = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0, nullptr,
                                    nullptr);
  std::string out(n, '\0');
  WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), out.data(), n, nullptr, nullptr);
  return out;
}

// The computer name the program reads: the environment variable, which the
// service manager passes on to the services it starts.
std::wstring ComputerNameVariable() {
  wchar_t buffer[256];
  const DWORD n = GetEnvironmentVariableW(L"COMPUTERNAME", buffer, 256);
  return n < 256 ? std::wstring(buffer, n) : std::wstring();
}

bool WaitForRequests(TestServer& server, std::size_t count, DWORD timeout_ms) {
  for (DWORD waited = 0; server.Requests().size() < count; waited += kPollMs) {
    if (waited >= timeout_ms) return false;
    Sleep(kPollMs);
  }
  return true;
}

class EndToEndWin : public ::testing::Test {
 protected:
  void SetUp() override {
    RemoveService();
    DeleteTestValues();
  }
  void TearDown() override {
    RemoveService();
    DeleteTestValues();
  }
};

TEST_F(EndToEndWin, FreshInstallStartedByServiceManagerPostsStartNoticeOnce) {
  const std::wstring computer = ComputerNameVariable();
  ASSERT_FALSE(computer.empty());
  TestServer chat({Answer("HTTP/1.1 200 OK")});

  ASSERT_EQ(RunProgram(L"/install /silent \"Demo 1\""), 0u);
  ScHandle scm(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS));
  ASSERT_TRUE(scm) << GetLastError();
  ASSERT_EQ(SetChatUrl(chat.Url("/hook")), ERROR_SUCCESS);
  {
    ScHandle service(OpenServiceW(scm.get(), kServiceName, SERVICE_ALL_ACCESS));
    ASSERT_TRUE(service) << GetLastError();

    ASSERT_EQ(RunCommandLine(L"net.exe start VantrelSrv"), 0u);
    const auto running = WaitForState(service.get(), SERVICE_RUNNING, 10000);
    ASSERT_TRUE(running);
    ASSERT_EQ(running->dwCurrentState, static_cast<DWORD>(SERVICE_RUNNING));

    // The first check, a second after the start, finds no entries (Wine's
    // event log query answers with none): a first run.
    ASSERT_TRUE(WaitForRequests(chat, 1, 20000)) << "no notice reached the webhook";
    const auto notice = chat.Requests().front();
    EXPECT_EQ(notice.RequestLine(), "POST /hook HTTP/1.1");
    EXPECT_EQ(notice.Header("Content-Type"), std::vector<std::string>{"application/json"});
    EXPECT_EQ(notice.body,
              "{\"text\":\"PSQL lisenssivalvonta k\xC3\xA4ynnistetty Demo 1, koneen nimi " + Utf8(computer) + "\"}");
    EXPECT_EQ(StoredRecordNumber(), std::optional<DWORD>(0));

    ASSERT_EQ(RunCommandLine(L"net.exe stop VantrelSrv"), 0u);
    const auto stopped = WaitForState(service.get(), SERVICE_STOPPED, 10000);
    ASSERT_TRUE(stopped);
    EXPECT_EQ(stopped->dwCurrentState, static_cast<DWORD>(SERVICE_STOPPED));
    EXPECT_EQ(WaitForProcessEnd(running->dwProcessId, 10000), std::optional<DWORD>(0));
    EXPECT_EQ(chat.Requests().size(), 1u);
  }  // the handle closes: the removal below is not held up by it
  ASSERT_EQ(RunProgram(L"/uninstall /silent"), 0u);
  ScHandle gone(OpenServiceW(scm.get(), kServiceName, SERVICE_ALL_ACCESS));
  EXPECT_FALSE(gone);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SERVICE_DOES_NOT_EXIST));
}

}  // namespace
