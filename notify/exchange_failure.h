// The failures of the HTTP exchange: from the splitting of the request URL
// on, every one reaches the poster as one message with the same prefix.
#pragma once

#include "platform/exception.h"
#include "platform/text.h"

namespace vantrel {

inline constexpr char16_t kExchangeFailurePrefix[] = u"REST request failed: ";

// The platform's HTTP stack cannot be had at all ("Error obtaining session
// handle"): no failure of the exchange, so the poster does not catch it and
// the check that posted fails as a whole.
class SessionHandleFailure : public Exception {
 public:
  using Exception::Exception;
};

// Raises the exchange's failure: kExchangeFailurePrefix, then message.
[[noreturn]] inline void FailExchange(const String& message) { throw Exception(kExchangeFailurePrefix + message); }

}  // namespace vantrel
