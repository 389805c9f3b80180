// How this program splits a Windows command line into its arguments.
#pragma once

#include <vector>

#include "platform/text.h"

namespace vantrel {

// The arguments after the program name of a Windows command line: split at
// blanks and control characters, double quotes open and close stretches in
// which blanks do not split and are dropped; before an argument begins,
// pairs of double quotes are skipped with the blanks after them, so the
// line's end is the only place where an argument comes out empty and the
// count stops.
std::vector<String> SplitCommandLine(const String& command_line);

}  // namespace vantrel
