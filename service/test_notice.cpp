// The test switch: one test notice to the configured webhook, with the
// exchange's debug lines and a verdict on standard output, so that an
// administrator can check the URL, a proxy or a certificate before the
// service runs. Nothing is written to the settings and the event log is not
// read.
#include <functional>
#include <memory>

#include "platform/exception.h"
#include "platform/trace.h"
#include "service/vantrel_srv.h"

namespace vantrel {

namespace {

const char16_t kTestText[] = u"PSQL lisenssivalvonnan testiviesti ";

// The scheme and host (with its port) of a URL, without the path that holds
// the webhook's token and without any user name or password; empty when the
// URL has no "://".
String WebhookSite(const String& url) {
  const std::size_t scheme_end = url.find(u"://");
  if (scheme_end == String::npos) return String();
  const std::size_t host_start = scheme_end + 3;
  // A backslash ends it too: the exchange reads it as a slash.
  std::size_t host_end = url.find_first_of(u"/\\?#", host_start);
  if (host_end == String::npos) host_end = url.size();
  String authority = url.substr(host_start, host_end - host_start);
  if (const std::size_t at = authority.rfind(u'@'); at != String::npos) authority.erase(0, at + 1);
  return url.substr(0, host_start) + authority;
}

// Sends the debug lines to out while it lives, then to the platform's
// debug output again.
class DebugLinesTo {
 public:
  explicit DebugLinesTo(std::function<void(const String&)> out) { SetTraceSink(std::move(out)); }
  ~DebugLinesTo() { SetTraceSink(nullptr); }
  DebugLinesTo(const DebugLinesTo&) = delete;
  DebugLinesTo& operator=(const DebugLinesTo&) = delete;
};

}  // namespace

int TVantrelSrv::SendTestNotice() {
  Timer1.SetEnabled(false);  // no check runs in this process
  const auto& out = ports_.standard_output;
  DebugLinesTo debug_lines(out);
  try {
    // The settings as a check reads them, but opened for reading alone: a
    // user who may only read the settings can test, and nothing is created.
    String instance_name;
    std::unique_ptr<SettingsKey> reg;
    if (OpenSettingsForReading(reg)) {
      if (reg->ValueExists(u"chaturl")) fchatavain = reg->ReadString(u"chaturl");
      if (reg->ValueExists(u"instancename")) instance_name = reg->ReadString(u"instancename");
      reg->CloseKey();
    } else if (const long code = reg->LastError(); code != kRegSuccess) {
      // A file that cannot be parsed has said so in its debug line already.
      const String why = code == kRegFileNotFound   ? u", not found"
                         : code == kRegAccessDenied ? u", access denied"
                                                    : u"";
      out(u"Settings not read (code " + IntToStr(code) + why + u"): the built-in webhook and no instance name");
    }
    reg.reset();
    if (fchatavain.empty()) fchatavain = kDefaultChatUrl;

    MessageDocument doc;
    doc.InitFast();
    doc.SetMember(u"text", kTestText + instance_name + u", koneen nimi " + ports_.computer_name());
    const String site = WebhookSite(fchatavain);
    const String to = site.empty() ? String() : u" to " + site;
    const bool delivered = postaa(doc);
    out((delivered ? u"Test notice delivered" : u"Test notice not delivered") + to + u": " + last_post_.Describe());
    return delivered ? 0 : 1;
  } catch (...) {
    out(u"Test notice not sent: " + CurrentFailureMessage());
    return 1;
  }
}

}  // namespace vantrel
