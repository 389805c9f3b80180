#include "host/service_thread.h"

#include "platform/exception.h"

namespace vantrel {

void ProcessRequests(ServiceModule& service, ControlSource& source, bool wait_for_message) {
  for (;;) {
    if (service.Terminated() && wait_for_message) return;
    const std::optional<std::uint32_t> code = source.Next(wait_for_message);
    if (!code) return;
    service.DoControl(*code);
  }
}

void RunServiceThread(ServiceModule& service, ControlSource& source) {
  try {
    service.SetStatus(ServiceState::kStartPending);
  } catch (...) {
    service.LogMessage(StepFailureText(u"start", CurrentFailureMessage()));
    return;
  }
  try {
    service.SetStatus(ServiceState::kRunning);
    ProcessRequests(service, source, true);
    ProcessRequests(service, source, false);
  } catch (...) {
    service.LogMessage(StepFailureText(u"execute", CurrentFailureMessage()));
  }
}

bool WaitForChecksAtStop(ServiceModule& service, const std::function<bool(unsigned)>& checks_ended, unsigned report_ms,
                         unsigned limit_ms) {
  for (unsigned waited = 0; waited < limit_ms; waited += report_ms) {
    try {
      service.SetStatus(ServiceState::kStopPending);
    } catch (...) {
      // The service manager missed one report; the next one follows.
    }
    if (checks_ended(report_ms)) return true;
  }
  return false;
}

void RunStartSequence(ServiceModule& service, const std::function<void()>& run_service_thread) {
  service.SetStatus(ServiceState::kStartPending);
  String failure;
  bool failed = false;
  try {
    run_service_thread();
  } catch (...) {
    failed = true;
    failure = CurrentFailureMessage();
  }
  service.SetStatus(ServiceState::kStopped);
  if (failed) service.LogMessage(StepFailureText(u"execute", failure));
}

}  // namespace vantrel
