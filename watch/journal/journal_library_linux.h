// One journal file read through the journal library (sd-journal), opened
// from the descriptor the listing keeps, so that it is the file listed
// whatever journald has renamed since.
#pragma once

#include <systemd/sd-journal.h>

#include <cstdint>
#include <string>

#include "platform/unique_handle.h"
#include "watch/journal/journal_entry_fields_linux.h"
#include "watch/journal/journal_walker_linux.h"

namespace vantrel {

class JournalLibraryFile {
 public:
  // Opens the file; false when the library declines it (a format it does
  // not know, a header it cannot take), after request.declined is told.
  // Raises EntriesLeftUnread when it fails to read it.
  bool Open(const JournalFileHeader& file, const WalkRequest& request);
  bool IsOpen() const { return static_cast<bool>(journal_); }
  sd_journal* get() const { return journal_.get(); }

  // The fields of the entry numbered `number` of the sequence; false when
  // the file does not give it.
  bool ReadEntry(const std::string& sequence, std::uint64_t number, JournalEntryFields& fields);

 private:
  UniqueHandle<sd_journal*, sd_journal_close> journal_;
};

// The fields of the entry the journal stands on.
JournalEntryFields ReadFields(sd_journal* j);

// The number and realtime stamp of the entry the journal stands on, from
// its cursor; false when it cannot be read.
bool ReadNumberAndTime(sd_journal* j, std::uint64_t& number, std::uint64_t& realtime);

// Whether the file holds an entry written in the boot (32 hexadecimal
// digits); false also when the library cannot open it.
bool HoldsEntryOfBoot(const JournalFileHeader& file, const std::string& boot);

}  // namespace vantrel
