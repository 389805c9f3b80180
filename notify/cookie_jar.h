// The cookies of one exchange: what the answers of its redirects set is
// sent with its later attempts, and nothing outlives the exchange.
#pragma once

#include <string>
#include <vector>

#include "notify/http_attempt.h"
#include "notify/url.h"

namespace vantrel {

class CookieJar {
 public:
  // Keeps the cookies of the answer's Set-Cookie headers for the URL that
  // answered; a cookie of the same name, domain and path is replaced.
  void Take(const RequestUrl& url, const HttpHeaders& headers);

  // The Cookie header for an attempt at url ("name=value; ..."), empty when
  // no cookie's domain and path match it.
  std::string HeaderFor(const RequestUrl& url) const;

 private:
  struct Cookie {
    std::string name, value, domain, path;
    bool host_only = true;
  };
  std::vector<Cookie> cookies_;
};

}  // namespace vantrel
