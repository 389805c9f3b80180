// One HTTP attempt over WinHTTP, synchronous, made in the process that calls
// it (the attempt process): WinHTTP's own redirects and cookies off (the
// portable exchange does them); the account's proxy configuration, else the
// machine's.
#pragma once

#include <functional>

#include "notify/attempt_pipe.h"
#include "notify/http_attempt.h"

namespace vantrel {

// Opens a WinHTTP session and makes the attempt; a session that cannot be
// had fails it (kNoSession) with "Error obtaining session handle". on_head,
// when set, is called once the status line and headers have all come (and
// an https server's key was admitted), before the body is read.
//
// With the checks off, WinHTTP makes the handshake and sends the request in
// one call. on_refused, when set, is called from inside that call, after
// the handshake and before the request is written, with the failure for a
// server whose key the attempt's gate refuses; it must not return (the
// attempt's process ends there, so nothing reaches that server). Unset, or
// when the key cannot be seen then, such a key fails the attempt once the
// answer's head has come.
AttemptResult PerformWithWinHttp(const HttpAttempt& attempt,
                                 const std::function<void(const HttpAnswer&)>& on_head = nullptr,
                                 const std::function<void(const AttemptResult&)>& on_refused = nullptr);

}  // namespace vantrel
