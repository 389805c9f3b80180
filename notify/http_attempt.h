// One HTTP attempt and what it gave: the request as a transport sends it,
// the answer it read, or why it has none.
#pragma once

#include <string>
#include <utility>
#include <vector>

#include "notify/certificate_rule.h"
#include "platform/text.h"

namespace vantrel {

using HttpHeaders = std::vector<std::pair<std::string, std::string>>;

struct HttpAttempt {
  std::string method;   // "POST" or "GET"
  bool secure = false;  // https
  std::string host;
  int port = 80;
  std::string target;  // path and query, already encoded
  HttpHeaders headers;
  std::string body;
  // https: whether the certificate checks are on, and which key alone may
  // be sent to with them off. The transport asks CertificateAdmitted after
  // the handshake and sends nothing to a server it refuses.
  CertificateGate certificate;
  int timeout_ms = 120000;  // connect, send, receive (each phase)
};

struct HttpAnswer {
  int status = 0;
  std::string reason;   // as received, empty when none
  HttpHeaders headers;  // in the order received
  std::string body;     // at most kMaxAnswerBody bytes
  // The body went on past kMaxAnswerBody: reading stopped there and the
  // connection was closed, so body holds only its first kMaxAnswerBody bytes.
  bool body_cut = false;
  // Reading the body failed after the status line and the headers had all
  // come (cut off, a broken chunk, a timeout, the service's stop): why, as
  // "Error reading data: ..."; body holds what came before. Empty when the
  // body was read to its end.
  String body_failure;
  // https: the certificate the server showed.
  CertificateFacts certificate;
};

struct HttpFailure {
  // kNoSession: the platform's HTTP stack cannot be had at all ("Error
  // obtaining session handle"), which is no failure of one exchange.
  enum Kind { kOther, kSecureChannel, kClientCertificate, kNoSession };
  Kind kind = kOther;
  String message;  // without "REST request failed: "
  // kSecureChannel: the certificate refused, as far as it was seen.
  CertificateFacts certificate;
};

// "(%d) %s" of a platform failure, for HttpFailure::message.
String FormatCodeText(long code, const std::string& text_utf8);

// The attempt's URL with its port always written:
// "http://host:80/path?query".
std::string AttemptUrl(const HttpAttempt& attempt);

}  // namespace vantrel
