#include <windows.h>

#include "platform/standard_output.h"

namespace vantrel {

// A console takes the UTF-16 characters, so every letter shows whatever its
// code page; a file or a pipe gets UTF-8 with CR LF.
void WriteStandardOutputLine(const String& text) {
  const HANDLE out = GetStdHandle(STD_OUTPUT_HANDLE);
  if (out == nullptr || out == INVALID_HANDLE_VALUE) return;
  DWORD mode = 0;
  if (GetConsoleMode(out, &mode)) {
    const String line = text + u"\r\n";
    DWORD written = 0;
    WriteConsoleW(out, reinterpret_cast<const wchar_t*>(line.data()), static_cast<DWORD>(line.size()), &written,
                  nullptr);
    return;
  }
  const std::string bytes = ToUtf8(text) + "\r\n";
  const char* p = bytes.data();
  std::size_t left = bytes.size();
  while (left > 0) {
    DWORD written = 0;
    if (!WriteFile(out, p, static_cast<DWORD>(left), &written, nullptr) || written == 0) return;
    p += written;
    left -= written;
  }
}

}  // namespace vantrel
