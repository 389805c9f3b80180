// The check cycle on the real journal: entries of the source written to
// journal files in a folder of the test's own.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <filesystem>
#include <string>
#include <vector>

#include "tests/service/module_harness.h"
#include "tests/service/real_components.h"
#include "tests/platform/trace_recorder.h"
#include "tests/watch/journal_folder.h"
#include "tests/platform/without_file_override_linux.h"

namespace vantrel {
namespace {

using testing::JournalFolder;
using testing::kProblemsNotice;
using testing::kStartNotice;
using testing::MemoryKey;
using testing::ModuleHarness;
using testing::RealPortsOf;

TEST(JournalQueryTest, TheCheckCycleReportsNewJournalEntries) {
  ASSERT_TRUE(std::filesystem::exists(testing::kJournalRemote))
      << "systemd-journal-remote is needed to make journal files";
  JournalFolder folder;
  folder.Write({{"Pervasive SQL", 6, "engine started"}});
  ModuleHarness::World world;
  world.key.values[u"instancename"] = MemoryKey::Sz(u"Demo");
  ModuleHarness module(world, RealPortsOf({.event_query = true}));

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

// A journal file that exists but cannot be read is a failed query, not "no
// new entries": it is traced as a failed query, the check fails and says
// why, no mark moves, and the next tick tries again; once the file can be
// read, its entries and the others are reported once.
TEST(JournalQueryTest, AJournalFileThatCannotBeReadFailsTheCheck) {
  ASSERT_TRUE(std::filesystem::exists(testing::kJournalRemote))
      << "systemd-journal-remote is needed to make journal files";
  JournalFolder folder;
  folder.Write({{"Pervasive SQL", 3, "readable"}}, "a.journal");
  folder.Write({{"Pervasive SQL", 3, "locked"}}, "b.journal");
  const std::string locked = folder.Path() + "/b.journal";
  ASSERT_EQ(chmod(locked.c_str(), 0), 0);
  ModuleHarness::World world;
  world.key.values[u"instancename"] = MemoryKey::Sz(u"Demo");
  world.key.values[u"lastrecnum"] = MemoryKey::Dword(0);
  ModuleHarness module(world, RealPortsOf({.event_query = true}));
  {
    testing::WithoutFileOverride as_another_user;
    testing::TraceRecorder trace;
    module.Timer1Timer(nullptr);
    const std::string failure = "Cannot read the journal file " + locked + ": Permission denied";
    ASSERT_GE(trace.lines.size(), 3u);
    EXPECT_EQ(trace.lines[1], "Virhe haussa=" + failure);
    EXPECT_EQ(trace.lines[2], "callstack=");
    ASSERT_EQ(world.statuses.size(), 1u);
    EXPECT_NE(world.statuses[0].find("failed: " + failure + "; tried again within ten minutes"), std::string::npos)
        << world.statuses[0];
  }
  EXPECT_TRUE(world.posts.empty());
  EXPECT_EQ(world.key.Integer(u"lastrecnum"), 0);

  ASSERT_EQ(chmod(locked.c_str(), 0600), 0);
  world.AdvanceBy(std::chrono::minutes(10));
  EXPECT_EQ(world.Notices(), std::vector<std::string>{kProblemsNotice});
  ASSERT_EQ(world.statuses.size(), 2u);
  EXPECT_NE(world.statuses[1].find(": 2 new entries, notice delivered; next check"), std::string::npos)
      << world.statuses[1];
}

// A first run that cannot read a journal file neither stores its mark nor
// sends its start notice: the information entries that only a first run
// reports would be lost with it. Once the file can be read, the first run
// reports them all.
TEST(JournalQueryTest, AFirstRunThatCannotReadAJournalFileIsTriedAgainAsAFirstRun) {
  ASSERT_TRUE(std::filesystem::exists(testing::kJournalRemote))
      << "systemd-journal-remote is needed to make journal files";
  JournalFolder folder;
  folder.Write({{"Pervasive SQL", 6, "engine started"}}, "a.journal");
  folder.Write({{"Pervasive SQL", 6, "licence checked"}}, "b.journal");
  const std::string locked = folder.Path() + "/b.journal";
  ASSERT_EQ(chmod(locked.c_str(), 0), 0);
  ModuleHarness::World world;
  world.key.values[u"instancename"] = MemoryKey::Sz(u"Demo");
  world.key.values[u"details"] = MemoryKey::Dword(1);
  ModuleHarness module(world, RealPortsOf({.event_query = true}));
  {
    testing::WithoutFileOverride as_another_user;
    module.Timer1Timer(nullptr);
  }
  EXPECT_TRUE(world.posts.empty());
  EXPECT_FALSE(world.key.values.contains(u"lastrecnum"));
  ASSERT_EQ(world.statuses.size(), 1u);
  EXPECT_NE(world.statuses[0].find("failed: Cannot read the journal file " + locked), std::string::npos)
      << world.statuses[0];

  ASSERT_EQ(chmod(locked.c_str(), 0600), 0);
  world.AdvanceBy(std::chrono::seconds(1));  // a start-up check that failed is tried again within a second
  ASSERT_EQ(world.posts.size(), 1u);
  const std::string notice = world.posts[0].json;
  EXPECT_NE(notice.find("engine started"), std::string::npos) << notice;
  EXPECT_NE(notice.find("licence checked"), std::string::npos) << notice;
  EXPECT_TRUE(world.key.values.contains(u"lastrecnum"));
}

}  // namespace
}  // namespace vantrel
