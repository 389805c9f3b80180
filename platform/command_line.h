// How this program splits a Windows command line into its arguments.
#pragma once

#include <vector>

#include "platform/text.h"

namespace vantrel {

// The arguments after the program name of a Windows command line: split at
// blanks and control characters, double quotes open and close stretches in
// which blanks do not split and are dropped, a pair of double quotes at the
// start of an argument is skipped, counting stops at the first empty one.
std::vector<String> SplitCommandLine(const String& command_line);

}  // namespace vantrel
