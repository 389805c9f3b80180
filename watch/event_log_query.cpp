#include "watch/event_log_query.h"

#include <atomic>
#include <optional>

#include "platform/exception.h"
#include "platform/trace.h"
#include "platform/whole_number.h"
#include "watch/event_log_query_test_seam.h"
#include "watch/event_source.h"

namespace vantrel {

namespace {

std::atomic<bool> g_record_lines_traced{false};

// The type name a failed conversion names for a value.
String TypeName(const EventValue& value) {
  switch (value.index()) {
    case 0: return u"Null";
    case 1: return u"UnicodeString";
    default: return u"Int64";
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
    if (const auto number = WholeNumber<std::int64_t>(ToUtf8(*text))) return *number;
  }
  ConversionError(value, u"Int64");
}

// Makes the record of one entry and moves the mark to it when its number is
// above the mark's. A failure part way keeps the record as far as it got:
// from the computer name and time on, the entry counts as found.
void TakeEntry(EventEntry& entry, RecordMark& mark, EventRecords& records) {
  EventRecord taken;
  taken.computer = ValueText(entry.Property(u"ComputerName"));
  taken.time = ValueText(entry.Property(u"TimeGenerated"));
  taken.written = entry.Written();
  taken.message_read = false;
  EventRecord& record = records.emplace_back(std::move(taken));

  EventValue message = entry.Property(u"Message");
  if (!std::holds_alternative<std::monostate>(message)) {
    record.message = CutToUtf8Size(ValueText(message), kMaxMessageBytes);
  }
  record.message_read = true;

  // A null RecordNumber is below every number, so it never raises the mark.
  EventValue number = entry.Property(u"RecordNumber");
  if (std::holds_alternative<std::monostate>(number)) return;
  const std::int64_t value = ValueNumber(number);
  record.position = entry.Position();
  record.numbering = entry.Numbering();
  record.number = value;
  if (mark.number < value) mark = RecordMark{value, record.position};
}

void TraceFailure(const String& message) {
  TraceValue(u"Virhe haussa", message);
  TraceValue(u"callstack", String());  // the stack trace text is always empty
}

// A numbered log that was cleared numbers its entries from 1 again: asked
// for the entries above the old mark it would answer nothing for months, or,
// once it has grown past the mark, leave out every entry up to it. Cleared
// when its newest record number is below the mark, or when the entry it now
// holds under the mark's number is another than the mark's own; then the
// whole log is read, once. A log whose oldest record is above the mark has
// only wrapped (its old entries were overwritten, the numbers went on), and
// an empty log, or one that cannot tell, decides nothing.
void StartAfterAClear(EventSource& source, RecordMark& mark) {
  const std::optional<RecordRange> range = source.Range();
  if (!range) return;
  if (range->newest < mark.number) {
    TraceValue(u"event log cleared, newest record",
               IntToStr(range->newest) + u" below the mark " + IntToStr(mark.number));
    mark = RecordMark();
    return;
  }
  if (!IsRecordIdentity(mark.position) || mark.number < range->oldest) return;
  const std::optional<String> now = source.PositionOf(mark.number);
  if (now && !SameRecord(*now, mark.position)) {
    TraceValue(u"event log cleared, record " + IntToStr(mark.number), u"another entry than the mark's");
    mark = RecordMark();
  }
}

// WQL text: a string literal's quote and backslash are escaped.
String WqlString(const String& text) {
  String quoted = u"\"";
  for (char16_t c : text) {
    if (c == u'"' || c == u'\\') quoted += u'\\';
    quoted += c;
  }
  return quoted + u"\"";
}

// Keeps the newest of the records a query appends (RecordAge) and counts the
// others in left_out; the test copy's trace writes each record's lines as
// it is taken, kept or not.
class NewestKept {
 public:
  NewestKept(EventRecords& records, std::size_t keep) : records_(records), first_(records.size()), keep_(keep) {}

