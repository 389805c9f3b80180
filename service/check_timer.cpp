#include "notify/exchange_failure.h"
#include "platform/exception.h"
#include "platform/memory_release.h"
#include "platform/trace.h"
#include "service/check_schedule.h"
#include "service/vantrel_srv.h"

namespace vantrel {

void TVantrelSrv::Timer1Timer(void*) {
  TraceLine(u"vantrel timer");
  String failure;
  String details;  // the failure as the status line gives it
  bool checked = false;
  try {
    // fedellinenajo is the time the last completed check ended. The gap is
    // measured from it, not from the previous tick: ticks come every ten
    // minutes, so a gap between ticks would never reach the threshold and a
    // running service would check only once after its start.
    const DateTime now = ports_.local_time();
    if (HoursBetween(now, fedellinenajo) < kHoursBetweenChecks) return;
    checked = true;
    TarkastaLogit();
    ReturnFreedMemory();
    Timer1.SetInterval(kTickIntervalMs);
    Timer1.SetEnabled(true);
    fedellinenajo = ports_.local_time();
    PublishCheckOutcome(CheckStatusText(report_, fedellinenajo, String()),
                        report_.notice == CheckReport::Notice::kNotDelivered || query_failure_.has_value());
    return;
  } catch (const SessionHandleFailure& e) {
    // The debug line keeps the message alone; the reason goes to the status.
    failure = e.Message();
    details = e.Details();
  } catch (...) {
    failure = details = CurrentFailureMessage();
  }
  TraceValue(failure);
  TraceValue(String());  // the stack trace text, always empty
  if (checked) PublishCheckOutcome(CheckStatusText(report_, ports_.local_time(), details), true);
}

void TVantrelSrv::PublishCheckOutcome(const String& status_line, bool failed) {
  ports_.check_status(status_line);
  if (failed == checks_failing_) return;
  checks_failing_ = failed;
  if (!ports_.check_event) return;
  if (!failed) {
    ports_.check_event(u"Checks succeed again. " + status_line, false);
  } else if (query_failure_) {
    // The status line counts the entries found: none, as the log could not
    // be asked.
    ports_.check_event(u"The event log could not be asked: " + *query_failure_ + u". " + status_line, true);
  } else {
    ports_.check_event(status_line, true);
  }
}

}  // namespace vantrel
