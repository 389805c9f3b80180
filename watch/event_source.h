// The event source behind the event log query. Windows answers it with WMI's
// Win32_NTLogEvent through COM automation; Linux with the systemd journal.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <variant>

#include "platform/text.h"

namespace vantrel {

// One property value as the source delivers it: null, text or a number.
using EventValue = std::variant<std::monostate, String, std::int64_t>;

// What the query asks for. The text is the whole WQL query; a source that
// does not speak WQL may read the same selection from the other fields.
struct EventQuery {
  String text;
  String source_name;          // entries written under this event source
  int max_event_type = 2;      // 1 error, 2 warning, 3 information
  std::int64_t above_record = 0;  // only RecordNumbers above this one
  // Where the entry of above_record stands in the log, as the source gave it
  // (EventEntry::Position); empty when unknown. A source that gives positions
  // uses it to take the entries written after that entry, also when its log
  // has started a new numbering since.
  String above_position;
};

// One entry of the result; released before the next one is asked for.
class EventEntry {
 public:
  virtual ~EventEntry() = default;
  // The named property (ComputerName, TimeGenerated, Message, RecordNumber);
  // raises Exception when the entry cannot give it.
  virtual EventValue Property(const String& name) = 0;
  // Where the entry stands in the log, stored beside its record number so
  // that a later query can tell a log that started again; empty for a source
  // whose record numbers alone order its entries. A source that gives
  // positions delivers its entries oldest first.
  virtual String Position() { return String(); }
};

// A connection to the event log that runs one query and walks its result
// forward, once.
class EventSource {
 public:
  virtual ~EventSource() = default;
  // The highest record number the log holds now; nothing when the log is
  // empty or the source cannot tell without reading it.
  virtual std::optional<std::int64_t> NewestRecordNumber() { return std::nullopt; }
  // Runs the query and starts the walk; raises Exception on failure.
  virtual void Execute(const EventQuery& query) = 0;
  // The next entry, or nullptr at the end of the result (a source that
  // cannot deliver more ends the walk quietly). Raises Exception only for a
  // failure outside the walk itself.
  virtual std::unique_ptr<EventEntry> Next() = 0;
};

// Connects to the platform's event log; raises Exception on failure.
std::unique_ptr<EventSource> OpenEventSource();

}  // namespace vantrel
