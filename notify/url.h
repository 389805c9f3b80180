// The webhook URL on its way to the wire: the base URL normalised when it
// is set, percent-encoded and split for each attempt, and the Location of a
// redirect resolved against it. IPv6 literal hosts keep their brackets.
#pragma once

#include <string>

#include "platform/text.h"

namespace vantrel {

// What names a webhook where more people than its administrators read: the
// status line that `systemctl status` shows every local user, and the test
// switch's output, which ends up in tickets and screenshots.
inline constexpr char16_t kUnnamedWebhook[] = u"the configured webhook URL";

// A base URL as it is written in the settings, read into its parts: blanks
// around it dropped, "http://" put before a URL without a scheme, and a
// backslash before the query read as a slash.
class BaseUrl {
 public:
  explicit BaseUrl(const String& written);

  // The URL normalised: a default port and the slashes at its end left out;
  // empty for a URL of blanks alone. Raises "Host field is empty".
  String Normalised() const;

  // The scheme and host, with the port when one is written. The user
  // information, path, query and fragment are left out: they hold the
  // webhook's token. kUnnamedWebhook when no scheme and host can be read.
  String Site() const;

 private:
  bool blank_ = false;
  String scheme_;
  String authority_;  // user information, host and port as written
  String tail_;       // path, query and fragment
};

// The parts of an encoded request URL.
struct RequestUrl {
  bool secure = false;
  std::string scheme, host;
  int port = 80;
  std::string target;        // path, "?" and query
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

// text with every URL in it reduced to its site (BaseUrl::Site): a URL in
// double quotes (as in "Invalid URL: "%s"") up to the text's last quote, any
// other one up to the end of the text, so that nothing after its host is
// left; an unreadable one loses its quotes too. The host that "Error
// connecting to server: " names loses its user information.
String WithUrlsAsSites(const String& text);

}  // namespace vantrel
