// The event source on Linux: the systemd journal through sd-journal.
//
// An entry stands for an event of the Application log when its
// SYSLOG_IDENTIFIER is the source name, or when it came through the syslog
// transport without an identifier and its message begins with the source
// name and ": " (journald cannot take a tag with a blank from syslog(3), and
// leaves it in the message; the prefix is then no part of the message). Its
// EventType comes from PRIORITY (0-3 error 1, 4 warning 2, 5-6 information
// 3, 7 and a missing PRIORITY never selected), its RecordNumber is its
// journal sequence number, and its TimeGenerated is its realtime stamp as a
// WMI date-time in local time.
//
// Which entries are new is decided per journal sequence (SequenceMarks):
// the file headers tell each file's sequence and numbers, so a check reads
// only the files that hold something new, each from its first new number.
#include <systemd/sd-id128.h>
#include <systemd/sd-journal.h>
#include <dirent.h>
#include <time.h>

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstdlib>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <system_error>

#include "platform/environment.h"
#include "platform/exception.h"
#include "platform/trace.h"
#include "platform/unique_handle.h"
#include "platform/whole_number.h"
#include "watch/event_log_query.h"
#include "watch/event_source.h"
#include "watch/journal_cursor_linux.h"
#include "watch/journal_file_reader_linux.h"
#include "watch/journal_files_linux.h"
#include "watch/journal_test_seam_linux.h"
#include "watch/sequence_marks.h"

