#include "watch/journal/journal_library_linux.h"

#include <cerrno>
#include <cstdlib>
#include <optional>
#include <string_view>
#include <system_error>

#include "platform/exception.h"
#include "platform/text.h"
#include "watch/event_source.h"
#include "watch/journal/journal_cursor_linux.h"

namespace vantrel {

namespace {

using JournalHandle = UniqueHandle<sd_journal*, sd_journal_close>;

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

// Narrows the walk to the entries of one boot, when one is given.
bool MatchBoot(sd_journal* j, const std::string& boot) {
  if (boot.empty()) return true;
  const std::string match = "_BOOT_ID=" + boot;
  return sd_journal_add_conjunction(j) >= 0 && sd_journal_add_match(j, match.data(), match.size()) >= 0;
}

// The journal walks the entries of one field value by that value's own list
// of entries; matches on PRIORITY as well would make it merge several such
// lists at every step, which costs several times more than reading each
// entry's PRIORITY here.
bool MatchSource(sd_journal* j, const WalkRequest& request) {
  const std::string identifier = "SYSLOG_IDENTIFIER=" + request.source;
  return sd_journal_add_match(j, identifier.data(), identifier.size()) >= 0 && sd_journal_add_disjunction(j) >= 0 &&
         sd_journal_add_match(j, "_TRANSPORT=syslog", 0) >= 0 && MatchBoot(j, request.only_boot);
}

// Places the walk so that the next entry is the first one numbered above
// the sequence's mark. A later check finds it by stepping back from the
// file's end over the few new entries, which touches only the end of the
// file; after more steps than a later check usually has, a seek by the
// number (a search through the whole file's lists) is cheaper.
int SeekFirstAbove(sd_journal* j, const std::string& sequence, std::uint64_t above) {
  constexpr int kStepsBack = 64;
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

// Whether the entry the journal stands on is the source's: true when its
// SYSLOG_IDENTIFIER is the source name, false when it has none (it came
// through the syslog transport, and its message decides), nothing when it
// names another program.
std::optional<bool> TaggedAsSource(sd_journal* j, std::string_view source) {
  const void* data = nullptr;
  std::size_t size = 0;
  if (sd_journal_get_data(j, "SYSLOG_IDENTIFIER", &data, &size) < 0) return false;
  const std::string_view value = std::string_view(static_cast<const char*>(data), size).substr(18);
  if (value == source) return true;
  return std::nullopt;
}

// The walk through the library.
class LibraryWalk : public JournalWalker {
 public:
  bool Start(const JournalFileHeader& file, const WalkRequest& request) override {
    if (!file_.Open(file, request)) return false;
    path_ = file.path;
    request_ = request;
    if (!MatchSource(file_.get(), request) || SeekFirstAbove(file_.get(), request.sequence, request.above) < 0) {
      damaged_ = true;
    }
    return true;
  }

  std::optional<WalkedEntry> Next() override {
    sd_journal* j = file_.get();
    while (!ended_ && !damaged_) {
      const int r = sd_journal_next(j);
      // A damaged part ends the file's walk; an I/O error is a failure to
      // read what should be read.
      if (r == -EIO) ThrowUnread("Cannot read the journal file " + path_, EIO);
      if (r <= 0) {
        (r == 0 ? ended_ : damaged_) = true;
        break;
      }
      const std::optional<bool> tagged = TaggedAsSource(j, request_.source);
      if (!tagged) continue;  // another program's
      WalkedEntry entry;
      entry.tagged = *tagged;
      if (!ReadNumberAndTime(j, entry.number, entry.realtime)) continue;
      // What came after the file headers were read is left for the next
      // check, which will see it in the headers.
      if (entry.number > request_.through) ended_ = true;
      if (ended_ || entry.number <= request_.above) continue;
      entry.fields = ReadFields(j);
      return entry;
    }
    return std::nullopt;
  }

  bool Damaged() const override { return damaged_; }

 private:
  JournalLibraryFile file_;
  std::string path_;
  WalkRequest request_;
  bool ended_ = false;
  bool damaged_ = false;
};

}  // namespace

[[noreturn]] void ThrowUnread(const std::string& what, int error) {
  throw EntriesLeftUnread(FromUtf8(what + ": " + std::system_category().message(error)));
}

bool JournalLibraryFile::Open(const JournalFileHeader& file, const WalkRequest& request) {
  sd_journal* opened = nullptr;
  const std::string path = DescriptorPath(file);
  const char* paths[] = {path.c_str(), nullptr};
  if (const int r = sd_journal_open_files(&opened, paths, 0); r < 0) {
    if (!DeclinedByLibrary(r)) ThrowUnread("Cannot read the journal file " + file.path, -r);
    if (request.declined) request.declined(file.path, std::system_category().message(-r));
    return false;
  }
  journal_.reset(opened);
  // A record keeps 64 KiB of a message; a little more is read, so that the
  // cut falls between characters, and a huge message is never read whole.
  sd_journal_set_data_threshold(opened, sizeof "MESSAGE=" - 1 + kMaxFieldBytes);
  return true;
}

bool JournalLibraryFile::ReadEntry(const std::string& sequence, std::uint64_t number, JournalEntryFields& fields) {
  sd_journal* j = journal_.get();
  const std::string cursor = CursorOfNumber(sequence, number);
  std::uint64_t found = 0, realtime = 0;
  if (sd_journal_seek_cursor(j, cursor.c_str()) < 0 || sd_journal_next(j) <= 0 ||
      !ReadNumberAndTime(j, found, realtime) || found != number) {
    return false;
  }
  fields = ReadFields(j);
  return true;
}

// Read in one pass over the entry: a lookup by name would pass over it once
// per field. Each field is copied as it comes: the library unpacks a
// compressed field into a buffer that the next one reuses.
JournalEntryFields ReadFields(sd_journal* j) {
  JournalEntryFields fields;
  const void* data = nullptr;
  std::size_t size = 0;
  sd_journal_restart_data(j);
  while (sd_journal_enumerate_data(j, &data, &size) > 0) {
    fields.Take(std::string_view(static_cast<const char*>(data), size));
  }
  return fields;
}

bool ReadNumberAndTime(sd_journal* j, std::uint64_t& number, std::uint64_t& realtime) {
  char* raw = nullptr;
  if (sd_journal_get_cursor(j, &raw) < 0) return false;
  const UniqueHandle<char*, FreeText> owned(raw);
  return owned && NumberAndTimeOfCursor(owned.get(), number, realtime);
}

bool HoldsEntryOfBoot(const JournalFileHeader& file, const std::string& boot) {
  if (boot.empty()) return false;
  const std::string match = "_BOOT_ID=" + boot;
  sd_journal* opened = nullptr;
  const std::string path = DescriptorPath(file);
  const char* paths[] = {path.c_str(), nullptr};
  if (sd_journal_open_files(&opened, paths, 0) < 0) return false;
  const JournalHandle journal(opened);
  return sd_journal_add_match(opened, match.data(), match.size()) >= 0 && sd_journal_seek_head(opened) >= 0 &&
         sd_journal_next(opened) > 0;
}

std::unique_ptr<JournalWalker> LibraryWalker() { return std::make_unique<LibraryWalk>(); }

}  // namespace vantrel
