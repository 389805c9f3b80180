// One entry of the event log as the query took it, and the texts it is shown
// as. Everything that shows an entry renders it from its record.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

#include "platform/text.h"
#include "watch/entry_time.h"

namespace vantrel {

// The most of one message a record keeps (in UTF-8 bytes), cut between
// characters: a record says that something happened, and forty messages of
// megabytes each would otherwise be held in memory for one check.
inline constexpr std::size_t kMaxMessageBytes = 64 * 1024;

struct EventRecord {
  String computer;  // ComputerName, as text
  String time;      // TimeGenerated as the log gave it: a WMI date-time text
  // When the entry was written, as its source read it; none when the source
  // could not tell (a TimeGenerated that is no WMI date-time).
  std::optional<EntryTime> written;
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
  // The numbering its record number belongs to (EventEntry::Numbering).
  String numbering;
};

// The records a query took, in the order it took them. A check keeps only
// the newest few of a long walk (what a notice shows of it) and counts the
// others in left_out, so that its memory does not grow with the journal.
class EventRecords : public std::vector<EventRecord> {
 public:
  using std::vector<EventRecord>::vector;

  // Every record the query took, kept or not.
  std::size_t Taken() const { return size() + left_out; }

  std::size_t left_out = 0;  // records taken and not kept
};

// How many of the newest records a check keeps.
inline constexpr std::size_t kNewestRecordsKept = 5;

// Where a record stands among the others, newest first: by the moment of its
// time (a time that cannot be read is older than every other), then, at one
// moment (a burst from one writer), by its record number within its
// numbering, the highest first; records of different numberings at one
// moment keep apart in a fixed order.
struct RecordAge {
  std::optional<EntryTime> written;
  String sequence;  // EventRecord::numbering: a journal sequence; empty for a log with one numbering
  std::optional<std::int64_t> number;
};
RecordAge AgeOf(const EventRecord& record);
bool Newer(const RecordAge& a, const RecordAge& b);

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
// minutes, three digits or more) as the moment it names; nothing when the
// text is not one.
std::optional<EntryTime> WmiTimeToEntryTime(const String& text);

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
