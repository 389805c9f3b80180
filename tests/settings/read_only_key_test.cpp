// The settings key opened for reading alone (the test switch's way), against
// the build's real key: the registry on Windows, the settings file on Linux.
#include <gtest/gtest.h>

#include "scratch_key.h"
#include "settings/settings_key.h"

namespace vantrel {
namespace {

TEST(ReadOnlyKeyTest, ReadsWhatIsStoredAndRefusesEveryWrite) {
  testing::ScratchKey scratch({u"chaturl", u"lastrecnum"});
  {
    SettingsKey writer(NewSettingsKeyBackend());
    ASSERT_TRUE(writer.OpenKey());
    writer.WriteString(u"chaturl", u"https://chat/hooks/a");
  }

  SettingsKey reader(NewSettingsKeyBackend());
  ASSERT_TRUE(reader.OpenKeyReadOnly()) << reader.LastError();
  EXPECT_EQ(reader.ReadString(u"chaturl"), u"https://chat/hooks/a");
  EXPECT_FALSE(reader.ValueExists(u"lastrecnum"));
  try {
    reader.WriteInteger(u"lastrecnum", 5);
    ADD_FAILURE() << "a write went through";
  } catch (const SettingsKeyError& e) {
    EXPECT_EQ(e.Message(), u"Failed to set data for 'lastrecnum'");
  }
  reader.CloseKey();

  SettingsKey again(NewSettingsKeyBackend());
  ASSERT_TRUE(again.OpenKey());
  EXPECT_FALSE(again.ValueExists(u"lastrecnum")) << "nothing was written";
}

}  // namespace
}  // namespace vantrel
