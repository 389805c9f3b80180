// The walk over one journal file: the entries of the watched source (those
// whose SYSLOG_IDENTIFIER is its name, and those of the syslog transport
// without an identifier) numbered above a mark, in the order of the file.
// Two backends walk a file: the in-place reader (JournalFileReader), which
// reads the file as the format lays it out, and the journal library, which
// reads every file it can open. The in-place reader goes first; a file it
// declines, or that it finds damaged part way, is walked by the library.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "watch/journal/journal_entry_fields_linux.h"
#include "watch/journal/journal_files_linux.h"

namespace vantrel {

// One entry of the walk.
struct WalkedEntry {
  std::uint64_t number = 0;    // its sequence number
  std::uint64_t realtime = 0;  // microseconds since 1970, as the writer's clock had it
  bool tagged = false;         // its SYSLOG_IDENTIFIER is the source's; false: syslog without one
  JournalEntryFields fields;
};

// What a walk is asked for.
struct WalkRequest {
  std::string source;         // the source name
  std::string sequence;       // the file's sequence
  std::uint64_t above = 0;    // the entries numbered up to it are not new
  std::uint64_t through = 0;  // the highest number the file headers gave: what comes after is the next check's
  std::string only_boot;      // when set, only the entries of this boot (32 hexadecimal digits)
  // Called when the library declines the file (no reader here can open it),
  // with the file's path and the system's text.
  std::function<void(const std::string& path, const std::string& reason)> declined;
};

class JournalWalker {
 public:
  virtual ~JournalWalker() = default;
  // Places the walk before the first entry numbered above request.above;
  // the file stays the caller's and outlives the walker.
  // False when this backend does not walk the file (the library: it
  // declines it). Raises EntriesLeftUnread when the file cannot be read.
  virtual bool Start(const JournalFileHeader& file, const WalkRequest& request) = 0;
  // The next entry, numbered above request.above; nothing at the end of the
  // file, past request.through, or where the file is damaged. Raises
  // EntriesLeftUnread on an I/O error.
  virtual std::optional<WalkedEntry> Next() = 0;
  // Whether the walk ended where the file is damaged, rather than at its end.
  virtual bool Damaged() const = 0;
};

std::unique_ptr<JournalWalker> InPlaceWalker();
std::unique_ptr<JournalWalker> LibraryWalker();

// A failure to read what should be read: the check fails on it.
[[noreturn]] void ThrowUnread(const std::string& what, int error);

}  // namespace vantrel
