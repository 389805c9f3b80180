#include "platform/service_stop_win.h"

#include <atomic>

namespace vantrel {

namespace {

std::atomic<bool> g_announced{false};

// Made on first use and kept for the life of the process.
HANDLE StopEvent() {
  static const HANDLE event = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  return event;
}

}  // namespace

void AnnounceServiceStop() {
  g_announced = true;
  if (StopEvent()) SetEvent(StopEvent());
}

bool ServiceStopAnnounced() { return g_announced; }

HANDLE ServiceStopEvent() { return StopEvent(); }

void ForgetServiceStop() {
  g_announced = false;
  if (StopEvent()) ResetEvent(StopEvent());
}

}  // namespace vantrel
