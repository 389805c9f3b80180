#include <gtest/gtest.h>

#include "module_harness.h"

namespace vantrel {
namespace {

using testing::ModuleHarness;
using testing::TraceRecorder;

constexpr DateTime kHour = 1.0 / 24;
constexpr DateTime kMinute = kHour / 60;
constexpr DateTime kMs = kMinute / 60000;

TEST(CheckTimerTest, FirstTickChecksAndSlowsTheTimerToTenMinutes) {
  ModuleHarness::World world;
  world.key.values[u"lastrecnum"] = testing::MemoryKey::Dword(4);
  ModuleHarness module(world);
  TraceRecorder trace;
  world.now = 3.25;  // early in the calendar: still more than 11 h from 0.0
  world.timer.Fire();
  EXPECT_EQ(world.queries.size(), 1u);
  EXPECT_EQ(module.Timer1.Interval(), 600000u);
  EXPECT_EQ(world.timer.starts, (std::vector<std::uint32_t>{1000, 600000}));
  EXPECT_EQ(module.fedellinenajo, 3.25);
  EXPECT_EQ(trace.lines, std::vector<std::string>{"vantrel timer"});
}

TEST(CheckTimerTest, ACheckNeedsTwelveWholeHoursSinceTheLastCheck) {
  struct Row {
    const char* name;
    DateTime next_tick;  // relative to the end of the last check
    bool checks;
  } rows[] = {
      {"ten minutes later", 10 * kMinute, false},
      {"exactly 12 h", 12 * kHour, true},
      {"12 h less one ms", 12 * kHour - kMs, false},
      {"clock set forward 12 h", 12 * kHour + 10 * kMinute, true},
      {"clock set back 12 h", 10 * kMinute - 12 * kHour, false},
      {"clock set back 12 h 10 min", -12 * kHour, true},
  };
  for (const Row& row : rows) {
    ModuleHarness::World world;
    world.key.values[u"lastrecnum"] = testing::MemoryKey::Dword(4);
    ModuleHarness module(world);
    world.timer.Fire();  // the first check
    const DateTime last_check = module.fedellinenajo;
    world.now = last_check + row.next_tick;
    world.timer.Fire();
    EXPECT_EQ(world.queries.size(), row.checks ? 2u : 1u) << row.name;
    EXPECT_EQ(module.fedellinenajo, row.checks ? world.now : last_check)
        << row.name << ": only a completed check is recorded";
    EXPECT_EQ(world.timer.starts.size(), 2u) << row.name << ": later checks do not restart the period";
  }
}

// The service runs for days with a tick every ten minutes: a check comes
// every twelve hours, not only after the start.
TEST(CheckTimerTest, TicksEveryTenMinutesCheckEveryTwelveHours) {
  ModuleHarness::World world;
  world.key.values[u"lastrecnum"] = testing::MemoryKey::Dword(4);
  ModuleHarness module(world);
  world.now = 100.0;
  world.timer.Fire();  // the first check
  for (int tick = 1; tick <= 6 * 24 * 2; ++tick) {  // two days
    world.now = 100.0 + tick * 10 * kMinute;
    world.timer.Fire();
  }
  EXPECT_EQ(world.queries.size(), 5u);  // at the start, then after 12, 24, 36 and 48 hours
}

TEST(CheckTimerTest, AFailingCheckIsTracedNotRecordedAndRetriedOnTheNextTick) {
  ModuleHarness::World world;
  world.key.values[u"lastrecnum"] = testing::MemoryKey::Sz(u"41");
  ModuleHarness module(world);
  TraceRecorder trace;
  world.timer.Fire();
  world.timer.Fire();
  EXPECT_EQ(trace.lines, (std::vector<std::string>{"vantrel timer", "Failed to get data for 'lastrecnum'=", "=",
                                                   "vantrel timer", "Failed to get data for 'lastrecnum'=", "="}));
  EXPECT_EQ(module.Timer1.Interval(), 1000u);
  EXPECT_EQ(module.fedellinenajo, 0.0);
  EXPECT_TRUE(world.posts.empty());
}

TEST(CheckTimerTest, AMessageHoldingAnEqualsSignIsWrittenUnchanged) {
  ModuleHarness::World world;
  world.key.values[u"lastrecnum"] = testing::MemoryKey::Dword(4);
  world.records = {5};
  ModuleHarness module(world);
  TraceRecorder trace;
  world.computer_name_error = u"a=b";
  world.timer.Fire();
  EXPECT_EQ(trace.lines, (std::vector<std::string>{"vantrel timer", "a=b=", "="}));
}

TEST(CheckTimerTest, ARefusedRestartLeavesNoFurtherTicks) {
  ModuleHarness::World world;
  world.key.values[u"lastrecnum"] = testing::MemoryKey::Dword(4);
  ModuleHarness module(world);
  TraceRecorder trace;
  world.timer.refuse = true;
  world.timer.Fire();
  EXPECT_EQ(trace.lines, (std::vector<std::string>{"vantrel timer", "Not enough timers available=", "="}));
  EXPECT_FALSE(world.timer.running);
}

// After every check, one status line: what it did and when the next comes,
// or why it failed.
TEST(CheckTimerTest, EveryCheckSendsItsStatusLine) {
  ModuleHarness::World world;
  world.key.values[u"lastrecnum"] = testing::MemoryKey::Dword(3);
  world.records = {4, 8};
  world.now = EncodeDateTime(2026, 12, 10, 12, 0, 3, 0);
  ModuleHarness module(world);
  world.timer.Fire();
  EXPECT_EQ(world.statuses, std::vector<std::string>{"Last check 2026-12-10 12:00:03: 2 new entries, notice "
                                                     "delivered; next check after 2026-12-11 00:00"});

  world.records = {4, 8, 9};
  world.answer = PostReport{0, u"", u"REST request failed: Error sending data: (7) Couldn't connect to server"};
  world.now += 12 * kHour;
  world.timer.Fire();
  EXPECT_EQ(world.statuses.back(),
            "Last check 2026-12-11 00:00:03: 1 new entry, notice not delivered: Error sending data: (7) Couldn't "
            "connect to server; retried at the next check, after 2026-12-11 12:00");

  world.key.values[u"lastrecnum"] = testing::MemoryKey::Sz(u"41");
  world.now += 12 * kHour;
  world.timer.Fire();
  world.timer.Fire();  // ten minutes on, in the test's clock: the same moment
  EXPECT_EQ(world.statuses.size(), 4u);
  EXPECT_EQ(world.statuses.back(),
            "Last check 2026-12-11 12:00:03 failed: Failed to get data for 'lastrecnum'; tried again within ten "
            "minutes");

  world.now += 10 * kMinute;
  world.key.values[u"lastrecnum"] = testing::MemoryKey::Dword(9);
  world.timer.Fire();
  EXPECT_EQ(world.statuses.size(), 5u);
  EXPECT_EQ(world.statuses.back(),
            "Last check 2026-12-11 12:10:03: no new entries; next check after 2026-12-12 00:10");
  world.timer.Fire();  // a tick that runs no check sends nothing
  EXPECT_EQ(world.statuses.size(), 5u);
}

}  // namespace
}  // namespace vantrel
