// The real program in service mode under Wine: started outside the service
// manager the dispatcher fails with 1063 and the process ends at once with
// code 0; while another process holds the settings key's claim it is refused
// and ends with code 1, writing the failure to the event log, with no box
// that would hold it (a service's box is on a desktop nobody sees).
#include <windows.h>

#include <gtest/gtest.h>

#include "platform/unique_handle.h"
#include "tests/host/run_program_win.h"

namespace {

using MutexHandle = vantrel::UniqueHandle<HANDLE, CloseHandle>;

TEST(ServiceBinaryWin, OutsideServiceManagerExitsZero) {
  EXPECT_EQ(vantrel::testing::RunProgram(L""), 0u);
}

TEST(ServiceBinaryWin, ASecondServiceProcessIsRefusedAndEndsWithoutABox) {
  // As a service process running its checks holds it.
  MutexHandle claim(CreateMutexW(nullptr, FALSE, L"Global\\VantrelSrv.settings"));
  ASSERT_TRUE(claim.get()) << GetLastError();
  ASSERT_NE(GetLastError(), static_cast<DWORD>(ERROR_ALREADY_EXISTS)) << "a Vantrel process is running";
  EXPECT_EQ(vantrel::testing::RunProgram(L""), 1u) << "a box would hold it until the wait runs out";
  claim.reset();
  EXPECT_EQ(vantrel::testing::RunProgram(L""), 0u) << "let go: the next start is not refused";
}

}  // namespace
