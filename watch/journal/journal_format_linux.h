// The journal file format as systemd documents it, declared once for every
// reader of it here: a little-endian header at the file's start, then
// objects, each starting with its type, its flags and its size in a 16-byte
// header. The layouts below are byte arrays (no padding, no alignment), and
// every offset the readers use is taken from them; the size checks hold
// them to the documented layout.
#pragma once

#include <fcntl.h>

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

#include "platform/unique_fd.h"
#include "watch/journal/little_endian.h"

namespace vantrel::journal_format {

using Le64Bytes = unsigned char[8];
using Le32Bytes = unsigned char[4];
using Id128Bytes = unsigned char[16];

// The header, as far as the oldest header a writer still writes reaches.
struct Header {
  unsigned char signature[8];  // "LPKSHHRH"
  Le32Bytes compatible_flags;
  Le32Bytes incompatible_flags;
  unsigned char state;  // 0 offline, 1 online (open for writing), 2 archived
  unsigned char reserved[7];
  Id128Bytes file_id;  // the key of the keyed hash
  Id128Bytes machine_id;
  Id128Bytes tail_entry_boot_id;  // the boot of the newest entry
  Id128Bytes seqnum_id;           // the sequence
  Le64Bytes header_size;
  Le64Bytes arena_size;
  Le64Bytes data_hash_table_offset;  // then the table's size in bytes
  Le64Bytes data_hash_table_size;
  Le64Bytes field_hash_table_offset;
  Le64Bytes field_hash_table_size;
  Le64Bytes tail_object_offset;  // where the last object written begins
  Le64Bytes n_objects;
  Le64Bytes n_entries;
  Le64Bytes tail_entry_seqnum;
  Le64Bytes head_entry_seqnum;
  Le64Bytes entry_array_offset;
  Le64Bytes head_entry_realtime;
  Le64Bytes tail_entry_realtime;
  Le64Bytes tail_entry_monotonic;
};
static_assert(sizeof(Header) == 208);

struct ObjectHeader {
  unsigned char type;
  unsigned char flags;
  unsigned char reserved[6];
  Le64Bytes size;
};
static_assert(sizeof(ObjectHeader) == 16);

struct DataObject {
  ObjectHeader object;
  Le64Bytes hash;
  Le64Bytes next_hash_offset;
  Le64Bytes next_field_offset;
  Le64Bytes entry_offset;
  Le64Bytes entry_array_offset;
  Le64Bytes n_entries;
};
static_assert(sizeof(DataObject) == 64);

// A compact file's data object names the last array of its entries.
struct CompactDataObject {
  DataObject data;
  Le32Bytes tail_entry_array_offset;
  Le32Bytes tail_entry_array_n_entries;
};
static_assert(sizeof(CompactDataObject) == 72);

struct FieldObject {
  ObjectHeader object;
  Le64Bytes hash;
  Le64Bytes next_hash_offset;
  Le64Bytes head_data_offset;
};
static_assert(sizeof(FieldObject) == 40);

// Followed by its items: 16 bytes each (data offset, hash), 4 in a compact
// file (data offset).
struct EntryObject {
  ObjectHeader object;
  Le64Bytes seqnum;
  Le64Bytes realtime;
  Le64Bytes monotonic;
  Id128Bytes boot_id;
  Le64Bytes xor_hash;
};
static_assert(sizeof(EntryObject) == 64);

// Followed by its items: 8 bytes each, 4 in a compact file.
struct EntryArrayObject {
  ObjectHeader object;
  Le64Bytes next_entry_array_offset;
};
static_assert(sizeof(EntryArrayObject) == 24);

// The header's fields, by offset.
inline constexpr std::uint64_t kSignature = offsetof(Header, signature);
inline constexpr std::uint64_t kIncompatibleFlags = offsetof(Header, incompatible_flags);
inline constexpr std::uint64_t kState = offsetof(Header, state);
inline constexpr std::uint64_t kFileId = offsetof(Header, file_id);
inline constexpr std::uint64_t kTailBootId = offsetof(Header, tail_entry_boot_id);
inline constexpr std::uint64_t kSeqnumId = offsetof(Header, seqnum_id);
inline constexpr std::uint64_t kHeaderSize = offsetof(Header, header_size);
inline constexpr std::uint64_t kDataHashTable = offsetof(Header, data_hash_table_offset);
inline constexpr std::uint64_t kFieldHashTable = offsetof(Header, field_hash_table_offset);
inline constexpr std::uint64_t kTailObject = offsetof(Header, tail_object_offset);
inline constexpr std::uint64_t kEntryCount = offsetof(Header, n_entries);
inline constexpr std::uint64_t kTailSeqnum = offsetof(Header, tail_entry_seqnum);
inline constexpr std::uint64_t kHeadSeqnum = offsetof(Header, head_entry_seqnum);
// What a listing reads of a header: every field up to the head's number.
inline constexpr std::uint64_t kListedHeader = offsetof(Header, entry_array_offset);
inline constexpr std::uint64_t kSmallestHeader = sizeof(Header);
static_assert(offsetof(Header, data_hash_table_size) == kDataHashTable + 8 &&
              offsetof(Header, field_hash_table_size) == kFieldHashTable + 8);

// Incompatible flags.
inline constexpr std::uint32_t kKeyedHash = 4;
inline constexpr std::uint32_t kCompact = 16;
inline constexpr std::uint32_t kKnownFlags = 1 | 2 | kKeyedHash | 8 | kCompact;  // xz, lz4, keyed hash, zstd, compact

// Object types, and the flags of a compressed payload.
inline constexpr int kData = 1;
inline constexpr int kField = 2;
inline constexpr int kEntry = 3;
inline constexpr int kEntryArray = 6;
inline constexpr int kCompressed = 1 | 2 | 4;  // xz, lz4, zstd

// The objects' fields, by offset from the object's start.
inline constexpr std::uint64_t kObjectSize = offsetof(ObjectHeader, size);
inline constexpr std::uint64_t kObjectHeader = sizeof(ObjectHeader);
inline constexpr std::uint64_t kDataHash = offsetof(DataObject, hash);
inline constexpr std::uint64_t kDataNextHash = offsetof(DataObject, next_hash_offset);
inline constexpr std::uint64_t kDataNextField = offsetof(DataObject, next_field_offset);
inline constexpr std::uint64_t kDataEntry = offsetof(DataObject, entry_offset);
inline constexpr std::uint64_t kDataEntryArray = offsetof(DataObject, entry_array_offset);
inline constexpr std::uint64_t kDataEntryCount = offsetof(DataObject, n_entries);
inline constexpr std::uint64_t kDataTailArray = offsetof(CompactDataObject, tail_entry_array_offset);
inline constexpr std::uint64_t kDataPayload = sizeof(DataObject);
inline constexpr std::uint64_t kCompactDataPayload = sizeof(CompactDataObject);
inline constexpr std::uint64_t kFieldHash = offsetof(FieldObject, hash);
inline constexpr std::uint64_t kFieldNextHash = offsetof(FieldObject, next_hash_offset);
inline constexpr std::uint64_t kFieldHeadData = offsetof(FieldObject, head_data_offset);
inline constexpr std::uint64_t kFieldPayload = sizeof(FieldObject);
inline constexpr std::uint64_t kEntryNumber = offsetof(EntryObject, seqnum);
inline constexpr std::uint64_t kEntryRealtime = offsetof(EntryObject, realtime);
inline constexpr std::uint64_t kEntryBoot = offsetof(EntryObject, boot_id);
inline constexpr std::uint64_t kEntryItems = sizeof(EntryObject);
inline constexpr std::uint64_t kArrayNext = offsetof(EntryArrayObject, next_entry_array_offset);
inline constexpr std::uint64_t kArrayItems = sizeof(EntryArrayObject);

inline bool HasSignature(const unsigned char* header) { return std::memcmp(header + kSignature, "LPKSHHRH", 8) == 0; }

// Opens a journal file for reading. Not blocking: a FIFO with a journal
// file's name must not hold the check.
inline UniqueFd OpenForReading(const std::string& path) {
  return UniqueFd(open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK));
}

}  // namespace vantrel::journal_format
