// The event log query against real journal files, made by
// systemd-journal-remote from export-format text.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <filesystem>
#include <string>
#include <vector>

#include "tests/platform/trace_recorder.h"
#include "tests/watch/journal_folder.h"
#include "watch/event_log_query.h"
#include "watch/event_log_query_test_seam.h"
#include "watch/event_source.h"
#include "watch/journal/journal_files_linux.h"
#include "watch/journal/journal_test_seam_linux.h"
#include "watch/sequence_marks.h"

namespace vantrel {
namespace {

using testing::JournalFolder;
using testing::kJournalRemote;
using testing::TraceRecorder;

struct QueryResult {
  std::vector<std::string> lines;
  std::int64_t record_number;
  std::vector<std::string> trace;
  RecordMark mark;
  QueryOutcome outcome;
};

// What the service under test has said once: fresh for each test.
SaidOnce* said_by_service = nullptr;

QueryResult Query(RecordMark mark, bool first_run, const String& source = kDefaultSourceName) {
  TraceRecorder trace;
  EventRecords records;
  QueryOutcome outcome =
      QueryEventLogFrom(OpenEventSource, mark, records, first_run, source, SIZE_MAX, said_by_service);  // every record
  QueryResult result{{}, mark.number, trace.lines, mark, std::move(outcome)};
  for (const String& line : RecordLines(records)) result.lines.push_back(ToUtf8(line));
  return result;
}

// A mark stored before positions were kept: the number alone.
QueryResult Query(std::int64_t record_number, bool first_run, const String& source = kDefaultSourceName) {
  return Query(RecordMark{record_number, String()}, first_run, source);
}

// The messages of the lines, in order.
std::vector<std::string> Messages(const QueryResult& result) {
  std::vector<std::string> messages;
  for (std::size_t i = 1; i < result.lines.size(); i += 2) messages.push_back(result.lines[i].substr(11));
  return messages;
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
    said_by_service = &said_;
  }
  void TearDown() override { said_by_service = nullptr; }

