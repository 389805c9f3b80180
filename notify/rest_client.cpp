#include "notify/rest_client.h"

#include <algorithm>
#include <cstring>

#include "platform/ascii.h"
#include "platform/exception.h"

namespace vantrel {

namespace {

constexpr char16_t kPrefix[] = u"REST request failed: ";
constexpr int kMaxRedirects = 5;

[[noreturn]] void Fail(const String& message) { throw Exception(kPrefix + message); }

bool AllDigits(std::string_view s) {
  return !s.empty() && std::all_of(s.begin(), s.end(), [](char c) { return c >= '0' && c <= '9'; });
}

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
    bool escape = b <= 32 || b >= 0x7F;
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

// Splits an absolute URL text into scheme://authority and the rest.
bool SplitAuthority(const std::string& url, std::string& origin, std::string& rest) {
  const std::size_t sep = url.find("://");
  if (sep == std::string::npos) return false;
  const std::size_t end = url.find_first_of("/?#", sep + 3);
  origin = url.substr(0, end);
  rest = end == std::string::npos ? std::string() : url.substr(end);
  return true;
}

// charset parameter of a Content-Type value, and the value without it.
void SplitContentType(const std::string& value, std::string& media, std::string& charset) {
  media.clear();
  charset.clear();
  std::size_t pos = 0;
  bool first = true;
  while (pos <= value.size()) {
    std::size_t semi = value.find(';', pos);
    if (semi == std::string::npos) semi = value.size();
    const std::string part(Trim(std::string_view(value).substr(pos, semi - pos)));
    if (!first && StartsWithIgnoringAsciiCase(part, "charset=")) {
      charset = part.substr(8);
      if (charset.size() >= 2 && charset.front() == '"' && charset.back() == '"')
        charset = charset.substr(1, charset.size() - 2);
    } else if (first || !part.empty()) {
      if (!first) media += "; ";
      media += part;
    }
    first = false;
    pos = semi + 1;
  }
}

struct Cookie {
  std::string name, value, domain, path;
  bool host_only = true;
};

class CookieStore {
 public:
  void Take(const RequestUrl& url, const HttpHeaders& headers) {
    for (const auto& [name, value] : headers) {
      if (!EqualsIgnoringAsciiCase(name, "Set-Cookie")) continue;
      Cookie c;
      std::size_t semi = value.find(';');
      const std::string pair = value.substr(0, semi);
      const std::size_t eq = pair.find('=');
      if (eq == std::string::npos) continue;
      c.name = Trim(std::string_view(pair).substr(0, eq));
      c.value = Trim(std::string_view(pair).substr(eq + 1));
      c.domain = AsciiLowered(url.host);
      c.path = "/";
      while (semi != std::string::npos) {
        const std::size_t next = value.find(';', semi + 1);
        const std::string_view attr =
            Trim(std::string_view(value).substr(semi + 1, next == std::string::npos ? std::string::npos : next - semi - 1));
        const std::size_t aeq = attr.find('=');
        const std::string_view aname = attr.substr(0, aeq);
        const std::string aval(aeq == std::string::npos ? std::string_view() : attr.substr(aeq + 1));
        if (EqualsIgnoringAsciiCase(aname, "domain") && !aval.empty()) {
          c.domain = AsciiLowered(aval[0] == '.' ? aval.substr(1) : aval);
          c.host_only = false;
        } else if (EqualsIgnoringAsciiCase(aname, "path") && !aval.empty() && aval[0] == '/') {
          c.path = aval;
        }
        semi = next;
      }
      std::erase_if(cookies_, [&](const Cookie& o) { return o.name == c.name && o.domain == c.domain && o.path == c.path; });
      cookies_.push_back(c);
    }
  }

