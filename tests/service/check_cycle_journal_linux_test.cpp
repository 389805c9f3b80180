// The check cycle on the real journal: entries of the source written to
// journal files in a folder of the test's own.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "tests/service/module_harness.h"
#include "tests/watch/journal_folder.h"

namespace vantrel {
namespace {

using testing::JournalFolder;
using testing::kProblemsNotice;
using testing::kStartNotice;
using testing::MemoryKey;
using testing::ModuleHarness;

TEST(JournalQueryTest, TheCheckCycleReportsNewJournalEntries) {
  ASSERT_TRUE(std::filesystem::exists(testing::kJournalRemote))
      << "systemd-journal-remote is needed to make journal files";
  JournalFolder folder;
  folder.Write({{"Pervasive SQL", 6, "engine started"}});
  ModuleHarness::World world;
  world.key.values[u"instancename"] = MemoryKey::Sz(u"Demo");
  ModuleHarness module(world, {.event_query = true});

  module.TarkastaLogit();  // first run: the information entry counts
  EXPECT_EQ(world.Notices(), std::vector<std::string>{kStartNotice});
  EXPECT_EQ(world.key.Integer(u"lastrecnum"), 1);

  module.TarkastaLogit();  // nothing new
  folder.Write({{"Pervasive SQL", 6, "more information"}});
  module.TarkastaLogit();  // information alone is not reported later
  EXPECT_EQ(world.Notices().size(), 1u);
  EXPECT_EQ(world.key.Integer(u"lastrecnum"), 1);

  folder.Write({{"Pervasive SQL", 3, "license problem"}});
  module.TarkastaLogit();
  EXPECT_EQ(world.Notices(), (std::vector<std::string>{kStartNotice, kProblemsNotice}));
  EXPECT_EQ(world.key.Integer(u"lastrecnum"), 3);
}

}  // namespace
}  // namespace vantrel
