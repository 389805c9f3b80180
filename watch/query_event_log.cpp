// The query over the platform's own event source, apart from the query's
// rules so that a program that brings its own source links none of it.
#include "watch/event_log_query.h"
#include "watch/event_source.h"

namespace vantrel {

QueryOutcome QueryEventLog(RecordMark& mark, EventRecords& records, bool first_run, const String& source_name,
                           SaidOnce& said) {
  return QueryEventLogFrom(OpenEventSource, mark, records, first_run, source_name, kNewestRecordsKept, &said);
}

}  // namespace vantrel
