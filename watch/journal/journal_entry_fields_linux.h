// The three fields of a journal entry that a record needs, sorted out of the
// entry's fields in one place for both ways of reading a file.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

#include "watch/event_record.h"

namespace vantrel {

// How much of a field's value is kept: the bytes a record keeps, and room
// for the character the cut falls in. The journal library hands out a
// compressed field only up to its data threshold, but an uncompressed one
// whole (it is mapped from the file), so the copy is cut here as well.
inline constexpr std::size_t kMaxFieldBytes = kMaxMessageBytes + 4;

// The fields as they lie in the file or the library's buffer: valid until
// the reader moves on.
struct JournalFieldViews {
  int priority = -1;                        // the PRIORITY digit; -1 when there is none or it is no digit
  std::optional<std::string_view> host;     // _HOSTNAME
  std::optional<std::string_view> message;  // MESSAGE

  // Takes one "NAME=value" field when it is one of the three; a later one
  // of the same name wins.
  void Take(std::string_view field);
};

// The fields copied out for a record, each value cut to what a record keeps
// (and room for the character the cut falls in). A field that cannot be read
// counts as missing: a damaged entry must not hold up every entry behind it
// at every check.
struct JournalEntryFields {
  int event_type = 0;  // from PRIORITY: 0-3 error 1, 4 warning 2, 5-6 information 3; 0 never selected
  std::optional<std::string> host;
  std::optional<std::string> message;

  // Takes one "NAME=value" field, copied at once, when it is one of the
  // three; a later one of the same name wins.
  void Take(std::string_view field);
  static JournalEntryFields Of(const JournalFieldViews& views);
};

}  // namespace vantrel
