// The claim that lets one service process at a time use the settings key: a
// second claim is refused with a message naming the key until the first is
// let go.
#include <gtest/gtest.h>

#include "platform/exception.h"
#include "scratch_key.h"
#include "settings/settings_key_claim.h"

namespace vantrel {
namespace {

TEST(SettingsKeyClaim, ASecondClaimIsRefusedUntilTheFirstIsLetGo) {
  testing::ScratchKey scratch({});
  auto first = ClaimSettingsKey();
  ASSERT_TRUE(first);
  for (int round = 0; round < 2; ++round) {
    try {
      ClaimSettingsKey();
      ADD_FAILURE() << "claimed twice";
    } catch (const Exception& e) {
      EXPECT_EQ(e.Message().rfind(u"Another Vantrel service already uses the settings ", 0), 0u) << ToUtf8(e.Message());
      EXPECT_NE(e.Message().find(u"; this one ends"), String::npos) << ToUtf8(e.Message());
    }
  }
  first.reset();
  EXPECT_TRUE(ClaimSettingsKey());
}

}  // namespace
}  // namespace vantrel
