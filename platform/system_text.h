// The operating system's message for an error code.
#pragma once

#include <cstdint>

#include "platform/text.h"

namespace vantrel {

// The system's text for code (Windows: the system message table; Linux: the
// errno text), trailing blanks, control characters and periods removed.
String SystemErrorText(std::uint32_t code);

// Removes trailing blanks, control characters and periods.
String TrimSystemText(String text);

}  // namespace vantrel
