#include "watch/journal/journal_file_reader_linux.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstring>
#include <limits>

#include "platform/unique_fd.h"
#include "watch/journal/journal_format_linux.h"
#include "watch/journal/sip_hash.h"

namespace vantrel {

using namespace journal_format;

// The entries of one data object: the first kept in the object itself, the
// others in a chain of entry arrays, all in the order of the file.
class JournalFileReader::EntryList {
 public:
  EntryList(JournalFileReader& reader, const unsigned char* data)
      : reader_(reader),
        first_(Le64(data + kDataEntry)),
        next_array_(Le64(data + kDataEntryArray)),
        remaining_(Le64(data + kDataEntryCount)),
        on_first_(remaining_ > 0),
        tail_array_(reader.compact_ ? Le32(data + kDataTailArray) : 0),
        tail_count_(reader.compact_ ? Le32(data + kDataTailArray + 4) : 0) {}

  // The offset of the entry the list stands on; nothing at its end.
  std::optional<std::uint64_t> Current() {
    if (!Ready()) return std::nullopt;
    const std::uint64_t offset = on_first_ ? first_ : Item(index_);
    if (offset == 0) return std::nullopt;  // not written yet
    if (offset <= last_) return Damaged();
    return offset;
  }

  void Advance() {
    if (const std::optional<std::uint64_t> offset = Current()) last_ = *offset;
    if (on_first_) {
      on_first_ = false;
    } else {
      ++index_;
    }
    --remaining_;
  }

  // Passes over the entries numbered up to above: a whole array at a time
  // while its last entry is not above it, then by halves within the array.
  void SkipTo(std::uint64_t above) {
    if (on_first_) {
      const std::optional<std::uint64_t> offset = Current();
      if (!offset) return;
      const std::optional<std::uint64_t> number = reader_.NumberOfEntry(*offset);
      if (!number || *number > above) return;
      Advance();
    }
    SkipToTailArray(above);
    while (Ready()) {
      const std::uint64_t last = Item(count_ - 1);
      const std::optional<std::uint64_t> number = last == 0 ? std::nullopt : reader_.NumberOfEntry(last);
      if (number && *number <= above) {
        if (last <= last_) return static_cast<void>(Damaged());
        remaining_ -= count_ - index_;
        index_ = count_;
        last_ = last;
        continue;
      }
      // The first entry above the mark lies in this array.
      std::uint64_t low = index_, high = count_ - 1;
      while (low < high) {
        const std::uint64_t middle = low + (high - low) / 2;
        const std::uint64_t item = Item(middle);
        const std::optional<std::uint64_t> n = item == 0 ? std::nullopt : reader_.NumberOfEntry(item);
        if (n && *n <= above) {
          low = middle + 1;
        } else {
          high = middle;
        }
      }
      if (low > index_) {
        const std::uint64_t before = Item(low - 1);
        if (before <= last_) return static_cast<void>(Damaged());
        remaining_ -= low - index_;
        index_ = low;
        last_ = before;
      }
      return;
    }
  }

 private:
  // Whether the list stands on an entry: the first one, or an item of an
  // array (the next array loaded when this one is used up).
  bool Ready() {
    if (remaining_ == 0 || reader_.damaged_) return false;
    if (on_first_) return true;
    while (array_ == nullptr || index_ == count_) {
      if (next_array_ == 0) return false;
      if (next_array_ <= array_offset_) return Damaged(), false;
      const std::uint64_t item_size = reader_.compact_ ? 4 : 8;
      const unsigned char* array = reader_.Object(next_array_, kEntryArray, kArrayItems + item_size);
      if (array == nullptr) return false;
      array_offset_ = next_array_;
      array_ = array;
      next_array_ = Le64(array + kArrayNext);
      count_ = std::min((Le64(array + kObjectSize) - kArrayItems) / item_size, remaining_);
      index_ = 0;
    }
    return true;
  }

