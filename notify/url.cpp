#include "notify/url.h"

#include <algorithm>
#include <cstring>

#include "notify/exchange_failure.h"
#include "platform/ascii.h"
#include "platform/exception.h"
#include "platform/whole_number.h"

namespace vantrel {

namespace {

// Removes "{name}" placeholders, braces included (the poster gives no value).
String DropPlaceholders(const String& s) {
  String out;
  for (std::size_t i = 0; i < s.size(); ++i) {
    if (s[i] == u'{') {
      const std::size_t close = s.find(u'}', i);
      if (close != String::npos) {
        i = close;
        continue;
      }
    }
    out += s[i];
  }
  return out;
}

void PercentEncodeInto(std::string& out, std::string_view utf8, bool is_path) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  for (char ch : utf8) {
    const auto b = static_cast<unsigned char>(ch);
    // DEL (0x7F) is ASCII and no control character of the list: it goes
    // out as it stands.
    bool escape = b <= 32 || b >= 0x80;
    if (!escape) escape = std::strchr("*<>#%{}|\\^[]\"`", ch) != nullptr;
    if (!escape && is_path && ch == '+') escape = true;
    if (escape) {
      out += '%';
      out += kHex[b >> 4];
      out += kHex[b & 0xF];
    } else {
      out += ch;
    }
  }
}

// Removes "." and ".." segments from an absolute path (RFC 3986, 5.2.4).
std::string RemoveDotSegments(std::string in) {
  std::string out;
  while (!in.empty()) {
    if (in.rfind("../", 0) == 0) {
      in.erase(0, 3);
    } else if (in.rfind("./", 0) == 0) {
      in.erase(0, 2);
    } else if (in.rfind("/./", 0) == 0) {
      in.erase(0, 2);
    } else if (in == "/.") {
      in = "/";
    } else if (in.rfind("/../", 0) == 0 || in == "/..") {
      in = in == "/.." ? "/" : in.substr(3);
      const std::size_t slash = out.rfind('/');
      out.erase(slash == std::string::npos ? 0 : slash);
    } else if (in == "." || in == "..") {
      in.clear();
    } else {
      const std::size_t next = in.find('/', in[0] == '/' ? 1 : 0);
      out += in.substr(0, next);
      in.erase(0, next == std::string::npos ? in.size() : next);
    }
  }
  return out;
}

// Splits an authority into host and port. An IPv6 literal keeps its
// brackets ("[::1]"), which both HTTP stacks want; only a ":" after its "]"
// starts a port. has_port tells whether a ":" was written.
template <typename Text>
void SplitHostPort(const Text& authority, Text& host, Text& port, bool& has_port) {
  std::size_t colon = Text::npos;
  if (!authority.empty() && authority[0] == '[') {
    const std::size_t close = authority.find(']');
    if (close != Text::npos && close + 1 < authority.size() && authority[close + 1] == ':') colon = close + 1;
  } else {
    colon = authority.rfind(':');
  }
  has_port = colon != Text::npos;
  host = authority.substr(0, colon);
  port = has_port ? authority.substr(colon + 1) : Text();
}

// A host in brackets is an IPv6 literal: "[", at least one character, "]".
bool ValidBrackets(const std::string& host) {
  if (host.empty() || host[0] != '[') return host.find_first_of("[]") == std::string::npos;
  return host.size() > 2 && host.back() == ']' && host.find(']') == host.size() - 1;
}

// A scheme: a letter, then letters, digits, "+", "-" and ".".
bool ValidScheme(const String& scheme) {
  const auto letter = [](char16_t c) { return (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z'); };
  if (scheme.empty() || !letter(scheme[0])) return false;
  return std::all_of(scheme.begin(), scheme.end(), [&](char16_t c) {
    return letter(c) || (c >= u'0' && c <= u'9') || c == u'+' || c == u'-' || c == u'.';
  });
}

// A character a host name, an IPv6 literal or a port can be written with;
// anything beyond ASCII counts, for a name in its own script.
bool AuthorityChar(char16_t c) {
  if (c >= 0x80) return true;
  if ((c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z') || (c >= u'0' && c <= u'9')) return true;
  return std::u16string_view(u"-._~%!$&'()*+,;=:[]").find(c) != std::u16string_view::npos;
}

// Splits an absolute URL text into scheme://authority and the rest.
bool SplitAuthority(const std::string& url, std::string& origin, std::string& rest) {
  const std::size_t sep = url.find("://");
  if (sep == std::string::npos) return false;
  const std::size_t end = url.find_first_of("/?#", sep + 3);
  origin = url.substr(0, end);
  rest = end == std::string::npos ? std::string() : url.substr(end);
  return true;
}

}  // namespace

BaseUrl::BaseUrl(const String& written) {
  std::size_t b = 0, e = written.size();
  while (b < e && written[b] <= 32) ++b;
  while (e > b && written[e - 1] <= 32) --e;
  String url = written.substr(b, e - b);
  blank_ = url.empty();
  if (blank_) return;
  if (url.find(u"://") == String::npos) url = u"http://" + url;
  const std::size_t sep = url.find(u"://");
  scheme_ = url.substr(0, sep);
  String rest = url.substr(sep + 3);
  const std::size_t stop = rest.find_first_of(u"?#");
  for (std::size_t i = 0; i < rest.size() && i < stop; ++i)
    if (rest[i] == u'\\') rest[i] = u'/';
  const std::size_t auth_end = rest.find_first_of(u"/?#");
  authority_ = rest.substr(0, auth_end);
  tail_ = auth_end == String::npos ? String() : rest.substr(auth_end);
}

String BaseUrl::Normalised() const {
  if (blank_) return String();
  String host, port;
  bool has_port = false;
  SplitHostPort(authority_, host, port, has_port);
  if (host.empty()) throw Exception(u"Host field is empty");
  const bool default_port = (EqualsIgnoringAsciiCase(scheme_, u"http") && port == u"80") ||
                            (EqualsIgnoringAsciiCase(scheme_, u"https") && port == u"443");
  String out = scheme_ + u"://" + host;
  if (has_port && !default_port) out += u":" + port;
  out += tail_;
  while (!out.empty() && out.back() == u'/') out.pop_back();
  return out;
}

String BaseUrl::Site() const {
  if (blank_) return kUnnamedWebhook;
  String authority = authority_;
  if (const std::size_t at = authority.rfind(u'@'); at != String::npos) authority.erase(0, at + 1);
  String host, port;
  bool has_port = false;
  SplitHostPort(authority, host, port, has_port);
  if (!ValidScheme(scheme_) || host.empty() || !std::all_of(authority.begin(), authority.end(), AuthorityChar))
    return kUnnamedWebhook;
  return scheme_ + u"://" + authority;
}

std::string RequestUrl::Text() const {
  const bool default_port = (secure && port == 443) || (!secure && port == 80);
  return scheme + "://" + host + (default_port ? "" : ":" + std::to_string(port)) + target;
}

std::string EncodeRequestUrl(const String& url16) {
  if (url16.empty()) throw Exception(u"Protocol field is empty");
  const std::string url = ToUtf8(DropPlaceholders(url16));
  std::string origin, rest;
  if (!SplitAuthority(url, origin, rest)) {
    origin.clear();
    rest = url;
  }
  std::string out = origin;
  const std::size_t q = rest.find('?');
  PercentEncodeInto(out, std::string_view(rest).substr(0, q), true);
  if (q != std::string::npos) {
    out += '?';
    PercentEncodeInto(out, std::string_view(rest).substr(q + 1), false);
  }
  return out;
}

RequestUrl SplitRequestUrl(const std::string& encoded) {
  auto invalid = [&]() -> RequestUrl { FailExchange(u"Invalid URL: \"" + FromUtf8(encoded) + u"\""); };
  std::string origin, rest;
  if (!SplitAuthority(encoded, origin, rest)) return invalid();
  RequestUrl u;
  const std::size_t sep = origin.find("://");
  u.scheme = origin.substr(0, sep);
  if (EqualsIgnoringAsciiCase(u.scheme, "https"))
    u.secure = true;
  else if (!EqualsIgnoringAsciiCase(u.scheme, "http"))
    return invalid();
  std::string port;
  bool has_port = false;
  SplitHostPort(origin.substr(sep + 3), u.host, port, has_port);
  u.port = u.secure ? 443 : 80;
  if (has_port) {
    const auto number = port.size() > 5 ? std::nullopt : WholeNumber<unsigned>(port);
    if (!number || *number == 0 || *number > 65535) return invalid();
    u.port = static_cast<int>(*number);
  }
  if (u.host.empty() || !ValidBrackets(u.host)) return invalid();
  // A fragment is not sent.
  const std::size_t hash = rest.find('#');
  if (hash != std::string::npos) rest.erase(hash);
  if (!rest.empty() && rest[0] == '?') rest = "/" + rest;
  if (rest.empty()) rest = "/";
  // A "?" with nothing after it is no query; a query that ends in "?" is.
  if (rest.find('?') == rest.size() - 1) rest.pop_back();
  u.target = rest;
  return u;
}

std::string ResolveLocation(const std::string& current, const std::string& location_in) {
  const std::string location(Trim(location_in));
  if (location.empty()) return current;
  std::string origin, rest;
  SplitAuthority(current, origin, rest);
  if (location.find("://") != std::string::npos && location.find("://") < location.find_first_of("/?#")) {
    std::string lorigin, lrest;
    SplitAuthority(location, lorigin, lrest);
    const std::size_t q = lrest.find_first_of("?#");
    return lorigin + RemoveDotSegments(lrest.substr(0, q)) + (q == std::string::npos ? "" : lrest.substr(q));
  }
  if (location.rfind("//", 0) == 0) return origin.substr(0, origin.find("://") + 1) + location;
  const std::size_t cq = rest.find_first_of("?#");
  const std::string cur_path = rest.substr(0, cq);
  if (location[0] == '?') return origin + (cur_path.empty() ? "/" : cur_path) + location;
  if (location[0] == '#') return origin + rest.substr(0, rest.find('#')) + location;
  const std::size_t q = location.find_first_of("?#");
  std::string path = location.substr(0, q);
  const std::string suffix = q == std::string::npos ? "" : location.substr(q);
  if (path[0] != '/') {
    const std::size_t slash = cur_path.rfind('/');
    path = (slash == std::string::npos ? "/" : cur_path.substr(0, slash + 1)) + path;
  }
  return origin + RemoveDotSegments(path) + suffix;
}

String WithUrlsAsSites(const String& text) {
  String out;
  std::size_t from = 0;
  for (std::size_t sep; (sep = text.find(u"://", from)) != String::npos;) {
    std::size_t start = sep;
    while (start > from && text[start - 1] > u' ' && text[start - 1] != u'"') --start;
    std::size_t end = text.size();
    const std::size_t open = text.rfind(u'"', sep);
    const std::size_t close = text.rfind(u'"');
    const bool quoted = open != String::npos && open >= from && close > sep;
    if (quoted) {
      start = open + 1;
      end = close;
    }
    const String site = BaseUrl(text.substr(start, end - start)).Site();
    if (quoted && site == kUnnamedWebhook) {
      --start;  // no quotes around the words
      ++end;
    }
    out += text.substr(from, start - from) + site;
    from = end;
  }
  out += text.substr(from);

  // The one failure that names a host alone, at the end of its message.
  constexpr std::u16string_view kConnecting = u"Error connecting to server: ";
  if (const std::size_t at = out.find(kConnecting); at != String::npos) {
    const std::size_t host = at + kConnecting.size();
    if (const std::size_t user_end = out.rfind(u'@'); user_end != String::npos && user_end >= host)
      out.erase(host, user_end + 1 - host);
  }
  return out;
}

}  // namespace vantrel
