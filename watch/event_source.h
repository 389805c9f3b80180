// The event source behind the event log query. Windows answers it with WMI's
// Win32_NTLogEvent through COM automation; Linux with the systemd journal.
#pragma once

#include <cstdint>
#include <memory>
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
  std::int32_t above_record = 0;  // only RecordNumbers above this one
};

// One entry of the result; released before the next one is asked for.
class EventEntry {
 public:
  virtual ~EventEntry() = default;
  // The named property (ComputerName, TimeGenerated, Message, RecordNumber);
  // raises Exception when the entry cannot give it.
  virtual EventValue Property(const String& name) = 0;
};

// A connection to the event log that runs one query and walks its result
// forward, once.
class EventSource {
 public:
  virtual ~EventSource() = default;
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
