// The whole program under Wine, as an administrator sets it up: the real
// vantrel.exe installs itself, the webhook URL goes into the settings key,
// Wine's service manager starts it (net start), its first check posts the
// start notice to a webhook in this process and stores "lastrecnum", then
// net stop ends it and the program removes itself. Before and after the
// test no VantrelSrv is installed or running and the test's values are gone
// from the settings key.
#include <windows.h>

#include <gtest/gtest.h>

#include <chrono>
#include <optional>
#include <string>
#include <vector>

#include "tests/e2e/service_control_win.h"

namespace {

using namespace vantrel::testing;
using vantrel::UniqueHandle;

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

// The one-service claim is taken where the service really starts. A start
// by the service manager while another process holds it is refused: the
// service stops with the service-specific exit code 1, its process ends with
// 1 and nothing is posted. A start from a console while the service runs
// never comes that far: the dispatcher fails (1063) and it ends with 0,
// leaving the running service alone.
TEST_F(EndToEndWin, TheClaimIsTakenWhereTheServiceStarts) {
  TestServer chat({Answer("HTTP/1.1 200 OK")});
  ASSERT_EQ(RunProgram(L"/install /silent \"Demo 1\""), 0u);
  ASSERT_EQ(SetChatUrl(chat.Url("/hook")), ERROR_SUCCESS);
  ScHandle scm(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS));
  {
    ScHandle service(OpenServiceW(scm.get(), kServiceName, SERVICE_ALL_ACCESS));
    ASSERT_TRUE(service) << GetLastError();
    {
      // As another service process running its checks holds it.
      UniqueHandle<HANDLE, CloseHandle> held(CreateMutexW(nullptr, FALSE, L"Global\\VantrelSrv.settings"));
      ASSERT_TRUE(held) << GetLastError();
      ASSERT_NE(GetLastError(), static_cast<DWORD>(ERROR_ALREADY_EXISTS)) << "a Vantrel process is running";
      RunCommandLine(L"net.exe start VantrelSrv");  // what it says of the refusal is Wine's
      const auto refused = WaitForState(service.get(), SERVICE_STOPPED, 10000);
      ASSERT_TRUE(refused);
      EXPECT_EQ(refused->dwCurrentState, static_cast<DWORD>(SERVICE_STOPPED));
      EXPECT_EQ(refused->dwWin32ExitCode, static_cast<DWORD>(ERROR_SERVICE_SPECIFIC_ERROR));
      EXPECT_EQ(refused->dwServiceSpecificExitCode, 1u);
    }
    EXPECT_TRUE(chat.Requests().empty());

    ASSERT_EQ(RunCommandLine(L"net.exe start VantrelSrv"), 0u);
    const auto running = WaitForState(service.get(), SERVICE_RUNNING, 10000);
    ASSERT_TRUE(running && running->dwCurrentState == SERVICE_RUNNING);
    ASSERT_TRUE(WaitForRequests(chat, 1, 20000)) << "no notice reached the webhook";
    EXPECT_EQ(RunProgram(L""), 0u) << "a console start was refused in the service's name";
    const auto still = QueryStatus(service.get());
    ASSERT_TRUE(still);
    EXPECT_EQ(still->dwCurrentState, static_cast<DWORD>(SERVICE_RUNNING));
    EXPECT_EQ(still->dwProcessId, running->dwProcessId);
    ASSERT_EQ(RunCommandLine(L"net.exe stop VantrelSrv"), 0u);
    EXPECT_EQ(WaitForProcessEnd(running->dwProcessId, 10000), std::optional<DWORD>(0));
  }
  EXPECT_EQ(chat.Requests().size(), 1u);
}

// A stop while the start notice's post is held by the webhook, before its
// answer or after a 200's head: net stop ends the service within 2 s (the
// post's own process ended with it), and a start right after the stop runs
// and posts the notice again.
TEST_F(EndToEndWin, AStopDuringAHeldPostEndsWithinTwoSecondsAndAStartRightAfterWorks) {
  struct Row {
    const char* name;
    std::vector<std::string> answers;
    TestServer::Reply reply;
  } rows[] = {
      {"no answer", {}, TestServer::Reply::kSilent},
      {"a 200's head, then silence",
       {"HTTP/1.1 200 OK\r\nContent-Length: 100\r\n\r\n12345"},
       TestServer::Reply::kThenSilent},
  };
  ASSERT_EQ(RunProgram(L"/install /silent \"Demo 1\""), 0u);
  ScHandle scm(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS));
  ASSERT_TRUE(scm) << GetLastError();
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    DeleteTestValues();
    TestServer held(row.answers, row.reply);
    ASSERT_EQ(SetChatUrl(held.Url("/hook")), ERROR_SUCCESS);
    ScHandle service(OpenServiceW(scm.get(), kServiceName, SERVICE_ALL_ACCESS));
    ASSERT_TRUE(service) << GetLastError();
    ASSERT_EQ(RunCommandLine(L"net.exe start VantrelSrv"), 0u);
    const auto running = WaitForState(service.get(), SERVICE_RUNNING, 10000);
    ASSERT_TRUE(running && running->dwCurrentState == SERVICE_RUNNING);
    ASSERT_TRUE(WaitForRequests(held, 1, 20000)) << "no notice reached the webhook";

    const auto before_stop = std::chrono::steady_clock::now();
    EXPECT_EQ(RunCommandLine(L"net.exe stop VantrelSrv"), 0u);
    EXPECT_EQ(WaitForProcessEnd(running->dwProcessId, 10000), std::optional<DWORD>(0));
    EXPECT_LT(std::chrono::steady_clock::now() - before_stop, std::chrono::seconds(2));
    const auto stopped = QueryStatus(service.get());
    ASSERT_TRUE(stopped);
    EXPECT_EQ(stopped->dwCurrentState, static_cast<DWORD>(SERVICE_STOPPED));
    EXPECT_EQ(StoredRecordNumber(), std::optional<DWORD>(0));  // watching starts before the start notice

    // At once: no claim and no process of the old service stands in the way.
    DeleteTestValues();
    TestServer chat({Answer("HTTP/1.1 200 OK")});
    ASSERT_EQ(SetChatUrl(chat.Url("/hook")), ERROR_SUCCESS);
    ASSERT_EQ(RunCommandLine(L"net.exe start VantrelSrv"), 0u);
    const auto again = WaitForState(service.get(), SERVICE_RUNNING, 10000);
    ASSERT_TRUE(again && again->dwCurrentState == SERVICE_RUNNING);
    ASSERT_TRUE(WaitForRequests(chat, 1, 20000)) << "no notice after the start";
    EXPECT_EQ(held.Requests().size(), 1u);
    ASSERT_EQ(RunCommandLine(L"net.exe stop VantrelSrv"), 0u);
    EXPECT_EQ(WaitForProcessEnd(again->dwProcessId, 10000), std::optional<DWORD>(0));
  }
  ASSERT_EQ(RunProgram(L"/uninstall /silent"), 0u);
}

}  // namespace
