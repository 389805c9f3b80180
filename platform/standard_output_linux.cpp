#include <unistd.h>

#include "platform/fd_io_linux.h"
#include "platform/standard_output.h"

namespace vantrel {

// One write per line where the system takes it whole.
void WriteStandardOutputLine(const String& text) { WriteAll(STDOUT_FILENO, ToUtf8(text) + '\n'); }

}  // namespace vantrel
