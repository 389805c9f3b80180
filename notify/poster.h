// The webhook poster: one notice, as the UTF-8 JSON body of one POST, to the
// chat's webhook, with the debug lines that tell how it went.
#pragma once

#include "notify/certificate_rule.h"
#include "notify/message_document.h"
#include "platform/text.h"

namespace vantrel {

// What one post gave: the chat's answer, or the failure that ended the
// exchange before an answer came.
struct PostReport {
  int status_code = 0;  // 0 while no answer came
  String status_text;
  String failure;  // the exchange's failure message when no answer came
  // For an answer: whether it came from a server whose certificate did not
  // verify, and the key to pin.
  CertificateReport certificate;

  // True exactly when the chat answered 200; no other status counts.
  bool Delivered() const { return status_code == 200; }

  // "HTTP 500 Internal Server Error", or the failure without the prefix
  // "REST request failed: "; empty when nothing is known.
  String Describe() const;
};

// Posts the notice's JSON text to url in one exchange, with the settings of
// a webhook post (the URL normalised as a base URL, application/json, 120 s
// for each network phase, redirects followed), and writes the debug lines:
// "resposene", "statuscode" and "statustxt" for an answer; for a failed
// exchange "virhe chat postauksesssa " with its message. A failure while the
// request is prepared (the URL names no host) raises, with no line written;
// so does an HTTP stack that cannot be had at all ("Error obtaining session
// handle": WinHTTP refuses its top handle, libcurl cannot be loaded). tls
// says what is done with a certificate that does not verify.
PostReport PostToWebhook(const String& url, const MessageDocument& notice, const TlsChoice& tls = TlsChoice());

}  // namespace vantrel
