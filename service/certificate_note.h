// Where the service says, once, that its notices go to a chat server whose
// certificate did not verify: the Application log on Windows, where an
// administrator looks. On Linux the status line says it after every check,
// so nothing more is written there.
#pragma once

#include "platform/text.h"

namespace vantrel {

// Writes text as one warning entry of the service's event source; never
// raises.
void LogCertificateNote(const String& text);

}  // namespace vantrel