 private:
  SaidOnce said_;
};

TEST_F(JournalQueryTest, SelectsTheSourceByTypeAboveTheRecordNumber) {
  JournalFolder folder;
  folder.Write({
      {"Pervasive SQL", 3, "disk error"},           // 1
      {"other", 3, "not ours"},                     // 2
      {"Pervasive SQL", 4, std::nullopt},           // 3
      {"Pervasive SQL", 6, "engine started"},       // 4
      {"Pervasive SQL", 7, "debug detail"},         // 5
      {"Pervasive SQL", 5, "notice"},               // 6
      {"Pervasive SQL", 0, "emergency"},            // 7
      {"Pervasive SQLX", 3, "a longer name"},       // 8
      {"pervasive sql", 3, "another case"},         // 9
      {"Pervasive SQL", std::nullopt, "no level"},  // 10
  });
  // Entries come oldest first.
  const std::vector<std::string> errors_and_warnings = {
      FirstLine(0), " Message : disk error", FirstLine(2), "Empty message", FirstLine(6), " Message : emergency"};
  struct Row {
    const char* name;
    std::int64_t start;
    bool first_run;
    std::vector<std::string> lines;
    std::int64_t record_number;
  } rows[] = {
      {"first run: errors, warnings and information",
       0,
       true,
       {FirstLine(0), " Message : disk error", FirstLine(2), "Empty message", FirstLine(3), " Message : engine started",
        FirstLine(5), " Message : notice", FirstLine(6), " Message : emergency"},
       7},
      {"later run from 0: errors and warnings", 0, false, errors_and_warnings, 7},
      {"later run from -7", -7, false, errors_and_warnings, 7},
      {"later run from 2", 2, false, {FirstLine(2), "Empty message", FirstLine(6), " Message : emergency"}, 7},
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
  QueryResult later = Query(start.mark, false);
  EXPECT_EQ(later.lines, (std::vector<std::string>{FirstLine(3), " Message : third"}));
  EXPECT_EQ(later.record_number, 4);
  EXPECT_TRUE(later.trace.empty());

  QueryResult again = Query(later.mark, false);
  EXPECT_TRUE(again.lines.empty());
  EXPECT_EQ(again.mark, later.mark);
}

// The mark's position names each sequence of the journal with the newest
// number the check dealt with in it: the last entry of its files, whether
// the source's or another program's.
TEST_F(JournalQueryTest, TheMarkNamesEachSequenceWithItsNumber) {
  JournalFolder folder;
  folder.Write({{"Pervasive SQL", 3, "first"}, {"other", 3, "not ours"}});
  QueryResult result = Query(0, false);
  EXPECT_EQ(result.mark.number, 1);
  const std::string position = ToUtf8(result.mark.position);
  EXPECT_EQ(position.size(), 32u + 2) << position;
  EXPECT_TRUE(position.ends_with("=2")) << position;
}

// A journal whose sequence started again (a volatile journal after a reboot,
// journal files removed) numbers from 1: its entries written after the mark's
// entry are new whatever their numbers, and so are the old sequence's
// entries above the mark, once each.
TEST_F(JournalQueryTest, ASequenceThatStartsAgainIsReportedOnce) {
  JournalFolder folder;
  std::vector<testing::JournalEntrySpec> old_entries;
  for (int i = 1; i <= 5; ++i) old_entries.push_back({"Pervasive SQL", 3, "old " + std::to_string(i)});
  folder.Write(old_entries);
  const QueryResult before = Query(0, false);
  ASSERT_EQ(before.record_number, 5);

  folder.RaiseSequence(1000);                                   // the old journal went on counting other entries
  folder.Write({{"Pervasive SQL", 3, "old after the check"}});  // 1001
  folder.Write({{"Pervasive SQL", 4, "new 1"}, {"other", 3, "not ours"}, {"Pervasive SQL", 3, "new 3"}}, "new.journal");

  const QueryResult after = Query(before.mark, false);
  EXPECT_EQ(Messages(after), (std::vector<std::string>{"old after the check", "new 1", "new 3"}));
  EXPECT_EQ(after.record_number, 3) << "the highest number of the sequence read last";
  EXPECT_TRUE(after.trace.empty());
  EXPECT_TRUE(Query(after.mark, false).lines.empty()) << "reported once";

  folder.Write({{"Pervasive SQL", 3, "new 4"}}, "new.journal");
  EXPECT_EQ(Messages(Query(after.mark, false)), std::vector<std::string>{"new 4"});

  // A mark stored before positions were kept has its number alone: an entry
  // is new when its number is above it, in any sequence.
  EXPECT_EQ(Messages(Query(1000, false)), std::vector<std::string>{"old after the check"});
}

// Journal sequence numbers count every entry of the host and pass 2^31 on
// a busy one: they are record numbers of full width.
TEST_F(JournalQueryTest, SequenceNumbersPast31BitsRaiseTheMark) {
  JournalFolder folder;
  folder.Write({{"Pervasive SQL", 3, "before"}});
  const QueryResult before = Query(0, false);
  folder.RaiseSequence(0x7FFFFFFFULL);
  folder.Write({{"Pervasive SQL", 3, "past 2^31"}, {"Pervasive SQL", 3, "next"}});
  const QueryResult after = Query(before.mark, false);
  EXPECT_EQ(Messages(after), (std::vector<std::string>{"past 2^31", "next"}));
  EXPECT_EQ(after.record_number, 0x80000001LL);
  EXPECT_TRUE(Query(after.mark, false).lines.empty());
  EXPECT_TRUE(Query(0x80000001LL, false).lines.empty()) << "the number alone compares in full width too";
  EXPECT_EQ(Messages(Query(0x80000000LL, false)), std::vector<std::string>{"next"});
}

// Errors numbered e1, e2, ... of the source, from `from` on.
std::vector<testing::JournalEntrySpec> Errors(const std::string& name, int count, int from = 1) {
  std::vector<testing::JournalEntrySpec> entries;
  for (int i = from; i < from + count; ++i) entries.push_back({"Pervasive SQL", 3, name + std::to_string(i)});
  return entries;
}

// Whether an entry is new never depends on the wall clock. Each row is a
// journal as a machine with a wrong clock writes it: the entries after the
// mark are reported once, whatever their times say.
TEST_F(JournalQueryTest, AWrongClockLosesNothing) {
  using testing::kHourUsec;
  using testing::WriteOptions;
  const WriteOptions new_boot{"fedcba9876543210fedcba9876543210", 0};
  struct Row {
    const char* name;
    std::int64_t mark_clock;  // how far off the clock was when the mark's entries were written
    // What is written after the check that took the mark.
    std::function<void(JournalFolder&)> then;
    std::vector<std::string> reported;
  } rows[] = {
      {"a second sequence in the same boot, its clock two hours behind",
       0,
       [](JournalFolder& f) {
         f.Write(Errors("a", 2, 4), "a.journal");
         f.Write({{"Pervasive SQL", 4, "b1"}}, "b.journal", {testing::kTestBoot, -2 * kHourUsec});
       },
       {"a4", "a5", "b1"}},
      {"a reboot with the clock an hour behind, then set right",
       0,
       [&new_boot](JournalFolder& f) {
         f.Write(Errors("n", 5), "n.journal", {new_boot.boot, -kHourUsec});
         f.Write(Errors("n", 2, 6), "n.journal", new_boot);
       },
       {"n1", "n2", "n3", "n4", "n5", "n6", "n7"}},
      {"the mark written with the clock a day ahead, then a reboot with the clock right",
       24 * kHourUsec,
       [&new_boot](JournalFolder& f) { f.Write(Errors("n", 10), "n.journal", new_boot); },
       {"n1", "n2", "n3", "n4", "n5", "n6", "n7", "n8", "n9", "n10"}},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    JournalFolder folder;
    folder.Write(Errors("a", 3), "a.journal", {testing::kTestBoot, row.mark_clock});
    const QueryResult first = Query(0, false);
    ASSERT_EQ(Messages(first), (std::vector<std::string>{"a1", "a2", "a3"}));
    row.then(folder);
    const QueryResult later = Query(first.mark, false);
    EXPECT_EQ(Messages(later), row.reported);
    EXPECT_TRUE(later.trace.empty()) << later.trace[0];
    const QueryResult again = Query(later.mark, false);
    EXPECT_TRUE(again.lines.empty()) << "reported once: " << again.lines[1];
    folder.Write(Errors("a", 1, 9), "a.journal");
    EXPECT_EQ(Messages(Query(later.mark, false)), std::vector<std::string>{"a9"}) << "the first sequence goes on";
  }
}

// A first run reports every sequence's entries and then knows every
// sequence of the journal, also one with nothing of the source in it.
TEST_F(JournalQueryTest, AFirstRunKnowsEverySequence) {
  JournalFolder folder;
  folder.Write({{"other", 3, "not ours"}}, "quiet.journal");
  folder.Write(Errors("a", 2), "a.journal");
  folder.Write({{"Pervasive SQL", 6, "started"}}, "b.journal");
  const QueryResult first = Query(0, true);
  std::vector<std::string> messages = Messages(first);
  std::sort(messages.begin(), messages.end());
  EXPECT_EQ(messages, (std::vector<std::string>{"a1", "a2", "started"}));
  EXPECT_EQ(std::count(first.mark.position.begin(), first.mark.position.end(), u'='), 3) << ToUtf8(first.mark.position);
  EXPECT_TRUE(Query(first.mark, false).lines.empty());
  folder.Write(Errors("q", 1), "quiet.journal");
  EXPECT_EQ(Messages(Query(first.mark, false)), std::vector<std::string>{"q1"});
}

// The writer numbers an entry in the file header before the entry can be
// found: a check at that moment must not move the mark over it. The header
// of a file open for writing is made to count one entry more than it holds.
TEST_F(JournalQueryTest, TheLastEntryOfAFileBeingWrittenIsLeftForTheNextCheck) {
  JournalFolder folder;
  folder.Write(Errors("a", 2));
  const std::string path = folder.Path() + "/x.journal";
  std::FILE* file = std::fopen(path.c_str(), "r+b");
  ASSERT_NE(file, nullptr);
  const unsigned char online = 1, tail[8] = {3};
  std::fseek(file, 16, SEEK_SET);
  std::fwrite(&online, 1, 1, file);
  std::fseek(file, 160, SEEK_SET);  // the number of the last entry
  std::fwrite(tail, 1, sizeof tail, file);
  std::fclose(file);
  const QueryResult result = Query(0, false);
  EXPECT_EQ(Messages(result), (std::vector<std::string>{"a1", "a2"}));
  EXPECT_EQ(ToUtf8(result.mark.position), ReadJournalFileHeader(path)->sequence + "=2");
}

// A mark that knows the sequence of file, with nothing of it dealt with: the
// marks alone then decide what is new (the number rule would hide a mark
// that does not move).
RecordMark KnownSequenceAtZero(const JournalFolder& folder, const std::string& file) {
  return RecordMark{0, FromUtf8(ReadJournalFileHeader(folder.Path() + "/" + file)->sequence + "=0")};
}

// On systemd 257 a user's file and the system's share one sequence, and both
// stay open for writing between syncs. Only the entry with the sequence's
// highest number can be half written; the user's file, whose last entry is
// older than the source's, must not hold the mark below what was delivered.
TEST_F(JournalQueryTest, AUserFileOfTheSameSequenceHoldsBackNothing) {
  JournalFolder folder;
  folder.Write({{"user", 5, "a user's line"}}, "user-1000.journal");  // 1
  folder.Write({{"other", 6, "before"}}, "system.journal");           // 1
  folder.RaiseSequence(1, "system.journal");
  folder.Write({Errors("e", 3)}, "system.journal");  // 2, 3, 4
  folder.JoinSequence("system.journal", "user-1000.journal");
  folder.SetOnline("system.journal");
  folder.SetOnline("user-1000.journal");
  const QueryResult first = Query(KnownSequenceAtZero(folder, "system.journal"), false);
  EXPECT_EQ(Messages(first), (std::vector<std::string>{"e1", "e2", "e3"}));
  for (int check = 0; check < 3; ++check) {
    EXPECT_TRUE(Query(first.mark, false).lines.empty()) << "check " << check << " reported again";
  }
}

// As journald archives a file: system.journal (holding 1..5) renamed to
// system@0001.journal, and a new system.journal of the same sequence with 6
// and 7 in it.
void ArchiveAndWriteTwoMore(JournalFolder& folder) {
  const std::string dir = folder.Path() + "/";
  ASSERT_EQ(std::rename((dir + "system.journal").c_str(), (dir + "system@0001.journal").c_str()), 0);
  folder.Write({{"other", 6, "header"}}, "system.journal");
  folder.RaiseSequence(5, "system.journal");
  folder.Write(Errors("a", 2, 6), "system.journal");  // 6, 7
  folder.JoinSequence("system.journal", "system@0001.journal");
}

// journald archives a file by renaming it and starts a new one under its
// name; when that happens between the listing of the files and their
// reading, the file listed is the one read, and nothing is lost or repeated.
TEST_F(JournalQueryTest, AFileArchivedDuringTheCheckIsReadAsListed) {
  JournalFolder folder;
  folder.Write(Errors("a", 3), "system.journal");
  folder.SetOnline("system.journal");
  const QueryResult first = Query(0, false);
  ASSERT_EQ(Messages(first), (std::vector<std::string>{"a1", "a2", "a3"}));
  folder.Write(Errors("a", 2, 4), "system.journal");  // 4, 5: online, so 5 may wait for the next check
  folder.SetOnline("system.journal");
  testing_seam::SetAfterJournalListing([&folder] {
    ArchiveAndWriteTwoMore(folder);
    folder.PatchHeader("system@0001.journal", journal_format::kState, std::string(1, '\2'));  // archived
  });
  const QueryResult second = Query(first.mark, false);
  testing_seam::SetAfterJournalListing(nullptr);
  const QueryResult third = Query(second.mark, false);
  std::vector<std::string> reported = Messages(second);
  for (const std::string& m : Messages(third)) reported.push_back(m);
  EXPECT_EQ(reported, (std::vector<std::string>{"a4", "a5", "a6", "a7"}));
  EXPECT_TRUE(Query(third.mark, false).lines.empty());
}

// The same, when journald archives the file between the reading of the
// folder's names and the opening of the files: the name then stands for the
// new file and the archived one is not among the names read. The check
// reads the names again and lists the files anew.
TEST_F(JournalQueryTest, AFileArchivedWhileTheFilesAreListedIsNotMissed) {
  JournalFolder folder;
  folder.Write(Errors("a", 3), "system.journal");
  const QueryResult first = Query(KnownSequenceAtZero(folder, "system.journal"), false);
  ASSERT_EQ(Messages(first), (std::vector<std::string>{"a1", "a2", "a3"}));
  folder.Write(Errors("a", 2, 4), "system.journal");  // 4, 5
  testing_seam::SetBetweenJournalNamesAndOpen([&folder] {
    testing_seam::SetBetweenJournalNamesAndOpen(nullptr);
    ArchiveAndWriteTwoMore(folder);
  });
  const QueryResult second = Query(first.mark, false);
  testing_seam::SetBetweenJournalNamesAndOpen(nullptr);
  std::vector<std::string> reported = Messages(second);
  std::sort(reported.begin(), reported.end());
  EXPECT_EQ(reported, (std::vector<std::string>{"a4", "a5", "a6", "a7"}));
  EXPECT_TRUE(Query(second.mark, false).lines.empty());
}

// A file of a newer format (an incompatible flag no reader knows) holds
// nothing this program can read: the files after it are reported once, and
// the file is named, with a debug line once.
TEST_F(JournalQueryTest, AFileNoReaderCanOpenHoldsBackNothing) {
  JournalFolder folder;
  folder.Write(Errors("old", 2), "system@0001.journal");  // 1, 2
  folder.Write({{"other", 6, "header"}}, "system.journal");
  folder.RaiseSequence(2, "system.journal");
  folder.Write(Errors("new", 2), "system.journal");  // 3, 4
  folder.JoinSequence("system.journal", "system@0001.journal");
  folder.SetUnknownIncompatibleFlag("system@0001.journal");
  const QueryResult first = Query(KnownSequenceAtZero(folder, "system.journal"), false);
  EXPECT_EQ(Messages(first), (std::vector<std::string>{"new1", "new2"}));
  ASSERT_EQ(first.outcome.passed_over.size(), 1u);
  EXPECT_TRUE(ToUtf8(first.outcome.passed_over[0]).starts_with(folder.Path() + "/system@0001.journal: "))
      << ToUtf8(first.outcome.passed_over[0]);
  EXPECT_TRUE(first.outcome.failure.empty());
  EXPECT_EQ(first.trace.size(), 1u);
  EXPECT_TRUE(first.trace[0].starts_with("journal file passed over=" + folder.Path() + "/system@0001.journal: "))
      << first.trace[0];
  const QueryResult second = Query(first.mark, false);
  EXPECT_TRUE(second.lines.empty()) << "reported again";
  EXPECT_TRUE(second.trace.empty()) << "said again: " << second.trace[0];
}

// Files and entries the in-place reader leaves to the journal library give
// the same records: a file indexed by the older hash, and an entry whose
// message was stored compressed, beside ones read in place.
TEST_F(JournalQueryTest, WhatIsNotReadInPlaceIsReadThroughTheLibrary) {
  JournalFolder folder;
  setenv("SYSTEMD_JOURNAL_KEYED_HASH", "0", 1);
  folder.Write(Errors("old", 2), "old.journal");
  unsetenv("SYSTEMD_JOURNAL_KEYED_HASH");
  const std::string big = "big " + std::string(5000, 'x');
  folder.Write({{"Pervasive SQL", 3, big}, {"Pervasive SQL", 3, "small"}}, "new.journal");
  std::vector<std::string> messages = Messages(Query(0, false));
  std::sort(messages.begin(), messages.end());
  EXPECT_EQ(messages, (std::vector<std::string>{big, "old1", "old2", "small"}));
}

// The library unpacks a compressed field into a buffer that the next one
// reuses: an entry whose host name and message are both stored compressed
// gives each as written.
TEST_F(JournalQueryTest, TwoCompressedFieldsOfOneEntryEachKeepTheirValue) {
  JournalFolder folder;
  const std::string host = "host" + std::string(3000, 'h'), message = "big " + std::string(5000, 'x');
  testing::JournalEntrySpec entry{"Pervasive SQL", 3, message};
  entry.hostname = host;
  folder.Write({entry}, "x.journal");
  const QueryResult result = Query(0, false);
  ASSERT_EQ(result.lines.size(), 2u);
  EXPECT_TRUE(result.lines[0].starts_with("Computer: " + host + " Time: ")) << result.lines[0].substr(0, 40);
  EXPECT_EQ(result.lines[1], " Message : " + message);
}

// A stored position that is not one the service writes is not used, and is
// said so once for the values as they stand, also when the next check
// starts from the same ones (its post failed): the number decides. A
// journal cursor is such a text, whatever sequence and boot it names; one
// that names another sequence must not make the whole journal new.
TEST_F(JournalQueryTest, APositionThatIsNotUsedIsTracedOnce) {
  JournalFolder folder;
  folder.Write(Errors("a", 4));
  const std::string elsewhere = "s=" + std::string(32, '9') + ";i=3;b=" + testing::RunningBoot() + ";m=1;t=1;x=1";
  const std::string other_boot = "s=" + std::string(32, '9') + ";i=3;b=" + std::string(32, '8') + ";m=1;t=1;x=1";
  for (const std::string& cursor : {std::string("s=nothing;i=3"), elsewhere, other_boot}) {
    const RecordMark stored{3, FromUtf8(cursor)};
    const auto traced = [&stored] {
      const std::vector<std::string> trace = Query(stored, false).trace;
      return std::count_if(trace.begin(), trace.end(),
                           [](const std::string& l) { return l.starts_with("lastrecpos"); });
    };
    EXPECT_EQ(traced(), 1) << cursor;
    EXPECT_EQ(traced(), 0) << cursor;
    EXPECT_EQ(Messages(Query(stored, false)), std::vector<std::string>{"a4"}) << cursor;
  }
}

// The marks keep SequenceMarks::kBound sequences. A journal that holds more
// at once reports each entry once: the sequences left out are not read
// again, new entries of the known ones and sequences of the running boot
// are reported. Which of the sequences that moved on in one check are left
// out goes by their identifiers, so the test asks the marks which are kept.
TEST_F(JournalQueryTest, MoreSequencesThanTheBound) {
  JournalFolder folder;
  const int count = static_cast<int>(SequenceMarks::kBound) + 2;
  for (int i = 0; i < count; ++i)
    folder.Write(Errors("s" + std::to_string(i) + "-", 1), "s" + std::to_string(i) + ".journal");
  const QueryResult first = Query(0, false);
  ASSERT_EQ(first.lines.size(), 2u * count);
  EXPECT_NE(ToUtf8(first.mark.position).find(",left="), std::string::npos) << ToUtf8(first.mark.position);

  const QueryResult second = Query(first.mark, false);
  EXPECT_TRUE(second.lines.empty()) << "the sequences left out are not reported again";

  int kept = 0;
  const std::string marks = ToUtf8(first.mark.position);
  while (marks.find(ReadJournalFileHeader(folder.Path() + "/s" + std::to_string(kept) + ".journal")->sequence) ==
         std::string::npos) {
    ++kept;
  }
  const std::string name = "s" + std::to_string(kept);
  folder.Write(Errors(name + "-", 1, 2), name + ".journal");
  folder.Write(Errors("now", 1), "now.journal", {testing::RunningBoot(), 0});
  folder.Write(Errors("restored", 1), "restored.journal", {"00000000000000000000000000000abc", 0});
  const QueryResult third = Query(second.mark, false);
  std::vector<std::string> messages = Messages(third);
  std::sort(messages.begin(), messages.end());
  EXPECT_EQ(messages, (std::vector<std::string>{"now1", "restored1", name + "-2"}))
      << "a sequence never seen is new, whatever boot wrote it";
  EXPECT_TRUE(Query(third.mark, false).lines.empty());

  // A sequence left out that the running boot writes to again: only what it
  // wrote is new.
  const std::string marks_now = ToUtf8(third.mark.position);
  int left_out = 0;
  while (
      marks_now.find(ReadJournalFileHeader(folder.Path() + "/s" + std::to_string(left_out) + ".journal")->sequence) !=
      std::string::npos) {
    ++left_out;
  }
  const std::string again = "s" + std::to_string(left_out);
  folder.Write(Errors(again + "-", 1, 2), again + ".journal", {testing::RunningBoot(), 0});
  const QueryResult fourth = Query(third.mark, false);
  EXPECT_EQ(Messages(fourth), std::vector<std::string>{again + "-2"});

  // One left out that gets entries of another boot (a folder that gathers
  // other machines' files): they are new too.
  const std::string marks_then = ToUtf8(fourth.mark.position);
  int other = 0;
  while (marks_then.find(ReadJournalFileHeader(folder.Path() + "/s" + std::to_string(other) + ".journal")->sequence) !=
         std::string::npos) {
    ++other;
  }
  const std::string elsewhere = "s" + std::to_string(other);
  folder.Write(Errors(elsewhere + "-", 1, 2), elsewhere + ".journal", {"00000000000000000000000000000def", 0});
  EXPECT_EQ(Messages(Query(fourth.mark, false)), std::vector<std::string>{elsewhere + "-2"});
}

// A syslog(3) tag with a blank is one journald cannot take: the entry comes
// without SYSLOG_IDENTIFIER, the tag left in its message. Such an entry of
// the syslog transport is the source's, the tag taken off its message.
TEST_F(JournalQueryTest, TheSourceAsSyslogWritesIt) {
  JournalFolder folder;
  const auto syslog = [](const char* identifier, int priority, const char* message) {
    testing::JournalEntrySpec entry{identifier, priority, std::string(message)};
    entry.transport = "syslog";
    return entry;
  };
  testing::JournalEntrySpec native{"", 3, std::string("Pervasive SQL: native, no identifier")};
  native.transport = "journal";
  folder.Write({
      syslog("", 3, "Pervasive SQL: License limit reached"),
      syslog("", 4, "Pervasive SQL[4711]: with the process id"),
      syslog("Pervasive SQL", 3, "Pervasive SQL: tagged, kept whole"),
      syslog("", 3, "Pervasive SQLX: another program"),
      syslog("", 3, "Pervasive SQL:no blank"),
      syslog("", 3, "Pervasive SQL[]: no number"),
      syslog("sshd", 3, "Pervasive SQL: another identifier"),
      syslog("", 6, "Pervasive SQL: information"),
      native,
      syslog("", 3, "Zen: another source"),
      syslog("Zen", 4, "Zen tagged"),
  });
  EXPECT_EQ(Messages(Query(0, false)), (std::vector<std::string>{"License limit reached", "with the process id",
                                                                 "Pervasive SQL: tagged, kept whole"}));
  EXPECT_EQ(Messages(Query(0, false, u"Zen")), (std::vector<std::string>{"another source", "Zen tagged"}));
}

// A check keeps only what its notice needs: the newest records, the others
// counted, however long the walk; the mark covers every entry taken, and the
// test copy's trace lists each.
TEST_F(JournalQueryTest, ACheckKeepsTheNewestRecordsAndCountsTheOthers) {
  JournalFolder folder;
  folder.Write(Errors("e", 12));
  TraceRecorder trace;
  testing_seam::SetRecordLinesTraced(true);
  RecordMark mark;
  EventRecords records;
  SaidOnce said;
  QueryEventLog(mark, records, false, kDefaultSourceName, said);
  testing_seam::SetRecordLinesTraced(false);
  std::vector<std::string> kept;
  for (const EventRecord& record : records) kept.push_back(ToUtf8(*record.message));
  EXPECT_EQ(kept, (std::vector<std::string>{"e8", "e9", "e10", "e11", "e12"}));
  EXPECT_EQ(records.left_out, 7u);
  EXPECT_EQ(records.Taken(), 12u);
  EXPECT_EQ(mark.number, 12);
  EXPECT_EQ(trace.lines.size(), 24u);
}

TEST_F(JournalQueryTest, TimeIsLocalWithItsOffsetInMinutes) {
  struct Row {
    const char* tz;
    const char* time;
  } rows[] = {
      {"UTC0", "20231114221320.000000+000"},     {"EET-2", "20231115001320.000000+120"},
      {"IST-5:30", "20231115034320.000000+330"}, {"EST5", "20231114171320.000000-300"},
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

TEST_F(JournalQueryTest, KeepsMicrosecondsAnd64KiBOfAMessage) {
  JournalFolder folder;
  std::string long_message(100000, 'x');
  std::string cut_in_a_character = std::string(65535, 'y') + "\xC3\xA4";
  folder.Write({{"Pervasive SQL", 3, long_message, "psqlhost", 123456}, {"Pervasive SQL", 3, cut_in_a_character}});
  QueryResult result = Query(0, false);
  ASSERT_EQ(result.lines.size(), 4u);
  EXPECT_EQ(result.lines[0], "Computer: psqlhost Time: 20231114221320.123456+000");
  EXPECT_EQ(result.lines[1], " Message : " + std::string(65536, 'x'));
  EXPECT_EQ(result.lines[3], " Message : " + std::string(65535, 'y'));
}

// WMI always names the computer; an entry without _HOSTNAME names this
// machine, and never holds up the entries behind it.
TEST_F(JournalQueryTest, AnEntryWithoutHostNameNamesThisMachine) {
  JournalFolder folder;
  folder.Write({{"Pervasive SQL", 3, "older", std::nullopt}, {"Pervasive SQL", 3, "newer"}});
  QueryResult result = Query(0, false);
  char host[256] = {};
  ASSERT_EQ(gethostname(host, sizeof host - 1), 0);
  std::string first = FirstLine(0);
  first.replace(first.find("psqlhost"), 8, host);
  EXPECT_EQ(result.lines, (std::vector<std::string>{first, " Message : older", FirstLine(1), " Message : newer"}));
  EXPECT_EQ(result.record_number, 2);
  EXPECT_TRUE(result.trace.empty());
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

}  // namespace
}  // namespace vantrel
