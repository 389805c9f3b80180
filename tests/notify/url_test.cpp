// Base-URL normalisation and request-URL encoding.
#include <gtest/gtest.h>

#include "gzip_data.h"
#include "notify/rest_client.h"
#include "platform/exception.h"

namespace vantrel {
namespace {

TEST(BaseUrl, NormalisationTable) {
  const std::pair<String, String> cases[] = {
      {u"https://chat.example/hooks/abc/", u"https://chat.example/hooks/abc"},
      {u"https://chat.example/hooks/abc///", u"https://chat.example/hooks/abc"},
      {u"  \t https://chat.example/h \r\n", u"https://chat.example/h"},
      {u"https://chat.example:443/h", u"https://chat.example/h"},
      {u"HTTPS://chat.example:443/h", u"HTTPS://chat.example/h"},
      {u"http://chat.example:80/h", u"http://chat.example/h"},
      {u"https://chat.example:8443/h", u"https://chat.example:8443/h"},
      {u"http://chat.example:443/h", u"http://chat.example:443/h"},
      {u"chat.example/h", u"http://chat.example/h"},
      {u"http://chat.example\\a\\b?x=\\y", u"http://chat.example/a/b?x=\\y"},
      {u"", u""},
      {u"   ", u""},
  };
  for (const auto& [in, out] : cases) EXPECT_EQ(NormaliseBaseUrl(in), out) << ToUtf8(in);
}

TEST(BaseUrl, SchemeAloneHasNoHost) {
  try {
    NormaliseBaseUrl(u"https://");
    FAIL();
  } catch (const Exception& e) {
    EXPECT_EQ(e.Message(), u"Host field is empty");
  }
}

TEST(RequestUrl, EncodingTable) {
  const std::pair<String, std::string> cases[] = {
      {u"http://h/a b", "http://h/a%20b"},
      {u"http://h/\u00e4", "http://h/%C3%A4"},
      {u"http://h/a%20b", "http://h/a%2520b"},
      {u"http://h/a+b?c+d e", "http://h/a%2Bb?c+d%20e"},
      {u"http://h/*<>|^[]\"`", "http://h/%2A%3C%3E%7C%5E%5B%5D%22%60"},
      {u"http://h/a/{name}/b", "http://h/a//b"},
      {u"http://h/a-b_c.d~e:f@g!$&'()=,;", "http://h/a-b_c.d~e:f@g!$&'()=,;"},
  };
  for (const auto& [in, out] : cases) EXPECT_EQ(EncodeRequestUrl(in), out) << ToUtf8(in);
}

TEST(RequestUrl, EmptyUrlHasNoProtocol) {
  try {
    EncodeRequestUrl(u"");
    FAIL();
  } catch (const Exception& e) {
    EXPECT_EQ(e.Message(), u"Protocol field is empty");
  }
}

TEST(RequestUrl, Split) {
  RequestUrl u = SplitRequestUrl("https://h.example/a?b=1");
  EXPECT_TRUE(u.secure);
  EXPECT_EQ(u.host, "h.example");
  EXPECT_EQ(u.port, 443);
  EXPECT_EQ(u.target, "/a?b=1");
  u = SplitRequestUrl("http://h:8080");
  EXPECT_FALSE(u.secure);
  EXPECT_EQ(u.port, 8080);
  EXPECT_EQ(u.target, "/");
  // An empty query is dropped; a query that itself ends in "?" is kept.
  EXPECT_EQ(SplitRequestUrl("http://h/a?").target, "/a");
  EXPECT_EQ(SplitRequestUrl("http://h?").target, "/");
  EXPECT_EQ(SplitRequestUrl("http://h/a?b??").target, "/a?b??");
  EXPECT_EQ(SplitRequestUrl("http://h/a??").target, "/a??");
  try {
    SplitRequestUrl("http://h:x1/a");
    FAIL();
  } catch (const Exception& e) {
    EXPECT_EQ(e.Message(), u"REST request failed: Invalid URL: \"http://h:x1/a\"");
  }
}

TEST(Location, Resolution) {
  EXPECT_EQ(ResolveLocation("http://h/a/b/c", "http://o:81/x"), "http://o:81/x");
  EXPECT_EQ(ResolveLocation("http://h/a/b/c", "/x/./y"), "http://h/x/y");
  EXPECT_EQ(ResolveLocation("http://h/a/b/c", "d"), "http://h/a/b/d");
  EXPECT_EQ(ResolveLocation("http://h/a/b/c", "../d"), "http://h/a/d");
  EXPECT_EQ(ResolveLocation("http://h/a/b/c", "./d/../e"), "http://h/a/b/e");
  EXPECT_EQ(ResolveLocation("http://h/a/b/c", "../../../d"), "http://h/d");
  EXPECT_EQ(ResolveLocation("http://h/a/b/c", "//o/p"), "http://o/p");
  EXPECT_EQ(ResolveLocation("http://h/a/b/c", ""), "http://h/a/b/c");
}

TEST(Decode, StrictUtf8AndGzipFailures) {
  String text, message;
  EXPECT_TRUE(DecodeBody("h\xC3\xA4", "", "", text, message));
  EXPECT_EQ(text, u"h\u00e4");
  EXPECT_FALSE(DecodeBody("h\xE4", "", "", text, message));
  EXPECT_EQ(message, u"No mapping for the Unicode character exists in the target multi-byte code page");
  EXPECT_FALSE(DecodeBody("not gzip", "gzip", "", text, message));
  EXPECT_FALSE(DecodeBody("x", "", "no-such-charset", text, message));
  EXPECT_TRUE(DecodeBody("h\xE4", "", "ISO-8859-1", text, message));
  EXPECT_EQ(text, u"h\u00e4");
}

// A few kilobytes of gzip can inflate to gigabytes; past 16 MiB the answer
// is refused instead of taking the machine's memory.
TEST(Decode, GzipInflatingPast16MiBIsRefused) {
  constexpr std::size_t kLimit = std::size_t{16} << 20;
  String text, message;
  EXPECT_TRUE(DecodeBody(Gzip(std::string(kLimit, 'a')), "gzip", "", text, message));
  EXPECT_EQ(text.size(), kLimit);
  const std::string bomb = Gzip(std::string(kLimit + 1, 'a'));
  EXPECT_LT(bomb.size(), std::size_t{64} << 10);
  EXPECT_FALSE(DecodeBody(bomb, "gzip", "", text, message));
  EXPECT_TRUE(text.empty());
  EXPECT_EQ(message, u"Error decompressing the answer: it inflates to more than 16 MiB");
}

}  // namespace
}  // namespace vantrel