  // Deals with the records appended since the last call.
  void Settle() {
    while (settled_ + first_ < records_.size()) {
      const EventRecord& record = records_[first_ + settled_];
      if (g_record_lines_traced) {
        for (const String& line : RecordLines(EventRecords{record})) TraceLine(line);
      }
      ages_.push_back(AgeOf(record));
      ++settled_;
      if (settled_ > keep_) DropOldest();
    }
  }

 private:
  void DropOldest() {
    std::size_t oldest = 0;
    for (std::size_t i = 1; i < ages_.size(); ++i) {
      // Of two of the same age the later taken goes, as a notice lists the
      // earlier first.
      if (!Newer(ages_[i], ages_[oldest])) oldest = i;
    }
    records_.erase(records_.begin() + static_cast<std::ptrdiff_t>(first_ + oldest));
    ages_.erase(ages_.begin() + static_cast<std::ptrdiff_t>(oldest));
    --settled_;
    ++records_.left_out;
  }

  EventRecords& records_;
  std::size_t first_;  // the first record this query appended
  std::size_t keep_;
  std::size_t settled_ = 0;  // records of this query dealt with (kept)
  std::vector<RecordAge> ages_;
};

}  // namespace

void TraceUnusedPosition(const String& why, std::int64_t number) {
  TraceValue(u"lastrecpos not used", why + u"; the number " + IntToStr(number) + u" alone decides");
}

String EventLogQueryText(std::int64_t record_number, bool first_run, const String& source_name) {
  return String(
             u"SELECT Category,ComputerName,EventCode,Message,RecordNumber,SourceName,TimeGenerated  "
             u"FROM Win32_NTLogEvent   Where Logfile=") +
         u"\"" + u"Application" + u"\"" + u" and SourceName=" + WqlString(source_name) + u" and EventType <= " +
         (first_run ? u"3" : u"2") + u" and RecordNumber > " + IntToStr(record_number);
}

QueryOutcome QueryEventLogFrom(const std::function<std::unique_ptr<EventSource>()>& open_source, RecordMark& mark,
                               EventRecords& records, bool first_run, const String& source_name, std::size_t keep,
                               SaidOnce* said) {
  QueryOutcome outcome;
  const RecordMark start = mark;
  const std::size_t before = records.size(), left_out_before = records.left_out;
  NewestKept kept(records, keep);
  std::unique_ptr<EventSource> source;
  bool walking = false;
  std::optional<String> failure;
  try {
    source = open_source();
    StartAfterAClear(*source, mark);

    EventQuery query;
    query.text = EventLogQueryText(mark.number, first_run, source_name);
    query.source_name = source_name;
    query.max_event_type = first_run ? 3 : 2;
    query.above_record = mark.number;
    query.above_position = mark.position;
    query.said = said;
    source->Execute(query);

    // One entry at a time: each is released before the next is asked for.
    walking = true;
    while (std::unique_ptr<EventEntry> entry = source->Next()) {
      TakeEntry(*entry, mark, records);
      kept.Settle();
    }
  } catch (const EntriesLeftUnread& unread) {
    outcome.failure = unread.Message();
    failure = outcome.failure;
    TraceFailure(outcome.failure);
  } catch (...) {
    failure = CurrentFailureMessage();
    TraceFailure(*failure);
  }
  kept.Settle();  // a record the failure cut short
  if (source) {
    outcome.passed_over = source->PassedOver();
    if (std::optional<RecordMark> walked = source->MarkAfterWalk()) {
      mark = std::move(*walked);
      return outcome;
    }
  }
  if (!outcome.failure.empty()) return outcome;  // the check fails on it; the mark stays
  if (!failure || !walking) {
    outcome.not_asked = failure;
    return outcome;
  }
  // The entries may come in any order (WMI gives the newest first): the
  // highest number taken before the walk broke off may stand above entries
  // the walk never reached. So nothing of it counts, and the check fails,
  // to be tried again.
  records.resize(before);
  records.left_out = left_out_before;
  mark = start;
  throw Exception(u"The event log walk broke off, nothing of it kept: " + *failure);
}

namespace testing_seam {
void SetRecordLinesTraced(bool traced) { g_record_lines_traced = traced; }
}  // namespace testing_seam

}  // namespace vantrel
