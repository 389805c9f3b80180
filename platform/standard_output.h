// The program's standard output, for the few modes that answer a person at
// a command prompt rather than a log.
#pragma once

#include "platform/text.h"

namespace vantrel {

// Writes text and a line end to standard output: UTF-8 to a file or a pipe,
// the characters themselves to a Windows console. Output that cannot be
// written is dropped.
void WriteStandardOutputLine(const String& text);

}  // namespace vantrel
