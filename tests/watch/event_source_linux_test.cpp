// The event log query against real journal files, made by
// systemd-journal-remote from export-format text.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "tests/platform/trace_recorder.h"
#include "tests/watch/journal_folder.h"
#include "tests/watch/real_query_module.h"
#include "watch/event_log_query.h"

namespace vantrel {
namespace {

using testing::JournalFolder;
using testing::kJournalRemote;
using testing::TraceRecorder;

struct QueryResult {
  std::vector<std::string> lines;
  std::int32_t record_number;
  std::vector<std::string> trace;
};

QueryResult Query(std::int32_t record_number, bool first_run) {
  TraceRecorder trace;
  EventLines lines;
  QueryEventLog(record_number, lines, first_run);
  QueryResult result{{}, record_number, trace.lines};
  for (const String& line : lines) result.lines.push_back(ToUtf8(line));
  return result;
}

// "Computer: psqlhost Time: ..." for the entry written nth (from 0) in UTC.
std::string FirstLine(int nth) {
  char time[32];
  std::snprintf(time, sizeof time, "20231114221%03d.000000+000", 320 + nth);
  return std::string("Computer: psqlhost Time: ") + time;
}

class JournalQueryTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(std::filesystem::exists(kJournalRemote)) << "systemd-journal-remote is needed to make journal files";
  }
};

TEST_F(JournalQueryTest, SelectsTheSourceByTypeAboveTheRecordNumber) {
  JournalFolder folder;
  folder.Write({
      {"Pervasive SQL", 3, "disk error"},         // 1
      {"other", 3, "not ours"},                   // 2
      {"Pervasive SQL", 4, std::nullopt},         // 3
      {"Pervasive SQL", 6, "engine started"},     // 4
      {"Pervasive SQL", 7, "debug detail"},       // 5
      {"Pervasive SQL", 5, "notice"},             // 6
      {"Pervasive SQL", 0, "emergency"},          // 7
      {"Pervasive SQLX", 3, "a longer name"},     // 8
      {"pervasive sql", 3, "another case"},       // 9
      {"Pervasive SQL", std::nullopt, "no level"},  // 10
  });
  // Entries come newest first.
  const std::vector<std::string> errors_and_warnings = {
      FirstLine(6), " Message : emergency", FirstLine(2), "Empty message", FirstLine(0), " Message : disk error"};
  struct Row {
    const char* name;
    std::int32_t start;
    bool first_run;
    std::vector<std::string> lines;
    std::int32_t record_number;
  } rows[] = {
      {"first run: errors, warnings and information",
       0,
       true,
       {FirstLine(6), " Message : emergency", FirstLine(5), " Message : notice", FirstLine(3),
        " Message : engine started", FirstLine(2), "Empty message", FirstLine(0), " Message : disk error"},
       7},
      {"later run from 0: errors and warnings", 0, false, errors_and_warnings, 7},
      {"later run from -7", -7, false, errors_and_warnings, 7},
      {"later run from 2", 2, false, {FirstLine(6), " Message : emergency", FirstLine(2), "Empty message"}, 7},
      {"later run from 3", 3, false, {FirstLine(6), " Message : emergency"}, 7},
      {"nothing above 7", 7, false, {}, 7},
      {"nothing above 100", 100, true, {}, 100},
  };
  for (const Row& row : rows) {
    QueryResult result = Query(row.start, row.first_run);
    EXPECT_EQ(result.lines, row.lines) << row.name;
    EXPECT_EQ(result.record_number, row.record_number) << row.name;
    EXPECT_TRUE(result.trace.empty()) << row.name << ": " << (result.trace.empty() ? "" : result.trace[0]);
  }
}

TEST_F(JournalQueryTest, ALaterRunFindsOnlyTheNewEntries) {
  JournalFolder folder;
  folder.Write({{"Pervasive SQL", 3, "first"}, {"Pervasive SQL", 4, "second"}});
  QueryResult start = Query(0, true);
  EXPECT_EQ(start.record_number, 2);

  folder.Write({{"Pervasive SQL", 6, "information"}, {"Pervasive SQL", 2, "third"}, {"other", 1, "not ours"}});
  QueryResult later = Query(start.record_number, false);
  EXPECT_EQ(later.lines, (std::vector<std::string>{FirstLine(3), " Message : third"}));
  EXPECT_EQ(later.record_number, 4);
  EXPECT_TRUE(later.trace.empty());

  QueryResult again = Query(later.record_number, false);
  EXPECT_TRUE(again.lines.empty());
  EXPECT_EQ(again.record_number, 4);
}

