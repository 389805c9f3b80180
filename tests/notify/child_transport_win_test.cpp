// The Windows transport: each attempt made by a fresh process of the program
// inside a job object; the service's stop ends a running attempt at once and
// leaves no process behind; an attempt after the stop sends nothing.
#include <windows.h>
#include <tlhelp32.h>

#include <gtest/gtest.h>

#include "notify/attempt_process.h"
#include "platform/service_stop_win.h"
#include "platform/unique_handle.h"
#include "tests/notify/attempt_cases.h"
#include "tests/notify/test_server.h"

namespace vantrel {
namespace {

using testing::Answer;
using testing::Attempt;
using testing::AttemptTo;
using testing::Outcome;
using testing::TestServer;

// How many processes this one has started that still run.
int LiveChildren() {
  const UniqueHandle<HANDLE, CloseHandle> snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
  PROCESSENTRY32W entry{};
  entry.dwSize = sizeof entry;
  int count = 0;
  for (BOOL more = Process32FirstW(snapshot.get(), &entry); more; more = Process32NextW(snapshot.get(), &entry)) {
    if (entry.th32ParentProcessID != GetCurrentProcessId()) continue;
    const UniqueHandle<HANDLE, CloseHandle> child(OpenProcess(SYNCHRONIZE, FALSE, entry.th32ProcessID));
    if (child && WaitForSingleObject(child.get(), 0) == WAIT_TIMEOUT) ++count;
  }
  return count;
}

TEST(ChildTransportWinTest, TheAnswerComesBackFromTheAttemptsProcess) {
  testing::ExpectTheAnswerComesBack(LiveChildren);
}

// The service's stop ends a running attempt within 2 s and leaves no
// process behind, whatever the server had sent.
TEST(ChildTransportWinTest, TheServicesStopEndsTheAttempt) {
  testing::ExpectTheStopEndsTheAttempt(AnnounceServiceStop, ForgetServiceStop, LiveChildren);
}

// A stop announced before the attempt starts: nothing is started or sent.
TEST(ChildTransportWinTest, AnAttemptAfterTheStopEndsAtOnce) {
  testing::ExpectAnAttemptAfterTheStopEndsAtOnce(AnnounceServiceStop, ForgetServiceStop, LiveChildren);
}

// Started with the attempt's variable but not by the service (no pipes
// behind its numbers), the program runs as it would without it.
TEST(ChildTransportWinTest, TheVariableAloneIsNoAttempt) {
  ASSERT_TRUE(SetEnvironmentVariableW(L"VANTREL_HTTP_ATTEMPT", L"1:2:3"));
  EXPECT_EQ(RunHttpAttemptProcess(), std::nullopt);
  wchar_t buffer[16];
  EXPECT_EQ(GetEnvironmentVariableW(L"VANTREL_HTTP_ATTEMPT", buffer, 16), 0u);
}

}  // namespace
}  // namespace vantrel
