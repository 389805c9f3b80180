// One HTTP attempt on the platform's stack (WinHTTP on Windows, libcurl on
// Linux). The portable exchange (rest_client) does redirects, cookies,
// certificate acceptance and decoding on top of it.
#pragma once

#include <memory>

#include "notify/http_attempt.h"

namespace vantrel {

class HttpTransport {
 public:
  virtual ~HttpTransport() = default;
  // One attempt; true with answer filled once its status line and headers
  // have all come (also when its body was cut at kMaxAnswerBody or could
  // not be read to its end), or false with failure filled.
  virtual bool Perform(const HttpAttempt& attempt, HttpAnswer& answer, HttpFailure& failure) = 0;
};

// The platform's transport: each attempt runs in a fresh process of the
// program, which the service's stop ends at once. Nothing is opened until an
// attempt; a WinHTTP session that cannot be had (Windows) or a libcurl that
// cannot be loaded (Linux) fails each attempt as kNoSession with "Error
// obtaining session handle" (on Linux with the reason).
std::unique_ptr<HttpTransport> NewHttpTransport();

// The limit of each network phase: 120000 ms unless a test shortened it.
int HttpPhaseTimeoutMs();

}  // namespace vantrel
