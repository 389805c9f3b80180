#include "watch/event_record.h"

#include <climits>
#include <utility>

#include "platform/date_time.h"

namespace vantrel {

namespace {

constexpr char16_t kIdentityStart[] = u"r=";

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

}  // namespace

String RecordHeadLine(const EventRecord& record) { return u"Computer: " + record.computer + u" Time: " + record.time; }

std::optional<String> RecordMessageLine(const EventRecord& record) {
  if (!record.message_read) return std::nullopt;
  if (!record.message) return String(u"Empty message");
  return u" Message : " + *record.message;
}

RecordAge AgeOf(const EventRecord& record) {
  RecordAge age;
  age.written = record.written;
  age.sequence = record.numbering;
  age.number = record.number;
  return age;
}

bool Newer(const RecordAge& a, const RecordAge& b) {
  if (a.written != b.written) return a.written && (!b.written || *a.written > *b.written);
  if (a.sequence != b.sequence) return a.sequence < b.sequence;
  return a.number.value_or(INT64_MIN) > b.number.value_or(INT64_MIN);
}

std::vector<String> RecordLines(const EventRecords& records) {
  std::vector<String> lines;
  for (const EventRecord& record : records) {
    lines.push_back(RecordHeadLine(record));
    if (std::optional<String> message = RecordMessageLine(record)) lines.push_back(std::move(*message));
  }
  return lines;
}

std::optional<EntryTime> WmiTimeToEntryTime(const String& text) {
  const auto year = Digits(text, 0, 4), month = Digits(text, 4, 2), day = Digits(text, 6, 2), hour = Digits(text, 8, 2),
             minute = Digits(text, 10, 2), second = Digits(text, 12, 2), micros = Digits(text, 15, 6);
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
  return EntryTime(std::chrono::seconds(utc) + std::chrono::microseconds(*micros));
}

String RecordIdentity(std::int64_t number, std::int64_t unix_seconds, std::optional<std::int64_t> event_code) {
  String identity = kIdentityStart + IntToStr(number) + u";t=" + IntToStr(unix_seconds);
  if (event_code) identity += u";e=" + IntToStr(*event_code);
  return identity;
}

bool IsRecordIdentity(const String& position) { return position.starts_with(kIdentityStart); }

bool SameRecord(const String& a, const String& b) {
  // The event code, when given, is the last field.
  const auto without_code = [](const String& identity) {
    const std::size_t code = identity.find(u";e=");
    return std::pair(identity.substr(0, code), code == String::npos ? String() : identity.substr(code));
  };
  const auto [a_record, a_code] = without_code(a);
  const auto [b_record, b_code] = without_code(b);
  return a_record == b_record && (a_code.empty() || b_code.empty() || a_code == b_code);
}

}  // namespace vantrel
