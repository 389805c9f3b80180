// Debug output: the program's name=value diagnostic lines. On Windows they go
// to the debugger output stream; on Linux one line per call to standard error.
#pragma once

#include <functional>

#include "platform/text.h"

namespace vantrel {

// Writes name + "=" + value as one debug line.
void TraceValue(const String& name, const String& value = String());

// Writes text as one debug line as it stands (no "=" added).
void TraceLine(const String& text);

// Receives every debug line in place of the platform output; tests use it to
// read the lines. An empty sink restores the platform output.
using TraceSink = std::function<void(const String& line)>;
void SetTraceSink(TraceSink sink);

// The platform's debug output for one line.
void WriteDebugOutput(const String& line);

}  // namespace vantrel
