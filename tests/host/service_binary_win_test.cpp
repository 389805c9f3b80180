// The real program started outside the service manager: the dispatcher
// fails with 1063 and the process ends at once with code 0.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>

namespace {

TEST(ServiceBinaryWin, OutsideServiceManagerExitsZero) {
  std::wstring command = L"\"" VANTREL_BINARY_W L"\"";
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process{};
  ASSERT_TRUE(CreateProcessW(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                             &process))
      << GetLastError();
  const DWORD waited = WaitForSingleObject(process.hProcess, 60000);
  DWORD code = 259;
  GetExitCodeProcess(process.hProcess, &code);
  if (waited != WAIT_OBJECT_0) TerminateProcess(process.hProcess, 1);
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  ASSERT_EQ(waited, WAIT_OBJECT_0);
  EXPECT_EQ(code, 0u);
}

}  // namespace
