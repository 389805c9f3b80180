// The check cycle reading and storing through the build's real settings
// store: the registry on Windows, the settings file on Linux.
#include <gtest/gtest.h>

#include "tests/service/module_harness.h"
#include "tests/service/real_components.h"
#include "tests/settings/scratch_key.h"

namespace vantrel {
namespace {

using testing::kAccepted;
using testing::kRefused;
using testing::ModuleHarness;
using testing::RealPortsOf;

const std::vector<String> kValues = {u"chaturl", u"instancename", u"lastrecnum", u"lastrecpos"};

std::optional<std::int64_t> StoredRecordNumber() {
  SettingsKey reg(NewSettingsKeyBackend());
  if (!reg.OpenKey() || !reg.ValueExists(u"lastrecnum")) return std::nullopt;
  return reg.ReadInteger64(u"lastrecnum");
}

std::pair<std::int64_t, bool> Query(std::int64_t start, bool first_run) { return {start, first_run}; }

TEST(CheckCycleStoreTest, AFreshKeyMakesAFirstRunThatStoresZeroAndEndsTheFirstRunState) {
  testing::ScratchKey scratch(kValues);
  ModuleHarness::World world;
  ModuleHarness module(world, RealPortsOf({.settings_key = true}));

  module.TarkastaLogit();
  ASSERT_EQ(world.queries.size(), 1u);
  EXPECT_EQ(world.queries[0], Query(0, true));
  EXPECT_EQ(StoredRecordNumber(), 0);
  ASSERT_EQ(world.posts.size(), 1u);
  EXPECT_EQ(world.posts[0].url, kDefaultChatUrl);
  EXPECT_EQ(world.posts[0].json, "{\"text\":\"PSQL lisenssivalvonta käynnistetty , koneen nimi KONE1\"}");

  module.TarkastaLogit();
  EXPECT_EQ(world.queries[1], Query(0, false));
  EXPECT_EQ(world.posts.size(), 1u);
}

TEST(CheckCycleStoreTest, TheCycleReadsItsSettingsAndStoresTheNumberAfterAnAcceptedPost) {
  testing::ScratchKey scratch(kValues);
  {
    SettingsKey reg(NewSettingsKeyBackend());
    ASSERT_TRUE(reg.OpenKey());
    reg.WriteString(u"chaturl", u"http://chat/hook");
    reg.WriteString(u"instancename", u"Demo 1");
    reg.WriteInteger(u"lastrecnum", 3);
  }
  ModuleHarness::World world;
  world.records = {2, 4, 8};
  world.answer = kRefused;
  ModuleHarness module(world, RealPortsOf({.settings_key = true}));

  module.TarkastaLogit();
  EXPECT_EQ(world.queries[0], Query(3, false));
  EXPECT_EQ(StoredRecordNumber(), 3) << "a refused post stores nothing";

  world.answer = kAccepted;
  module.TarkastaLogit();
  EXPECT_EQ(world.queries[1], Query(3, false)) << "reloaded from the store";
  EXPECT_EQ(StoredRecordNumber(), 8);
  ASSERT_EQ(world.posts.size(), 2u);
  EXPECT_EQ(world.posts[1].url, u"http://chat/hook");
  EXPECT_EQ(world.posts[1].json, "{\"text\":\"Mahdollisia PSQL lisenssiongelmia Demo 1, koneen nimi KONE1\"}");

  module.TarkastaLogit();
  EXPECT_EQ(world.queries[2], Query(8, false));
  EXPECT_EQ(world.posts.size(), 2u);
}

// A record number past 31 bits is stored as a REG_QWORD and read back; a
// lower one is still a REG_DWORD, as every store before it wrote.
TEST(CheckCycleStoreTest, AMarkPast31BitsIsStoredAsAQword) {
  testing::ScratchKey scratch(kValues);
  ModuleHarness::World world;
  world.records = {0x7FFFFFFF};
  ModuleHarness module(world, RealPortsOf({.settings_key = true}));
  module.TarkastaLogit();
  EXPECT_EQ(StoredRecordNumber(), 0x7FFFFFFF);
  {
    SettingsKey reg(NewSettingsKeyBackend());
    ASSERT_TRUE(reg.OpenKey());
    EXPECT_EQ(reg.ReadInteger(u"lastrecnum"), 0x7FFFFFFF) << "a REG_DWORD";
  }

  world.records = {0x7FFFFFFF, 0x80000000LL, 0x100000002LL};
  module.TarkastaLogit();
  EXPECT_EQ(StoredRecordNumber(), 0x100000002LL);
  {
    SettingsKey reg(NewSettingsKeyBackend());
    ASSERT_TRUE(reg.OpenKey());
    try {
      reg.ReadInteger(u"lastrecnum");
      ADD_FAILURE() << "read as a REG_DWORD";
    } catch (const SettingsKeyError& e) {
      EXPECT_EQ(e.Message(), u"Failed to get data for 'lastrecnum'") << "eight bytes do not fit a REG_DWORD";
    }
  }
  module.TarkastaLogit();
  EXPECT_EQ(world.queries.back(), Query(0x100000002LL, false));
  EXPECT_EQ(world.posts.size(), 2u);
}

TEST(CheckCycleStoreTest, AWronglyTypedValueEndsTheCycleWithItsMessage) {
  testing::ScratchKey scratch(kValues);
  {
    SettingsKey reg(NewSettingsKeyBackend());
    ASSERT_TRUE(reg.OpenKey());
    reg.WriteString(u"chaturl", u"http://chat/hook");
    reg.WriteString(u"lastrecnum", u"12");
  }
  ModuleHarness::World world;
  ModuleHarness module(world, RealPortsOf({.settings_key = true}));
  try {
    module.TarkastaLogit();
    ADD_FAILURE() << "no error";
  } catch (const SettingsKeyError& e) {
    EXPECT_EQ(e.Message(), u"Failed to get data for 'lastrecnum'");
  }
  EXPECT_TRUE(world.queries.empty());
  EXPECT_EQ(module.fchatavain, u"http://chat/hook") << "read before the failing value";
}

}  // namespace
}  // namespace vantrel
