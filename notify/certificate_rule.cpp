#include "notify/certificate_rule.h"

#include "platform/ascii.h"

namespace vantrel {

namespace {

// 64 hexadecimal digits, lower-cased, once colons and blanks are taken
// out; empty when text is no SHA-256 fingerprint.
std::string FingerprintOf(const String& text) {
  std::string hex;
  for (char16_t c : text) {
    if (c == u':' || c == u' ' || c == u'\t') continue;
    const bool digit = (c >= u'0' && c <= u'9') || (c >= u'a' && c <= u'f') || (c >= u'A' && c <= u'F');
    if (!digit) return std::string();
    hex += AsciiLower(static_cast<char>(c));
  }
  return hex.size() == 64 ? hex : std::string();
}

String KeyChanged(const std::string& shown, const std::string& pinned) {
  return u"The server's key has changed: SHA-256 " + FromUtf8(shown) + u", pinned " + FromUtf8(pinned) +
         u"; nothing was sent. To accept the new key, delete 'tlspin' or set it to the new fingerprint";
}

}  // namespace

TlsChoice ReadTlsChoice(const std::optional<String>& tls, const std::optional<String>& tlspin) {
  TlsChoice choice;
  if (!tls) return choice;
  const std::string value = AsciiLowered(Trim(ToUtf8(*tls)));
  if (value == "accept") return choice;
  if (value == "verify") {
    choice.mode = TlsMode::kVerify;
    return choice;
  }
  if (value != "pin") {
    choice.problem =
        u"Invalid value '" + *tls + u"' for 'tls' (accept, verify or pin): certificates are accepted as without it";
    return choice;
  }
  choice.mode = TlsMode::kPin;
  if (tlspin && !tlspin->empty()) {
    choice.pin = FingerprintOf(*tlspin);
    if (choice.pin.empty()) {
      choice.pin_invalid = true;
      choice.problem =
          u"Invalid value for 'tlspin': not a SHA-256 fingerprint (64 hexadecimal digits); nothing is sent to a "
          u"server whose certificate does not verify until it is deleted or set to the server's fingerprint";
    }
  }
  return choice;
}

String CertificateFacts::Problems() const {
  String out;
  const auto add = [&out](bool failed, std::u16string_view what) {
    if (!failed) return;
    if (!out.empty()) out += u", ";
    out += what;
  };
  add(unknown_authority, u"unknown authority");
  add(wrong_name, u"name");
  add(bad_dates, u"dates");
  add(other_problem, u"other");
  return out;
}

bool CertificateAdmitted(const CertificateGate& gate, const CertificateFacts& facts) {
  if (facts.Verifies()) return true;
  if (gate.checks_on) return false;
  return gate.accepted_key.empty() || facts.key_sha256 == gate.accepted_key;
}

CertificateStep AfterCertificateRefused(const TlsChoice& choice, const CertificateGate& gate,
                                        const CertificateFacts& refused, const String& transport_failure) {
  CertificateStep step;
  const std::string& key = refused.key_sha256;
  if (!gate.checks_on) {
    // Refused with the checks off: another key came than the one accepted,
    // or the channel failed again; either ends the exchange.
    step.failure = !gate.accepted_key.empty() && !key.empty() && key != gate.accepted_key
                       ? KeyChanged(key, gate.accepted_key)
                       : transport_failure;
    return step;
  }
  switch (choice.mode) {
    case TlsMode::kAccept: step.retry = true; return step;
    case TlsMode::kVerify: {
      String why = refused.Problems();
      if (!key.empty()) why += (why.empty() ? u"key SHA-256 " : u"; key SHA-256 ") + FromUtf8(key);
      step.failure = u"The server's certificate does not verify" + (why.empty() ? String() : u" (" + why + u")") +
                     u": 'tls' is 'verify', so nothing was sent";
      return step;
    }
    case TlsMode::kPin: break;
  }
  if (choice.pin_invalid) {
    step.failure = choice.problem;
  } else if (key.empty()) {
    step.failure = transport_failure;  // no key to pin or to compare
  } else if (choice.pin.empty() || choice.pin == key) {
    step.retry = true;
    step.accepted_key = key;
  } else {
    step.failure = KeyChanged(key, choice.pin);
  }
  return step;
}

String CertificateReport::Text() const {
  if (!checks_off) return String();
  String text = u"certificate not verified";
  const String problems = shown.Problems();
  if (!problems.empty()) text += u": " + problems;
  text += u", key SHA-256 " + FromUtf8(shown.key_sha256);
  if (!new_pin.empty()) return text + u", sent with the checks off and its key pinned";
  if (by_pin) return text + u", accepted by its pinned key";
  return text + u", sent with the checks off";
}

CertificateReport ReportCertificate(const TlsChoice& choice, const CertificateGate& gate,
                                    const CertificateFacts& refused, const CertificateFacts& final) {
  CertificateReport report;
  if (gate.checks_on) return report;
  report.checks_off = true;
  report.shown = refused;
  if (!final.key_sha256.empty()) report.shown.key_sha256 = final.key_sha256;
  if (choice.mode == TlsMode::kPin) {
    if (choice.pin.empty())
      report.new_pin = report.shown.key_sha256;
    else
      report.by_pin = true;
  }
  return report;
}

}  // namespace vantrel
