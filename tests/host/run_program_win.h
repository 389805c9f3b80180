// Runs the real vantrel.exe with arguments and waits for it.
#pragma once

#include <windows.h>

#include <string>

namespace vantrel::testing {

constexpr DWORD kCouldNotStart = 0xFFFFFFFF;
constexpr DWORD kDidNotEnd = 0xFFFFFFFE;

// The program's exit code; kCouldNotStart, or kDidNotEnd after 60 s (the
// process is then ended).
inline DWORD RunProgram(const std::wstring& arguments) {
  std::wstring command = L"\"" VANTREL_BINARY_W L"\" " + arguments;
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process{};
  if (!CreateProcessW(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process)) {
    return kCouldNotStart;
  }
  const DWORD waited = WaitForSingleObject(process.hProcess, 60000);
  DWORD code = STILL_ACTIVE;
  GetExitCodeProcess(process.hProcess, &code);
  if (waited != WAIT_OBJECT_0) TerminateProcess(process.hProcess, 1);
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  return waited == WAIT_OBJECT_0 ? code : kDidNotEnd;
}

}  // namespace vantrel::testing