TEST_F(JournalQueryTest, TimeIsLocalWithItsOffsetInMinutes) {
  struct Row {
    const char* tz;
    const char* time;
  } rows[] = {
      {"UTC0", "20231114221320.000000+000"},
      {"EET-2", "20231115001320.000000+120"},
      {"IST-5:30", "20231115034320.000000+330"},
      {"EST5", "20231114171320.000000-300"},
      {"NST3:30", "20231114184320.000000-210"},
  };
  for (const Row& row : rows) {
    JournalFolder folder(row.tz);
    folder.Write({{"Pervasive SQL", 3, "m"}});
    QueryResult result = Query(0, false);
    ASSERT_EQ(result.lines.size(), 2u) << row.tz;
    EXPECT_EQ(result.lines[0], std::string("Computer: psqlhost Time: ") + row.time) << row.tz;
  }
}

TEST_F(JournalQueryTest, KeepsMicrosecondsAndWholeMessages) {
  JournalFolder folder;
  std::string long_message(100000, 'x');
  folder.Write({{"Pervasive SQL", 3, long_message, "psqlhost", 123456}});
  QueryResult result = Query(0, false);
  ASSERT_EQ(result.lines.size(), 2u);
  EXPECT_EQ(result.lines[0], "Computer: psqlhost Time: 20231114221320.123456+000");
  EXPECT_EQ(result.lines[1], " Message : " + long_message);
}

TEST_F(JournalQueryTest, AnEntryWithoutHostNameEndsTheWalkKeepingWhatCameBefore) {
  JournalFolder folder;
  folder.Write({{"Pervasive SQL", 3, "older", std::nullopt}, {"Pervasive SQL", 3, "newer"}});
  QueryResult result = Query(0, false);
  EXPECT_EQ(result.lines, (std::vector<std::string>{FirstLine(1), " Message : newer"}));
  EXPECT_EQ(result.record_number, 2);
  EXPECT_EQ(result.trace, (std::vector<std::string>{
                              "Virhe haussa=Could not convert variant of type (Null) into type (UnicodeString)",
                              "callstack="}));
}

TEST_F(JournalQueryTest, AJournalFolderThatCannotBeOpenedIsTraced) {
  setenv("VANTREL_JOURNAL_DIR", "/nonexistent/vantrel-journal", 1);
  QueryResult result = Query(5, false);
  unsetenv("VANTREL_JOURNAL_DIR");
  EXPECT_TRUE(result.lines.empty());
  EXPECT_EQ(result.record_number, 5);
  ASSERT_EQ(result.trace.size(), 2u);
  EXPECT_EQ(result.trace[0],
            "Virhe haussa=Cannot open the journal folder /nonexistent/vantrel-journal: No such file or directory");
  EXPECT_EQ(result.trace[1], "callstack=");
}

TEST_F(JournalQueryTest, TheCheckCycleReportsNewJournalEntries) {
  using testing::kProblemsNotice;
  using testing::kStartNotice;
  using testing::MemoryKey;
  using testing::RealQueryModule;
  JournalFolder folder;
  folder.Write({{"Pervasive SQL", 6, "engine started"}});
  RealQueryModule::World world;
  world.key.values[u"instancename"] = MemoryKey::Sz(u"Demo");
  RealQueryModule module(world);

  module.TarkastaLogit();  // first run: the information entry counts
  EXPECT_EQ(world.notices, std::vector<std::string>{kStartNotice});
  EXPECT_EQ(world.key.Integer(u"lastrecnum"), 1);

  module.TarkastaLogit();  // nothing new
  folder.Write({{"Pervasive SQL", 6, "more information"}});
  module.TarkastaLogit();  // information alone is not reported later
  EXPECT_EQ(world.notices.size(), 1u);
  EXPECT_EQ(world.key.Integer(u"lastrecnum"), 1);

  folder.Write({{"Pervasive SQL", 3, "license problem"}});
  module.TarkastaLogit();
  EXPECT_EQ(world.notices, (std::vector<std::string>{kStartNotice, kProblemsNotice}));
  EXPECT_EQ(world.key.Integer(u"lastrecnum"), 3);
}

}  // namespace
}  // namespace vantrel
