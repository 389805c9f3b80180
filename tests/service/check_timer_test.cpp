#include <gtest/gtest.h>

#include "module_harness.h"
#include "notify/exchange_failure.h"

namespace vantrel {
namespace {

using namespace std::chrono_literals;
using testing::ModuleHarness;
using testing::TraceRecorder;

constexpr DateTime kHour = 1.0 / 24;
constexpr DateTime kMinute = kHour / 60;
constexpr DateTime kMs = kMinute / 60000;

TEST(CheckTimerTest, FirstTickChecksAndSlowsTheTimerToTenMinutes) {
  ModuleHarness::World world;
  world.key.values[u"lastrecnum"] = testing::MemoryKey::Dword(4);
  world.now = 3.25;  // early in the calendar: still more than 11 h from 0.0
  ModuleHarness module(world);
  TraceRecorder trace;
  world.AdvanceBy(999ms);
  EXPECT_TRUE(world.queries.empty()) << "the first tick comes a second after the start";
  world.AdvanceBy(1ms);
  EXPECT_EQ(world.queries.size(), 1u);
  EXPECT_EQ(module.Timer1.Interval(), 600000u);
  EXPECT_EQ(world.timer.starts, (std::vector<std::uint32_t>{1000, 600000}));
  EXPECT_EQ(module.fedellinenajo, world.now);
  EXPECT_EQ(trace.lines, std::vector<std::string>{"vantrel timer"});
}

// The clock is set between two ticks; the next tick comes ten minutes after
// the last check, whatever the clock says then.
TEST(CheckTimerTest, ACheckNeedsTwelveWholeHoursSinceTheLastCheck) {
  struct Row {
    const char* name;
    DateTime clock_set;  // how far the clock is set on (or back) before the next tick
    bool checks;
  } rows[] = {
      {"the clock left alone", 0, false},
      {"12 h on the next tick", 12 * kHour - 10 * kMinute, true},
      {"12 h less one ms on the next tick", 12 * kHour - 10 * kMinute - kMs, false},
      {"clock set forward 12 h", 12 * kHour, true},
      {"clock set back 12 h", -12 * kHour, false},
      {"clock set back 12 h 10 min", -12 * kHour - 10 * kMinute, true},
  };
  for (const Row& row : rows) {
    ModuleHarness::World world;
    world.key.values[u"lastrecnum"] = testing::MemoryKey::Dword(4);
    ModuleHarness module(world);
    world.AdvanceBy(1s);  // the first check
    const DateTime last_check = module.fedellinenajo;
    world.now += row.clock_set;
    world.AdvanceBy(10min);
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
  world.AdvanceBy(1s);  // the first check
  world.AdvanceBy(48h);
  EXPECT_EQ(world.queries.size(), 5u);  // at the start, then after 12, 24, 36 and 48 hours
}

TEST(CheckTimerTest, AFailingCheckIsTracedNotRecordedAndRetriedOnTheNextTick) {
  ModuleHarness::World world;
  world.key.values[u"lastrecnum"] = testing::MemoryKey::Sz(u"41");
  ModuleHarness module(world);
  TraceRecorder trace;
  world.AdvanceBy(2s);  // two ticks: a failed first check leaves the timer at a second
  EXPECT_EQ(trace.lines, (std::vector<std::string>{"vantrel timer", "Failed to get data for 'lastrecnum'=", "=",
                                                   "vantrel timer", "Failed to get data for 'lastrecnum'=", "="}));
  EXPECT_EQ(module.Timer1.Interval(), 1000u);
  EXPECT_EQ(module.fedellinenajo, 0.0);
  EXPECT_TRUE(world.posts.empty());
}

// A query whose walk broke off fails the check: nothing is posted or
// stored, and the next tick asks again from the same mark.
TEST(CheckTimerTest, AQueryThatBrokeOffFailsTheCheckAndIsAskedAgainOnTheNextTick) {
  ModuleHarness::World world;
  world.key.values[u"instancename"] = testing::MemoryKey::Sz(u"Demo");
  world.key.values[u"lastrecnum"] = testing::MemoryKey::Dword(20);
  world.records = {23, 22, 21};
  world.query_error = u"walk broke";
  ModuleHarness module(world);
  TraceRecorder trace;
  world.AdvanceBy(1s);
  EXPECT_EQ(trace.lines, (std::vector<std::string>{"vantrel timer", "walk broke=", "="}));
  EXPECT_TRUE(world.posts.empty());
  EXPECT_EQ(world.key.Integer(u"lastrecnum"), 20);
  EXPECT_EQ(module.fedellinenajo, 0.0) << "not a completed check";

  world.query_error.reset();
  world.AdvanceBy(1s);
  EXPECT_EQ(world.queries, (std::vector<std::pair<std::int64_t, bool>>{{20, false}, {20, false}}));
  EXPECT_EQ(world.Notices(), std::vector<std::string>{testing::kProblemsNotice});
  EXPECT_EQ(world.key.Integer(u"lastrecnum"), 23);
}

// The event log hears of the checks once per change: one warning when they
// start failing (a refused post, a failed store, a walk that broke off),
// saying what failed and what comes next; nothing while they go on failing;
// one information entry when one succeeds again.
TEST(CheckTimerTest, TheEventLogHearsOfEachChangeBetweenFailingAndSucceedingOnce) {
  ModuleHarness::World world;
  world.key.values[u"lastrecnum"] = testing::MemoryKey::Dword(3);
  world.records = {4};
  world.now = EncodeDateTime(2026, 12, 10, 12, 0, 2, 0);
  ModuleHarness module(world);
  world.AdvanceBy(1s);
  EXPECT_EQ(world.check_events, std::vector<std::string>{}) << "a first check that succeeds writes nothing";

  world.records = {4, 5};
  world.answer = PostReport{0, u"", u"REST request failed: Error sending data: (7) Couldn't connect to server", {}};
  world.AdvanceBy(12h);
  world.AdvanceBy(12h);  // refused again: no second warning
  world.query_error = u"walk broke";
  world.AdvanceBy(12h);
  world.AdvanceBy(10min);  // the walk broke off again at the retry
  ASSERT_EQ(world.statuses.size(), 5u);
  EXPECT_EQ(world.check_events,
            std::vector<std::string>{"warning: Last check 2026-12-11 00:00:03: 1 new entry, notice not delivered: "
                                     "Error sending data: (7) Couldn't connect to server; retried at the next check, "
                                     "after 2026-12-11 12:00"});

  world.query_error.reset();
  world.answer = testing::kAccepted;
  world.AdvanceBy(10min);
  ASSERT_EQ(world.check_events.size(), 2u);
  EXPECT_EQ(world.check_events[1], "information: Checks succeed again. " + world.statuses.back());

  world.records = {4, 5, 6};
  world.key.writable = false;
  world.AdvanceBy(12h);
  world.AdvanceBy(10min);
  ASSERT_EQ(world.check_events.size(), 3u);
  EXPECT_EQ(world.check_events[2].rfind("warning: Last check ", 0), 0u) << world.check_events[2];
  EXPECT_NE(world.check_events[2].find("; tried again within ten minutes"), std::string::npos) << world.check_events[2];

  // A log that cannot be asked (WMI refusing the connection) is a failed
  // check too, though the check goes on to its end.
  world.key.writable = true;
  world.AdvanceBy(10min);
  ASSERT_EQ(world.check_events.size(), 4u);
  world.query_failure = u"Access denied";
  world.AdvanceBy(12h);
  ASSERT_EQ(world.check_events.size(), 5u);
  EXPECT_EQ(world.check_events[4],
            "warning: The event log could not be asked: Access denied. " + world.statuses.back());
}

TEST(CheckTimerTest, AMessageHoldingAnEqualsSignIsWrittenUnchanged) {
  ModuleHarness::World world;
  world.key.values[u"lastrecnum"] = testing::MemoryKey::Dword(4);
  world.records = {5};
  ModuleHarness module(world);
  TraceRecorder trace;
  world.computer_name_error = u"a=b";
  world.AdvanceBy(1s);
  EXPECT_EQ(trace.lines, (std::vector<std::string>{"vantrel timer", "a=b=", "="}));
}

TEST(CheckTimerTest, ARefusedRestartLeavesNoFurtherTicks) {
  ModuleHarness::World world;
  world.key.values[u"lastrecnum"] = testing::MemoryKey::Dword(4);
  ModuleHarness module(world);
  TraceRecorder trace;
  world.timer.refuse = true;
  world.AdvanceBy(1h);
  EXPECT_EQ(trace.lines, (std::vector<std::string>{"vantrel timer", "Not enough timers available=", "="}));
  EXPECT_FALSE(world.timer.running);
}

// After every check, one status line: what it did and when the next comes,
// or why it failed.
TEST(CheckTimerTest, EveryCheckSendsItsStatusLine) {
  ModuleHarness::World world;
  world.key.values[u"lastrecnum"] = testing::MemoryKey::Dword(3);
  world.records = {4, 8};
  world.now = EncodeDateTime(2026, 12, 10, 12, 0, 2, 0);
  ModuleHarness module(world);
  world.AdvanceBy(1s);
  EXPECT_EQ(world.statuses, std::vector<std::string>{"Last check 2026-12-10 12:00:03: 2 new entries, notice "
                                                     "delivered; next check after 2026-12-11 00:00"});

  world.records = {4, 8, 9};
  world.answer = PostReport{0, u"", u"REST request failed: Error sending data: (7) Couldn't connect to server", {}};
  world.AdvanceBy(12h);
  EXPECT_EQ(world.statuses.size(), 2u) << "a tick that runs no check sends nothing";
  EXPECT_EQ(world.statuses.back(),
            "Last check 2026-12-11 00:00:03: 1 new entry, notice not delivered: Error sending data: (7) Couldn't "
            "connect to server; retried at the next check, after 2026-12-11 12:00");

  world.key.values[u"lastrecnum"] = testing::MemoryKey::Sz(u"41");
  world.AdvanceBy(12h);
  EXPECT_EQ(world.statuses.size(), 3u);
  EXPECT_EQ(world.statuses.back(),
            "Last check 2026-12-11 12:00:03 failed: Failed to get data for 'lastrecnum'; tried again within ten "
            "minutes");
  world.AdvanceBy(10min);
  EXPECT_EQ(world.statuses.size(), 4u);
  EXPECT_EQ(world.statuses.back(),
            "Last check 2026-12-11 12:10:03 failed: Failed to get data for 'lastrecnum'; tried again within ten "
            "minutes");

  world.key.values[u"lastrecnum"] = testing::MemoryKey::Dword(9);
  world.AdvanceBy(10min);
  EXPECT_EQ(world.statuses.size(), 5u);
  EXPECT_EQ(world.statuses.back(), "Last check 2026-12-11 12:20:03: no new entries; next check after 2026-12-12 00:20");
  world.AdvanceBy(10min);  // a tick that runs no check sends nothing
  EXPECT_EQ(world.statuses.size(), 5u);
}

// A store that fails after the chat accepted the notice (here the settings
// turn unwritable while the post is under way) fails the check: the debug
// lines and the status line name it, and the next tick stores the mark
// without posting again once the settings can be written.
TEST(CheckTimerTest, AFailedStoreIsNamedAndStoredAtTheNextTick) {
  ModuleHarness::World world;
  world.key.values[u"lastrecnum"] = testing::MemoryKey::Dword(3);
  world.records = {4, 5};
  world.now = EncodeDateTime(2026, 12, 10, 12, 0, 2, 0);
  const String why = u"Cannot write settings file /srv/vantrel/settings.reg, folder /srv/vantrel: Permission denied";
  world.during_post = [&] { world.key.opening_failure = why; };
  ModuleHarness module(world);
  TraceRecorder trace;
  world.AdvanceBy(1s);
  const std::vector<std::string> failed = {"vantrel timer", "virhe rekisterin aukaisussa" + ToUtf8(why) + "=",
                                           "Failed to set data for 'lastrecnum'=", "="};
  EXPECT_EQ(trace.lines, failed);
  EXPECT_EQ(world.statuses, std::vector<std::string>{
                                "Last check 2026-12-10 12:00:03: 2 new entries, notice delivered; " + ToUtf8(why) +
                                "; then failed: Failed to set data for 'lastrecnum'; tried again within ten minutes"});
  trace.lines.clear();
  world.AdvanceBy(1s);
  EXPECT_EQ(world.statuses.size(), 2u) << "tried again at the next tick";
  // Said by the read, which goes on with the values it can read, and by the
  // store.
  EXPECT_EQ(trace.lines, (std::vector<std::string>{"vantrel timer", failed[1], failed[1], failed[2], "="}));
  EXPECT_EQ(world.key.Integer(u"lastrecnum"), 3);

  world.key.opening_failure.reset();
  world.AdvanceBy(1s);
  EXPECT_EQ(world.key.Integer(u"lastrecnum"), 5);
  EXPECT_EQ(world.posts.size(), 1u) << "posted once";
  EXPECT_EQ(world.statuses.back(), "Last check 2026-12-10 12:00:05: no new entries; next check after 2026-12-11 00:00");
  EXPECT_EQ(trace.lines.back(), "vantrel timer");
}

// The same at a later check, when the timer ticks every ten minutes: the
// failed store leaves the check incomplete, so the next ten-minute tick
// stores the mark (and posts nothing again).
TEST(CheckTimerTest, AFailedStoreAtALaterCheckIsStoredAtTheNextTenMinuteTick) {
  ModuleHarness::World world;
  world.key.values[u"lastrecnum"] = testing::MemoryKey::Dword(3);
  world.now = EncodeDateTime(2026, 12, 10, 12, 0, 2, 0);
  ModuleHarness module(world);
  world.AdvanceBy(1s);
  ASSERT_EQ(world.statuses.size(), 1u);

  world.records = {4};
  world.during_post = [&] { world.key.opens_for_writing = false; };
  world.AdvanceBy(12h);
  ASSERT_EQ(world.posts.size(), 1u);
  EXPECT_EQ(world.statuses.back(),
            "Last check 2026-12-11 00:00:03: 1 new entry, notice delivered; then failed: Failed to set data for "
            "'lastrecnum'; tried again within ten minutes");
  world.key.opens_for_writing = true;
  world.during_post = nullptr;
  world.AdvanceBy(10min);
  EXPECT_EQ(world.key.Integer(u"lastrecnum"), 4);
  EXPECT_EQ(world.posts.size(), 1u);
  EXPECT_EQ(world.statuses.back(), "Last check 2026-12-11 00:10:03: no new entries; next check after 2026-12-11 12:10");
}

// No HTTP stack at all: the debug line is the message alone, and the status
// line gives the reason behind it (the loader's).
TEST(CheckTimerTest, NoSessionHandleGivesItsReasonToTheStatusLine) {
  ModuleHarness::World world;
  world.key.values[u"lastrecnum"] = testing::MemoryKey::Dword(3);
  world.records = {4};
  world.now = EncodeDateTime(2026, 12, 10, 12, 0, 2, 0);
  world.during_post = [] {
    throw SessionHandleFailure(kSessionHandleMessage,
                               u"Error obtaining session handle: libcurl.so.4: cannot open shared object file");
  };
  ModuleHarness module(world);
  TraceRecorder trace;
  world.AdvanceBy(1s);
  EXPECT_EQ(trace.lines, (std::vector<std::string>{"vantrel timer", "Error obtaining session handle=", "="}));
  EXPECT_EQ(
      world.statuses,
      std::vector<std::string>{"Last check 2026-12-10 12:00:03: 1 new entry; then failed: Error obtaining session "
                               "handle: libcurl.so.4: cannot open shared object file; tried again within ten minutes"});
}

}  // namespace
}  // namespace vantrel
