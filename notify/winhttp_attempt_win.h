// One HTTP attempt over WinHTTP, synchronous, made in the process that calls
// it (the attempt process): WinHTTP's own redirects and cookies off (the
// portable exchange does them); the account's proxy configuration, else the
// machine's.
#pragma once

#include <functional>

#include "notify/attempt_result.h"
#include "notify/http_transport.h"

namespace vantrel {

// Opens a WinHTTP session and makes the attempt; a session that cannot be
// had fails it (kNoSession) with "Error obtaining session handle". on_head,
// when set, is called once the status line and headers have all come (and
// an https server's key was admitted), before the body is read.
AttemptResult PerformWithWinHttp(const HttpAttempt& attempt,
                                 const std::function<void(const HttpAnswer&)>& on_head = nullptr);

}  // namespace vantrel
