// The entries written under a notice when "details" is on: one table of
// entry sets against the exact notice text.
#include "service/notice_details.h"

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <utility>
#include <vector>

namespace vantrel {
namespace {

const String kNotice = u"Mahdollisia PSQL lisenssiongelmia Tuotanto 1, koneen nimi KONE1";

// What the notice shows of one entry.
struct Entry {
  String time;                    // WMI date-time, as the log gives it
  std::optional<String> message;  // nothing: a null message
  std::int64_t number = 1;
  String numbering = String();  // a journal sequence
};

EventRecords RecordsOf(const std::vector<Entry>& entries) {
  EventRecords records;
  for (const Entry& e : entries) {
    records.push_back({u"KONE1", e.time, WmiTimeToEntryTime(e.time), e.message, true, e.number, String(), e.numbering});
  }
  return records;
}

// At 12:00:0s on 10 December 2026, local time at UTC+2.
String At(int second) { return u"202612101200" + String(second < 10 ? u"0" : u"") + IntToStr(second) + u".000000+120"; }
String Shown(int second) { return u"2026-12-10 12:00:" + String(second < 10 ? u"0" : u"") + IntToStr(second); }

// Entries of one journal sequence written in the same microsecond, with the
// numbers given, delivered in that order.
std::vector<Entry> Burst(std::vector<int> numbers) {
  std::vector<Entry> entries;
  for (int n : numbers) {
    entries.push_back({At(1), u"burst " + IntToStr(n), n, u"0123456789abcdef0123456789abcdef"});
  }
  return entries;
}

TEST(NoticeDetailsTest, EntrySetsGiveTheExactNoticeText) {
  const String x199(199, u'x');
  const String emoji = u"\U0001F600";  // a surrogate pair: one character
  struct Row {
    const char* name;
    std::vector<Entry> entries;
    String expected;  // after the notice
  } rows[] = {
      {"none: the notice as it is", {}, u""},
      {"one",
       {{At(3), u"Too many users: license limit reached"}},
       u"\n" + Shown(3) + u" Too many users: license limit reached"},
      {"five, delivered in any order, come newest first",
       {{At(2), u"b"}, {At(5), u"e"}, {At(1), u"a"}, {At(4), u"d"}, {At(3), u"c"}},
       u"\n" + Shown(5) + u" e\n" + Shown(4) + u" d\n" + Shown(3) + u" c\n" + Shown(2) + u" b\n" + Shown(1) + u" a"},
      {"seven: the five newest and a count of the rest",
       {{At(1), u"a"}, {At(2), u"b"}, {At(3), u"c"}, {At(4), u"d"}, {At(5), u"e"}, {At(6), u"f"}, {At(7), u"g"}},
       u"\n" + Shown(7) + u" g\n" + Shown(6) + u" f\n" + Shown(5) + u" e\n" + Shown(4) + u" d\n" + Shown(3) +
           u" c\n\u2026 ja 2 muuta"},
      {"a message of several lines: its first line that is not blank",
       {{At(1), u"\r\n  Licence check failed  \r\nserver: DB1\nuser count 40"}},
       u"\n" + Shown(1) + u" Licence check failed"},
      {"500 characters with a surrogate pair at the cut: the pair stays whole",
       {{At(1), x199 + emoji + String(300, u'y')}},
       u"\n" + Shown(1) + u" " + x199 + emoji},
      {"500 characters with a pair just past the cut: cut before it",
       {{At(1), x199 + u"\u00e4" + emoji + String(299, u'y')}},
       u"\n" + Shown(1) + u" " + x199 + u"\u00e4"},
      {"a null message", {{At(1), std::nullopt}}, u"\n" + Shown(1) + u" Empty message"},
      {"an empty message reads as none", {{At(1), u""}}, u"\n" + Shown(1) + u" Empty message"},
      {"a blank message reads as none", {{At(1), u" \t\r\n  \n"}}, u"\n" + Shown(1) + u" Empty message"},
      {"NULs and blanks alone read as none",
       {{At(1), String(1, u'\0') + u" " + String(1, u'\0') + u"\n"}},
       u"\n" + Shown(1) + u" Empty message"},
      {"NULs before the text are passed over as blank lines are",
       {{At(1), String(1, u'\0') + u"\n text"}},
       u"\n" + Shown(1) + u" text"},
      {"equal times keep the order of the query",
       {{At(1), u"first"}, {At(1), u"second"}, {At(2), u"newest"}},
       u"\n" + Shown(2) + u" newest\n" + Shown(1) + u" first\n" + Shown(1) + u" second"},
      {"a burst in one microsecond: the five highest numbers of the sequence", Burst({1, 2, 3, 4, 5, 6, 7}),
       u"\n" + Shown(1) + u" burst 7\n" + Shown(1) + u" burst 6\n" + Shown(1) + u" burst 5\n" + Shown(1) +
           u" burst 4\n" + Shown(1) + u" burst 3\n\u2026 ja 2 muuta"},
      {"a burst delivered out of order", Burst({12, 10, 11}),
       u"\n" + Shown(1) + u" burst 12\n" + Shown(1) + u" burst 11\n" + Shown(1) + u" burst 10"},
      {"microseconds order entries of one second",
       {{u"20261210120001.000200+120", u"later"}, {u"20261210120001.000100+120", u"earlier"}},
       u"\n" + Shown(1) + u" later\n" + Shown(1) + u" earlier"},
      {"a UTC time is shown in local time",
       {{u"20261231230003.000000-000", u"at new year"}},
       u"\n2027-01-01 01:00:03 at new year"},
      {"another offset is shown in local time and ordered by the moment",
       {{u"20261210100005.000000+000", u"10:00:05 UTC"}, {u"20261210113004.000000+090", u"10:00:04 UTC"}},
       u"\n" + Shown(5) + u" 10:00:05 UTC\n" + Shown(4) + u" 10:00:04 UTC"},
      {"a time that cannot be read is shown as given, after the others",
       {{u"yesterday", u"odd"}, {At(1), u"a"}},
       u"\n" + Shown(1) + u" a\nyesterday odd"},
      {"control characters become blanks, an unpaired surrogate U+FFFD, a NUL ends the line",
       {{At(1), u"tab\there " + String(1, char16_t{0xD800}) + u" x" + String(1, u'\0') + u"after"}},
       u"\n" + Shown(1) + u" tab here \uFFFD x"},
  };
  for (const Row& row : rows) {
    const String got = NoticeWithDetails(kNotice, RecordsOf(row.entries), [](std::int64_t) { return 120; });
    EXPECT_EQ(ToUtf8(got), ToUtf8(kNotice + row.expected)) << row.name;
  }
}

// How an entry's time becomes its notice line: the moment its source read
// (the journal's microseconds, or a WMI date-time as Windows gives it) in
// local time at the offset of its own second, to the whole second.
TEST(NoticeDetailsTest, TimesAreShownInLocalTimeToTheWholeSecond) {
  constexpr std::int64_t k10am = 1796896800;  // 2026-12-10 10:00:00 UTC
  const auto micros = [](std::int64_t us) { return EntryTime(std::chrono::microseconds(us)); };
  const auto wmi = [](const String& text) { return std::pair(text, WmiTimeToEntryTime(text)); };
  struct Row {
    const char* name;
    std::pair<String, std::optional<EntryTime>> time;  // as the log gave it, as the source read it
    int offset;                                        // the local offset the clock gives
    std::optional<std::int64_t> asked;                 // the second the offset is asked for
    String shown;
  } rows[] = {
      {"journal microseconds are cut to the second, never rounded up",
       {u"", micros((k10am + 3) * 1000000 + 999999)},
       120,
       k10am + 3,
       u"2026-12-10 12:00:03"},
      {"a WMI date-time at the local offset", wmi(u"20261210120003.999999+120"), 120, k10am + 3,
       u"2026-12-10 12:00:03"},
      {"a WMI date-time at another offset", wmi(u"20261210043003.250000-330"), 120, k10am + 3, u"2026-12-10 12:00:03"},
      {"a local offset west of UTC", wmi(u"20261210100003.000000+000"), -300, k10am + 3, u"2026-12-10 05:00:03"},
      {"before 1970 from a WMI date-time: the second that began before it", wmi(u"19691231235959.500000+000"), 0, -1,
       u"1969-12-31 23:59:59"},
      {"before 1970 from the journal", {u"", micros(-1)}, 60, -1, u"1970-01-01 00:59:59"},
      {"a time its source could not read: as the log gave it, no offset asked", wmi(u"20261310120003.000000+120"), 120,
       std::nullopt, u"20261310120003.000000+120"},
  };
  for (const Row& row : rows) {
    EventRecords records;
    records.push_back({u"KONE1", row.time.first, row.time.second, String(u"m"), true, 1, String(), String()});
    std::optional<std::int64_t> asked;
    const String got = NoticeWithDetails(kNotice, records, [&](std::int64_t second) {
      asked = second;
      return row.offset;
    });
    EXPECT_EQ(ToUtf8(got), ToUtf8(kNotice + u"\n" + row.shown + u" m")) << row.name;
    EXPECT_EQ(asked, row.asked) << row.name;
  }
}

TEST(NoticeDetailsTest, AnEntryCutOffByTheQueryShowsItsTime) {
  EventRecords cut = RecordsOf({{At(1), std::nullopt}});
  cut[0].message_read = false;
  EXPECT_EQ(ToUtf8(NoticeWithDetails(kNotice, cut, [](std::int64_t) { return 120; })),
            ToUtf8(kNotice + u"\n" + Shown(1)));
}

// The records a check did not keep are older than those it kept: they are
// counted in the last line.
TEST(NoticeDetailsTest, RecordsNotKeptAreCounted) {
  EventRecords kept = RecordsOf({{At(3), u"c"}, {At(5), u"e"}});
  kept.left_out = 4;
  EXPECT_EQ(ToUtf8(NoticeWithDetails(kNotice, kept, [](std::int64_t) { return 120; })),
            ToUtf8(kNotice + u"\n" + Shown(5) + u" e\n" + Shown(3) + u" c\n\u2026 ja 4 muuta"));
}

TEST(NoticeDetailsTest, TheWholeTextStaysBelowTwoThousandCharacters) {
  const String long_message(1000, u'm');  // each entry shows 200 of them
  std::vector<Entry> seven;
  for (int s = 1; s <= 7; ++s) seven.push_back({At(s), long_message});
  const EventRecords records = RecordsOf(seven);
  const auto plus120 = [](std::int64_t) { return 120; };

  struct Row {
    const char* name;
    std::size_t notice_chars;
    std::size_t shown;  // entries written out
    bool count_line;
  } rows[] = {
      {"a short notice: five entries and the count", 64, 5, true},
      {"a long instance name leaves room for fewer", 1200, 3, true},
      {"no room for an entry: the count alone", 1960, 0, true},
      {"no room for the count either: the notice alone", 1990, 0, false},
      {"a notice past the limit stays whole", 2500, 0, false},
  };
  for (const Row& row : rows) {
    const String notice(row.notice_chars, u'n');
    const String got = NoticeWithDetails(notice, records, plus120);
    EXPECT_EQ(got.substr(0, notice.size()), notice) << row.name;
    if (row.notice_chars < kDetailNoticeLimit) {
      EXPECT_LT(got.size(), kDetailNoticeLimit) << row.name;
    }
    std::size_t shown = 0;
    for (std::size_t at = got.find(u"\n2026-"); at != String::npos; at = got.find(u"\n2026-", at + 1)) ++shown;
    EXPECT_EQ(shown, row.shown) << row.name;
    const String count = u"\n\u2026 ja " + IntToStr(static_cast<std::int64_t>(7 - row.shown)) + u" muuta";
    EXPECT_EQ(got.size() >= count.size() && got.compare(got.size() - count.size(), count.size(), count) == 0,
              row.count_line)
        << row.name;
  }
}

}  // namespace
}  // namespace vantrel
