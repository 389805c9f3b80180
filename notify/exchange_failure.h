// The failures of the HTTP exchange: from the splitting of the request URL
// on, every one reaches the poster as one message with the same prefix.
#pragma once

#include "platform/exception.h"
#include "platform/text.h"

namespace vantrel {

inline constexpr char16_t kExchangeFailurePrefix[] = u"REST request failed: ";

// Raises the exchange's failure: kExchangeFailurePrefix, then message.
[[noreturn]] inline void FailExchange(const String& message) { throw Exception(kExchangeFailurePrefix + message); }

}  // namespace vantrel