namespace vantrel {

namespace testing_seam {
namespace {
std::function<void()> g_after_listing;
}  // namespace
void SetAfterJournalListing(std::function<void()> hook) { g_after_listing = std::move(hook); }
}  // namespace testing_seam

namespace {

// One open journal, closed on every path.
using JournalHandle = UniqueHandle<sd_journal*, sd_journal_close>;

// A failure to read what should be read: the check fails on it.
[[noreturn]] void ThrowUnread(const std::string& what, int error) {
  throw EntriesLeftUnread(FromUtf8(what + ": " + std::system_category().message(error)));
}

// The file opened when it was listed, as a path the library opens anew: the
// same file whatever has been renamed since. (The library's own open from a
// descriptor takes the descriptor over in some versions and not in others.)
std::string DescriptorPath(const JournalFileHeader& file) { return "/proc/self/fd/" + std::to_string(file.fd.get()); }

// Whether the library's failure to open a file says that no reader can
// open it (a format it does not know, a header it cannot take), rather
// than that this attempt failed.
bool DeclinedByLibrary(int negative_errno) {
  return negative_errno == -EPROTONOSUPPORT || negative_errno == -EBADMSG || negative_errno == -ENODATA ||
         negative_errno == -EPROTO || negative_errno == -EOPNOTSUPP;
}

// Frees a text that sd-journal allocated for its caller.
void FreeText(char* text) { std::free(text); }

// The number and realtime stamp of the entry the journal stands on, from
// its cursor; false when it cannot be read.
bool ReadNumberAndTime(sd_journal* j, std::uint64_t& number, std::uint64_t& realtime) {
  char* raw = nullptr;
  if (sd_journal_get_cursor(j, &raw) < 0) return false;
  const UniqueHandle<char*, FreeText> owned(raw);
  return owned && NumberAndTimeOfCursor(owned.get(), number, realtime);
}

// The EventType of a syslog priority; 0 for one never selected.
int EventTypeOfPriority(int priority) {
  if (priority <= 3) return 1;
  if (priority == 4) return 2;
  if (priority <= 6) return 3;
  return 0;
}

// How much of a field's value is kept: the bytes a record keeps, and room
// for the character the cut falls in. The journal hands out a compressed
// field only up to its data threshold, but an uncompressed one whole (it is
// mapped from the file), so the copy is cut here as well.
constexpr std::size_t kMaxFieldBytes = kMaxMessageBytes + 4;

// The EventType of a PRIORITY field ("PRIORITY=" and one digit); 0, never
// selected, for 7 or another value.
int EventTypeOfField(std::string_view field) {
  const char digit = field.size() == sizeof "PRIORITY=0" - 1 ? field.back() : 'x';
  return digit >= '0' && digit <= '9' ? EventTypeOfPriority(digit - '0') : 0;
}

// What an entry of the walk gives a record, read in one pass over the
// entry (a lookup by name would pass over it once per field). A field that
// cannot be read counts as missing: a damaged entry must not hold up every
// entry behind it at every check.
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

// The length of the tag that syslog(3) put before the message of an entry
// whose tag journald could not take: the source name and ": ", or the
// source name, "[pid]" and ": " (the LOG_PID form); nothing when the message
// does not begin so.
std::optional<std::size_t> SyslogTagLength(std::string_view message, std::string_view source) {
  if (!message.starts_with(source)) return std::nullopt;
  std::size_t at = source.size();
  if (at < message.size() && message[at] == '[') {
    const std::size_t close = message.find(']', at);
    if (close == std::string_view::npos || close == at + 1 ||
        !std::all_of(message.begin() + at + 1, message.begin() + close, [](char c) { return c >= '0' && c <= '9'; })) {
      return std::nullopt;
    }
    at = close + 1;
  }
  if (message.substr(at, 2) != ": ") return std::nullopt;
  return at + 2;
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

std::string RunningBoot() {
  sd_id128_t boot;
  char text[SD_ID128_STRING_MAX];
  return sd_id128_get_boot(&boot) < 0 ? std::string() : std::string(sd_id128_to_string(boot, text));
}

// One entry of the walk, with the fields its record needs copied out of the
// journal. Missing fields never fail: WMI always names the computer, so an
// entry without _HOSTNAME names this machine; its time is the realtime stamp
// of its cursor, which every entry has.
class JournalEntry : public EventEntry {
 public:
  JournalEntry(EntryFields fields, const std::string& sequence, std::uint64_t seqnum, std::uint64_t realtime)
      : fields_(std::move(fields)), sequence_(sequence), seqnum_(seqnum), realtime_(realtime) {}

  EventValue Property(const String& name) override {
    if (name == u"ComputerName") return fields_.host ? FromUtf8(*fields_.host) : OwnHostName();
    if (name == u"Message") return fields_.message ? EventValue(FromUtf8(*fields_.message)) : std::monostate();
    if (name == u"RecordNumber") return RecordNumberOf(seqnum_);
    if (name == u"TimeGenerated") return WmiDateTime(realtime_);
    throw Exception(u"Method '" + name + u"' not supported by automation object");
  }

  std::optional<EntryTime> Written() override {
    return EntryTime(std::chrono::microseconds(static_cast<std::int64_t>(realtime_)));
  }

  String Position() override { return FromUtf8(sequence_ + "=" + std::to_string(seqnum_)); }

 private:
  EntryFields fields_;
  const std::string& sequence_;
  std::uint64_t seqnum_;
  std::uint64_t realtime_;
};

// One file of a sequence and how far its walk got.
struct FileWalk {
  JournalFileHeader header;
  // kPassedOver: no reader here can open it; it holds back nothing.
  enum class State { kWaiting, kWalking, kDone, kEndedEarly, kPassedOver } state = State::kWaiting;
  std::uint64_t last_delivered = 0;           // the number of the last entry delivered from it
  std::unique_ptr<JournalFileReader> reader;  // while it is walked without the library
};

// One sequence of the journal, what the check does with it, and its files,
// the lowest numbers first.
struct SequenceWalk {
  JournalSequence sequence;
  SequenceMarks::Plan plan;
  std::vector<FileWalk> files;
  std::uint64_t highest_delivered = 0;
  std::string only_boot;  // when set, only the entries of this boot are read
};

class JournalSource : public EventSource {
 public:
  JournalSource() {
    const std::optional<String> dir = GetEnvironmentValue(u"VANTREL_JOURNAL_DIR");
    if (dir && !dir->empty()) {
      folder_ = ToUtf8(*dir);
      const std::unique_ptr<DIR, int (*)(DIR*)> opened(opendir(folder_.c_str()), closedir);
      if (!opened) ThrowUnread("Cannot open the journal folder " + folder_, errno);
    }
  }

  // Lists the journal's files, decides for each sequence what is new in it,
  // and lines up the files that hold new entries: known sequences from the
  // one that moved on longest ago, then the others.
  void Execute(const EventQuery& query) override {
    source_ = ToUtf8(query.source_name);
    max_event_type_ = query.max_event_type;
    above_record_ = query.above_record;
    if (max_event_type_ < 1) return;  // nothing is asked for
    // A file that could not be read may hold new entries of any sequence:
    // no mark moves until it can be read.
    JournalListing listing = ListJournalFiles(folder_);
    if (!listing.failures.empty()) throw EntriesLeftUnread(FromUtf8(listing.failures.front()));
    if (const std::function<void()> hook = testing_seam::g_after_listing) hook();  // it may replace itself
    std::optional<SequenceMarks> marks = SequenceMarks::Read(ToUtf8(query.above_position), query.above_record);
    if (!marks) {
      TraceOnce(u"it cannot be read", query);
      marks = SequenceMarks::NumberRule(query.above_record);
    }
    marks_ = std::move(*marks);

    const std::string boot = RunningBoot();
    std::map<std::string, SequenceWalk> sequences;
    for (JournalFileHeader& file : listing.files) {
      SequenceWalk& walk = sequences[file.sequence];
      walk.sequence.id = file.sequence;
      walk.sequence.tail = std::max(walk.sequence.tail, file.tail);
      walk.sequence.this_boot = walk.sequence.this_boot || (!boot.empty() && file.tail_boot == boot);
      walk.files.emplace_back().header = std::move(file);
    }
    for (const auto& [id, walk] : sequences) present_.push_back(walk.sequence);

    for (auto& [id, walk] : sequences) {
      walk.plan = marks_->PlanFor(walk.sequence);
      if (walk.plan.action == SequenceMarks::Action::kReadIfOfThisBoot) {
        if (!HoldsEntriesOfBoot(walk, boot)) continue;  // nothing new in it, and it stays unknown
        walk.plan = SequenceMarks::Plan{SequenceMarks::Action::kReadAbove, 0};
        walk.only_boot = boot;
      }
      if (walk.plan.action == SequenceMarks::Action::kSkip) {
        marks_->Advance(id, walk.plan.above);
        continue;
      }
      std::erase_if(walk.files, [&walk](const FileWalk& f) { return f.header.tail <= walk.plan.above; });
      walks_.push_back(std::move(walk));
    }
    // Sequences read whole (new ones) last.
    std::stable_sort(walks_.begin(), walks_.end(), [](const SequenceWalk& a, const SequenceWalk& b) {
      return a.plan.above > 0 && b.plan.above == 0;
    });
  }

  // The new entries, file by file; an entry of another program that came
  // through the syslog transport is passed over.
  std::unique_ptr<EventEntry> Next() override {
    while (walk_ < walks_.size()) {
      SequenceWalk& sequence = walks_[walk_];
      if (file_ == sequence.files.size()) {
        ++walk_;
        file_ = 0;
        continue;
      }
      FileWalk& file = sequence.files[file_];
      if (file.state == FileWalk::State::kWaiting) Open(sequence, file);
      if (std::unique_ptr<EventEntry> entry = NextOfFile(sequence, file)) return entry;
      journal_.reset();
      ++file_;
    }
    return nullptr;
  }

  // The marks moved over what the walk dealt with: a sequence walked to
  // its end up to the highest number its headers gave (short of its last
  // entry while the file that holds it is open for writing, see below); a
  // file no reader can open holds back nothing; one whose walk
  // ended part way only as far as every one of its files got, as another
  // file may hold the numbers after that. The mark's number is the highest
  // one taken in the last sequence that gave entries.
  std::optional<RecordMark> MarkAfterWalk() override {
    if (!marks_) return std::nullopt;
    try {
      RecordMark mark{above_record_, String()};
      bool complete = true;
      for (const SequenceWalk& sequence : walks_) {
        std::uint64_t through = sequence.sequence.tail;
        for (const FileWalk& file : sequence.files) {
          if (file.state == FileWalk::State::kPassedOver) continue;
          if (file.state == FileWalk::State::kDone) {
            // The writer numbers an entry (and its header says so) before it
            // links the entry into the lists the walk follows. One writer
            // numbers the entries of all files of a sequence (a user's file
            // beside the system's), one at a time, so only the entry with
            // the sequence's highest number may have been missed, in the
            // file that holds it, while that file is open for writing; it is
            // left for the next check. Another file's tail says nothing of it.
            const JournalFileHeader& header = file.header;
            if (header.online && header.tail == sequence.sequence.tail) {
              through = std::min(through, std::max({header.tail - 1, file.last_delivered, sequence.plan.above}));
            }
            continue;
          }
          if (file.state != FileWalk::State::kEndedEarly) complete = false;
          through = std::min(through, std::max(file.last_delivered, sequence.plan.above));
        }
        if (through > sequence.plan.above) marks_->Advance(sequence.sequence.id, through);
        if (sequence.highest_delivered > 0) mark.number = RecordNumberOf(sequence.highest_delivered);
      }
      marks_->Finish(present_, complete);
      mark.position = FromUtf8(marks_->Text());
      return mark;
    } catch (...) {
      return std::nullopt;
    }
  }

  std::vector<String> PassedOver() override { return passed_over_; }

 private:
  // Starts the walk of one file: read in place where the file allows it,
  // through the library otherwise.
  void Open(SequenceWalk& sequence, FileWalk& file) {
    file.state = FileWalk::State::kWalking;
    if (std::unique_ptr<JournalFileReader> reader = JournalFileReader::Open(file.header.fd.get())) {
      if (reader->Start(source_, sequence.plan.above, BootBytes(sequence.only_boot))) {
        file.reader = std::move(reader);
        return;
      }
    }
    WalkWithLibrary(sequence, file, sequence.plan.above);
  }

  // Walks the file through the library from the first entry above `above`.
  // A file the library declines too is passed over; one it fails to read
  // fails the query.
  void WalkWithLibrary(const SequenceWalk& sequence, FileWalk& file, std::uint64_t above) {
    if (!OpenWithLibrary(file)) {
      file.state = FileWalk::State::kPassedOver;
      return;
    }
    sd_journal* j = journal_.get();
    // The journal walks the entries of one field value by that value's own
    // list of entries; matches on PRIORITY as well would make it merge
    // several such lists at every step, which costs several times more than
    // reading each entry's PRIORITY here.
    const std::string identifier = "SYSLOG_IDENTIFIER=" + source_;
    if (sd_journal_add_match(j, identifier.data(), identifier.size()) < 0 || sd_journal_add_disjunction(j) < 0 ||
        sd_journal_add_match(j, "_TRANSPORT=syslog", 0) < 0 || !MatchBoot(j, sequence.only_boot) ||
        SeekFirstAbove(j, sequence.sequence.id, above) < 0) {
      journal_.reset();
      file.state = FileWalk::State::kEndedEarly;
    }
  }

  // Opens the file through the library as journal_; false when the library
  // declines it (said once, and named in PassedOver). Raises
  // EntriesLeftUnread when it fails to read it.
  bool OpenWithLibrary(const FileWalk& file) {
    sd_journal* opened = nullptr;
    const std::string path = DescriptorPath(file.header);
    const char* paths[] = {path.c_str(), nullptr};
    if (const int r = sd_journal_open_files(&opened, paths, 0); r < 0) {
      if (!DeclinedByLibrary(r)) ThrowUnread("Cannot read the journal file " + file.header.path, -r);
      NotePassedOver(file.header.path, -r);
      return false;
    }
    journal_.reset(opened);
    // A record keeps 64 KiB of a message; a little more is read, so that the
    // cut falls between characters, and a huge message is never read whole.
    sd_journal_set_data_threshold(opened, sizeof "MESSAGE=" - 1 + kMaxFieldBytes);
    return true;
  }

  // The 16 bytes of a boot identifier given in hexadecimal.
  static std::optional<std::string> BootBytes(const std::string& boot) {
    sd_id128_t id;
    if (boot.empty() || sd_id128_from_string(boot.c_str(), &id) < 0) return std::nullopt;
    return std::string(reinterpret_cast<const char*>(id.bytes), sizeof id.bytes);
  }

  // Says why the stored position is not used, once for the values as they
  // stand: while checks cannot store their mark (the chat refuses every
  // post), each one starts from the same values and comes to the same
  // reason.
  static void TraceOnce(const String& why, const EventQuery& query) {
    static String last;
    String said = why + u'\n' + IntToStr(query.above_record) + u'\n' + query.above_position;
    if (said == last) return;
    TraceUnusedPosition(why, query.above_record);
    last = std::move(said);
  }

  // Narrows the walk to the entries of one boot, when one is given.
  static bool MatchBoot(sd_journal* j, const std::string& boot) {
    if (boot.empty()) return true;
    const std::string match = "_BOOT_ID=" + boot;
    return sd_journal_add_conjunction(j) >= 0 && sd_journal_add_match(j, match.data(), match.size()) >= 0;
  }

  // Places the walk so that the next entry is the first one numbered above
  // the sequence's mark. A later check finds it by stepping back from the
  // file's end over the few new entries, which touches only the end of the
  // file; after more steps than a later check usually has, a seek by the
  // number (a search through the whole file's lists) is cheaper.
  static int SeekFirstAbove(sd_journal* j, const std::string& sequence, std::uint64_t above) {
    if (above == 0) return sd_journal_seek_head(j);
    int r = sd_journal_seek_tail(j);
    for (int steps = 0; r >= 0 && steps < kStepsBack; ++steps) {
      r = sd_journal_previous(j);
      if (r == 0) return sd_journal_seek_head(j);  // every entry of the file is above the mark
      std::uint64_t number = 0, realtime = 0;
      if (r > 0 && ReadNumberAndTime(j, number, realtime) && number <= above) return r;
    }
    if (r < 0) return r;
    const std::string cursor = CursorOfNumber(sequence, above + 1);
    return sd_journal_seek_cursor(j, cursor.c_str());
  }

  static constexpr int kStepsBack = 64;

  // The next new entry of the file; nullptr once its walk has ended.
  std::unique_ptr<EventEntry> NextOfFile(SequenceWalk& sequence, FileWalk& file) {
    if (file.state != FileWalk::State::kWalking) return nullptr;
    if (file.reader) return NextInPlace(sequence, file);
    sd_journal* j = journal_.get();
    while (true) {
      const int r = sd_journal_next(j);
      // A damaged part ends the file's walk; an I/O error is a failure to
      // read what should be read.
      if (r == -EIO) ThrowUnread("Cannot read the journal file " + file.header.path, EIO);
      if (r <= 0) {
        file.state = r == 0 ? FileWalk::State::kDone : FileWalk::State::kEndedEarly;
        return nullptr;
      }
      const std::optional<bool> tagged = TaggedAsSource(j);
      if (!tagged) continue;  // another program's
      std::uint64_t number = 0, realtime = 0;
      if (!ReadNumberAndTime(j, number, realtime)) continue;
      // What came after the file headers were read is left for the next
      // check, which will see it in the headers.
      if (number > sequence.sequence.tail) {
        file.state = FileWalk::State::kDone;
        return nullptr;
      }
      if (number <= sequence.plan.above) continue;
      EntryFields fields = ReadFields(j);
      if (Admit(fields, *tagged)) return Deliver(sequence, file, std::move(fields), number, realtime);
    }
  }

  // The same, for a file read in place.
  std::unique_ptr<EventEntry> NextInPlace(SequenceWalk& sequence, FileWalk& file) {
    while (true) {
      const std::optional<JournalFileEntry> entry = file.reader->Next();
      if (!entry && file.reader->Damaged()) {
        // What the reader could not follow the library may: the rest of the
        // file is walked through it, from the last entry delivered.
        file.reader.reset();
        WalkWithLibrary(sequence, file, std::max(file.last_delivered, sequence.plan.above));
        return NextOfFile(sequence, file);
      }
      if (!entry || entry->number > sequence.sequence.tail) {
        file.state = FileWalk::State::kDone;
        file.reader.reset();
        return nullptr;
      }
      EntryFields fields;
      if (entry->readable) {
        fields.event_type = entry->priority < 0 ? 0 : EventTypeOfPriority(entry->priority);
        if (entry->host) fields.host = std::string(entry->host->substr(0, kMaxFieldBytes));
        if (entry->message) fields.message = std::string(entry->message->substr(0, kMaxFieldBytes));
      } else if (!ReadThroughLibrary(sequence, file, entry->number, fields)) {
        continue;  // as a damaged entry: it holds up nothing behind it
      }
      if (Admit(fields, entry->tagged))
        return Deliver(sequence, file, std::move(fields), entry->number, entry->realtime);
    }
  }

  // The fields of the entry numbered `number`, through the library: for an
  // entry with a compressed field.
  bool ReadThroughLibrary(const SequenceWalk& sequence, FileWalk& file, std::uint64_t number, EntryFields& fields) {
    if (!journal_ && !OpenWithLibrary(file)) return false;
    sd_journal* j = journal_.get();
    const std::string cursor = CursorOfNumber(sequence.sequence.id, number);
    std::uint64_t found = 0, realtime = 0;
    if (sd_journal_seek_cursor(j, cursor.c_str()) < 0 || sd_journal_next(j) <= 0 ||
        !ReadNumberAndTime(j, found, realtime) || found != number) {
      return false;
    }
    fields = ReadFields(j);
    return true;
  }

  // Whether an entry with these fields is one to deliver: of a type asked
  // for, and, when it came through syslog without an identifier, with the
  // source's tag before its message (taken off here).
  bool Admit(EntryFields& fields, bool tagged) const {
    if (!tagged) {
      const std::optional<std::size_t> tag = fields.message ? SyslogTagLength(*fields.message, source_) : std::nullopt;
      if (!tag) return false;
      fields.message->erase(0, *tag);
    }
    return fields.event_type != 0 && fields.event_type <= max_event_type_;
  }

  static std::unique_ptr<EventEntry> Deliver(SequenceWalk& sequence, FileWalk& file, EntryFields fields,
                                             std::uint64_t number, std::uint64_t realtime) {
    file.last_delivered = number;
    sequence.highest_delivered = std::max(sequence.highest_delivered, number);
    return std::make_unique<JournalEntry>(std::move(fields), sequence.sequence.id, number, realtime);
  }

  // Whether the entry the journal stands on is the source's: true when its
  // SYSLOG_IDENTIFIER is the source name, false when it has none (it came
  // through the syslog transport, and its message decides), nothing when it
  // names another program.
  std::optional<bool> TaggedAsSource(sd_journal* j) const {
    const void* data = nullptr;
    std::size_t size = 0;
    if (sd_journal_get_data(j, "SYSLOG_IDENTIFIER", &data, &size) < 0) return false;
    const std::string_view value = std::string_view(static_cast<const char*>(data), size).substr(18);
    if (value == source_) return true;
    return std::nullopt;
  }

  // Whether the sequence's files hold an entry written in the running boot.
  static bool HoldsEntriesOfBoot(const SequenceWalk& sequence, const std::string& boot) {
    if (boot.empty()) return false;
    const std::string match = "_BOOT_ID=" + boot;
    for (const FileWalk& file : sequence.files) {
      sd_journal* opened = nullptr;
      const std::string path = DescriptorPath(file.header);
      const char* paths[] = {path.c_str(), nullptr};
      if (sd_journal_open_files(&opened, paths, 0) < 0) continue;
      const JournalHandle journal(opened);
      if (sd_journal_add_match(opened, match.data(), match.size()) >= 0 && sd_journal_seek_head(opened) >= 0 &&
          sd_journal_next(opened) > 0) {
        return true;
      }
    }
    return false;
  }

  // Notes a file that no reader here can open; the debug line is written
  // once for each file while the service runs.
  void NotePassedOver(const std::string& path, int error) {
    static std::vector<std::string> said;
    const std::string why = path + ": " + std::system_category().message(error);
    passed_over_.push_back(FromUtf8(why));
    if (std::find(said.begin(), said.end(), path) != said.end()) return;
    said.push_back(path);
    TraceValue(u"journal file passed over", FromUtf8(why));
  }

  std::string folder_;  // empty: the local system journal
  std::string source_;
  int max_event_type_ = 0;
  std::int64_t above_record_ = 0;
  std::optional<SequenceMarks> marks_;
  std::vector<JournalSequence> present_;
  std::vector<SequenceWalk> walks_;
  std::vector<String> passed_over_;
  std::size_t walk_ = 0;
  std::size_t file_ = 0;
  JournalHandle journal_;  // the file being walked
};

}  // namespace

std::unique_ptr<EventSource> OpenEventSource() { return std::make_unique<JournalSource>(); }

}  // namespace vantrel
