#include <gtest/gtest.h>

#include "module_under_test.h"

namespace vantrel {
namespace {

using testing::MemoryKey;
using testing::ModuleUnderTest;

const std::string kStart = "{\"text\":\"PSQL lisenssivalvonta käynnistetty Demo 1, koneen nimi KONE1\"}";
const std::string kProblems = "{\"text\":\"Mahdollisia PSQL lisenssiongelmia Demo 1, koneen nimi KONE1\"}";

TEST(CheckCycleTest, DecisionTable) {
  struct Row {
    const char* name;
    std::optional<std::int32_t> stored;  // "lastrecnum" before the cycle
    std::vector<std::int32_t> records;
    bool post_accepted;
    std::vector<std::string> notices;
    std::optional<std::int32_t> stored_after;
  } rows[] = {
      {"first run, nothing found", std::nullopt, {}, false, {kStart}, 0},
      {"first run, entries found, accepted", std::nullopt, {5, 9, 7}, true, {kStart}, 9},
      {"first run, entries found, refused", std::nullopt, {5, 9}, false, {kStart}, std::nullopt},
      {"later run, entries found, accepted", 3, {2, 4, 8}, true, {kProblems}, 8},
      {"later run, entries found, refused", 3, {4, 8}, false, {kProblems}, 3},
      {"later run, nothing new", 8, {4, 8}, true, {}, 8},
  };
  for (const Row& row : rows) {
    ModuleUnderTest::World world;
    world.key.values[u"instancename"] = MemoryKey::Sz(u"Demo 1");
    world.key.values[u"chaturl"] = MemoryKey::Sz(u"http://chat/hook");
    if (row.stored) world.key.values[u"lastrecnum"] = MemoryKey::Dword(*row.stored);
    world.records = row.records;
    world.post_result = row.post_accepted;
    ModuleUnderTest module(world);
    module.TarkastaLogit();

    std::vector<std::string> notices;
    for (const auto& post : world.posts) notices.push_back(post.json);
    EXPECT_EQ(notices, row.notices) << row.name;
    EXPECT_EQ(world.key.Integer(u"lastrecnum"), row.stored_after) << row.name;
    ASSERT_EQ(world.queries.size(), 1u) << row.name;
    EXPECT_EQ(world.queries[0], std::make_pair(row.stored.value_or(0), !row.stored)) << row.name;
    for (const auto& post : world.posts) EXPECT_EQ(post.url, u"http://chat/hook") << row.name;
  }
}

TEST(CheckCycleTest, FirstRunWithNothingFoundStoresZeroBeforePosting) {
  ModuleUnderTest::World world;
  world.post_result = false;
  ModuleUnderTest module(world);
  module.TarkastaLogit();
  ASSERT_EQ(world.posts.size(), 1u);
  EXPECT_EQ(world.posts[0].stored_at_post, 0);
  // No "instancename": a blank stands before the comma.
  EXPECT_EQ(world.posts[0].json, "{\"text\":\"PSQL lisenssivalvonta käynnistetty , koneen nimi KONE1\"}");
  EXPECT_EQ(world.posts[0].url, kDefaultChatUrl);

  module.TarkastaLogit();
  EXPECT_EQ(world.queries.back(), std::make_pair(0, false)) << "the next cycle is not a first run";
  EXPECT_EQ(world.posts.size(), 1u);
}

TEST(CheckCycleTest, ARefusedPostIsRepeatedFromTheStoredNumberNextCycle) {
  ModuleUnderTest::World world;
  world.key.values[u"lastrecnum"] = MemoryKey::Dword(3);
  world.records = {4, 8};
  world.post_result = false;
  ModuleUnderTest module(world);
  module.TarkastaLogit();
  EXPECT_EQ(module.flastrecnum, 8) << "advanced in memory";
  world.post_result = true;
  module.TarkastaLogit();
  EXPECT_EQ(world.queries[1].first, 3) << "reloaded from the key";
  EXPECT_EQ(world.posts.size(), 2u);
  EXPECT_EQ(world.key.Integer(u"lastrecnum"), 8);
}

TEST(CheckCycleTest, AKeyThatCannotBeOpenedIsNeverAFirstRunAndStoresNothing) {
  ModuleUnderTest::World world;
  world.key.openable = false;
  world.records = {4, 8};
  world.computer = String();
  ModuleUnderTest module(world);
  module.TarkastaLogit();
  ASSERT_EQ(world.posts.size(), 1u);
  EXPECT_EQ(world.posts[0].json, "{\"text\":\"Mahdollisia PSQL lisenssiongelmia , koneen nimi \"}");
  EXPECT_TRUE(world.key.values.empty());
  module.TarkastaLogit();
  EXPECT_EQ(world.queries.back(), std::make_pair(8, false)) << "the number held in memory still advances";
  EXPECT_EQ(world.posts.size(), 1u);
}

TEST(CheckCycleTest, AFailedReadKeepsWhatWasReadBeforeIt) {
  ModuleUnderTest::World world;
  world.key.values[u"chaturl"] = MemoryKey::Sz(u"http://first");
  world.key.values[u"lastrecnum"] = MemoryKey::Sz(u"x");  // 4 bytes with its NUL: wrong type
  world.records = {1};
  ModuleUnderTest module(world);
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

TEST(CheckCycleTest, AFailedStoreAfterAnAcceptedPostLeavesTheNumberUnstored) {
  ModuleUnderTest::World world;
  world.key.values[u"lastrecnum"] = MemoryKey::Dword(3);
  world.key.writable = false;
  world.records = {4};
  ModuleUnderTest module(world);
  try {
    module.TarkastaLogit();
    FAIL() << "no error";
  } catch (const Exception& e) {
    EXPECT_EQ(e.Message(), u"Failed to set data for 'lastrecnum'");
  }
  EXPECT_EQ(world.posts.size(), 1u);
  EXPECT_EQ(world.key.Integer(u"lastrecnum"), 3);
}

TEST(CheckCycleTest, AnEmptyChatUrlFallsBackToTheDefaultAndADeletedOneIsKept) {
  ModuleUnderTest::World world;
  world.key.values[u"lastrecnum"] = MemoryKey::Dword(0);
  world.key.values[u"chaturl"] = MemoryKey::Sz(u"");
  world.records = {1};
  ModuleUnderTest module(world);
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

}  // namespace
}  // namespace vantrel
