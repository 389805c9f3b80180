// The service manager's failure texts and the registered path.
#include <gtest/gtest.h>

#include <string>

#include "host/install_scm.h"
#include "platform/exception.h"

namespace vantrel {
namespace {

TEST(InstallTexts, OsFailureAndQuotedPath) {
  EXPECT_EQ(OsFailureMessage(1073, u"The specified service already exists"),
            u"System Error.  Code: 1073.\r\nThe specified service already exists");
  EXPECT_EQ(OsFailureMessage(0, u"ignored"), u"A call to an OS function failed");
  EXPECT_EQ(QuotedBinaryPath(u"C:\\v\\vantrel.exe"), u"C:\\v\\vantrel.exe");
  EXPECT_EQ(QuotedBinaryPath(u"C:\\Program Files\\v.exe"), u"\"C:\\Program Files\\v.exe\"");
  try {
    RaiseOsFailure(1060);
    FAIL();
  } catch (const Exception& e) {
    EXPECT_EQ(e.Message().rfind(u"System Error.  Code: 1060.\r\n", 0), 0u);
    EXPECT_GT(e.Message().size(), std::u16string(u"System Error.  Code: 1060.\r\n").size());
  }
}

}  // namespace
}  // namespace vantrel
