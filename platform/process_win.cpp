#include <windows.h>

#include <vector>

#include "platform/command_line.h"
#include "platform/process.h"
#include "platform/wide_text.h"

namespace vantrel {

std::vector<String> CommandLineArguments() {
  return SplitCommandLine(reinterpret_cast<const char16_t*>(GetCommandLineW()));
}

String ExecutablePath() {
  // A path that does not fit comes back cut to the buffer's size: it is read
  // again into a larger one, up to the longest path Windows has.
  std::vector<wchar_t> path(MAX_PATH);
  for (;;) {
    const DWORD n = GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
    if (n < path.size() || path.size() > 32768) return FromWide(path.data(), n);
    path.resize(path.size() * 2);
  }
}

String ExecutableFileName() {
  const String path = ExecutablePath();
  return path.substr(path.find_last_of(u"\\/") + 1);
}

}  // namespace vantrel
