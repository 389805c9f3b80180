#include <windows.h>

#include "platform/trace.h"
#include "platform/wide_text.h"

namespace vantrel {

void WriteDebugOutput(const String& line) { OutputDebugStringW(Wide(line)); }

}  // namespace vantrel
