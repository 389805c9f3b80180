#include <windows.h>

#include "host/system_text.h"

namespace vantrel {

String SystemErrorText(std::uint32_t code) {
  wchar_t* buffer = nullptr;
  const DWORD length = FormatMessageW(
      FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS | FORMAT_MESSAGE_ALLOCATE_BUFFER, nullptr, code, 0,
      reinterpret_cast<wchar_t*>(&buffer), 0, nullptr);
  String text;
  if (length && buffer) text.assign(reinterpret_cast<const char16_t*>(buffer), length);
  if (buffer) LocalFree(buffer);
  return TrimSystemText(std::move(text));
}

}  // namespace vantrel