  std::string HeaderFor(const RequestUrl& url) const {
    const std::string host = AsciiLowered(url.host);
    std::string out;
    for (const Cookie& c : cookies_) {
      const bool host_ok = host == c.domain ||
                           (!c.host_only && host.size() > c.domain.size() &&
                            host.compare(host.size() - c.domain.size(), c.domain.size(), c.domain) == 0 &&
                            host[host.size() - c.domain.size() - 1] == '.');
      if (!host_ok || url.target.rfind(c.path, 0) != 0) continue;
      if (!out.empty()) out += "; ";
      out += c.name + "=" + c.value;
    }
    return out;
  }

 private:
  std::vector<Cookie> cookies_;
};

const std::string* FindHeader(const HttpHeaders& headers, std::string_view name) {
  for (const auto& h : headers)
    if (EqualsIgnoringAsciiCase(h.first, name)) return &h.second;
  return nullptr;
}

}  // namespace

String NormaliseBaseUrl(const String& input) {
  std::size_t b = 0, e = input.size();
  while (b < e && input[b] <= 32) ++b;
  while (e > b && input[e - 1] <= 32) --e;
  String url = input.substr(b, e - b);
  if (url.empty()) return url;
  if (url.find(u"://") == String::npos) url = u"http://" + url;
  const std::size_t sep = url.find(u"://");
  const String scheme = url.substr(0, sep);
  String rest = url.substr(sep + 3);
  const std::size_t stop = rest.find_first_of(u"?#");
  for (std::size_t i = 0; i < rest.size() && i < stop; ++i)
    if (rest[i] == u'\\') rest[i] = u'/';
  const std::size_t auth_end = rest.find_first_of(u"/?#");
  const String authority = rest.substr(0, auth_end);
  const String tail = auth_end == String::npos ? String() : rest.substr(auth_end);
  String host, port;
  bool has_port = false;
  SplitHostPort(authority, host, port, has_port);
  if (host.empty()) throw Exception(u"Host field is empty");
  const bool default_port = (EqualsIgnoringAsciiCase(scheme, u"http") && port == u"80") ||
                            (EqualsIgnoringAsciiCase(scheme, u"https") && port == u"443");
  String out = scheme + u"://" + host;
  if (has_port && !default_port) out += u":" + port;
  out += tail;
  while (!out.empty() && out.back() == u'/') out.pop_back();
  return out;
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
  auto invalid = [&]() -> RequestUrl { Fail(u"Invalid URL: \"" + FromUtf8(encoded) + u"\""); };
  std::string origin, rest;
  if (!SplitAuthority(encoded, origin, rest)) return invalid();
  RequestUrl u;
  const std::size_t sep = origin.find("://");
  u.scheme = origin.substr(0, sep);
  if (EqualsIgnoringAsciiCase(u.scheme, "https")) u.secure = true;
  else if (!EqualsIgnoringAsciiCase(u.scheme, "http")) return invalid();
  std::string port;
  bool has_port = false;
  SplitHostPort(origin.substr(sep + 3), u.host, port, has_port);
  u.port = u.secure ? 443 : 80;
  if (has_port) {
    if (!AllDigits(port) || port.size() > 5 || std::stoi(port) == 0 || std::stoi(port) > 65535) return invalid();
    u.port = std::stoi(port);
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

RestClient::RestClient() : transport_(NewHttpTransport()) {}

RestRequestParameter* RestRequest::ParamByName(const String& name) {
  for (auto& p : Params)
    if (EqualsIgnoringAsciiCase(p.Name, name)) return &p;
  return nullptr;
}

void RestRequest::Execute() {
  response_ = RestResponse();
  String url16 = client_.BaseURL();
  if (!Resource.empty()) url16 += u"/" + Resource;
  std::string current = EncodeRequestUrl(url16);

  HttpAttempt attempt;
  attempt.method = Method == RestRequestMethod::kPost ? "POST" : "GET";
  std::string content_type;
  for (const auto& p : Params) {
    if (p.Kind != RestRequestParameterKind::kRequestBody) continue;
    attempt.body += ToUtf8(p.Value);
    if (content_type.empty()) content_type = ToUtf8(p.ContentType);
  }
  const int phase_ms = HttpPhaseTimeoutMs();
  attempt.timeout_ms = phase_ms < Timeout ? phase_ms : Timeout;

  CookieStore cookies;
  int redirects = 0;
  bool verify = true;
  HttpAnswer answer;
  for (;;) {
    const RequestUrl target = SplitRequestUrl(current);
    attempt.secure = target.secure;
    attempt.host = target.host;
    attempt.port = target.port;
    attempt.target = target.target;
    attempt.verify_certificate = verify;
    attempt.headers = {{"Accept", ToUtf8(client_.Accept)},
                       {"Accept-Charset", ToUtf8(client_.AcceptCharset)},
                       {"User-Agent", ToUtf8(client_.UserAgent)}};
    if (!content_type.empty()) attempt.headers.emplace_back("Content-type", content_type);
    const std::string cookie = cookies.HeaderFor(target);
    if (!cookie.empty()) attempt.headers.emplace_back("Cookie", cookie);

    answer = HttpAnswer();
    HttpFailure failure;
    if (!client_.Transport().Perform(attempt, answer, failure)) {
      if (failure.kind == HttpFailure::kSecureChannel && verify) {
        verify = false;  // the certificate is accepted: send again without checks
        continue;
      }
      Fail(failure.message);
    }
    cookies.Take(target, answer.headers);

    if (answer.status >= 300 && answer.status <= 399 && client_.HandleRedirects) {
      if (++redirects > kMaxRedirects)
        Fail(u"Maximum number of redirections (" + IntToStr(kMaxRedirects) + u") exceeded");
      const std::string* location = FindHeader(answer.headers, "Location");
      current = ResolveLocation(target.Text(), location ? *location : std::string());
      // The GET keeps the request's headers, Content-type included: every
      // attempt is made with the same header set, only without the body.
      if (answer.status >= 301 && answer.status <= 303 && attempt.method == "POST") {
        attempt.method = "GET";
        attempt.body.clear();
      }
      continue;
    }
    break;
  }

  RestResponse& r = response_;
  r.StatusCode = answer.status;
  r.StatusText = FromUtf8(answer.reason);
  std::string media, charset, encoding;
  if (const std::string* ct = FindHeader(answer.headers, "Content-Type")) SplitContentType(*ct, media, charset);
  if (const std::string* ce = FindHeader(answer.headers, "Content-Encoding")) encoding = Trim(*ce);
  r.ContentType = FromUtf8(media);
  r.ContentEncoding = FromUtf8(encoding);
  for (const auto& [name, value] : answer.headers) r.Headers.push_back(FromUtf8(name + "=" + value));
  r.RawBytes = std::move(answer.body);
  const bool decode = answer.status >= 300 || !charset.empty() || StartsWithIgnoringAsciiCase(media, "text") ||
                      StartsWithIgnoringAsciiCase(media, "application/json");
  if (!decode) return;
  String text, message;
  bool decoded = false;
  if (answer.body_cut) {
    message = u"Error reading the answer: it is longer than 16 MiB";
  } else {
    decoded = DecodeBody(r.RawBytes, encoding, charset, text, message);
  }
  if (decoded) {
    r.Content = std::move(text);
  } else if (answer.status != 200) {
    response_ = RestResponse();
    Fail(message);
  }
  // A 200 whose body cannot be decoded (or was cut) does not fail: the chat
  // server has taken the notice, and failing here would post it again at
  // the next check. The status stands and the text stays empty.
}

void CreateRestComponents(std::unique_ptr<RestClient>& client, std::unique_ptr<RestRequest>& request,
                          std::unique_ptr<RestResponse>& response) {
  client = std::make_unique<RestClient>();
  response = std::make_unique<RestResponse>();
  request = std::make_unique<RestRequest>(*client, *response);
  request->Method = RestRequestMethod::kPost;
  request->Timeout = 120000;
  RestRequestParameter body;
  body.Name = u"body";
  body.Kind = RestRequestParameterKind::kRequestBody;
  body.ContentType = u"application/json";
  request->Params.push_back(std::move(body));
}

}  // namespace vantrel
