#include "platform/service_stop_linux.h"

#include <sys/eventfd.h>
#include <unistd.h>

#include <atomic>
#include <cstdint>

namespace vantrel {

namespace {

std::atomic<bool> g_announced{false};

// Made on first use and kept for the life of the process. Its count is
// never read back while the stop stands, so it stays readable.
int StopEventFd() {
  static const int fd = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
  return fd;
}

}  // namespace

void AnnounceServiceStop() {
  g_announced = true;
  const std::uint64_t one = 1;
  if (StopEventFd() >= 0) (void)!write(StopEventFd(), &one, sizeof one);
}

bool ServiceStopAnnounced() { return g_announced; }

int ServiceStopDescriptor() { return StopEventFd(); }

void ForgetServiceStop() {
  g_announced = false;
  std::uint64_t count = 0;
  if (StopEventFd() >= 0) (void)!read(StopEventFd(), &count, sizeof count);
}

}  // namespace vantrel
