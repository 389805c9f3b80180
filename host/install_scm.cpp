#include "host/install_scm.h"

#include "platform/exception.h"

namespace vantrel {

String QuotedBinaryPath(const String& path) { return path.find(u' ') == String::npos ? path : u"\"" + path + u"\""; }

String OsFailureMessage(std::uint32_t code, const String& system_text) {
  if (code == 0) return u"A call to an OS function failed";
  return u"System Error.  Code: " + IntToStr(code) + u".\r\n" + system_text;
}

void RaiseOsFailure(std::uint32_t code) { throw Exception(OsFailureMessage(code, ScmErrorText(code))); }

}  // namespace vantrel
