// Windows: the message text of a code from a loaded module's message table.
#pragma once

#include <cstdint>

#include "platform/text.h"

namespace vantrel {

// The text of code from the message table of a loaded module (winhttp.dll,
// say), else the system's, as it stands; empty when neither has one.
String ModuleMessageText(std::uint32_t code, const wchar_t* module_name);

}  // namespace vantrel
