// The cookies of one exchange: which attempt gets which cookie.
#include <gtest/gtest.h>

#include "notify/cookie_jar.h"

namespace vantrel {
namespace {

RequestUrl At(const std::string& host, const std::string& target) {
  RequestUrl url;
  url.scheme = "http";
  url.host = host;
  url.target = target;
  return url;
}

TEST(CookieJar, DomainAndPathDecideWhereACookieGoes) {
  struct Case {
    const char* name;
    std::string set_cookie;  // set by an answer from chat.example.com at /hooks/a
    std::string host, target;
    std::string header;  // the Cookie header of the next attempt there
  };
  const Case cases[] = {
      {"the same host", "s=1", "chat.example.com", "/other", "s=1"},
      {"the host in another case", "s=1", "Chat.Example.COM", "/", "s=1"},
      {"no domain: not to a subdomain", "s=1", "a.chat.example.com", "/", ""},
      {"a domain: to its subdomains", "s=1; Domain=.example.com", "a.example.com", "/", "s=1"},
      {"a domain: to itself", "s=1; domain=Example.com", "example.com", "/", "s=1"},
      {"a domain: not to a name that merely ends like it", "s=1; Domain=example.com", "badexample.com", "/", ""},
      {"a path: below it", "s=1; Path=/hooks", "chat.example.com", "/hooks/b", "s=1"},
      {"a path: not elsewhere", "s=1; path=/hooks", "chat.example.com", "/other", ""},
      {"a path must start with a slash", "s=1; Path=hooks", "chat.example.com", "/other", "s=1"},
      {"blanks around name and value", " s = 1 ; Path=/", "chat.example.com", "/", "s=1"},
      {"no = : no cookie", "s; Path=/", "chat.example.com", "/", ""},
  };
  for (const Case& c : cases) {
    CookieJar jar;
    jar.Take(At("chat.example.com", "/hooks/a"), {{"Set-Cookie", c.set_cookie}});
    EXPECT_EQ(jar.HeaderFor(At(c.host, c.target)), c.header) << c.name;
  }
}

TEST(CookieJar, ALaterCookieOfTheSameNameDomainAndPathReplacesTheFirst) {
  CookieJar jar;
  const RequestUrl url = At("h", "/");
  jar.Take(url, {{"set-cookie", "a=1"}, {"Set-Cookie", "b=2"}, {"X-Other", "c=3"}});
  jar.Take(url, {{"SET-COOKIE", "a=9"}, {"Set-Cookie", "a=5; Path=/x"}});
  EXPECT_EQ(jar.HeaderFor(url), "b=2; a=9");
  EXPECT_EQ(jar.HeaderFor(At("h", "/x/y")), "b=2; a=9; a=5");
}

}  // namespace
}  // namespace vantrel
