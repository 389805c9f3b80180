// The portable rules of the event log query, against a recording source.
#include "watch/event_log_query.h"

#include <gtest/gtest.h>

#include <map>
#include <optional>
#include <string>

#include "platform/exception.h"
#include "tests/platform/trace_recorder.h"
#include "watch/event_source.h"

namespace vantrel {
namespace {

using testing::TraceRecorder;

TEST(EventLogQueryTextTest, IsExactForEachRun) {
  struct Row {
    const char* name;
    std::int64_t record_number;
    bool first_run;
    const char16_t* text;
  } rows[] = {
      {"first run", 0, true,
       u"SELECT Category,ComputerName,EventCode,Message,RecordNumber,SourceName,TimeGenerated  FROM "
       u"Win32_NTLogEvent   Where Logfile=\"Application\" and SourceName=\"Pervasive SQL\" and EventType <= 3 and "
       u"RecordNumber > 0"},
      {"later run", 41, false,
       u"SELECT Category,ComputerName,EventCode,Message,RecordNumber,SourceName,TimeGenerated  FROM "
       u"Win32_NTLogEvent   Where Logfile=\"Application\" and SourceName=\"Pervasive SQL\" and EventType <= 2 and "
       u"RecordNumber > 41"},
      {"negative start", -7, false,
       u"SELECT Category,ComputerName,EventCode,Message,RecordNumber,SourceName,TimeGenerated  FROM "
       u"Win32_NTLogEvent   Where Logfile=\"Application\" and SourceName=\"Pervasive SQL\" and EventType <= 2 and "
       u"RecordNumber > -7"},
      {"lowest start", INT32_MIN, true,
       u"SELECT Category,ComputerName,EventCode,Message,RecordNumber,SourceName,TimeGenerated  FROM "
       u"Win32_NTLogEvent   Where Logfile=\"Application\" and SourceName=\"Pervasive SQL\" and EventType <= 3 and "
       u"RecordNumber > -2147483648"},
      {"past 32 bits", 0x123456789LL, false,
       u"SELECT Category,ComputerName,EventCode,Message,RecordNumber,SourceName,TimeGenerated  FROM "
       u"Win32_NTLogEvent   Where Logfile=\"Application\" and SourceName=\"Pervasive SQL\" and EventType <= 2 and "
       u"RecordNumber > 4886718345"},
  };
  for (const Row& row : rows) {
    EXPECT_EQ(ToUtf8(EventLogQueryText(row.record_number, row.first_run)), ToUtf8(row.text)) << row.name;
  }
}

// An entry of the recording source: its properties, and the one (if any)
// whose reading fails.
struct FakeEntrySpec {
  std::map<String, EventValue> properties;
  String failing_property;
  String position;  // empty: a source without positions
};

FakeEntrySpec Entry(EventValue computer, EventValue time, EventValue message, EventValue record) {
  return {{{u"ComputerName", computer}, {u"TimeGenerated", time}, {u"Message", message}, {u"RecordNumber", record}},
          String(),
          String()};
}

// A source that delivers given entries and records how it is used.
struct FakeSource {
  std::vector<FakeEntrySpec> entries;
  bool fail_open = false;
  bool fail_execute = false;
  std::optional<std::size_t> fail_walk_after;  // Next raises after this many entries
  std::optional<RecordMark> after_walk;        // the mark the source gives after its walk
  std::optional<RecordRange> range;            // the log's oldest and newest record numbers, when it tells
  std::map<std::int64_t, String> positions;    // what a seek read finds under a number

  std::vector<EventQuery> queries;
  int sources_alive = 0;
  int entries_alive = 0;
  int most_entries_alive = 0;
  int entries_released = 0;

