#include "service/certificate_note.h"

namespace vantrel {

// The status line names the certificate after every check.
void LogCertificateNote(const String&) {}

}  // namespace vantrel
