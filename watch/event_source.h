// The event source behind the event log query. Windows answers it with WMI's
// Win32_NTLogEvent through COM automation; Linux with the systemd journal.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <variant>
#include <vector>

#include "platform/exception.h"
#include "platform/text.h"
#include "watch/event_record.h"
#include "watch/said_once.h"

namespace vantrel {

// One property value as the source delivers it: null, text or a number.
using EventValue = std::variant<std::monostate, String, std::int64_t>;

// What the query asks for. The text is the whole WQL query; a source that
// does not speak WQL may read the same selection from the other fields.
struct EventQuery {
  String text;
  String source_name;             // entries written under this event source
  int max_event_type = 2;         // 1 error, 2 warning, 3 information
  std::int64_t above_record = 0;  // only RecordNumbers above this one
  // Where the mark stands in the log, as the source gave it after the last
  // walk (EventSource::MarkAfterWalk); empty when unknown. A source whose
  // record numbers start again (the journal) decides by it which entries
  // are new; the others go by above_record.
  String above_position;
  // What the service has said once while it runs: a debug line that every
  // check would repeat (a stored position that cannot be used, a part of
  // the log passed over) is written once for the values as they stand.
  // Null: said once for this query alone.
  SaidOnce* said = nullptr;
};

// A failure that leaves entries of the log unread which a later check must
// find (a journal file that exists but cannot be read). The query traces it
// as any failure; the check then fails on it and is tried again.
class EntriesLeftUnread : public Exception {
 public:
  using Exception::Exception;
};

// One entry of the result; released before the next one is asked for.
class EventEntry {
 public:
  virtual ~EventEntry() = default;
  // The named property (ComputerName, TimeGenerated, Message, RecordNumber);
  // raises Exception when the entry cannot give it.
  virtual EventValue Property(const String& name) = 0;
  // When the entry was written, as the source keeps it; none when it cannot
  // tell (a TimeGenerated that is no WMI date-time). Asked after
  // TimeGenerated; never raises.
  virtual std::optional<EntryTime> Written() = 0;
  // Where the entry stands in the log (a RecordIdentity for a numbered log),
  // kept beside the record number when the entry becomes the mark; empty
  // for a source that tells none. Raises Exception as Property does.
  virtual String Position() { return String(); }
  // The numbering the entry's record number belongs to (a journal
  // sequence); empty for a log with one numbering. Never raises.
  virtual String Numbering() { return String(); }
};

// The record numbers a log holds now.
struct RecordRange {
  std::int64_t oldest = 0;
  std::int64_t newest = 0;
};

// A connection to the event log that runs one query and walks its result
// forward, once.
class EventSource {
 public:
  virtual ~EventSource() = default;
  // The oldest and newest record numbers the log holds now, read without
  // reading the log; nothing when the log is empty or the source cannot
  // tell.
  virtual std::optional<RecordRange> Range() { return std::nullopt; }
  // The position (EventEntry::Position) of the entry the log holds now under
  // record number; nothing when it cannot be read.
  virtual std::optional<String> PositionOf(std::int64_t number) {
    (void)number;
    return std::nullopt;
  }
  // Runs the query and starts the walk; raises Exception on failure.
  virtual void Execute(const EventQuery& query) = 0;
  // The next entry, or nullptr at the end of the result. Raises Exception
  // when the source reports a failure in place of the next entry: the walk
  // broke off, and what it delivered may not be all there was.
  virtual std::unique_ptr<EventEntry> Next() = 0;
  // Once the walk has ended, also part way: the mark that covers what it
  // delivered and passed over, for a source that keeps its own account of
  // the log (the journal, numbered per sequence); nothing for a source
  // whose mark is its highest record number and that entry's position.
  // Never raises.
  virtual std::optional<RecordMark> MarkAfterWalk() { return std::nullopt; }
  // Once the walk has ended: the parts of the log it passed over because no
  // reader here can open them (a journal file of a newer format), each
  // named with the reason. They hold nothing this program can ever read.
  // Never raises.
  virtual std::vector<String> PassedOver() { return {}; }
};

// Connects to the platform's event log; raises Exception on failure.
std::unique_ptr<EventSource> OpenEventSource();

}  // namespace vantrel
