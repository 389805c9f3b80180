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
// How a file is read lies in watch/journal/; this source lines up the
// files, admits their entries and moves the marks.
#include <systemd/sd-id128.h>
#include <dirent.h>
#include <time.h>

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <string_view>

#include "platform/environment.h"
#include "platform/exception.h"
#include "platform/trace.h"
#include "watch/event_log_query.h"
#include "watch/event_source.h"
#include "watch/journal/journal_files_linux.h"
#include "watch/journal/journal_library_linux.h"
#include "watch/journal/journal_test_seam_linux.h"
#include "watch/journal/journal_walker_linux.h"
#include "watch/said_once.h"
#include "watch/sequence_marks.h"

namespace vantrel {

namespace testing_seam {
namespace {
std::function<void()> g_after_listing;
}  // namespace
void SetAfterJournalListing(std::function<void()> hook) { g_after_listing = std::move(hook); }
}  // namespace testing_seam

namespace {

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
  JournalEntry(JournalEntryFields fields, const std::string& sequence, std::uint64_t seqnum, std::uint64_t realtime)
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
  String Numbering() override { return FromUtf8(sequence_); }

 private:
  JournalEntryFields fields_;
  const std::string& sequence_;
  std::uint64_t seqnum_;
  std::uint64_t realtime_;
};

// One file of a sequence and how far its walk got.
struct FileWalk {
  JournalFileHeader header;
  // kPassedOver: no reader here can open it; it holds back nothing.
  enum class State { kWaiting, kWalking, kDone, kEndedEarly, kPassedOver } state = State::kWaiting;
  std::uint64_t last_delivered = 0;       // the number of the last entry delivered from it
  std::unique_ptr<JournalWalker> walker;  // while it is walked
  bool through_library = false;           // the walker is the library's: no other reader is left
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

// The sequences of the listed files, each with its files and what the
// headers say of it.
std::map<std::string, SequenceWalk> LineUp(std::vector<JournalFileHeader>& files, const std::string& boot) {
  std::map<std::string, SequenceWalk> sequences;
  for (JournalFileHeader& file : files) {
    SequenceWalk& walk = sequences[file.sequence];
    walk.sequence.id = file.sequence;
    walk.sequence.tail = std::max(walk.sequence.tail, file.tail);
    walk.sequence.this_boot = walk.sequence.this_boot || (!boot.empty() && file.tail_boot == boot);
    walk.files.emplace_back().header = std::move(file);
  }
  return sequences;
}

// Whether the sequence's files hold an entry written in the running boot.
bool HoldsEntriesOfBoot(const SequenceWalk& sequence, const std::string& boot) {
  return std::any_of(sequence.files.begin(), sequence.files.end(),
                     [&boot](const FileWalk& file) { return HoldsEntryOfBoot(file.header, boot); });
}

// How far the marks of a walked sequence move: up to the highest number its
// headers gave when every file was walked to its end; a file no reader can
// open holds back nothing; a file whose walk ended part way only as far as
// it got, as another file may hold the numbers after that.
std::uint64_t WalkedThrough(const SequenceWalk& sequence, bool& complete) {
  std::uint64_t through = sequence.sequence.tail;
  for (const FileWalk& file : sequence.files) {
    if (file.state == FileWalk::State::kPassedOver) continue;
    if (file.state == FileWalk::State::kDone) {
      // The writer numbers an entry (and its header says so) before it
      // links the entry into the lists the walk follows. One writer numbers
      // the entries of all files of a sequence (a user's file beside the
      // system's), one at a time, so only the entry with the sequence's
      // highest number may have been missed, in the file that holds it,
      // while that file is open for writing; it is left for the next check.
      // Another file's tail says nothing of it.
      const JournalFileHeader& header = file.header;
      if (header.online && header.tail == sequence.sequence.tail) {
        through = std::min(through, std::max({header.tail - 1, file.last_delivered, sequence.plan.above}));
      }
      continue;
    }
    if (file.state != FileWalk::State::kEndedEarly) complete = false;
    through = std::min(through, std::max(file.last_delivered, sequence.plan.above));
  }
  return through;
}

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
    said_ = query.said;
    if (max_event_type_ < 1) return;  // nothing is asked for
    // A file that could not be read may hold new entries of any sequence:
    // no mark moves until it can be read.
    JournalListing listing = ListJournalFiles(folder_);
    if (!listing.failures.empty()) throw EntriesLeftUnread(FromUtf8(listing.failures.front()));
    if (const std::function<void()> hook = testing_seam::g_after_listing) hook();  // it may replace itself
    ReadMarks(query);
    const std::string boot = RunningBoot();
    std::map<std::string, SequenceWalk> sequences = LineUp(listing.files, boot);
    for (const auto& [id, walk] : sequences) present_.push_back(walk.sequence);
    for (auto& [id, walk] : sequences) {
      if (Plan(walk, boot)) walks_.push_back(std::move(walk));
    }
    // Sequences read whole (new ones) last.
    std::stable_sort(walks_.begin(), walks_.end(), [](const SequenceWalk& a, const SequenceWalk& b) {
      return a.plan.above > 0 && b.plan.above == 0;
    });
  }

