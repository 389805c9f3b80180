#include <unistd.h>

#include <cerrno>

#include "platform/standard_output.h"

namespace vantrel {

// One write per line where the system takes it whole.
void WriteStandardOutputLine(const String& text) {
  std::string bytes = ToUtf8(text);
  bytes += '\n';
  const char* p = bytes.data();
  std::size_t left = bytes.size();
  while (left > 0) {
    const ssize_t n = ::write(STDOUT_FILENO, p, left);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return;
    p += n;
    left -= static_cast<std::size_t>(n);
  }
}

}  // namespace vantrel
