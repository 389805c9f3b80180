// What the exchange does with a chat server's certificate, decided here for
// both platforms: the transports only tell what they saw (did the
// certificate verify, and if not why; the SHA-256 of its public key) and
// obey (send or not, and which key they may accept with the checks off).
//
// The setting "tls" chooses the rule: missing or "accept", a certificate
// that does not verify is accepted and the notice sent again with the
// checks off; "verify", never; "pin", trust on first use: the first key
// accepted with the checks off is stored as "tlspin", and later only a
// certificate that verifies or shows that key is accepted.
#pragma once

#include <optional>
#include <string>

#include "platform/text.h"

namespace vantrel {

enum class TlsMode { kAccept, kVerify, kPin };

// The settings "tls" and "tlspin" as read.
struct TlsChoice {
  TlsMode mode = TlsMode::kAccept;
  std::string pin;           // "tlspin" as 64 lower-case hexadecimal digits; empty when none
  bool pin_invalid = false;  // "tlspin" is set but is no SHA-256 fingerprint
  String problem;            // why "tls" or "tlspin" is not used as given; empty when both are fine
};

// Reads "tls" (missing: nullopt) and "tlspin". An unknown "tls" gives the
// accept rule with problem naming the value. In "tlspin" letter case,
// colons and blanks do not count.
TlsChoice ReadTlsChoice(const std::optional<String>& tls, const std::optional<String>& tlspin);

// What a transport saw of a server's certificate in one attempt.
struct CertificateFacts {
  bool seen = false;  // a certificate was shown (an https handshake got that far)
  bool unknown_authority = false;
  bool wrong_name = false;  // it is not for the host the URL names
  bool bad_dates = false;   // expired or not yet valid
  bool other_problem = false;
  std::string key_sha256;  // SHA-256 of its SubjectPublicKeyInfo, 64 lower-case hex digits

  bool Verifies() const { return seen && !unknown_authority && !wrong_name && !bad_dates && !other_problem; }
  // "unknown authority, name, dates": what failed, in that order.
  String Problems() const;
};

// What a transport is told about one https attempt.
struct CertificateGate {
  bool checks_on = true;
  // With the checks off, only a certificate with this key may be sent to
  // (hex, as key_sha256); empty: any.
  std::string accepted_key;
};

// A transport asks this after the handshake, before the request goes out:
// true when the request may be sent to the server that showed facts.
bool CertificateAdmitted(const CertificateGate& gate, const CertificateFacts& facts);

// What the exchange does after an attempt was refused for its certificate.
struct CertificateStep {
  bool retry = false;  // send again with the checks off, to accepted_key (any when empty)
  std::string accepted_key;
  String failure;  // when not retried: the exchange's failure message
};

// choice: the settings; gate: the refused attempt's; refused: what it saw;
// transport_failure: the transport's own message for it.
CertificateStep AfterCertificateRefused(const TlsChoice& choice, const CertificateGate& gate,
                                        const CertificateFacts& refused, const String& transport_failure);

// What an exchange that got its answer did with the certificate.
struct CertificateReport {
  bool checks_off = false;  // the request went to a server whose certificate did not verify
  CertificateFacts shown;   // why not, and its key
  std::string new_pin;      // pin mode: the key to store as "tlspin" now (its first use)
  bool by_pin = false;      // pin mode: accepted because it shows the stored "tlspin"

  // Empty when the checks were on; otherwise "certificate not verified:
  // unknown authority, key SHA-256 ab…, sent with the checks off".
  String Text() const;
};

// The report of an exchange whose final attempt went through gate and saw
// final; refused is what the refused first attempt saw (its problems are
// the ones named: the attempt with the checks off may not look for them).
CertificateReport ReportCertificate(const TlsChoice& choice, const CertificateGate& gate,
                                    const CertificateFacts& refused, const CertificateFacts& final);

}  // namespace vantrel
