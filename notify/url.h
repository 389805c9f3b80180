// The webhook URL on its way to the wire: the base URL normalised when it
// is set, percent-encoded and split for each attempt, and the Location of a
// redirect resolved against it. IPv6 literal hosts keep their brackets.
#pragma once

#include <string>

#include "platform/text.h"

namespace vantrel {

// The base URL, normalised; raises "Host field is empty".
String NormaliseBaseUrl(const String& url);

// The parts of an encoded request URL.
struct RequestUrl {
  bool secure = false;
  std::string scheme, host;
  int port = 80;
  std::string target;  // path, "?" and query
  std::string Text() const;  // the whole URL again
};

// Percent-encodes the URL part by part; raises "Protocol field is empty" for
// an empty URL (unprefixed).
std::string EncodeRequestUrl(const String& url);

// Splits an encoded URL; raises "REST request failed: Invalid URL: "%s"".
RequestUrl SplitRequestUrl(const std::string& encoded);

// The Location of a redirect resolved against the current URL ("." and ".."
// segments resolved); an empty Location gives the current URL.
std::string ResolveLocation(const std::string& current, const std::string& location);

}  // namespace vantrel
