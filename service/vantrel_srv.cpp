#include "service/vantrel_srv.h"

#include <memory>

#include "host/event_logger.h"
#include "host/status_note.h"
#include "platform/environment.h"
#include "platform/local_clock.h"
#include "platform/standard_output.h"
#include "service/certificate_note.h"

namespace vantrel {

const char16_t kDefaultChatUrl[] =
    u"https://chat.tresk.fi/hooks/vantrelnotices001/"
    u"Zq7Xk2Lm9Pw4Rt6Yb8Nc3Vd5Hf1Jg0Sa2Qe4Wr6Ty8Ui0Op3";

ModulePorts::ModulePorts()
    : computer_name(ComputerName),
      local_time(LocalNow),
      utc_offset_minutes(LocalUtcOffsetMinutes),
      check_status(PublishStatusNote),
      certificate_log(LogCertificateNote),
      standard_output(WriteStandardOutputLine) {}

TVantrelSrv::TVantrelSrv(const PeriodicTimer::PortFactory& make_timer, ModulePorts ports)
    : ServiceModule(u"VantrelSrv", u"Vantrel"), ports_(std::move(ports)), Timer1(make_timer) {
  Timer1.SetOnTimer([this] { Timer1Timer(&Timer1); });
  if (!ports_.check_event && !kStatusNoteShown) {
    // A writer of its own: the service thread writes through the module's.
    auto writer = std::make_shared<EventLogger>(Name());
    ports_.check_event = [writer](const String& text, bool warning) {
      constexpr std::uint16_t kWarning = 2, kInformation = 4;
      writer->LogMessage(text, warning ? kWarning : kInformation);
    };
  }
}

TVantrelSrv::~TVantrelSrv() = default;

}  // namespace vantrel
