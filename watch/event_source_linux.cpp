// The event source on Linux: the systemd journal through sd-journal.
//
// An entry stands for an event of the Application log when its
// SYSLOG_IDENTIFIER is the source name. Its EventType comes from PRIORITY
// (0-3 error 1, 4 warning 2, 5-6 information 3, 7 and a missing PRIORITY
// never selected), its RecordNumber is its journal sequence number, and its
// TimeGenerated is its realtime stamp as a WMI date-time in local time.
#include <systemd/sd-journal.h>
#include <time.h>

#include <unistd.h>

#include <charconv>
#include <climits>
#include <cstdint>
#include <cstdlib>
#include <optional>
#include <string>
#include <string_view>
#include <system_error>

#include "platform/environment.h"
#include "platform/exception.h"
#include "platform/unique_handle.h"
#include "watch/event_log_query.h"
#include "watch/event_source.h"

namespace vantrel {

namespace {

// One open journal, closed on every path.
using JournalHandle = UniqueHandle<sd_journal*, sd_journal_close>;

[[noreturn]] void ThrowJournalError(const std::string& what, int negative_errno) {
  throw Exception(FromUtf8(what + ": " + std::system_category().message(-negative_errno)));
}

// Where an entry stands in the journal: the sequence it belongs to, its
// number in that sequence and its realtime stamp, all read from its cursor
// ("s=<sequence id>;i=<number, hex>;b=...;m=...;t=<realtime, hex>;x=...").
// The cursor is the entry's position as the query stores it.
struct Position {
  std::string seqnum_id;
  std::uint64_t seqnum = 0;
  std::uint64_t realtime = 0;
};

// Reads the three values from a cursor; false when one of them is missing.
bool ParseCursor(std::string_view cursor, Position& pos) {
  bool have_id = false, have_number = false, have_time = false;
  const auto hex = [](std::string_view text, std::uint64_t& value) {
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value, 16);
    return error == std::errc() && end == text.data() + text.size() && !text.empty();
  };
  while (!cursor.empty()) {
    const std::size_t semi = cursor.find(';');
    const std::string_view part = cursor.substr(0, semi);
    cursor = semi == std::string_view::npos ? std::string_view() : cursor.substr(semi + 1);
    if (part.starts_with("s=")) {
      pos.seqnum_id = std::string(part.substr(2));
      have_id = !pos.seqnum_id.empty();
    } else if (part.starts_with("i=")) {
      have_number = hex(part.substr(2), pos.seqnum);
    } else if (part.starts_with("t=")) {
      have_time = hex(part.substr(2), pos.realtime);
    }
  }
  return have_id && have_number && have_time;
}

// Frees a text that sd-journal allocated for its caller.
void FreeText(char* text) { std::free(text); }

// The cursor of the entry the journal stands on, and what it says.
bool ReadCursor(sd_journal* j, std::string& cursor, Position& pos) {
  char* raw = nullptr;
  if (sd_journal_get_cursor(j, &raw) < 0) return false;
  const UniqueHandle<char*, FreeText> owned(raw);
  if (!owned) return false;
  cursor = owned.get();
  return ParseCursor(cursor, pos);
}

// The EventType of a syslog priority; 0 for one never selected.
int EventTypeOfPriority(int priority) {
  if (priority <= 3) return 1;
  if (priority == 4) return 2;
  if (priority <= 6) return 3;
  return 0;
}

// How much of a field's value is kept: the bytes a line keeps, and room for
// the character the cut falls in. The journal hands out a compressed field
// only up to its data threshold, but an uncompressed one whole (it is mapped
// from the file), so the copy is cut here as well.
constexpr std::size_t kMaxFieldBytes = kMaxMessageBytes + 4;

// The EventType of a PRIORITY field ("PRIORITY=" and one digit); 0, never
// selected, for 7 or another value.
int EventTypeOfField(std::string_view field) {
  const char digit = field.size() == sizeof "PRIORITY=0" - 1 ? field.back() : 'x';
  return digit >= '0' && digit <= '9' ? EventTypeOfPriority(digit - '0') : 0;
}

// The EventType of the entry the journal stands on; 0 for one without a
// PRIORITY it can read.
int EventTypeOfEntry(sd_journal* j) {
  const void* data = nullptr;
  std::size_t size = 0;
  if (sd_journal_get_data(j, "PRIORITY", &data, &size) < 0) return 0;
  return EventTypeOfField(std::string_view(static_cast<const char*>(data), size));
}

// The fields of the entry the journal stands on that its lines need, in one
// pass over the entry (a lookup by name would pass over it once per field):
// its EventType, and its host name and message when it has them. A field
// that cannot be read counts as missing: a damaged entry must not hold up
// every entry behind it at every check.
struct EntryFields {
  int event_type = 0;
  std::optional<std::string> host;
  std::optional<std::string> message;
};

EntryFields ReadFields(sd_journal* j) {
  EntryFields fields;
  const void* data = nullptr;
  std::size_t size = 0;
  sd_journal_restart_data(j);
  while (sd_journal_enumerate_data(j, &data, &size) > 0) {
    const std::string_view field(static_cast<const char*>(data), size);
    if (field.starts_with("PRIORITY=")) {
      fields.event_type = EventTypeOfField(field);
    } else if (field.starts_with("_HOSTNAME=")) {
      fields.host = std::string(field.substr(sizeof "_HOSTNAME=" - 1, kMaxFieldBytes));
    } else if (field.starts_with("MESSAGE=")) {
      fields.message = std::string(field.substr(sizeof "MESSAGE=" - 1, kMaxFieldBytes));
    }
  }
  return fields;
}

// Writes value as width decimal digits, with leading zeros, ending at end.
void PutDigits(char* end, unsigned long value, int width) {
  for (int k = 0; k < width; ++k, value /= 10) *--end = static_cast<char>('0' + value % 10);
}

// A realtime stamp as a WMI date-time text in local time:
// yyyymmddHHMMSS.ffffff followed by the signed UTC offset in minutes (three
// digits at least). Formatted by hand: the first check of a long history
// makes one for every entry.
String WmiDateTime(std::uint64_t usec) {
  time_t seconds = static_cast<time_t>(usec / 1000000);
  tm local{};
  localtime_r(&seconds, &local);
  char text[32];
  char* p = text;
  const auto put = [&p](unsigned long value, int width) {
    PutDigits(p + width, value, width);
    p += width;
  };
  put(static_cast<unsigned long>(local.tm_year + 1900), 4);
  put(static_cast<unsigned long>(local.tm_mon + 1), 2);
  put(static_cast<unsigned long>(local.tm_mday), 2);
  put(static_cast<unsigned long>(local.tm_hour), 2);
  put(static_cast<unsigned long>(local.tm_min), 2);
  put(static_cast<unsigned long>(local.tm_sec), 2);
  *p++ = '.';
  put(static_cast<unsigned long>(usec % 1000000), 6);
  const long offset = local.tm_gmtoff / 60;
  *p++ = offset < 0 ? '-' : '+';
  const unsigned long magnitude = static_cast<unsigned long>(offset < 0 ? -offset : offset);
  put(magnitude, magnitude >= 1000 ? 4 : 3);
  return FromUtf8(std::string_view(text, static_cast<std::size_t>(p - text)));
}

// The machine's own host name, for an entry that does not name one.
String OwnHostName() {
  char host[256] = {};
  if (gethostname(host, sizeof host - 1) != 0) return String();
  return FromUtf8(host);
}

// A sequence number as a RecordNumber; numbers past the signed 64-bit range
// (never met in a real journal) stay at its top.
std::int64_t RecordNumberOf(std::uint64_t seqnum) {
  return seqnum > static_cast<std::uint64_t>(INT64_MAX) ? INT64_MAX : static_cast<std::int64_t>(seqnum);
}

// One entry of the walk, with the fields its lines need copied out of the
// journal. Missing fields never fail: WMI always names the computer, so an
// entry without _HOSTNAME names this machine; its time is the realtime stamp
// of its cursor, which every entry has.
class JournalEntry : public EventEntry {
 public:
  JournalEntry(EntryFields fields, const struct Position& pos, std::string cursor)
      : fields_(std::move(fields)), seqnum_(pos.seqnum), realtime_(pos.realtime), cursor_(std::move(cursor)) {}

