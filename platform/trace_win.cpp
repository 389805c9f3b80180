#include <windows.h>

#include "platform/trace.h"

namespace vantrel {

void WriteDebugOutput(const String& line) {
  OutputDebugStringW(reinterpret_cast<const wchar_t*>(line.c_str()));
}

}  // namespace vantrel
