// Facts of the running process: the arguments it was started with and the
// executable it runs.
#pragma once

#include <vector>

#include "platform/text.h"

namespace vantrel {

// The program's arguments 1..n (Windows: its command line as SplitCommandLine
// splits it; Linux: /proc/self/cmdline).
std::vector<String> CommandLineArguments();

// The executable's full path, however long (Linux: "vantrel" when it cannot
// be read).
String ExecutablePath();

// The executable's file name with its extension, without the folder.
String ExecutableFileName();

}  // namespace vantrel