  // The new entries, file by file.
  std::unique_ptr<EventEntry> Next() override {
    while (walk_ < walks_.size()) {
      SequenceWalk& sequence = walks_[walk_];
      if (file_ == sequence.files.size()) {
        ++walk_;
        file_ = 0;
        continue;
      }
      if (std::unique_ptr<EventEntry> entry = NextOfFile(sequence, sequence.files[file_])) return entry;
      ++file_;
    }
    return nullptr;
  }

  // The marks moved over what the walk dealt with (WalkedThrough). The
  // mark's number is the highest one taken in the last sequence that gave
  // entries.
  std::optional<RecordMark> MarkAfterWalk() override {
    if (!marks_) return std::nullopt;
    try {
      RecordMark mark{above_record_, String()};
      bool complete = true;
      for (const SequenceWalk& sequence : walks_) {
        const std::uint64_t through = WalkedThrough(sequence, complete);
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
  // The marks of the stored position; the number rule, said once for the
  // values as they stand, when it cannot be read.
  void ReadMarks(const EventQuery& query) {
    std::optional<SequenceMarks> marks = SequenceMarks::Read(ToUtf8(query.above_position), query.above_record);
    if (!marks) {
      const String why = u"it cannot be read";
      if (Said().First(u"lastrecpos marks", why + u'\n' + IntToStr(query.above_record) + u'\n' + query.above_position))
        TraceUnusedPosition(why, query.above_record);
      marks = SequenceMarks::NumberRule(query.above_record);
    }
    marks_ = std::move(*marks);
  }

  // Decides what the check does with one sequence; true when its files are
  // to be walked (those that hold something new are kept).
  bool Plan(SequenceWalk& walk, const std::string& boot) {
    walk.plan = marks_->PlanFor(walk.sequence);
    if (walk.plan.action == SequenceMarks::Action::kReadIfOfThisBoot) {
      if (!HoldsEntriesOfBoot(walk, boot)) return false;  // nothing new in it, and it stays unknown
      walk.plan = SequenceMarks::Plan{SequenceMarks::Action::kReadAbove, 0};
      walk.only_boot = boot;
    }
    if (walk.plan.action == SequenceMarks::Action::kSkip) {
      marks_->Advance(walk.sequence.id, walk.plan.above);
      return false;
    }
    std::erase_if(walk.files, [&walk](const FileWalk& f) { return f.header.tail <= walk.plan.above; });
    return true;
  }

  // The next new entry of the file; nullptr once its walk has ended. An
  // entry of another program that came through the syslog transport is
  // passed over.
  std::unique_ptr<EventEntry> NextOfFile(SequenceWalk& sequence, FileWalk& file) {
    if (file.state == FileWalk::State::kWaiting) StartWalk(sequence, file, sequence.plan.above, false);
    while (file.state == FileWalk::State::kWalking) {
      std::optional<WalkedEntry> entry = file.walker->Next();
      if (!entry) {
        EndWalk(sequence, file);
        continue;
      }
      if (Admit(entry->fields, entry->tagged)) return Deliver(sequence, file, std::move(*entry));
    }
    file.walker.reset();
    return nullptr;
  }

  // Starts the walk of one file above `above`: read in place where the file
  // allows it, through the library otherwise or once told so. A file the
  // library declines too is passed over.
  void StartWalk(const SequenceWalk& sequence, FileWalk& file, std::uint64_t above, bool through_library) {
    WalkRequest request{source_,
                        sequence.sequence.id,
                        above,
                        sequence.sequence.tail,
                        sequence.only_boot,
                        [this](const std::string& path, const std::string& why) { NotePassedOver(path, why); }};
    file.state = FileWalk::State::kWalking;
    file.through_library = through_library;
    file.walker = through_library ? LibraryWalker() : InPlaceWalker();
    if (file.walker->Start(file.header, request)) return;
    if (through_library) {
      file.state = FileWalk::State::kPassedOver;
    } else {
      StartWalk(sequence, file, above, true);
    }
  }

  // The walker has no more entries: at the end of the file, or where the
  // file is damaged. What the in-place reader could not follow the library
  // may: the rest of the file is walked through it, from the last entry
  // delivered.
  void EndWalk(const SequenceWalk& sequence, FileWalk& file) {
    if (!file.walker->Damaged()) {
      file.state = FileWalk::State::kDone;
    } else if (file.through_library) {
      file.state = FileWalk::State::kEndedEarly;
    } else {
      StartWalk(sequence, file, std::max(file.last_delivered, sequence.plan.above), true);
    }
  }

  // Whether an entry with these fields is one to deliver: of a type asked
  // for, and, when it came through syslog without an identifier, with the
  // source's tag before its message (taken off here).
  bool Admit(JournalEntryFields& fields, bool tagged) const {
    if (!tagged) {
      const std::optional<std::size_t> tag = fields.message ? SyslogTagLength(*fields.message, source_) : std::nullopt;
      if (!tag) return false;
      fields.message->erase(0, *tag);
    }
    return fields.event_type != 0 && fields.event_type <= max_event_type_;
  }

  static std::unique_ptr<EventEntry> Deliver(SequenceWalk& sequence, FileWalk& file, WalkedEntry entry) {
    file.last_delivered = entry.number;
    sequence.highest_delivered = std::max(sequence.highest_delivered, entry.number);
    return std::make_unique<JournalEntry>(std::move(entry.fields), sequence.sequence.id, entry.number, entry.realtime);
  }

  // Notes a file that no reader here can open (its path and the system's
  // text); the debug line is written once for each file while the service
  // runs.
  void NotePassedOver(const std::string& path, const std::string& reason) {
    const String why = FromUtf8(path + ": " + reason);
    passed_over_.push_back(why);
    if (Said().First(u"passed over " + FromUtf8(path), String())) TraceValue(u"journal file passed over", why);
  }

  std::string folder_;  // empty: the local system journal
  std::string source_;
  int max_event_type_ = 0;
  std::int64_t above_record_ = 0;
  std::optional<SequenceMarks> marks_;
  std::vector<JournalSequence> present_;
  std::vector<SequenceWalk> walks_;
  std::vector<String> passed_over_;
  // What the service has said once (EventQuery::said), or this query alone.
  SaidOnce& Said() { return said_ ? *said_ : said_here_; }
  SaidOnce said_here_;
  SaidOnce* said_ = nullptr;
  std::size_t walk_ = 0;
  std::size_t file_ = 0;
};

}  // namespace

std::unique_ptr<EventSource> OpenEventSource() { return std::make_unique<JournalSource>(); }

}  // namespace vantrel
