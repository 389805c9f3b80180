// The journal's files as sd-journal would open them, each with what its
// header says of the entries it holds. sd-journal has no interface for a
// file's sequence and number range; the header gives them without reading
// any entry, so a check can pass over whole files that hold nothing new.
//
// Each file is opened once, when it is listed, and read through that
// descriptor alone: journald renames a file it archives and puts a new one
// under the old name, so a name listed before the walk may stand for
// another file by the time the walk reaches it.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "platform/unique_fd.h"

namespace vantrel {

struct JournalFileHeader {
  std::string path;        // as listed; only for what is said about the file
  UniqueFd fd;             // the file itself, opened when it was listed
  std::string sequence;    // seqnum_id: 32 hexadecimal digits
  std::uint64_t head = 0;  // the number of its first entry
  std::uint64_t tail = 0;  // the number of its last entry
  std::string tail_boot;   // the boot its last entry was written in: 32 hexadecimal digits
  bool online = false;     // open for writing: its last entry may still be being written
};

// The journal files of a folder, and the ones that could not be read.
struct JournalListing {
  std::vector<JournalFileHeader> files;
  // "Cannot read the journal file <path>: <the system's text>" for each file
  // that exists but could not be opened or read (permission denied, an I/O
  // error): what it holds is not known.
  std::vector<std::string> failures;
};

// The files under folder (VANTREL_JOURNAL_DIR), or of the local system
// journal when folder is empty: the journal files of each root folder and of
// its machine folders (only this machine's for the local journal). Files
// without entries, files removed while they were listed, and anything that
// is no journal file are left out.
JournalListing ListJournalFiles(const std::string& folder);

// The header of one journal file; nothing when path is no readable journal
// file or holds no entry.
std::optional<JournalFileHeader> ReadJournalFileHeader(const std::string& path);

}  // namespace vantrel
