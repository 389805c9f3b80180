#include "service/real_ports.h"

#include <memory>

#include "host/event_logger.h"
#include "host/status_note.h"
#include "notify/poster.h"
#include "platform/environment.h"
#include "platform/local_clock.h"
#include "platform/standard_output.h"
#include "service/certificate_note.h"
#include "settings/settings_key.h"
#include "watch/event_log_query.h"

namespace vantrel {

ModulePorts RealModulePorts() {
  ModulePorts ports;
  ports.settings_key = NewSettingsKeyBackend;
  ports.query_event_log = QueryEventLog;
  ports.post_to_webhook = PostToWebhook;
  ports.computer_name = ComputerName;
  ports.local_time = LocalNow;
  ports.utc_offset_minutes = LocalUtcOffsetMinutes;
  ports.check_status = PublishStatusNote;
  ports.certificate_log = LogCertificateNote;
  ports.standard_output = WriteStandardOutputLine;
  if (!kStatusNoteShown) {
    // A writer of its own: the service thread writes through the module's.
    auto writer = std::make_shared<EventLogger>(kServiceName);
    ports.check_event = [writer](const String& text, bool warning) {
      constexpr std::uint16_t kWarning = 2, kInformation = 4;
      writer->LogMessage(text, warning ? kWarning : kInformation);
    };
  }
  return ports;
}

}  // namespace vantrel
