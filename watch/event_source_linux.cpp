// The event source on Linux: the systemd journal through sd-journal.
//
// An entry stands for an event of the Application log when its
// SYSLOG_IDENTIFIER is the source name. Its EventType comes from PRIORITY
// (0-3 error 1, 4 warning 2, 5-6 information 3, 7 and a missing PRIORITY
// never selected), its RecordNumber is its journal sequence number, and its
// TimeGenerated is its realtime stamp as a WMI date-time in local time.
#include <systemd/sd-journal.h>
#include <time.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>
#include <string_view>
#include <system_error>

#include "platform/environment.h"
#include "platform/exception.h"
#include "watch/event_source.h"

namespace vantrel {

namespace {

// Owns one open journal and closes it on every path.
class JournalHandle {
 public:
  JournalHandle() = default;
  ~JournalHandle() {
    if (j_) sd_journal_close(j_);
  }
  JournalHandle(const JournalHandle&) = delete;
  JournalHandle& operator=(const JournalHandle&) = delete;

  sd_journal* get() const { return j_; }
  sd_journal** out() { return &j_; }

 private:
  sd_journal* j_ = nullptr;
};

[[noreturn]] void ThrowJournalError(const std::string& what, int negative_errno) {
  throw Exception(FromUtf8(what + ": " + std::system_category().message(-negative_errno)));
}

// Where an entry stands in its journal: the sequence it belongs to and its
// number in that sequence.
struct Position {
  std::string seqnum_id;
  std::uint64_t seqnum = 0;
};

#if VANTREL_HAVE_SD_JOURNAL_GET_SEQNUM
bool ReadPosition(sd_journal* j, Position& pos) {
  sd_id128_t id;
  if (sd_journal_get_seqnum(j, &pos.seqnum, &id) < 0) return false;
  char text[SD_ID128_STRING_MAX];
  pos.seqnum_id = sd_id128_to_string(id, text);
  return true;
}
#else
// Older libsystemd has no sd_journal_get_seqnum; the cursor carries the same
// two values as "s=<sequence id>;i=<number, hexadecimal>;...".
bool ReadPosition(sd_journal* j, Position& pos) {
  char* raw = nullptr;
  if (sd_journal_get_cursor(j, &raw) < 0 || raw == nullptr) return false;
  std::string cursor(raw);
  std::free(raw);
  bool have_id = false;
  bool have_number = false;
  std::size_t start = 0;
  while (start <= cursor.size()) {
    std::size_t end = cursor.find(';', start);
    if (end == std::string::npos) end = cursor.size();
    std::string_view part(cursor.data() + start, end - start);
    if (part.starts_with("s=")) {
      pos.seqnum_id = std::string(part.substr(2));
      have_id = true;
    } else if (part.starts_with("i=")) {
      std::string hex(part.substr(2));
      char* stop = nullptr;
      pos.seqnum = std::strtoull(hex.c_str(), &stop, 16);
      have_number = !hex.empty() && *stop == '\0';
    }
    start = end + 1;
  }
  return have_id && have_number;
}
#endif

// The EventType of a syslog priority; 0 for one never selected.
int EventTypeOfPriority(int priority) {
  if (priority <= 3) return 1;
  if (priority == 4) return 2;
  if (priority <= 6) return 3;
  return 0;
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

// The journal entry the walk stands on; valid until the walk moves on.
class JournalEntry : public EventEntry {
 public:
  JournalEntry(sd_journal* j, std::uint64_t seqnum) : j_(j), seqnum_(seqnum) {}

  EventValue Property(const String& name) override {
    if (name == u"ComputerName") return Field("_HOSTNAME");
    if (name == u"Message") return Field("MESSAGE");
    if (name == u"RecordNumber") return static_cast<std::int64_t>(static_cast<std::int32_t>(seqnum_));
    if (name == u"TimeGenerated") {
      std::uint64_t usec = 0;
      int r = sd_journal_get_realtime_usec(j_, &usec);
      if (r < 0) ThrowJournalError("Cannot read the entry's time", r);
      return WmiDateTime(usec);
    }
    throw Exception(u"Method '" + name + u"' not supported by automation object");
  }

 private:
  // The field's value as text; null when the entry has no such field.
  EventValue Field(const std::string& field) {
    const void* data = nullptr;
    std::size_t size = 0;
    int r = sd_journal_get_data(j_, field.c_str(), &data, &size);
    if (r == -ENOENT) return std::monostate();
    if (r < 0) ThrowJournalError("Cannot read the entry's " + field, r);
    std::string_view value(static_cast<const char*>(data), size);
    value.remove_prefix(field.size() + 1);  // "FIELD="
    return FromUtf8(value);
  }

  sd_journal* j_;
  std::uint64_t seqnum_;
};

class JournalSource : public EventSource {
 public:
  JournalSource() {
    std::optional<String> dir = GetEnvironmentValue(u"VANTREL_JOURNAL_DIR");
    if (dir && !dir->empty()) {
      std::string path = ToUtf8(*dir);
      int r = sd_journal_open_directory(journal_.out(), path.c_str(), 0);
      if (r < 0) ThrowJournalError("Cannot open the journal folder " + path, r);
    } else {
      int r = sd_journal_open(journal_.out(), SD_JOURNAL_LOCAL_ONLY);
      if (r < 0) ThrowJournalError("Cannot open the journal", r);
    }
    // Whole messages, however long.
    sd_journal_set_data_threshold(journal_.get(), 0);
  }

  void Execute(const EventQuery& query) override {
    sd_journal* j = journal_.get();
    above_ = query.above_record;
    // Matches on one field are alternatives; the two fields must both match.
    AddMatch("SYSLOG_IDENTIFIER=" + ToUtf8(query.source_name));
    bool any_priority = false;
    for (int priority = 0; priority <= 7; ++priority) {
      int type = EventTypeOfPriority(priority);
      if (type == 0 || type > query.max_event_type) continue;
      AddMatch("PRIORITY=" + std::to_string(priority));
      any_priority = true;
    }
    done_ = !any_priority;
    int r = sd_journal_seek_tail(j);
    if (r < 0) ThrowJournalError("Cannot seek the journal", r);
  }

  // The walk goes from the newest entry backwards, so that a later check
  // costs in proportion to the entries written since the one before, not to
  // the journal's history. Sequence numbers grow in the order journald writes
  // entries, whatever their clock times, and the journal orders entries of
  // one sequence by that number, also across files; so walking backwards
  // the numbers of the newest entry's sequence fall strictly, and the first
  // of them at or below the mark ends the walk: everything older in that
  // sequence is at or below it too. Numbers of other sequences (a journal
  // started afresh, files copied in from elsewhere) do not compare with the
  // mark's; those met before the end are taken by the same number rule.
  std::unique_ptr<EventEntry> Next() override {
    sd_journal* j = journal_.get();
    while (!done_) {
      // End of the journal and a failure to move alike end the walk quietly.
      Position pos;
      if (sd_journal_previous(j) <= 0 || !ReadPosition(j, pos)) break;
      if (newest_sequence_.empty()) newest_sequence_ = pos.seqnum_id;
      if (above_ < 0 || pos.seqnum > static_cast<std::uint64_t>(above_)) {
        return std::make_unique<JournalEntry>(j, pos.seqnum);
      }
      if (pos.seqnum_id == newest_sequence_) break;
    }
    done_ = true;
    return nullptr;
  }

 private:
  void AddMatch(const std::string& match) {
    int r = sd_journal_add_match(journal_.get(), match.data(), match.size());
    if (r < 0) ThrowJournalError("Cannot select " + match, r);
  }

  JournalHandle journal_;
  std::int64_t above_ = 0;
  std::string newest_sequence_;
  bool done_ = false;
};

}  // namespace

std::unique_ptr<EventSource> OpenEventSource() { return std::make_unique<JournalSource>(); }

}  // namespace vantrel
