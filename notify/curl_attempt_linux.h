// One HTTP attempt over libcurl, made in the process that calls it: HTTP/1.1,
// no "Expect:", libcurl's own redirects and cookies off, the proxy only from
// the environment (http_proxy, https_proxy, no_proxy).
#pragma once

#include "notify/attempt_result.h"
#include "notify/http_transport.h"

namespace vantrel {

// Loads libcurl (curl_library_linux.h) and makes the attempt; a library
// that cannot be loaded fails it with "Error obtaining session handle: " and
// the loader's reason.
AttemptResult PerformWithCurl(const HttpAttempt& attempt);

}  // namespace vantrel
