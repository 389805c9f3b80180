// The event log query: new error and warning entries of the watched source.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

#include "platform/text.h"
#include "watch/event_record.h"
#include "watch/said_once.h"

namespace vantrel {

class EventSource;

// The event source watched when the settings name none.
inline constexpr char16_t kDefaultSourceName[] = u"Pervasive SQL";

// What a query could not read, besides the entries it took.
struct QueryOutcome {
  // The message of a failure before the walk: the log could not be asked
  // at all. Nothing when it was asked.
  std::optional<String> not_asked;
  // The failure that left entries unread which a later check must find
  // (EntriesLeftUnread): the check fails on it. Empty when none.
  String failure;
  // The parts of the log passed over because no reader here can open them,
  // each named with the reason (EventSource::PassedOver).
  std::vector<String> passed_over;
};

// Takes a record of each entry of source_name written after the mark
// (errors and warnings; information too on a first run), appends the newest
// kNewestRecordsKept of them and counts the others (EventRecords), and
// moves the mark on over them. A numbered log that was cleared since the
// mark was taken is read from its start, once, and the clear is traced.
// Every failure is traced. One before the walk appends nothing and leaves
// the mark (QueryOutcome::not_asked); a walk that breaks off also appends
// nothing and leaves the mark, and then raises Exception so that the check
// fails and is tried again. A source that keeps its own account of the log
// (the journal) instead gives the mark over what its walk delivered, and
// raises nothing; when it could not read entries it should have
// (EntriesLeftUnread), the outcome says so and the check fails on it.
// said: what the service has said once while it runs (EventQuery::said).
QueryOutcome QueryEventLog(RecordMark& mark, EventRecords& records, bool first_run, const String& source_name,
                           SaidOnce& said);

// The same query against the source that open_source connects to, keeping
// the newest `keep` records it takes (RecordAge) and counting the others in
// records.left_out; tests and QueryEventLog (with the platform's source,
// keeping kNewestRecordsKept) go through it.
QueryOutcome QueryEventLogFrom(const std::function<std::unique_ptr<EventSource>()>& open_source, RecordMark& mark,
                               EventRecords& records, bool first_run, const String& source_name,
                               std::size_t keep = SIZE_MAX, SaidOnce* said = nullptr);

// Traces, in one line, that the position stored beside the mark is not used
// and why: the number alone decides which entries are new.
void TraceUnusedPosition(const String& why, std::int64_t number);

// The WQL text that asks for source_name's entries above record_number.
String EventLogQueryText(std::int64_t record_number, bool first_run, const String& source_name = kDefaultSourceName);

}  // namespace vantrel
