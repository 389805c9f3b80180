#include <unistd.h>

#include "platform/fd_io_linux.h"
#include "platform/trace.h"

namespace vantrel {

// One write per line, so lines of several threads never interleave. A line
// that cannot be written (nobody reads standard error any more) is dropped;
// the service application ignores SIGPIPE so that this costs nothing else.
void WriteDebugOutput(const String& line) { WriteAll(STDERR_FILENO, ToUtf8(line) + '\n'); }

}  // namespace vantrel
