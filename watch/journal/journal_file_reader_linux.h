// Reads the watched source's entries straight from one journal file, as the
// journal file format lays them out: the entries of one field value are
// listed in that value's data object, and the data objects of one field in
// that field's object. So the entries of the source's identifier are found
// without passing over any other entry, and an entry of the syslog transport
// without an identifier is told by its item list alone (none of its items is
// an identifier's data object), without reading its fields. Each entry gives
// only the fields a record needs, read in place.
//
// The journal library reads a file this reader declines (no keyed hash, a
// header or flag it does not know, the source's identifier stored
// compressed), and an entry one of whose fields is compressed (a field's
// name is inside its compressed payload). Every offset is checked against
// the mapped file, and every list must run in the order the writer writes
// it, so a damaged file ends the walk instead of misleading it.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "watch/journal/journal_entry_fields_linux.h"

namespace vantrel {

// One entry of the walk. The texts point into the mapped file and live as
// long as the reader.
struct JournalFileEntry : JournalFieldViews {
  std::uint64_t number = 0;    // its sequence number
  std::uint64_t realtime = 0;  // microseconds since 1970, as the writer's clock had it
  bool tagged = false;         // its SYSLOG_IDENTIFIER is the source's; false: syslog without one
  bool readable = true;        // false: a field is compressed; read the entry through the library
};

class JournalFileReader {
 public:
  // The file mapped for reading, or nothing when it cannot be read this way.
  static std::unique_ptr<JournalFileReader> Open(const std::string& path);
  // The same for a file already open; fd stays the caller's.
  static std::unique_ptr<JournalFileReader> Open(int fd);
  ~JournalFileReader();
  JournalFileReader(const JournalFileReader&) = delete;
  JournalFileReader& operator=(const JournalFileReader&) = delete;

  // Starts the walk over the entries whose SYSLOG_IDENTIFIER is identifier
  // and those of the syslog transport that have none, numbered above
  // `above`, and of one boot only when boot (its 16 bytes) is given. False
  // when the file must be read through the library instead.
  bool Start(std::string_view identifier, std::uint64_t above, const std::optional<std::string>& boot);

  // The next entry of the walk, in the order of the file; nothing at its end
  // or where the file is damaged (Damaged() then tells).
  std::optional<JournalFileEntry> Next();
  bool Damaged() const { return damaged_; }

 private:
  class EntryList;

  JournalFileReader(const unsigned char* base, std::uint64_t size);
  const unsigned char* Object(std::uint64_t offset, int type, std::uint64_t min_size);
  // The first object of key's bucket in the hash table whose offset and
  // size the header keeps at table_field (0: none); nothing when the table
  // lies outside the file.
  std::optional<std::uint64_t> BucketHead(std::uint64_t table_field, std::string_view key, std::uint64_t& hash);
  std::optional<std::uint64_t> FindData(std::string_view payload, bool& compressed);
  std::vector<std::uint64_t> IdentifierValues();
  // Whether one of the data objects holds payload, uncompressed.
  bool ListsPayload(const std::vector<std::uint64_t>& data_objects, std::string_view payload);
  std::uint64_t DataPayloadOffset() const;
  std::optional<std::uint64_t> NumberOfEntry(std::uint64_t offset);
  bool HasIdentifier(const unsigned char* entry, std::uint64_t items);
  std::optional<JournalFileEntry> Read(std::uint64_t offset, bool tagged);

  const unsigned char* base_;
  std::uint64_t mapped_;  // the length of the mapping
  std::uint64_t size_;    // what is read of it: up to the end of the last object written
  std::uint64_t header_size_ = 0;
  bool compact_ = false;
  bool damaged_ = false;
  std::uint64_t above_ = 0;
  std::optional<std::string> boot_;
  std::vector<std::uint64_t> identifiers_;  // the data objects of SYSLOG_IDENTIFIER, sorted
  std::unique_ptr<EntryList> tagged_;
  std::unique_ptr<EntryList> syslog_;
};

}  // namespace vantrel
