// The service's start sequence and its service thread, with the platform's
// source of control codes behind one small interface.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>

#include "host/service_module.h"

namespace vantrel {

// The service thread's incoming control codes.
class ControlSource {
 public:
  virtual ~ControlSource() = default;
  // The next control code: waiting for one when wait is true (nothing when
  // the thread was told to quit), else only an already queued one (nothing
  // when none is queued).
  virtual std::optional<std::uint32_t> Next(bool wait) = 0;
};

// Takes control codes and acts on them: with wait, until stop or shutdown
// (or until the thread is told to quit); without, until the queue is empty.
void ProcessRequests(ServiceModule& service, ControlSource& source, bool wait_for_message);

// The body of the service thread: START_PENDING, RUNNING, then the control
// codes until stop, then those still queued. Failures are logged ("start" /
// "execute"), never raised.
void RunServiceThread(ServiceModule& service, ControlSource& source);

// Once the service thread has ended on a stop or shutdown: waits for the
// checks to end, checks_ended(ms) waiting up to ms and telling whether they
// have, and reports STOP_PENDING before each such wait of report_ms, its
// checkpoint advancing, for at most limit_ms in all. True when they ended.
// A report that fails changes nothing: the wait goes on.
bool WaitForChecksAtStop(ServiceModule& service, const std::function<bool(unsigned)>& checks_ended, unsigned report_ms,
                         unsigned limit_ms);

// The start sequence on the platform's ServiceMain thread: START_PENDING,
// run_service_thread (start it and wait for its end), then STOPPED; a
// failure of run_service_thread is logged after STOPPED as "execute".
void RunStartSequence(ServiceModule& service, const std::function<void()>& run_service_thread);

}  // namespace vantrel
