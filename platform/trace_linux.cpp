#include <unistd.h>

#include <cerrno>

#include "platform/trace.h"

namespace vantrel {

// One write per line, so lines of several threads never interleave. A line
// that cannot be written (nobody reads standard error any more) is dropped;
// the service application ignores SIGPIPE so that this costs nothing else.
void WriteDebugOutput(const String& line) {
  std::string bytes = ToUtf8(line);
  bytes += '\n';
  const char* p = bytes.data();
  std::size_t left = bytes.size();
  while (left > 0) {
    ssize_t n = ::write(STDERR_FILENO, p, left);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return;
    p += n;
    left -= static_cast<std::size_t>(n);
  }
}

}  // namespace vantrel
