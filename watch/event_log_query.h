// The event log query: new error and warning entries of the watched source.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

#include "platform/text.h"

namespace vantrel {

class EventSource;

// Ordered lines, two per entry found.
using EventLines = std::vector<String>;

// The most of one message a line keeps (in UTF-8 bytes), cut between
// characters: a line says that something happened, and forty messages of
// megabytes each would otherwise be held in memory for one check.
inline constexpr std::size_t kMaxMessageBytes = 64 * 1024;

// How far the log has been read: the record number of the last entry taken
// and, where the source gives one, that entry's position in the log (empty
// otherwise).
struct RecordMark {
  std::int64_t number = 0;
  String position;

  bool operator==(const RecordMark&) const = default;
};

// Appends two lines per entry of the watched source written after the mark
// (errors and warnings; information too on a first run) and moves the mark
// on: to the highest record number read, or, for a source that gives
// positions, to the newest entry read. A log whose newest record number is
// below the mark has been cleared: it is traced and read from 0. Never
// raises: a failure is traced and keeps what was gathered until then.
void QueryEventLog(RecordMark& mark, EventLines& lines, bool first_run);

// The same query against the source that open_source connects to; tests and
// QueryEventLog (with the platform's source) go through it.
void QueryEventLogFrom(const std::function<std::unique_ptr<EventSource>()>& open_source, RecordMark& mark,
                       EventLines& lines, bool first_run);

// The WQL text that asks for the entries above record_number.
String EventLogQueryText(std::int64_t record_number, bool first_run);

}  // namespace vantrel
