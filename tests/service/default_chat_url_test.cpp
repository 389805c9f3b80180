// The webhook the module posts to while no "chaturl" is set.
#include <gtest/gtest.h>

#include "notify/url.h"
#include "service/vantrel_srv.h"

namespace vantrel {
namespace {

// The built-in webhook: https on the default port, "/hooks/", a
// 17-character identifier, "/" and a 48-character token, which the URL rules
// leave as they are.
TEST(BaseUrl, BuiltInWebhookHasTheWebhookForm) {
  const String url = kDefaultChatUrl;
  EXPECT_EQ(BaseUrl(url).Normalised(), url);
  const RequestUrl u = SplitRequestUrl(EncodeRequestUrl(url));
  EXPECT_TRUE(u.secure);
  EXPECT_EQ(u.port, 443);
  ASSERT_EQ(u.target.rfind("/hooks/", 0), 0u) << u.target;
  const std::string rest = u.target.substr(7);
  const std::size_t slash = rest.find('/');
  ASSERT_NE(slash, std::string::npos) << u.target;
  EXPECT_EQ(slash, 17u) << u.target;
  EXPECT_EQ(rest.size() - slash - 1, 48u) << u.target;
  EXPECT_EQ(rest.find_first_not_of("abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789/"),
            std::string::npos)
      << u.target;
}

}  // namespace
}  // namespace vantrel
