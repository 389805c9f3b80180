#include <gtest/gtest.h>

#include "module_harness.h"

namespace vantrel {
namespace {

using testing::kAccepted;
using testing::kRefused;
using testing::MemoryKey;
using testing::ModuleHarness;

const std::string kStart = "{\"text\":\"PSQL lisenssivalvonta käynnistetty Demo 1, koneen nimi KONE1\"}";
const std::string kProblems = "{\"text\":\"Mahdollisia PSQL lisenssiongelmia Demo 1, koneen nimi KONE1\"}";

TEST(CheckCycleTest, DecisionTable) {
  struct Row {
    const char* name;
    std::optional<std::int64_t> stored;  // "lastrecnum" before the cycle
    std::vector<std::int64_t> records;
    bool post_accepted;
    std::vector<std::string> notices;
    std::optional<std::int64_t> stored_after;
  } rows[] = {
      {"first run, nothing found", std::nullopt, {}, false, {kStart}, 0},
      {"first run, entries found, accepted", std::nullopt, {5, 9, 7}, true, {kStart}, 9},
      {"first run, entries found, refused", std::nullopt, {5, 9}, false, {kStart}, std::nullopt},
      {"later run, entries found, accepted", 3, {2, 4, 8}, true, {kProblems}, 8},
      {"later run, entries found, refused", 3, {4, 8}, false, {kProblems}, 3},
      {"later run, nothing new", 8, {4, 8}, true, {}, 8},
      {"numbers past 31 bits", 0x7FFFFFFF, {0x80000000LL, 0x123456789LL}, true, {kProblems}, 0x123456789LL},
      {"from a stored qword", 0x123456789LL, {0x12345678ALL}, true, {kProblems}, 0x12345678ALL},
  };
  for (const Row& row : rows) {
    ModuleHarness::World world;
    world.key.values[u"instancename"] = MemoryKey::Sz(u"Demo 1");
    world.key.values[u"chaturl"] = MemoryKey::Sz(u"http://chat/hook");
    if (row.stored) {
      world.key.values[u"lastrecnum"] = *row.stored > INT32_MAX
                                            ? MemoryKey::Qword(*row.stored)
                                            : MemoryKey::Dword(static_cast<std::int32_t>(*row.stored));
    }
    world.records = row.records;
    world.answer = row.post_accepted ? kAccepted : kRefused;
    ModuleHarness module(world);
    module.TarkastaLogit();

    EXPECT_EQ(world.Notices(), row.notices) << row.name;
    EXPECT_EQ(world.key.Integer(u"lastrecnum"), row.stored_after) << row.name;
    ASSERT_EQ(world.queries.size(), 1u) << row.name;
    EXPECT_EQ(world.queries[0], std::make_pair(row.stored.value_or(std::int64_t{0}), !row.stored)) << row.name;
    // A mark is a REG_DWORD while it fits in 31 bits, and a REG_QWORD above.
    if (row.stored_after) {
      EXPECT_EQ(world.key.values[u"lastrecnum"].type, *row.stored_after > INT32_MAX ? kRegQword : kRegDword)
          << row.name;
    }
    for (const auto& post : world.posts) EXPECT_EQ(post.url, u"http://chat/hook") << row.name;
  }
}

TEST(CheckCycleTest, FirstRunWithNothingFoundStoresZeroBeforePosting) {
  ModuleHarness::World world;
  world.answer = kRefused;
  ModuleHarness module(world);
  module.TarkastaLogit();
  ASSERT_EQ(world.posts.size(), 1u);
  EXPECT_EQ(world.posts[0].stored_at_post, 0);
  // No "instancename": a blank stands before the comma.
  EXPECT_EQ(world.posts[0].json, "{\"text\":\"PSQL lisenssivalvonta käynnistetty , koneen nimi KONE1\"}");
  EXPECT_EQ(world.posts[0].url, kDefaultChatUrl);

  module.TarkastaLogit();
  EXPECT_EQ(world.queries.back(), std::make_pair(std::int64_t{0}, false)) << "the next cycle is not a first run";
  EXPECT_EQ(world.posts.size(), 1u);
}

TEST(CheckCycleTest, ARefusedPostIsRepeatedFromTheStoredNumberNextCycle) {
  ModuleHarness::World world;
  world.key.values[u"lastrecnum"] = MemoryKey::Dword(3);
  world.records = {4, 8};
  world.answer = kRefused;
  ModuleHarness module(world);
  module.TarkastaLogit();
  EXPECT_EQ(module.flastrecnum(), 8) << "advanced in memory";
  world.answer = kAccepted;
  module.TarkastaLogit();
  EXPECT_EQ(world.queries[1].first, 3) << "reloaded from the key";
  EXPECT_EQ(world.posts.size(), 2u);
  EXPECT_EQ(world.key.Integer(u"lastrecnum"), 8);
}

// The failure of each cycle, or empty when it completed.
String CycleFailure(ModuleHarness& module) {
  try {
    module.TarkastaLogit();
  } catch (const Exception& e) {
    return e.Message();
  }
  return String();
}

// Nothing read and nothing stored; the store of what the chat accepted fails
// the cycle, as a refused write does, and waits for the next one.
TEST(CheckCycleTest, AKeyThatCannotBeOpenedIsNeverAFirstRunAndItsStoreFails) {
  ModuleHarness::World world;
  world.key.openable = false;
  world.records = {4, 8};
  world.computer = String();
  ModuleHarness module(world);
  EXPECT_EQ(CycleFailure(module), u"Failed to set data for 'lastrecnum'");
  ASSERT_EQ(world.posts.size(), 1u);
  EXPECT_EQ(world.posts[0].json, "{\"text\":\"Mahdollisia PSQL lisenssiongelmia , koneen nimi \"}");
  EXPECT_TRUE(world.key.values.empty());
  EXPECT_EQ(CycleFailure(module), u"Failed to set data for 'lastrecnum'");
  EXPECT_EQ(world.queries.back(), std::make_pair(std::int64_t{8}, false)) << "the number held in memory still advances";
  EXPECT_EQ(world.posts.size(), 1u);
}

// A key that can be read but not written: the check goes on with what it
// holds (the URL, the name, the mark); a store fails the check after the
// post, and the mark waits in memory until a store succeeds. A first run's
// start notice goes out once.
TEST(CheckCycleTest, AKeyThatCanBeReadButNotWrittenIsReadAndItsMarkWaits) {
  struct Row {
    const char* name;
    std::optional<std::int32_t> stored;
    std::vector<std::int64_t> records;
    std::string notice;
    std::int64_t stored_at_last;
  } rows[] = {
      {"first run, nothing found", std::nullopt, {}, kStart, 0},
      {"first run with entries", std::nullopt, {4}, kStart, 4},
      {"later run with entries", 3, {4}, kProblems, 4},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    ModuleHarness::World world;
    world.key.values[u"chaturl"] = MemoryKey::Sz(u"http://chat/hook");
    world.key.values[u"instancename"] = MemoryKey::Sz(u"Demo 1");
    if (row.stored) world.key.values[u"lastrecnum"] = MemoryKey::Dword(*row.stored);
    world.key.opens_for_writing = false;
    world.records = row.records;
    ModuleHarness module(world);
    EXPECT_EQ(CycleFailure(module), u"Failed to set data for 'lastrecnum'");
    ASSERT_EQ(world.posts.size(), 1u);
    EXPECT_EQ(world.posts[0].url, u"http://chat/hook");
    EXPECT_EQ(world.posts[0].json, row.notice);
    EXPECT_EQ(world.queries[0].second, !row.stored);

    EXPECT_EQ(CycleFailure(module), u"Failed to set data for 'lastrecnum'") << "the next check tries again";
    EXPECT_EQ(world.queries.back().second, false) << "no first run again";
    EXPECT_EQ(world.posts.size(), 1u) << "posted once";
    EXPECT_EQ(world.key.Integer(u"lastrecnum"), row.stored);

    world.key.opens_for_writing = true;
    EXPECT_EQ(CycleFailure(module), u"");
    EXPECT_EQ(world.posts.size(), 1u);
    EXPECT_EQ(world.key.Integer(u"lastrecnum"), row.stored_at_last);
    EXPECT_EQ(module.Ledger().DeliveredMark(), std::nullopt);
  }
}

TEST(CheckCycleTest, AFailedReadKeepsWhatWasReadBeforeIt) {
  ModuleHarness::World world;
  world.key.values[u"chaturl"] = MemoryKey::Sz(u"http://first");
  world.key.values[u"lastrecnum"] = MemoryKey::Sz(u"x");  // 4 bytes with its NUL: wrong type
  world.records = {1};
  ModuleHarness module(world);
  try {
    module.TarkastaLogit();
    FAIL() << "no error";
  } catch (const Exception& e) {
    EXPECT_EQ(e.Message(), u"Invalid data type for 'lastrecnum'");
  }
  EXPECT_EQ(module.fchatavain, u"http://first");
  EXPECT_TRUE(world.queries.empty());
  EXPECT_TRUE(world.posts.empty());
}

TEST(CheckCycleTest, AFailedStoreAfterAnAcceptedPostIsRetriedWithoutPostingAgain) {
  struct Row {
    const char* name;
    std::optional<std::int32_t> stored;  // "lastrecnum" before the first cycle
    std::string notice;
  } rows[] = {
      {"later run", 3, kProblems},
      {"first run: no second start notice, and the mark is stored, not 0", std::nullopt, kStart},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    ModuleHarness::World world;
    world.key.values[u"instancename"] = MemoryKey::Sz(u"Demo 1");
    if (row.stored) world.key.values[u"lastrecnum"] = MemoryKey::Dword(*row.stored);
    world.key.writable = false;
    world.records = {4};
    ModuleHarness module(world);
    EXPECT_EQ(CycleFailure(module), u"Failed to set data for 'lastrecnum'");
    EXPECT_EQ(CycleFailure(module), u"Failed to set data for 'lastrecnum'") << "the retry fails the same way";
    ASSERT_EQ(world.posts.size(), 1u) << "posted once, not once per retry";
    EXPECT_EQ(world.posts[0].json, row.notice);
    EXPECT_EQ(world.key.Integer(u"lastrecnum"), row.stored);

    world.key.writable = true;
    EXPECT_EQ(CycleFailure(module), u"");
    EXPECT_EQ(world.posts.size(), 1u);
    EXPECT_EQ(world.key.Integer(u"lastrecnum"), 4);
    EXPECT_EQ(world.queries.back(), std::make_pair(std::int64_t{4}, false));
  }
}

TEST(CheckCycleTest, ADeliveredMarkIsStoredAlsoWhenTheNextNoticeIsRefused) {
  ModuleHarness::World world;
  world.key.values[u"lastrecnum"] = MemoryKey::Dword(3);
  world.key.writable = false;
  world.records = {4};
  ModuleHarness module(world);
  EXPECT_EQ(CycleFailure(module), u"Failed to set data for 'lastrecnum'");

  world.key.writable = true;
  world.records = {4, 6};
  world.answer = kRefused;
  EXPECT_EQ(CycleFailure(module), u"");
  EXPECT_EQ(world.queries.back(), std::make_pair(std::int64_t{4}, false)) << "the delivered entry is not asked for";
  EXPECT_EQ(world.posts.size(), 2u);
  EXPECT_EQ(world.key.Integer(u"lastrecnum"), 4) << "what the chat accepted stays stored";

  world.answer = kAccepted;
  EXPECT_EQ(CycleFailure(module), u"");
  EXPECT_EQ(world.queries.back(), std::make_pair(std::int64_t{4}, false));
  EXPECT_EQ(world.key.Integer(u"lastrecnum"), 6);
}

// A key that cannot be opened when the delivered mark is to be stored fails
// the store as a refused write does; the mark is kept until a store
// succeeds.
TEST(CheckCycleTest, ADeliveredMarkWaitsForAKeyThatCannotBeOpened) {
  ModuleHarness::World world;
  world.key.values[u"lastrecnum"] = MemoryKey::Dword(3);
  world.key.writable = false;
  world.records = {4};
  ModuleHarness module(world);
  EXPECT_EQ(CycleFailure(module), u"Failed to set data for 'lastrecnum'");

  world.key.writable = true;
  world.key.openable = false;
  EXPECT_EQ(CycleFailure(module), u"Failed to set data for 'lastrecnum'");
  EXPECT_EQ(world.key.Integer(u"lastrecnum"), 3);

  world.key.openable = true;
  EXPECT_EQ(CycleFailure(module), u"");
  EXPECT_EQ(world.queries.back(), std::make_pair(std::int64_t{4}, false)) << "the delivered entry is not asked for";
  EXPECT_EQ(world.posts.size(), 1u) << "posted once";
  EXPECT_EQ(world.key.Integer(u"lastrecnum"), 4);
}

TEST(CheckCycleTest, AnEmptyChatUrlFallsBackToTheDefaultAndADeletedOneIsKept) {
  ModuleHarness::World world;
  world.key.values[u"lastrecnum"] = MemoryKey::Dword(0);
  world.key.values[u"chaturl"] = MemoryKey::Sz(u"");
  world.records = {1};
  ModuleHarness module(world);
  module.TarkastaLogit();
  EXPECT_EQ(module.fchatavain, kDefaultChatUrl);

  world.key.values[u"chaturl"] = MemoryKey::Sz(u"http://set");
  world.key.values[u"lastrecnum"] = MemoryKey::Dword(0);
  module.TarkastaLogit();
  world.key.values.erase(u"chaturl");
  world.key.values[u"lastrecnum"] = MemoryKey::Dword(0);
  module.TarkastaLogit();
  EXPECT_EQ(world.posts.back().url, u"http://set");
}

// "details" adds the entries under the notice; absent or 0 leaves the notice
// as it always was, and a value of the wrong type fails the check before the
// query, as any setting of the wrong type does.
TEST(CheckCycleTest, TheDetailsSetting) {
  const std::string two_entries = "\\nT m\\nT m";  // the fake log's lines, JSON-escaped
  const std::string problems_with_entries = kProblems.substr(0, kProblems.size() - 2) + two_entries + "\"}";
  struct Row {
    const char* name;
    std::optional<MemoryKey::Value> details;
    std::optional<std::int64_t> stored;
    std::vector<std::int64_t> records;
    std::vector<std::string> notices;
    std::u16string failure;
  } rows[] = {
      {"absent", std::nullopt, 3, {4, 8}, {kProblems}, u""},
      {"0", MemoryKey::Dword(0), 3, {4, 8}, {kProblems}, u""},
      {"1", MemoryKey::Dword(1), 3, {4, 8}, {problems_with_entries}, u""},
      {"any other number", MemoryKey::Dword(-1), 3, {4, 8}, {problems_with_entries}, u""},
      {"1 on a first run that finds nothing: the start notice alone",
       MemoryKey::Dword(1),
       std::nullopt,
       {},
       {kStart},
       u""},
      {"a string", MemoryKey::Sz(u"1"), 3, {4, 8}, {}, u"Invalid data type for 'details'"},
      {"a qword", MemoryKey::Qword(1), 3, {4, 8}, {}, u"Failed to get data for 'details'"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    ModuleHarness::World world;
    world.key.values[u"instancename"] = MemoryKey::Sz(u"Demo 1");
    world.key.values[u"chaturl"] = MemoryKey::Sz(u"http://chat/hook");
    if (row.stored) world.key.values[u"lastrecnum"] = MemoryKey::Dword(static_cast<std::int32_t>(*row.stored));
    if (row.details) world.key.values[u"details"] = *row.details;
    world.records = row.records;
    ModuleHarness module(world);
    EXPECT_EQ(CycleFailure(module), row.failure);
    EXPECT_EQ(world.Notices(), row.notices);
    EXPECT_EQ(world.queries.size(), row.failure.empty() ? 1u : 0u);
    EXPECT_EQ(module.fchatavain, u"http://chat/hook") << "read before the failing value";
  }
}

// What the cycle reports for the status line.
TEST(CheckCycleTest, TheReportOfEachOutcome) {
  struct Row {
    const char* name;
    std::optional<std::int32_t> stored;
    std::vector<std::int64_t> records;
    bool accepted;
    std::optional<std::size_t> entries;
    bool first_run;
    CheckReport::Notice notice;
    std::string post_failure;
  } rows[] = {
      {"delivered", 3, {4, 8}, true, 2, false, CheckReport::Notice::kDelivered, ""},
      {"refused", 3, {4, 8}, false, 2, false, CheckReport::Notice::kNotDelivered, "HTTP 500 Internal Server Error"},
      {"nothing new", 8, {4, 8}, true, 0, false, CheckReport::Notice::kNone, ""},
      {"first run, nothing found", std::nullopt, {}, true, 0, true, CheckReport::Notice::kDelivered, ""},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    ModuleHarness::World world;
    if (row.stored) world.key.values[u"lastrecnum"] = MemoryKey::Dword(*row.stored);
    world.records = row.records;
    world.answer = row.accepted ? kAccepted : kRefused;
    ModuleHarness module(world);
    module.TarkastaLogit();
    EXPECT_EQ(module.LastCheck().entries, row.entries);
    EXPECT_EQ(module.LastCheck().first_run, row.first_run);
    EXPECT_EQ(module.LastCheck().notice, row.notice);
    EXPECT_EQ(ToUtf8(module.LastCheck().post_failure), row.post_failure);
  }
}

}  // namespace
}  // namespace vantrel
