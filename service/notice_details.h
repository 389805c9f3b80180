// The newest entries of a check written under its notice, for installations
// whose administrator asked for them with the setting "details".
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>

#include "platform/text.h"
#include "watch/event_record.h"

namespace vantrel {

// The local time zone's offset from UTC in minutes at a moment given in
// seconds since 1970-01-01 00:00 UTC.
using UtcOffsetAt = std::function<int(std::int64_t unix_seconds)>;

// At most this many entries are written out; the rest are counted.
inline constexpr std::size_t kDetailEntries = 5;
static_assert(kDetailEntries <= kNewestRecordsKept, "a check keeps the records its notice shows");
// The most of a message's first line that one entry shows, in characters.
inline constexpr std::size_t kDetailMessageChars = 200;
// The whole notice stays below this many UTF-16 characters.
inline constexpr std::size_t kDetailNoticeLimit = 2000;

// The notice followed by the records' entries, newest first, one per line
// after a line break: the local time "yyyy-mm-dd hh:mm:ss", a blank and the
// first line of the message cut to kDetailMessageChars characters ("Empty
// message" for an entry without one). Entries past kDetailEntries, or past
// the limit of the whole text, are counted in a last line "… ja N muuta".
// Without entries the notice stands alone, as it is.
String NoticeWithDetails(const String& notice, const EventRecords& records, const UtcOffsetAt& offset_at);

}  // namespace vantrel
