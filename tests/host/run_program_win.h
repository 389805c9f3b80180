// Runs the real vantrel.exe, or another program of the prefix, with
// arguments and waits for it.
#pragma once

#include <windows.h>

#include <string>

#include "platform/unique_handle.h"

namespace vantrel::testing {

constexpr DWORD kCouldNotStart = 0xFFFFFFFF;
constexpr DWORD kDidNotEnd = 0xFFFFFFFE;

// Runs the command line (the program found on the search path, as the
// command prompt finds it) and returns its exit code; kCouldNotStart, or
// kDidNotEnd after 60 s (the process is then ended).
inline DWORD RunCommandLine(std::wstring command) {
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process{};
  if (!CreateProcessW(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process)) {
    return kCouldNotStart;
  }
  const UniqueHandle<HANDLE, CloseHandle> thread(process.hThread);
  const UniqueHandle<HANDLE, CloseHandle> child(process.hProcess);
  const DWORD waited = WaitForSingleObject(child.get(), 60000);
  DWORD code = STILL_ACTIVE;
  GetExitCodeProcess(child.get(), &code);
  if (waited != WAIT_OBJECT_0) TerminateProcess(child.get(), 1);
  return waited == WAIT_OBJECT_0 ? code : kDidNotEnd;
}

// The real vantrel.exe with arguments.
inline DWORD RunProgram(const std::wstring& arguments) {
  return RunCommandLine(L"\"" VANTREL_BINARY_W L"\" " + arguments);
}

}  // namespace vantrel::testing
