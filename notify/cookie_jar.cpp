#include "notify/cookie_jar.h"

#include "platform/ascii.h"

namespace vantrel {

void CookieJar::Take(const RequestUrl& url, const HttpHeaders& headers) {
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
      const std::string_view attr = Trim(
          std::string_view(value).substr(semi + 1, next == std::string::npos ? std::string::npos : next - semi - 1));
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
    std::erase_if(cookies_,
                  [&](const Cookie& o) { return o.name == c.name && o.domain == c.domain && o.path == c.path; });
    cookies_.push_back(c);
  }
}

std::string CookieJar::HeaderFor(const RequestUrl& url) const {
  const std::string host = AsciiLowered(url.host);
  std::string out;
  for (const Cookie& c : cookies_) {
    const bool host_ok =
        host == c.domain || (!c.host_only && host.size() > c.domain.size() &&
                             host.compare(host.size() - c.domain.size(), c.domain.size(), c.domain) == 0 &&
                             host[host.size() - c.domain.size() - 1] == '.');
    if (!host_ok || url.target.rfind(c.path, 0) != 0) continue;
    if (!out.empty()) out += "; ";
    out += c.name + "=" + c.value;
  }
  return out;
}

}  // namespace vantrel
