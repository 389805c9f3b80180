#include <windows.h>

#include "platform/module_message_win.h"
#include "platform/system_text.h"
#include "platform/unique_handle.h"

namespace vantrel {

namespace {

// The message of code from the module's message table (when given), then the
// system's, as FormatMessageW gives it; empty when neither has one.
String FormatMessageText(std::uint32_t code, HMODULE module) {
  DWORD flags = FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS | FORMAT_MESSAGE_ALLOCATE_BUFFER;
  if (module) flags |= FORMAT_MESSAGE_FROM_HMODULE;
  wchar_t* buffer = nullptr;
  const DWORD length = FormatMessageW(flags, module, code, 0, reinterpret_cast<wchar_t*>(&buffer), 0, nullptr);
  const UniqueHandle<HLOCAL, LocalFree> owned(buffer);
  String text;
  if (length && buffer) text.assign(reinterpret_cast<const char16_t*>(buffer), length);
  return text;
}

}  // namespace

String SystemErrorText(std::uint32_t code) { return TrimSystemText(FormatMessageText(code, nullptr)); }

String ModuleMessageText(std::uint32_t code, const wchar_t* module_name) {
  return FormatMessageText(code, GetModuleHandleW(module_name));
}

}  // namespace vantrel
