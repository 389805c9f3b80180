// One entry of the event log as the query took it, and the texts it is shown
// as. Everything that shows an entry renders it from its record.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

#include "platform/text.h"

namespace vantrel {

// The most of one message a record keeps (in UTF-8 bytes), cut between
// characters: a record says that something happened, and forty messages of
// megabytes each would otherwise be held in memory for one check.
inline constexpr std::size_t kMaxMessageBytes = 64 * 1024;

struct EventRecord {
  String computer;  // ComputerName, as text
  String time;      // TimeGenerated as the log gave it: a WMI date-time text
  // Message: none when the log holds none for the entry.
  std::optional<String> message;
  // False when the query stopped on reading the message: the record then
  // stands for the entry without it.
  bool message_read = true;
  // RecordNumber: none when the log gave a null one, or the query stopped
  // before reading it.
  std::optional<std::int64_t> number;
  // Where the log places the entry, as its source tells it (EventEntry::
  // Position); empty for a source that tells none.
  String position;
};

using EventRecords = std::vector<EventRecord>;

// How far the log has been reported: the record number of the last entry
// taken and where that leaves the log, in the source's own terms (a
// RecordIdentity of that entry; for the journal, the newest number dealt
// with in each of its sequences); empty when the source tells none.
struct RecordMark {
  std::int64_t number = 0;
  String position;

  bool operator==(const RecordMark&) const = default;
};

// "Computer: " + computer + " Time: " + time.
String RecordHeadLine(const EventRecord& record);

// " Message : " + the message, or "Empty message" for an entry without one;
// nothing when the message was not read.
std::optional<String> RecordMessageLine(const EventRecord& record);

// The two lines of every record, in order (one for a record whose message
// was not read).
std::vector<String> RecordLines(const EventRecords& records);

// A WMI date-time "yyyymmddHHMMSS.ffffff+UUU" (UUU: the offset from UTC in
// minutes, three digits or more) as microseconds since 1970-01-01 UTC;
// nothing when the text is not one.
std::optional<std::int64_t> WmiTimeToUnixMicros(const String& text);

// The identity of one entry of a numbered log, as a position: its record
// number, the second it was written (since 1970 UTC) and, when the log
// gives it, its event code. Two entries that share all three are taken
// for the same entry.
String RecordIdentity(std::int64_t number, std::int64_t unix_seconds, std::optional<std::int64_t> event_code);

// True when position is a RecordIdentity.
bool IsRecordIdentity(const String& position);

// True when two RecordIdentity texts name the same entry: the same number
// and second, and the same event code where both give one.
bool SameRecord(const String& a, const String& b);

}  // namespace vantrel
