// The service's status as the service manager sees it: the states, the one
// status record of a report, and the sink that a report goes to.
#pragma once

#include <cstdint>
#include <optional>

#include "platform/text.h"

namespace vantrel {

// Each value is the service manager's state number (dwCurrentState).
enum class ServiceState : std::uint32_t {
  kStopped = 1,
  kStartPending = 2,
  kStopPending = 3,
  kRunning = 4,
  kContinuePending = 5,
  kPausePending = 6,
  kPaused = 7,
};

// True for the four states that announce a change still under way.
bool IsPending(ServiceState status);

// A readable name of the state ("Running", "Stop pending", ...).
String StatusText(ServiceState status);

// One status report, field for field the platform's SERVICE_STATUS record.
struct ServiceStatusRecord {
  std::uint32_t service_type = 0x10;  // own process
  ServiceState current_state = ServiceState::kStopped;
  std::uint32_t controls_accepted = 0;
  std::uint32_t win32_exit_code = 0;
  std::uint32_t service_specific_exit_code = 0;
  std::uint32_t check_point = 0;
  std::uint32_t wait_hint = 0;

  bool operator==(const ServiceStatusRecord&) const = default;
};

// Where status reports go: the service manager, systemd, or a test recorder.
class StatusSink {
 public:
  virtual ~StatusSink() = default;
  // Sends one report; returns the failure's text when the platform refused
  // it, nothing when it went through (or there is no one to tell). A thrown
  // failure counts as a failure of the action that made the report.
  virtual std::optional<String> Send(const ServiceStatusRecord& record) = 0;
};

}  // namespace vantrel