  EventValue Property(const String& name) override {
    if (name == u"ComputerName") return fields_.host ? FromUtf8(*fields_.host) : OwnHostName();
    if (name == u"Message") return fields_.message ? EventValue(FromUtf8(*fields_.message)) : std::monostate();
    if (name == u"RecordNumber") return RecordNumberOf(seqnum_);
    if (name == u"TimeGenerated") return WmiDateTime(realtime_);
    throw Exception(u"Method '" + name + u"' not supported by automation object");
  }

  String Position() override { return FromUtf8(cursor_); }

 private:
  EntryFields fields_;
  std::uint64_t seqnum_;
  std::uint64_t realtime_;  // from the cursor: every entry has one
  std::string cursor_;
};

// Which entries are new. With the position of the mark's entry: an entry of
// the mark's sequence when its number is above the mark's, an entry of any
// other sequence when it was written after the mark's entry, so that a
// journal that started numbering again (a volatile journal after a reboot,
// files removed) is reported once, and so are the old sequence's entries
// after the mark. Without a position (a mark stored before positions were
// kept, or none at all): an entry whose number is above the mark.
class NewEntryRule {
 public:
  NewEntryRule(std::int64_t above, const std::string& position) : above_(above) {
    Position stored;
    // A position that names another number than the mark is left over from
    // a store that did not complete: the number alone counts then.
    positioned_ = above > 0 && ParseCursor(position, stored) && stored.seqnum == static_cast<std::uint64_t>(above);
    if (positioned_) mark_ = stored;
  }

  // True when every entry is new, so there is nothing to look for first.
  bool TakesAll() const { return !positioned_ && above_ <= 0; }

