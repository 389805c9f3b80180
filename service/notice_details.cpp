#include "service/notice_details.h"

#include <algorithm>
#include <optional>
#include <vector>

#include "platform/date_time.h"

namespace vantrel {

namespace {

constexpr char16_t kMessagePrefix[] = u" Message : ";
constexpr char16_t kEmptyMessage[] = u"Empty message";
constexpr char16_t kTimeLabel[] = u" Time: ";

struct Entry {
  std::optional<std::int64_t> utc_micros;  // when the time text could be read
  String time;                             // as shown
  String message;                          // as shown
};

// Reads digits [from, from + count) of text as a number; nothing when any is
// not a digit.
std::optional<int> Digits(const String& text, std::size_t from, std::size_t count) {
  if (from + count > text.size()) return std::nullopt;
  int value = 0;
  for (std::size_t i = from; i < from + count; ++i) {
    if (text[i] < u'0' || text[i] > u'9') return std::nullopt;
    value = value * 10 + (text[i] - u'0');
  }
  return value;
}

// A WMI date-time "yyyymmddHHMMSS.ffffff+UUU" (UUU: the offset from UTC in
// minutes) as microseconds since 1970 UTC.
std::optional<std::int64_t> WmiTimeToUtcMicros(const String& text) {
  const auto year = Digits(text, 0, 4), month = Digits(text, 4, 2), day = Digits(text, 6, 2),
             hour = Digits(text, 8, 2), minute = Digits(text, 10, 2), second = Digits(text, 12, 2),
             micros = Digits(text, 15, 6);
  if (!year || !month || !day || !hour || !minute || !second || !micros || text.size() < 23 || text[14] != u'.' ||
      (text[21] != u'+' && text[21] != u'-')) {
    return std::nullopt;
  }
  const std::size_t offset_digits = text.size() - 22;
  const auto offset = offset_digits <= 4 ? Digits(text, 22, offset_digits) : std::nullopt;
  if (!offset || *month < 1 || *month > 12 || *day < 1 || *day > 31 || *hour > 23 || *minute > 59 || *second > 60) {
    return std::nullopt;
  }
  const std::int64_t wall = UnixSecondsOf(CivilTime{*year, *month, *day, *hour, *minute, *second});
  const std::int64_t utc = wall - (text[21] == u'-' ? -*offset : *offset) * 60LL;
  return utc * 1000000 + *micros;
}

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

// One entry from its two lines ("Computer: <name> Time: <time>" and
// " Message : <text>" or "Empty message"); message_line is null when the
// query stopped between them.
Entry ReadEntry(const String& header, const String* message_line, const UtcOffsetAt& offset_at) {
  Entry entry;
  const std::size_t label = header.rfind(kTimeLabel);
  const String time = label == String::npos ? String() : header.substr(label + std::size(kTimeLabel) - 1);
  entry.utc_micros = WmiTimeToUtcMicros(time);
  if (entry.utc_micros) {
    const std::int64_t utc = (*entry.utc_micros - (*entry.utc_micros % 1000000 + 1000000) % 1000000) / 1000000;
    entry.time = FormatCivilTime(CivilTimeOfUnixSeconds(utc + offset_at(utc) * 60LL));
  } else {
    entry.time = CleanCut(time, 40);  // shown as the log gave it
  }
  if (message_line && message_line->rfind(kMessagePrefix, 0) == 0) {
    entry.message = CleanCut(FirstLine(message_line->substr(std::size(kMessagePrefix) - 1)), kDetailMessageChars);
    // A message with nothing to read in it says so, as a missing one does.
    if (entry.message.empty()) entry.message = kEmptyMessage;
  } else if (message_line && *message_line == kEmptyMessage) {
    entry.message = kEmptyMessage;
  } else if (message_line) {
    entry.message = CleanCut(FirstLine(*message_line), kDetailMessageChars);
  }
  return entry;
}

String MoreLine(std::size_t count) { return u"\n\u2026 ja " + IntToStr(static_cast<std::int64_t>(count)) + u" muuta"; }

}  // namespace

String NoticeWithDetails(const String& notice, const EventLines& lines, const UtcOffsetAt& offset_at) {
  std::vector<Entry> entries;
  for (std::size_t i = 0; i < lines.size(); i += 2) {
    entries.push_back(ReadEntry(lines[i], i + 1 < lines.size() ? &lines[i + 1] : nullptr, offset_at));
  }
  // Newest first; entries of the same moment keep the order of the query,
  // and a time that cannot be read counts as older than every other.
  std::stable_sort(entries.begin(), entries.end(), [](const Entry& a, const Entry& b) {
    return a.utc_micros && (!b.utc_micros || *a.utc_micros > *b.utc_micros);
  });

  String text = notice;
  std::size_t shown = 0;
  for (const Entry& entry : entries) {
    if (shown == kDetailEntries) break;
    String line = u"\n" + entry.time;
    if (!entry.time.empty() && !entry.message.empty()) line += u' ';
    line += entry.message;
    const std::size_t rest = entries.size() - shown - 1;
    const std::size_t after = text.size() + line.size() + (rest > 0 ? MoreLine(rest).size() : 0);
    if (after >= kDetailNoticeLimit) break;
    text += line;
    ++shown;
  }
  if (shown < entries.size()) {
    const String more = MoreLine(entries.size() - shown);
    if (text.size() + more.size() < kDetailNoticeLimit) text += more;
  }
  return text;
}

}  // namespace vantrel
