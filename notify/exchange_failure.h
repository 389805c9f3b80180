// The failures of the HTTP exchange: from the splitting of the request URL
// on, every one reaches the poster as one message with the same prefix.
#pragma once

#include "platform/exception.h"
#include "platform/text.h"

namespace vantrel {

inline constexpr char16_t kExchangeFailurePrefix[] = u"REST request failed: ";

// The message of a failure to have the platform's HTTP stack at all.
inline constexpr char16_t kSessionHandleMessage[] = u"Error obtaining session handle";

// The platform's HTTP stack cannot be had at all ("Error obtaining session
// handle"): no failure of the exchange, so the poster does not catch it and
// the check that posted fails as a whole.
class SessionHandleFailure : public Exception {
 public:
  // message: the failure's own text, as the debug line gives it; details:
  // the same with the reason behind it (the loader's, say), for the status
  // line, when there is one.
  explicit SessionHandleFailure(String message, String details = String())
      : Exception(std::move(message)), details_(std::move(details)) {}
  const String& Details() const noexcept { return details_.empty() ? Message() : details_; }

 private:
  String details_;
};

// Raises the exchange's failure: kExchangeFailurePrefix, then message.
[[noreturn]] inline void FailExchange(const String& message) { throw Exception(kExchangeFailurePrefix + message); }

}  // namespace vantrel
