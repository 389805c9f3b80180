// The journal's files as sd-journal would open them, each with what its
// header says of the entries it holds. sd-journal has no interface for a
// file's sequence and number range; the header gives them without reading
// any entry, so a check can pass over whole files that hold nothing new.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace vantrel {

struct JournalFileHeader {
  std::string path;
  std::string sequence;    // seqnum_id: 32 hexadecimal digits
  std::uint64_t head = 0;  // the number of its first entry
  std::uint64_t tail = 0;  // the number of its last entry
  std::string tail_boot;   // the boot its last entry was written in: 32 hexadecimal digits
  bool online = false;     // open for writing: its last entry may still be being written
};

// The files under folder (VANTREL_JOURNAL_DIR), or of the local system
// journal when folder is empty: the journal files of each root folder and of
// its machine folders (only this machine's for the local journal). Files
// without entries, and anything that is no readable journal file, are left
// out.
std::vector<JournalFileHeader> ListJournalFiles(const std::string& folder);

// The header of one journal file; nothing when path is no readable journal
// file or holds no entry.
std::optional<JournalFileHeader> ReadJournalFileHeader(const std::string& path);

}  // namespace vantrel
