// The test switch: one test notice to the configured webhook, with the
// exchange's debug lines and a verdict on standard output, so that an
// administrator can check the URL, a proxy or a certificate before the
// service runs. Nothing is written to the settings and the event log is not
// read. What it prints names the webhook by its scheme and host alone: the
// output ends up in terminals, tickets and screenshots, and the path and
// query of the URL are its token.
#include <functional>
#include <memory>

#include "notify/url.h"
#include "platform/exception.h"
#include "platform/trace.h"
#include "service/vantrel_srv.h"

namespace vantrel {

namespace {

const char16_t kTestText[] = u"PSQL lisenssivalvonnan testiviesti ";

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
  // The exchange's debug lines go to the same screen as the verdict, so a
  // URL in them is reduced as there; the service's own lines stay whole.
  DebugLinesTo debug_lines([&out](const String& line) { out(WithUrlsAsSites(line)); });
  try {
    // The settings as a check reads them, but opened for reading alone: a
    // user who may only read the settings can test, and nothing is created.
    String instance_name;
    std::unique_ptr<SettingsKey> reg;
    if (OpenSettingsForReading(reg)) {
      instance_name = ReadNoticeSettings(*reg);
      reg->CloseKey();
    } else if (const long code = reg->LastError(); code != kRegSuccess) {
      // A file that cannot be parsed has said so in its debug line already.
      const String why = code == kRegFileNotFound   ? u", not found"
                         : code == kRegAccessDenied ? u", access denied"
                                                    : u"";
      out(u"Settings not read (code " + IntToStr(code) + why + u"): the built-in webhook and no instance name");
    }
    reg.reset();
    UseBuiltInWebhookWhenUnset();

    MessageDocument doc;
    doc.InitFast();
    doc.SetMember(u"text", NoticeText(kTestText, instance_name));
    const String to = u" to " + BaseUrl(fchatavain).Site();
    const bool delivered = postaa(doc);
    out((delivered ? u"Test notice delivered" : u"Test notice not delivered") + to + u": " +
        WithUrlsAsSites(last_post_.Describe()));
    // What the service would do with the certificate, said as it is done;
    // the test itself stores nothing, so a first key is not pinned here.
    CertificateReport certificate = last_post_.certificate;
    const bool would_pin = !certificate.new_pin.empty();
    certificate.new_pin.clear();
    if (const String said = certificate.Text(); !said.empty()) {
      out(u"C" + said.substr(1) +
          (would_pin ? u"; 'tls' is 'pin': the service's first post pins this key as 'tlspin'" : u""));
    }
    return delivered ? 0 : 1;
  } catch (...) {
    out(u"Test notice not sent: " + WithUrlsAsSites(CurrentFailureMessage()));
    return 1;
  }
}

}  // namespace vantrel