  std::function<std::unique_ptr<EventSource>()> Opener() {
    return [this]() -> std::unique_ptr<EventSource> {
      if (fail_open) throw Exception(u"locator missing");
      struct EntryImpl : EventEntry {
        FakeSource* owner;
        FakeEntrySpec spec;
        EntryImpl(FakeSource* o, FakeEntrySpec s) : owner(o), spec(std::move(s)) {
          owner->most_entries_alive = std::max(owner->most_entries_alive, ++owner->entries_alive);
        }
        ~EntryImpl() override {
          --owner->entries_alive;
          ++owner->entries_released;
        }
        EventValue Property(const String& name) override {
          if (name == spec.failing_property) throw Exception(u"cannot read " + name);
          auto it = spec.properties.find(name);
          if (it == spec.properties.end()) throw Exception(u"no " + name);
          return it->second;
        }
        std::optional<EntryTime> Written() override {
          const auto it = spec.properties.find(u"TimeGenerated");
          const auto* text = it == spec.properties.end() ? nullptr : std::get_if<String>(&it->second);
          return text ? WmiTimeToEntryTime(*text) : std::nullopt;
        }
        String Position() override { return spec.position; }
      };
      struct SourceImpl : EventSource {
        FakeSource* owner;
        std::size_t next = 0;
        explicit SourceImpl(FakeSource* o) : owner(o) { ++owner->sources_alive; }
        ~SourceImpl() override { --owner->sources_alive; }
        std::optional<RecordRange> Range() override { return owner->range; }
        std::optional<String> PositionOf(std::int64_t number) override {
          const auto it = owner->positions.find(number);
          if (it == owner->positions.end()) return std::nullopt;
          return it->second;
        }
        std::optional<RecordMark> MarkAfterWalk() override { return owner->after_walk; }
        void Execute(const EventQuery& query) override {
          owner->queries.push_back(query);
          if (owner->fail_execute) throw Exception(u"Invalid query");
        }
        std::unique_ptr<EventEntry> Next() override {
          if (owner->fail_walk_after && next == *owner->fail_walk_after) throw Exception(u"walk broke");
          if (next == owner->entries.size()) return nullptr;
          return std::make_unique<EntryImpl>(owner, owner->entries[next++]);
        }
      };
      return std::make_unique<SourceImpl>(this);
    };
  }
};

// The records as the lines they render, in UTF-8.
std::vector<std::string> Utf8Lines(const EventRecords& records) {
  std::vector<std::string> out;
  for (const String& line : RecordLines(records)) out.push_back(ToUtf8(line));
  return out;
}

TEST(EventLogQueryTest, PassesTheSelectionToTheSource) {
  struct Row {
    std::int64_t record_number;
    bool first_run;
    int max_event_type;
  } rows[] = {{0, true, 3}, {41, false, 2}, {-7, false, 2}};
  for (const Row& row : rows) {
    FakeSource source;
    RecordMark mark{row.record_number, u"s=a;i=29;t=1"};
    EventRecords records;
    QueryEventLogFrom(source.Opener(), mark, records, row.first_run, kDefaultSourceName);
    ASSERT_EQ(source.queries.size(), 1u) << row.record_number;
    const EventQuery& query = source.queries[0];
    EXPECT_EQ(query.text, EventLogQueryText(row.record_number, row.first_run)) << row.record_number;
    EXPECT_EQ(ToUtf8(query.source_name), "Pervasive SQL") << row.record_number;
    EXPECT_EQ(query.max_event_type, row.max_event_type) << row.record_number;
    EXPECT_EQ(query.above_record, row.record_number) << row.record_number;
    EXPECT_EQ(query.above_position, u"s=a;i=29;t=1") << row.record_number;
  }
}

TEST(EventLogQueryTest, AppendsTwoLinesPerEntryAndRaisesTheRecordNumber) {
  const std::monostate null;
  struct Row {
    const char* name;
    std::int64_t start;
    std::vector<FakeEntrySpec> entries;
    std::vector<std::string> lines;
    std::int64_t record_number;
  } rows[] = {
      {"no entry", 10, {}, {}, 10},
      {"null message",
       10,
       {Entry(String(u"PSQL1"), String(u"20240115103000.000000+120"), null, std::int64_t{11})},
       {"Computer: PSQL1 Time: 20240115103000.000000+120", "Empty message"},
       11},
      {"entries in any order",
       10,
       {Entry(String(u"A"), String(u"t12"), String(u"twelve"), std::int64_t{12}),
        Entry(String(u"B"), String(u"t15"), String(u"fifteen"), std::int64_t{15}),
        Entry(String(u"C"), String(u"t14"), String(u"fourteen"), std::int64_t{14})},
       {"Computer: A Time: t12", " Message : twelve", "Computer: B Time: t15", " Message : fifteen",
        "Computer: C Time: t14", " Message : fourteen"},
       15},
      {"an entry not above the start is listed, the number never goes down",
       10,
       {Entry(String(u"A"), String(u"t"), String(u"old"), std::int64_t{3})},
       {"Computer: A Time: t", " Message : old"},
       10},
      {"a null record number never raises it",
       -7,
       {Entry(String(u"A"), String(u"t"), String(u"m"), null)},
       {"Computer: A Time: t", " Message : m"},
       -7},
      {"record numbers given as text compare as numbers",
       9,
       {Entry(String(u"A"), String(u"t"), String(u"m"), String(u"10")),
        Entry(String(u"B"), String(u"t"), String(u"m"), String(u"9"))},
       {"Computer: A Time: t", " Message : m", "Computer: B Time: t", " Message : m"},
       10},
      {"numbers turn into decimal text, texts stay as they are",
       0,
       {Entry(std::int64_t{-42}, String(u" spaced. "), String(u""), std::int64_t{1})},
       {"Computer: -42 Time:  spaced. ", " Message : "},
       1},
  };
  for (Row& row : rows) {
    FakeSource source;
    source.entries = row.entries;
    TraceRecorder trace;
    RecordMark mark{row.start, String()};
    EventRecords records;
    EXPECT_EQ(QueryEventLogFrom(source.Opener(), mark, records, false, kDefaultSourceName).not_asked, std::nullopt)
        << row.name;
    EXPECT_EQ(Utf8Lines(records), row.lines) << row.name;
    EXPECT_EQ(mark, (RecordMark{row.record_number, String()})) << row.name;
    EXPECT_TRUE(trace.lines.empty()) << row.name;
    EXPECT_EQ(source.most_entries_alive, row.entries.empty() ? 0 : 1) << row.name << ": one entry held at a time";
    EXPECT_EQ(source.entries_released, static_cast<int>(row.entries.size())) << row.name;
    EXPECT_EQ(source.sources_alive, 0) << row.name;
  }
}

TEST(EventLogQueryTest, KeepsExistingRecords) {
  FakeSource source;
  source.entries = {Entry(String(u"A"), String(u"t"), String(u"m"), std::int64_t{5})};
  RecordMark mark;
  EventRecords records = {{u"B", u"earlier", std::nullopt, std::nullopt, true, 1, String(), String()}};
  QueryEventLogFrom(source.Opener(), mark, records, true, kDefaultSourceName);
  EXPECT_EQ(Utf8Lines(records), (std::vector<std::string>{"Computer: B Time: earlier", "Empty message",
                                                          "Computer: A Time: t", " Message : m"}));
}

// A failure before the walk takes nothing, is traced and given back; the
// check goes on.
TEST(EventLogQueryTest, AFailureBeforeTheWalkIsTracedAndTakesNothing) {
  struct Row {
    const char* name;
    bool fail_open;
    bool fail_execute;
    std::string message;
  } rows[] = {
      {"the source cannot be opened", true, false, "locator missing"},
      {"the query fails", false, true, "Invalid query"},
  };
  for (const Row& row : rows) {
    FakeSource source;
    source.fail_open = row.fail_open;
    source.fail_execute = row.fail_execute;
    source.entries = {Entry(String(u"A"), String(u"t1"), String(u"m1"), std::int64_t{12})};
    TraceRecorder trace;
    RecordMark mark{10, String()};
    EventRecords records;
    std::optional<String> failure;
    EXPECT_NO_THROW(failure = QueryEventLogFrom(source.Opener(), mark, records, false, kDefaultSourceName).not_asked)
        << row.name;
    EXPECT_EQ(failure, std::optional<String>(FromUtf8(row.message))) << row.name << ": the failure is given back";
    EXPECT_TRUE(records.empty()) << row.name;
    EXPECT_EQ(mark.number, 10) << row.name;
    EXPECT_EQ(trace.lines, (std::vector<std::string>{"Virhe haussa=" + row.message, "callstack="})) << row.name;
    EXPECT_EQ(source.sources_alive, 0) << row.name << ": the source released";
  }
}

// A walk that breaks off, in Next or while an entry is read, takes nothing:
// the entries come in any order, so the highest number read may stand above
// entries the walk never reached (23 read, 22 and 21 not). The failure is
// traced as any failed query is, and the query raises, so that the check
// fails and is tried again.
TEST(EventLogQueryTest, AWalkThatBreaksOffTakesNothingAndRaises) {
  const std::monostate null;
  FakeEntrySpec message_fails = Entry(String(u"B"), String(u"t2"), String(u"m2"), std::int64_t{30});
  message_fails.failing_property = u"Message";
  FakeEntrySpec record_fails = Entry(String(u"B"), String(u"t2"), String(u"m2"), std::int64_t{30});
  record_fails.failing_property = u"RecordNumber";
  const FakeEntrySpec e23 = Entry(String(u"A"), String(u"t23"), String(u"m23"), std::int64_t{23});
  const FakeEntrySpec e22 = Entry(String(u"A"), String(u"t22"), String(u"m22"), std::int64_t{22});
  const FakeEntrySpec e21 = Entry(String(u"A"), String(u"t21"), String(u"m21"), std::int64_t{21});
  struct Row {
    const char* name;
    std::optional<std::size_t> fail_walk_after;
    std::vector<FakeEntrySpec> entries;
    std::string message;
  } rows[] = {
      {"Next fails after the newest entry", 1, {e23, e22, e21}, "walk broke"},
      {"Next fails after two entries", 2, {e21, e23, e22}, "walk broke"},
      {"the message cannot be read", std::nullopt, {e23, message_fails, e22}, "cannot read Message"},
      {"the record number cannot be read", std::nullopt, {e23, record_fails}, "cannot read RecordNumber"},
      {"a null computer name",
       std::nullopt,
       {e23, Entry(null, String(u"t"), String(u"m"), std::int64_t{40})},
       "Could not convert variant of type (Null) into type (UnicodeString)"},
      {"a null time",
       std::nullopt,
       {Entry(String(u"A"), null, String(u"m"), std::int64_t{40})},
       "Could not convert variant of type (Null) into type (UnicodeString)"},
      {"a record number that is no number",
       std::nullopt,
       {Entry(String(u"A"), String(u"t"), String(u"m"), String(u"12a"))},
       "Could not convert variant of type (UnicodeString) into type (Int64)"},
  };
  for (const Row& row : rows) {
    FakeSource source;
    source.fail_walk_after = row.fail_walk_after;
    source.entries = row.entries;
    TraceRecorder trace;
    RecordMark mark{20, u"s=a;i=20;t=1"};
    EventRecords records = {{u"B", u"earlier", std::nullopt, std::nullopt, true, 1, String(), String()}};
    try {
      QueryEventLogFrom(source.Opener(), mark, records, false, kDefaultSourceName);
      ADD_FAILURE() << row.name << ": no failure raised";
    } catch (const Exception& e) {
      EXPECT_EQ(ToUtf8(e.Message()), "The event log walk broke off, nothing of it kept: " + row.message) << row.name;
    }
    EXPECT_EQ(Utf8Lines(records), (std::vector<std::string>{"Computer: B Time: earlier", "Empty message"}))
        << row.name << ": the records before the query stay, none of the walk's";
    EXPECT_EQ(mark, (RecordMark{20, u"s=a;i=20;t=1"})) << row.name;
    EXPECT_EQ(trace.lines, (std::vector<std::string>{"Virhe haussa=" + row.message, "callstack="})) << row.name;
    EXPECT_EQ(source.entries_alive, 0) << row.name << ": every entry released";
    EXPECT_EQ(source.sources_alive, 0) << row.name << ": the source released";
  }
}

TEST(EventLogQueryTest, AnyOtherFailureIsTracedToo) {
  RecordMark mark{3, String()};
  EventRecords records;
  TraceRecorder trace;
  QueryEventLogFrom([]() -> std::unique_ptr<EventSource> { throw std::runtime_error("out of luck"); }, mark, records,
                    false, kDefaultSourceName);
  EXPECT_EQ(trace.lines, (std::vector<std::string>{"Virhe haussa=out of luck", "callstack="}));
  EXPECT_EQ(mark.number, 3);
  EXPECT_TRUE(records.empty());
}

// A numbered log that was cleared numbers its entries from 1 again. It is
// read whole, once, when its newest record number is below the mark, or
// when the entry it holds under the mark's number is another than the
// mark's (cleared and filled past the mark between two checks). A log whose
// oldest record is above the mark has wrapped; an empty log, one that
// cannot tell, a record that cannot be read, or a mark without the entry's
// identity decide nothing.
TEST(EventLogQueryTest, AClearedLogIsReadFromTheStart) {
  const String mark_entry = RecordIdentity(1000, 1718094615, 7);
  struct Row {
    const char* name;
    String stored_position;
    std::optional<RecordRange> range;
    std::optional<String> at_mark;  // what a seek read finds under 1000
    std::int64_t asked_above;
    std::vector<std::string> trace;
  } rows[] = {
      {"newest below the mark",
       mark_entry,
       RecordRange{1, 12},
       std::nullopt,
       0,
       {"event log cleared, newest record=12 below the mark 1000"}},
      {"cleared and filled past the mark",
       mark_entry,
       RecordRange{1, 1500},
       RecordIdentity(1000, 1718100000, 7),
       0,
       {"event log cleared, record 1000=another entry than the mark's"}},
      {"another event code at the same second",
       mark_entry,
       RecordRange{1, 1500},
       RecordIdentity(1000, 1718094615, 9),
       0,
       {"event log cleared, record 1000=another entry than the mark's"}},
      {"the mark's own entry", mark_entry, RecordRange{1, 1500}, mark_entry, 1000, {}},
      {"the log gives no event code",
       mark_entry,
       RecordRange{1, 1500},
       RecordIdentity(1000, 1718094615, std::nullopt),
       1000,
       {}},
      {"wrapped: the mark's entry overwritten, the numbers went on",
       mark_entry,
       RecordRange{1200, 1500},
       RecordIdentity(1000, 1718100000, 7),
       1000,
       {}},
      {"the record cannot be read", mark_entry, RecordRange{1, 1500}, std::nullopt, 1000, {}},
      {"empty, or cannot tell", mark_entry, std::nullopt, RecordIdentity(1000, 1718100000, 7), 1000, {}},
      {"newest at the mark, no identity stored", String(), RecordRange{1, 1000}, RecordIdentity(1000, 1, 7), 1000, {}},
      {"a journal's position is no identity",
       u"0123456789abcdef0123456789abcdef=1000",
       RecordRange{1, 1500},
       RecordIdentity(1000, 1, 7),
       1000,
       {}},
  };
  for (const Row& row : rows) {
    FakeSource source;
    source.range = row.range;
    if (row.at_mark) source.positions[1000] = *row.at_mark;
    // What the log holds: entries answer any query, so the number they raise
    // the mark to shows where the query began.
    source.entries = {Entry(String(u"A"), String(u"t"), String(u"m"), std::int64_t{12})};
    TraceRecorder trace;
    RecordMark mark{1000, row.stored_position};
    EventRecords records;
    QueryEventLogFrom(source.Opener(), mark, records, false, kDefaultSourceName);
    ASSERT_EQ(source.queries.size(), 1u) << row.name;
    EXPECT_EQ(source.queries[0].above_record, row.asked_above) << row.name;
    EXPECT_EQ(source.queries[0].text, EventLogQueryText(row.asked_above, false)) << row.name;
    EXPECT_EQ(mark.number, row.asked_above == 0 ? 12 : 1000) << row.name;
    EXPECT_EQ(trace.lines, row.trace) << row.name;
  }
}

// The mark moves to the highest record number taken, with that entry's
// position; a source that keeps its own account of the log (the journal)
// gives the mark after its walk, also after a walk that failed part way.
TEST(EventLogQueryTest, TheMarkMovesToTheHighestEntryOrWhereTheSourceSays) {
  FakeEntrySpec twelve = Entry(String(u"A"), String(u"t1"), String(u"m1"), std::int64_t{12});
  twelve.position = RecordIdentity(12, 100, 1);
  FakeEntrySpec fifteen = Entry(String(u"A"), String(u"t2"), String(u"m2"), std::int64_t{15});
  fifteen.position = RecordIdentity(15, 200, 2);
  FakeEntrySpec fourteen = Entry(String(u"A"), String(u"t3"), String(u"m3"), std::int64_t{14});
  fourteen.position = RecordIdentity(14, 300, 3);
  {
    FakeSource source;
    source.entries = {twelve, fifteen, fourteen};
    RecordMark mark{10, String()};
    EventRecords records;
    QueryEventLogFrom(source.Opener(), mark, records, false, kDefaultSourceName);
    EXPECT_EQ(mark, (RecordMark{15, RecordIdentity(15, 200, 2)}));
    ASSERT_EQ(records.size(), 3u);
    EXPECT_EQ(records[2].position, RecordIdentity(14, 300, 3)) << "every record tells where it stands";
  }
  for (bool walk_fails : {false, true}) {
    FakeSource source;
    source.entries = {twelve, fifteen};
    source.fail_walk_after = walk_fails ? std::optional<std::size_t>(1) : std::nullopt;
    source.after_walk = RecordMark{3, u"walked"};
    TraceRecorder trace;
    RecordMark mark{10, String()};
    EventRecords records;
    QueryEventLogFrom(source.Opener(), mark, records, false, kDefaultSourceName);
    EXPECT_EQ(mark, (RecordMark{3, u"walked"})) << walk_fails;
    EXPECT_EQ(records.size(), walk_fails ? 1u : 2u);
  }
}

// The source named in the settings is asked for; the WQL text quotes it.
TEST(EventLogQueryTest, AsksForTheNamedSource) {
  FakeSource source;
  RecordMark mark{41, String()};
  EventRecords records;
  QueryEventLogFrom(source.Opener(), mark, records, false, u"Zen \\ \"Engine\"");
  ASSERT_EQ(source.queries.size(), 1u);
  EXPECT_EQ(ToUtf8(source.queries[0].source_name), "Zen \\ \"Engine\"");
  EXPECT_EQ(ToUtf8(source.queries[0].text),
            "SELECT Category,ComputerName,EventCode,Message,RecordNumber,SourceName,TimeGenerated  FROM "
            "Win32_NTLogEvent   Where Logfile=\"Application\" and SourceName=\"Zen \\\\ \\\"Engine\\\"\" and "
            "EventType <= 2 and RecordNumber > 41");
}

TEST(EventLogQueryTest, AMessageKeepsItsFirst64KiBCutBetweenCharacters) {
  const String filler(65534, u'x');
  struct Row {
    const char* name;
    String message;
    String kept;
  } rows[] = {
      {"short", u"one line", u"one line"},
      {"exactly 64 KiB", filler + u"yz", filler + u"yz"},
      {"a two-byte character across the cut", filler + u"yä", filler + u"y"},
      {"a surrogate pair across the cut", filler + u"😀", filler},
      {"far longer", String(3 << 20, u'€'), String(21845, u'€')},
  };
  for (const Row& row : rows) {
    FakeSource source;
    source.entries = {Entry(String(u"A"), String(u"t"), row.message, std::int64_t{1})};
    RecordMark mark;
    EventRecords records;
    QueryEventLogFrom(source.Opener(), mark, records, false, kDefaultSourceName);
    ASSERT_EQ(records.size(), 1u) << row.name;
    EXPECT_TRUE(records[0].message == row.kept) << row.name << ": " << records[0].message->size() << " kept";
  }
}

}  // namespace
}  // namespace vantrel
