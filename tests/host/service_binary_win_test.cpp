// The real program in service mode under Wine, started outside the service
// manager: the dispatcher fails with 1063 and the process ends at once with
// code 0. That holds also while a service process holds the settings key's
// claim: the claim is taken where the service really starts, so a start from
// a console (or by a user who may not create a global object) is never
// refused in the service's name.
#include <windows.h>

#include <gtest/gtest.h>

#include "platform/unique_handle.h"
#include "tests/host/run_program_win.h"

namespace {

using MutexHandle = vantrel::UniqueHandle<HANDLE, CloseHandle>;

TEST(ServiceBinaryWin, OutsideServiceManagerExitsZero) { EXPECT_EQ(vantrel::testing::RunProgram(L""), 0u); }

TEST(ServiceBinaryWin, AConsoleStartWhileTheClaimIsHeldIsNoRefusal) {
  // As a service process running its checks holds it.
  MutexHandle claim(CreateMutexW(nullptr, FALSE, L"Global\\VantrelSrv.settings"));
  ASSERT_TRUE(claim.get()) << GetLastError();
  ASSERT_NE(GetLastError(), static_cast<DWORD>(ERROR_ALREADY_EXISTS)) << "a Vantrel process is running";
  EXPECT_EQ(vantrel::testing::RunProgram(L""), 0u) << "refused: the claim was taken outside the service's start";
}

}  // namespace
