#include "watch/event_log_query.h"

#include <charconv>

#include "platform/exception.h"
#include "platform/trace.h"
#include "watch/event_source.h"

namespace vantrel {

namespace {

constexpr char16_t kSourceName[] = u"Pervasive SQL";

// The type name a failed conversion names for a value.
String TypeName(const EventValue& value) {
  switch (value.index()) {
    case 0:
      return u"Null";
    case 1:
      return u"UnicodeString";
    default:
      return u"Int64";
  }
}

[[noreturn]] void ConversionError(const EventValue& value, const String& target) {
  throw Exception(u"Could not convert variant of type (" + TypeName(value) + u") into type (" + target + u")");
}

// A property value as text: text unchanged, a number in decimal; null cannot
// be turned into text.
String ValueText(const EventValue& value) {
  if (const auto* text = std::get_if<String>(&value)) return *text;
  if (const auto* number = std::get_if<std::int64_t>(&value)) return IntToStr(*number);
  ConversionError(value, u"UnicodeString");
}

// A non-null property value as a number; text must hold a decimal integer.
std::int64_t ValueNumber(const EventValue& value) {
  if (const auto* number = std::get_if<std::int64_t>(&value)) return *number;
  if (const auto* text = std::get_if<String>(&value)) {
    const std::string digits = ToUtf8(*text);
    std::int64_t number = 0;
    auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), number);
    if (error == std::errc() && end == digits.data() + digits.size() && !digits.empty()) return number;
  }
  ConversionError(value, u"Int64");
}

// Appends the two lines of one entry and moves the mark to it. A failure
// part way leaves what was appended before it.
void TakeEntry(EventEntry& entry, RecordMark& mark, EventLines& lines) {
  String computer = ValueText(entry.Property(u"ComputerName"));
  String time = ValueText(entry.Property(u"TimeGenerated"));
  lines.push_back(u"Computer: " + computer + u" Time: " + time);

  EventValue message = entry.Property(u"Message");
  if (std::holds_alternative<std::monostate>(message)) {
    lines.push_back(u"Empty message");
  } else {
    lines.push_back(u" Message : " + CutToUtf8Size(ValueText(message), kMaxMessageBytes));
  }

  // A null RecordNumber is below every number, so it never raises the mark.
  EventValue record = entry.Property(u"RecordNumber");
  if (std::holds_alternative<std::monostate>(record)) return;
  const std::int64_t number = ValueNumber(record);
  String position = entry.Position();
  if (!position.empty()) {
    // Positioned entries come oldest first, and their numbers compare only
    // within one numbering of the log: the newest entry is the mark.
    mark = RecordMark{number, std::move(position)};
  } else if (mark.number < number) {
    mark = RecordMark{number, String()};
  }
}

void TraceFailure(const String& message) {
  TraceValue(u"Virhe haussa", message);
  TraceValue(u"callstack", String());  // the stack trace text is always empty
}

}  // namespace

String EventLogQueryText(std::int64_t record_number, bool first_run) {
  return String(u"SELECT Category,ComputerName,EventCode,Message,RecordNumber,SourceName,TimeGenerated  "
                u"FROM Win32_NTLogEvent   Where Logfile=") +
         u"\"" + u"Application" + u"\"" + u" and SourceName=" + u"\"" + kSourceName + u"\"" + u" and EventType <= " +
         (first_run ? u"3" : u"2") + u" and RecordNumber > " + IntToStr(record_number);
}

void QueryEventLogFrom(const std::function<std::unique_ptr<EventSource>()>& open_source, RecordMark& mark,
                       EventLines& lines, bool first_run) {
  try {
    std::unique_ptr<EventSource> source = open_source();

    // A cleared log numbers its entries from 1 again: asked for the entries
    // above the old mark it would answer nothing for months. An empty log
    // decides nothing; the rule acts at its first entry.
    if (const std::optional<std::int64_t> newest = source->NewestRecordNumber(); newest && *newest < mark.number) {
      TraceValue(u"event log cleared, newest record", IntToStr(*newest) + u" below the mark " + IntToStr(mark.number));
      mark = RecordMark();
    }

    EventQuery query;
    query.text = EventLogQueryText(mark.number, first_run);
    query.source_name = kSourceName;
    query.max_event_type = first_run ? 3 : 2;
    query.above_record = mark.number;
    query.above_position = mark.position;
    source->Execute(query);

    // One entry at a time: each is released before the next is asked for.
    while (std::unique_ptr<EventEntry> entry = source->Next()) TakeEntry(*entry, mark, lines);
  } catch (...) {
    TraceFailure(CurrentFailureMessage());
  }
}

void QueryEventLog(RecordMark& mark, EventLines& lines, bool first_run) {
  QueryEventLogFrom(OpenEventSource, mark, lines, first_run);
}

}  // namespace vantrel
