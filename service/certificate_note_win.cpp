#include <windows.h>

#include "host/event_logger.h"
#include "service/certificate_note.h"

namespace vantrel {

void LogCertificateNote(const String& text) { EventLogger(u"VantrelSrv").LogMessage(text, EVENTLOG_WARNING_TYPE); }

}  // namespace vantrel
