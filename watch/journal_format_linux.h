// The journal file format as systemd documents it, declared once for every
// reader of it here: a packed little-endian header at the file's start,
// then objects, each starting with its type, its flags and its size in a
// 16-byte header. Only the fields this program reads are named.
#pragma once

#include <fcntl.h>

#include <cstdint>
#include <cstring>
#include <string>

#include "platform/unique_fd.h"

namespace vantrel::journal_format {

// The header's fields, by offset.
inline constexpr std::uint64_t kSignature = 0;           // 8 bytes: "LPKSHHRH"
inline constexpr std::uint64_t kIncompatibleFlags = 12;  // le32
inline constexpr std::uint64_t kState = 16;              // 1 byte: 0 offline, 1 online (open for writing), 2 archived
inline constexpr std::uint64_t kFileId = 24;             // 16 bytes, the key of the keyed hash
inline constexpr std::uint64_t kTailBootId = 56;         // 16 bytes: the boot of the newest entry
inline constexpr std::uint64_t kSeqnumId = 72;           // 16 bytes: the sequence
inline constexpr std::uint64_t kHeaderSize = 88;         // le64
inline constexpr std::uint64_t kDataHashTable = 104;     // le64 offset and le64 size of its items
inline constexpr std::uint64_t kFieldHashTable = 120;    // le64 offset and le64 size of its items
inline constexpr std::uint64_t kTailObject = 136;        // le64: where the last object written begins
inline constexpr std::uint64_t kEntryCount = 152;        // le64 n_entries
inline constexpr std::uint64_t kTailSeqnum = 160;        // le64 tail_entry_seqnum
inline constexpr std::uint64_t kHeadSeqnum = 168;        // le64 head_entry_seqnum
// What a listing reads of a header: every field above lies before it.
inline constexpr std::uint64_t kListedHeader = 176;
// The oldest header a writer still writes holds every field above.
inline constexpr std::uint64_t kSmallestHeader = 208;
static_assert(kHeadSeqnum + 8 <= kListedHeader && kListedHeader <= kSmallestHeader);
static_assert(kSeqnumId + 16 <= kHeaderSize && kFieldHashTable + 16 <= kTailObject);

// Incompatible flags.
inline constexpr std::uint32_t kKeyedHash = 4;
inline constexpr std::uint32_t kCompact = 16;
inline constexpr std::uint32_t kKnownFlags = 1 | 2 | kKeyedHash | 8 | kCompact;  // xz, lz4, keyed hash, zstd, compact

// Object types, the flags of a compressed payload, and the objects' fields.
inline constexpr int kData = 1;
inline constexpr int kField = 2;
inline constexpr int kEntry = 3;
inline constexpr int kEntryArray = 6;
inline constexpr int kCompressed = 1 | 2 | 4;  // xz, lz4, zstd

inline constexpr std::uint64_t kObjectSize = 8;
inline constexpr std::uint64_t kObjectHeader = 16;
inline constexpr std::uint64_t kDataHash = 16, kDataNextHash = 24, kDataNextField = 32, kDataEntry = 40,
                               kDataEntryArray = 48, kDataEntryCount = 56, kDataTailArray = 64;  // compact files only
inline constexpr std::uint64_t kDataPayload = 64, kCompactDataPayload = 72;
inline constexpr std::uint64_t kFieldHash = 16, kFieldNextHash = 24, kFieldHeadData = 32, kFieldPayload = 40;
inline constexpr std::uint64_t kEntryNumber = 16, kEntryRealtime = 24, kEntryBoot = 40, kEntryItems = 64;
inline constexpr std::uint64_t kArrayNext = 16, kArrayItems = 24;
static_assert(kDataTailArray + 8 == kCompactDataPayload && kDataEntryCount + 8 == kDataPayload);

inline std::uint64_t Le64(const unsigned char* bytes) {
  std::uint64_t value = 0;
  for (int i = 7; i >= 0; --i) value = value << 8 | bytes[i];
  return value;
}

inline std::uint32_t Le32(const unsigned char* bytes) {
  return static_cast<std::uint32_t>(bytes[0]) | static_cast<std::uint32_t>(bytes[1]) << 8 |
         static_cast<std::uint32_t>(bytes[2]) << 16 | static_cast<std::uint32_t>(bytes[3]) << 24;
}

inline bool HasSignature(const unsigned char* header) { return std::memcmp(header + kSignature, "LPKSHHRH", 8) == 0; }

// Opens a journal file for reading. Not blocking: a FIFO with a journal
// file's name must not hold the check.
inline UniqueFd OpenForReading(const std::string& path) {
  return UniqueFd(open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK));
}

}  // namespace vantrel::journal_format
