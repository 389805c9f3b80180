#include <windows.h>

#include "host/event_logger.h"
#include "service/certificate_note.h"
#include "service/vantrel_srv.h"

namespace vantrel {

void LogCertificateNote(const String& text) { EventLogger(kServiceName).LogMessage(text, EVENTLOG_WARNING_TYPE); }

}  // namespace vantrel