  // A compact file's data object names its last entry array: when that
  // array begins at or below the mark, the arrays before it are passed over
  // without being read (a later check then reads the end of the file only).
  void SkipToTailArray(std::uint64_t above) {
    if (array_ != nullptr || tail_array_ == 0 || tail_count_ == 0 || tail_array_ < next_array_ ||
        tail_count_ > remaining_) {
      return;
    }
    const unsigned char* array = reader_.Object(tail_array_, kEntryArray, kArrayItems + 4);
    if (array == nullptr) return;
    // The last array ends the chain and holds the count the data object
    // gives it; one that does not disagrees with the chain, and the walk
    // would end short of the list's end: the library reads the file.
    if (Le64(array + kArrayNext) != 0 || tail_count_ > (Le64(array + kObjectSize) - kArrayItems) / 4) {
      return static_cast<void>(Damaged());
    }
    const std::uint64_t first = Le32(array + kArrayItems);
    const std::optional<std::uint64_t> number = first == 0 ? std::nullopt : reader_.NumberOfEntry(first);
    if (!number || *number > above) return;
    array_offset_ = tail_array_;
    array_ = array;
    next_array_ = Le64(array + kArrayNext);
    remaining_ = tail_count_;
    count_ = std::min((Le64(array + kObjectSize) - kArrayItems) / 4, remaining_);
    index_ = 0;
  }

  std::uint64_t Item(std::uint64_t index) const {
    const unsigned char* items = array_ + kArrayItems;
    return reader_.compact_ ? Le32(items + 4 * index) : Le64(items + 8 * index);
  }

  std::nullopt_t Damaged() {
    reader_.damaged_ = true;
    return std::nullopt;
  }

