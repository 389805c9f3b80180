// The webhook poster: one notice, as the UTF-8 JSON body of one POST, to the
// chat's webhook, with the debug lines that tell how it went.
#pragma once

#include "notify/certificate_rule.h"
#include "notify/message_document.h"
#include "notify/post_report.h"
#include "platform/text.h"

namespace vantrel {

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
