// One HTTP attempt over libcurl, made in the process that calls it: HTTP/1.1,
// no "Expect:", libcurl's own redirects and cookies off, the proxy only from
// the environment (http_proxy, https_proxy, no_proxy).
#pragma once

#include <functional>
#include <string>

#include "notify/attempt_pipe.h"
#include "notify/http_attempt.h"

namespace vantrel {

// Loads the library of that file (curl_library_linux.h) and makes the
// attempt; a library that cannot be loaded fails it (kNoSession) with "Error
// obtaining session handle: " and the loader's reason. on_head, when set, is
// called once the status line and headers of the final answer have all
// come, before its body is read.
//
// Through a proxy, an https attempt first asks the proxy for a tunnel
// (CONNECT); a proxy that refuses it gives its own answer as the attempt's,
// as it does for an http attempt that it refuses.
//
// An https attempt tells what the server's certificate showed, and with the
// checks off sends nothing to a server that the attempt's gate refuses.
// trusted_authorities, when not empty, names a file of the authorities
// trusted in place of the system's (tests).
AttemptResult PerformWithCurl(const HttpAttempt& attempt, const std::string& library_file,
                              const std::function<void(const HttpAnswer&)>& on_head = nullptr,
                              const std::string& trusted_authorities = std::string());

}  // namespace vantrel