  bool IsNew(const Position& pos) const {
    if (positioned_ && pos.seqnum_id != mark_.seqnum_id) return pos.realtime > mark_.realtime;
    return above_ < 0 || pos.seqnum > static_cast<std::uint64_t>(above_);
  }

  // Walking back from the newest entry, true at the first entry behind which
  // nothing new lies: any entry that is not new when the mark's position is
  // known (the journal orders the entries of one sequence by number and
  // those of different ones by time); without it, an entry of the newest
  // sequence at or below the mark, as other sequences' numbers do not
  // compare with it.
  bool EndsWalkBack(const Position& pos, const std::string& newest_sequence) const {
    if (IsNew(pos)) return false;
    return positioned_ || pos.seqnum_id == newest_sequence;
  }

 private:
  std::int64_t above_;
  bool positioned_ = false;
  Position mark_;
};

class JournalSource : public EventSource {
 public:
  JournalSource() {
    sd_journal* opened = nullptr;
    std::optional<String> dir = GetEnvironmentValue(u"VANTREL_JOURNAL_DIR");
    if (dir && !dir->empty()) {
      std::string path = ToUtf8(*dir);
      int r = sd_journal_open_directory(&opened, path.c_str(), 0);
      if (r < 0) ThrowJournalError("Cannot open the journal folder " + path, r);
    } else {
      int r = sd_journal_open(&opened, SD_JOURNAL_LOCAL_ONLY);
      if (r < 0) ThrowJournalError("Cannot open the journal", r);
    }
    journal_.reset(opened);
    // A line keeps 64 KiB of a message; a little more is read, so that the
    // cut falls between characters, and a huge message is never read whole.
    sd_journal_set_data_threshold(journal_.get(), sizeof "MESSAGE=" - 1 + kMaxFieldBytes);
  }

  // Finds where the new entries begin, so that the walk forward delivers
  // them oldest first and a later check costs in proportion to the entries
  // written since the check before, not to the journal's history: from the
  // newest entry back to the first one behind which nothing new lies.
  void Execute(const EventQuery& query) override {
    sd_journal* j = journal_.get();
    rule_.emplace(query.above_record, ToUtf8(query.above_position));
    max_event_type_ = query.max_event_type;
    // The journal walks the entries of one field value by that value's own
    // list of entries; matches on PRIORITY as well would make it merge
    // several such lists at every step, which costs several times more than
    // reading each entry's PRIORITY here.
    AddMatch("SYSLOG_IDENTIFIER=" + ToUtf8(query.source_name));
    if (max_event_type_ < 1) {
      done_ = true;
      return;
    }
    if (rule_->TakesAll()) {
      Seek(sd_journal_seek_head(j));
      return;
    }
    Seek(sd_journal_seek_tail(j));
    std::string oldest_new, cursor, newest_sequence;
    Position pos;
    // The end of the journal and a failure to move alike end the walk back.
    // Every entry of the source can end it, the types the query leaves out
    // too: the mark's own entry may be one of them (a first run takes
    // information entries as well).
    while (sd_journal_previous(j) > 0) {
      if (!ReadCursor(j, cursor, pos)) continue;
      if (newest_sequence.empty()) newest_sequence = pos.seqnum_id;
      if (rule_->EndsWalkBack(pos, newest_sequence)) break;
      if (rule_->IsNew(pos) && Selected(EventTypeOfEntry(j))) oldest_new = cursor;
    }
    if (oldest_new.empty()) {
      done_ = true;
      return;
    }
    Seek(sd_journal_seek_cursor(j, oldest_new.c_str()));
  }

  // The new entries, oldest first; an entry that is not new (of another
  // sequence, met on the way) is passed over.
  std::unique_ptr<EventEntry> Next() override {
    sd_journal* j = journal_.get();
    std::string cursor;
    Position pos;
    // The end of the journal and a failure to move alike end the walk quietly.
    while (!done_ && sd_journal_next(j) > 0) {
      EntryFields fields = ReadFields(j);
      if (!Selected(fields.event_type) || !ReadCursor(j, cursor, pos)) continue;
      if (rule_->IsNew(pos)) return std::make_unique<JournalEntry>(std::move(fields), pos, std::move(cursor));
    }
    done_ = true;
    return nullptr;
  }

 private:
  void AddMatch(const std::string& match) {
    int r = sd_journal_add_match(journal_.get(), match.data(), match.size());
    if (r < 0) ThrowJournalError("Cannot select " + match, r);
  }

  static void Seek(int r) {
    if (r < 0) ThrowJournalError("Cannot seek the journal", r);
  }

  // True when an entry of this type is one the query asks for.
  bool Selected(int event_type) const { return event_type != 0 && event_type <= max_event_type_; }

  JournalHandle journal_;
  std::optional<NewEntryRule> rule_;
  int max_event_type_ = 0;
  bool done_ = false;
};

}  // namespace

std::unique_ptr<EventSource> OpenEventSource() { return std::make_unique<JournalSource>(); }

}  // namespace vantrel
