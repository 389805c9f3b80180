#include "service/notice_details.h"

#include <algorithm>
#include <optional>
#include <vector>

#include "platform/date_time.h"

namespace vantrel {

namespace {

constexpr char16_t kEmptyMessage[] = u"Empty message";

struct Entry {
  String time;     // as shown
  String message;  // as shown
  RecordAge age;   // where it stands among the others
};

// The first line of a message that is not blank, without the blanks around
// it. A NUL ends it as a line break does, and NULs before it are passed over
// as blank lines are. Empty when the whole message is blank.
String FirstLine(const String& message) {
  const auto blank = [](char16_t c) { return c == u' ' || c == u'\t' || c == u'\r' || c == u'\n' || c == u'\0'; };
  std::size_t start = 0;
  while (start < message.size() && blank(message[start])) ++start;
  std::size_t end = start;
  while (end < message.size() && message[end] != u'\r' && message[end] != u'\n' && message[end] != u'\0') ++end;
  while (end > start && blank(message[end - 1])) --end;
  return message.substr(start, end - start);
}

// At most max_chars characters of text, a surrogate pair counting as one
// and never split. Control characters become blanks and an unpaired
// surrogate becomes U+FFFD, so the notice's JSON text carries the whole line.
String CleanCut(const String& text, std::size_t max_chars) {
  String out;
  std::size_t chars = 0;
  for (std::size_t i = 0; i < text.size() && chars < max_chars; ++i, ++chars) {
    const char16_t c = text[i];
    if (IsHighSurrogate(c) && i + 1 < text.size() && IsLowSurrogate(text[i + 1])) {
      out += c;
      out += text[++i];
    } else if (IsHighSurrogate(c) || IsLowSurrogate(c)) {
      out += u'\uFFFD';
    } else {
      out += c < 0x20 ? u' ' : c;
    }
  }
  return out;
}

// What one record shows: its time in local time to the whole second (as
// the log gave it when its source could not read it) and the first line of
// its message.
Entry EntryOf(const EventRecord& record, const UtcOffsetAt& offset_at) {
  Entry entry;
  entry.age = AgeOf(record);
  if (record.written) {
    const std::int64_t utc = WholeSecondOf(*record.written);
    entry.time = FormatCivilTime(CivilTimeOfUnixSeconds(utc + offset_at(utc) * 60LL));
  } else {
    entry.time = CleanCut(record.time, 40);  // shown as the log gave it
  }
  if (record.message_read) {
    entry.message = record.message ? CleanCut(FirstLine(*record.message), kDetailMessageChars) : String();
    // A message with nothing to read in it says so, as a missing one does.
    if (entry.message.empty()) entry.message = kEmptyMessage;
  }
  return entry;
}

String MoreLine(std::size_t count) { return u"\n\u2026 ja " + IntToStr(static_cast<std::int64_t>(count)) + u" muuta"; }

}  // namespace

String NoticeWithDetails(const String& notice, const EventRecords& records, const UtcOffsetAt& offset_at) {
  std::vector<Entry> entries;
  for (const EventRecord& record : records) entries.push_back(EntryOf(record, offset_at));
  // Newest first (RecordAge).
  std::stable_sort(entries.begin(), entries.end(), [](const Entry& a, const Entry& b) { return Newer(a.age, b.age); });
  // The records not kept (EventRecords::left_out) are older than those kept.
  const std::size_t count = records.Taken();

  String text = notice;
  std::size_t shown = 0;
  for (const Entry& entry : entries) {
    if (shown == kDetailEntries) break;
    String line = u"\n" + entry.time;
    if (!entry.time.empty() && !entry.message.empty()) line += u' ';
    line += entry.message;
    const std::size_t rest = count - shown - 1;
    const std::size_t after = text.size() + line.size() + (rest > 0 ? MoreLine(rest).size() : 0);
    if (after >= kDetailNoticeLimit) break;
    text += line;
    ++shown;
  }
  if (shown < count) {
    const String more = MoreLine(count - shown);
    if (text.size() + more.size() < kDetailNoticeLimit) text += more;
  }
  return text;
}

}  // namespace vantrel
