#include "platform/exception.h"
#include "platform/memory_release.h"
#include "platform/trace.h"
#include "service/vantrel_srv.h"

namespace vantrel {

namespace {

constexpr std::uint32_t kCheckIntervalMs = 600000;
constexpr std::int64_t kHoursBetweenChecks = 11;  // a check needs more than this

}  // namespace

void TVantrelSrv::Timer1Timer(void*) {
  TraceLine(u"vantrel timer");
  String failure;
  try {
    // fedellinenajo is the time the last completed check ended. The gap is
    // measured from it, not from the previous tick: ticks come every ten
    // minutes, so a gap between ticks would never reach the threshold and a
    // running service would check only once after its start.
    const DateTime now = ports_.local_time();
    if (HoursBetween(now, fedellinenajo) > kHoursBetweenChecks) {
      TarkastaLogit();
      ReturnFreedMemory();
      Timer1.SetInterval(kCheckIntervalMs);
      Timer1.SetEnabled(true);
      fedellinenajo = ports_.local_time();
    }
    return;
  } catch (...) {
    failure = CurrentFailureMessage();
  }
  TraceValue(failure);
  TraceValue(String());  // the stack trace text, always empty
}

}  // namespace vantrel
