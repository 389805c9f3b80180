#include "platform/fd_io_linux.h"

#include <unistd.h>

#include <cerrno>

namespace vantrel {

int WriteAll(int fd, std::string_view bytes) {
  while (!bytes.empty()) {
    const ssize_t n = ::write(fd, bytes.data(), bytes.size());
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return errno;
    if (n == 0) return EIO;
    bytes.remove_prefix(static_cast<std::size_t>(n));
  }
  return 0;
}

int ReadAll(int fd, std::string& out, std::size_t limit) {
  out.clear();
  char buffer[65536];
  for (;;) {
    const ssize_t n = ::read(fd, buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return errno;
    if (n == 0) return 0;
    if (static_cast<std::size_t>(n) > limit - out.size()) return EFBIG;
    out.append(buffer, static_cast<std::size_t>(n));
  }
}

}  // namespace vantrel