  JournalFileReader& reader_;
  std::uint64_t first_;
  std::uint64_t next_array_;
  std::uint64_t remaining_;  // entries of the list not yet passed
  bool on_first_;
  std::uint64_t array_offset_ = 0;
  const unsigned char* array_ = nullptr;
  std::uint64_t count_ = 0;  // the items of the array that belong to the list
  std::uint64_t index_ = 0;
  std::uint64_t last_ = 0;  // the offset of the last entry passed
  std::uint64_t tail_array_;
  std::uint64_t tail_count_;  // the entries of the last array
};

std::unique_ptr<JournalFileReader> JournalFileReader::Open(const std::string& path) {
  const UniqueFd fd = OpenForReading(path);
  return fd ? Open(fd.get()) : nullptr;
}

std::unique_ptr<JournalFileReader> JournalFileReader::Open(int fd) {
  struct stat info {};
  if (fstat(fd, &info) != 0 || !S_ISREG(info.st_mode) || static_cast<std::uint64_t>(info.st_size) < kSmallestHeader) {
    return nullptr;
  }
  const auto size = static_cast<std::uint64_t>(info.st_size);
  void* mapped = mmap(nullptr, size, PROT_READ, MAP_SHARED, fd, 0);
  if (mapped == MAP_FAILED) return nullptr;
  std::unique_ptr<JournalFileReader> reader(new JournalFileReader(static_cast<const unsigned char*>(mapped), size));
  const unsigned char* header = reader->base_;
  const std::uint32_t flags = Le32(header + kIncompatibleFlags);
  reader->header_size_ = Le64(header + kHeaderSize);
  // Files without the keyed hash (older writers, or writers told not to
  // use it) are indexed by another hash; the library reads them.
  if (!HasSignature(header) || (flags & ~kKnownFlags) != 0 || (flags & kKeyedHash) == 0 ||
      reader->header_size_ < kSmallestHeader || reader->header_size_ > size) {
    return nullptr;
  }
  reader->compact_ = (flags & kCompact) != 0;
  // Only the objects up to the end of the last one written are read: past
  // it lies room the writer has not used yet, which journald cuts off when
  // it archives the file, under the mapping (a read there would end the
  // process). What is written later is read through the library.
  const std::uint64_t tail = Le64(header + kTailObject);
  if (tail < reader->header_size_ || tail % 8 != 0 || tail > size - 16) return nullptr;
  const std::uint64_t tail_size = Le64(header + tail + kObjectSize);
  if (tail_size < 16 || tail_size > size - tail) return nullptr;
  reader->size_ = tail + tail_size;
  return reader;
}

std::uint64_t JournalFileReader::DataPayloadOffset() const { return compact_ ? kCompactDataPayload : kDataPayload; }

JournalFileReader::JournalFileReader(const unsigned char* base, std::uint64_t size)
    : base_(base), mapped_(size), size_(size) {}

JournalFileReader::~JournalFileReader() {
  tagged_.reset();
  syslog_.reset();
  munmap(const_cast<unsigned char*>(base_), mapped_);
}

const unsigned char* JournalFileReader::Object(std::uint64_t offset, int type, std::uint64_t min_size) {
  if (offset % 8 != 0 || offset < header_size_ || size_ < 16 || offset > size_ - 16) {
    damaged_ = true;
    return nullptr;
  }
  const unsigned char* object = base_ + offset;
  const std::uint64_t size = Le64(object + kObjectSize);
  if (object[0] != type || size < min_size || size > size_ - offset) {
    damaged_ = true;
    return nullptr;
  }
  return object;
}

std::optional<std::uint64_t> JournalFileReader::BucketHead(std::uint64_t table_field, std::string_view key,
                                                           std::uint64_t& hash) {
  const std::uint64_t table = Le64(base_ + table_field), table_size = Le64(base_ + table_field + 8);
  if (table < header_size_ || table_size < 16 || table_size % 16 != 0 || table > size_ || table_size > size_ - table) {
    damaged_ = true;
    return std::nullopt;
  }
  hash = SipHash24(key.data(), key.size(), base_ + kFileId);
  return Le64(base_ + table + hash % (table_size / 16) * 16);
}

std::optional<std::uint64_t> JournalFileReader::FindData(std::string_view payload, bool& compressed) {
  std::uint64_t hash = 0;
  const std::optional<std::uint64_t> head = BucketHead(kDataHashTable, payload, hash);
  if (!head) return std::nullopt;
  // A bucket's chain runs in the order the objects were written, each after
  // the one before it in the file.
  std::uint64_t offset = *head;
  std::uint64_t before = 0;
  while (offset != 0) {
    if (offset <= before) {
      damaged_ = true;
      return std::nullopt;
    }
    const unsigned char* data = Object(offset, kData, DataPayloadOffset());
    if (data == nullptr) return std::nullopt;
    if (Le64(data + kDataHash) == hash) {
      if ((data[1] & kCompressed) != 0) {
        compressed = true;
        return std::nullopt;
      }
      const std::uint64_t length = Le64(data + kObjectSize) - DataPayloadOffset();
      if (length == payload.size() && std::memcmp(data + DataPayloadOffset(), payload.data(), length) == 0) {
        return offset;
      }
    }
    before = offset;
    offset = Le64(data + kDataNextHash);
  }
  return std::nullopt;
}

std::vector<std::uint64_t> JournalFileReader::IdentifierValues() {
  static constexpr std::string_view kName = "SYSLOG_IDENTIFIER";
  std::vector<std::uint64_t> values;
  std::uint64_t hash = 0;
  const std::optional<std::uint64_t> head = BucketHead(kFieldHashTable, kName, hash);
  if (!head) return values;
  std::uint64_t offset = *head;
  std::uint64_t before = 0;
  while (offset != 0) {
    if (offset <= before) {
      damaged_ = true;
      return values;
    }
    const unsigned char* field = Object(offset, kField, kFieldPayload);
    if (field == nullptr) return values;
    if (Le64(field + kFieldHash) == hash && Le64(field + kObjectSize) - kFieldPayload == kName.size() &&
        std::memcmp(field + kFieldPayload, kName.data(), kName.size()) == 0) {
      // The field's values, the newest first: each data object is put at
      // the head of the chain when it is written.
      std::uint64_t data_offset = Le64(field + kFieldHeadData);
      while (data_offset != 0) {
        if (!values.empty() && data_offset >= values.back()) {
          damaged_ = true;
          return values;
        }
        const unsigned char* data = Object(data_offset, kData, DataPayloadOffset());
        if (data == nullptr) return values;
        values.push_back(data_offset);
        data_offset = Le64(data + kDataNextField);
      }
      std::reverse(values.begin(), values.end());
      return values;
    }
    before = offset;
    offset = Le64(field + kFieldNextHash);
  }
  return values;
}

bool JournalFileReader::Start(std::string_view identifier, std::uint64_t above,
                              const std::optional<std::string>& boot) {
  above_ = above;
  boot_ = boot;
  const std::string tag = "SYSLOG_IDENTIFIER=" + std::string(identifier);
  bool compressed = false;
  const std::optional<std::uint64_t> tagged = FindData(tag, compressed);
  const std::optional<std::uint64_t> syslog = FindData("_TRANSPORT=syslog", compressed);
  if (compressed || damaged_) return false;
  identifiers_ = IdentifierValues();
  if (damaged_) return false;
  // The identifier's data object lies in its field's list but not in its
  // hash chain: the file's own structures disagree, and the library reads
  // the file rather than this reader delivering nothing from it.
  if (!tagged && ListsPayload(identifiers_, tag)) return false;
  if (tagged) tagged_ = std::make_unique<EntryList>(*this, base_ + *tagged);
  if (syslog) syslog_ = std::make_unique<EntryList>(*this, base_ + *syslog);
  if (tagged_) tagged_->SkipTo(above);
  if (syslog_) syslog_->SkipTo(above);
  return !damaged_;
}

bool JournalFileReader::ListsPayload(const std::vector<std::uint64_t>& data_objects, std::string_view payload) {
  for (const std::uint64_t offset : data_objects) {
    const unsigned char* data = Object(offset, kData, DataPayloadOffset());
    if (data == nullptr) return false;
    const std::uint64_t length = Le64(data + kObjectSize) - DataPayloadOffset();
    if ((data[1] & kCompressed) == 0 && length == payload.size() &&
        std::memcmp(data + DataPayloadOffset(), payload.data(), length) == 0) {
      return true;
    }
  }
  return false;
}

std::optional<std::uint64_t> JournalFileReader::NumberOfEntry(std::uint64_t offset) {
  const unsigned char* entry = Object(offset, kEntry, kEntryItems);
  if (entry == nullptr) return std::nullopt;
  return Le64(entry + kEntryNumber);
}

bool JournalFileReader::HasIdentifier(const unsigned char* entry, std::uint64_t items) {
  for (std::uint64_t i = 0; i < items; ++i) {
    const unsigned char* item = entry + kEntryItems + i * (compact_ ? 4 : 16);
    const std::uint64_t data = compact_ ? Le32(item) : Le64(item);
    if (std::binary_search(identifiers_.begin(), identifiers_.end(), data)) return true;
  }
  return false;
}

std::optional<JournalFileEntry> JournalFileReader::Read(std::uint64_t offset, bool tagged) {
  const unsigned char* entry = Object(offset, kEntry, kEntryItems);
  if (entry == nullptr) return std::nullopt;
  const std::uint64_t item_size = compact_ ? 4 : 16;
  const std::uint64_t items_size = Le64(entry + kObjectSize) - kEntryItems;
  if (items_size % item_size != 0) {
    damaged_ = true;
    return std::nullopt;
  }
  const std::uint64_t items = items_size / item_size;
  if (!tagged && HasIdentifier(entry, items)) return std::nullopt;  // another program's
  if (boot_ && std::memcmp(entry + kEntryBoot, boot_->data(), 16) != 0) return std::nullopt;
  JournalFileEntry e;
  e.number = Le64(entry + kEntryNumber);
  e.realtime = Le64(entry + kEntryRealtime);
  e.tagged = tagged;
  const std::uint64_t payload_at = DataPayloadOffset();
  for (std::uint64_t i = 0; i < items; ++i) {
    const unsigned char* item = entry + kEntryItems + i * item_size;
    const unsigned char* data = Object(compact_ ? Le32(item) : Le64(item), kData, payload_at);
    if (data == nullptr) return std::nullopt;
    if ((data[1] & kCompressed) != 0) {
      e.readable = false;  // which field it is lies inside the compressed payload
      continue;
    }
    e.Take(std::string_view(reinterpret_cast<const char*>(data + payload_at), Le64(data + kObjectSize) - payload_at));
  }
  return e;
}

std::optional<JournalFileEntry> JournalFileReader::Next() {
  while (!damaged_) {
    // The two lists merged by offset (the file's order); an entry in both
    // is the source's.
    constexpr std::uint64_t kNone = std::numeric_limits<std::uint64_t>::max();
    const std::uint64_t tagged = tagged_ ? tagged_->Current().value_or(kNone) : kNone;
    const std::uint64_t syslog = syslog_ ? syslog_->Current().value_or(kNone) : kNone;
    if (damaged_ || (tagged == kNone && syslog == kNone)) return std::nullopt;
    const bool from_tagged = tagged <= syslog;
    const std::uint64_t offset = std::min(tagged, syslog);
    if (tagged == offset) tagged_->Advance();
    if (syslog == offset) syslog_->Advance();
    std::optional<JournalFileEntry> entry = Read(offset, from_tagged);
    if (entry && entry->number > above_) return entry;
  }
  return std::nullopt;
}

}  // namespace vantrel
