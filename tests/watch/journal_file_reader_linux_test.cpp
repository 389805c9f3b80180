// The journal file reader against files that systemd-journal-remote wrote,
// in each layout it writes (compact or not), and against damaged copies.
#include "watch/journal/journal_file_reader_linux.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "tests/watch/journal_folder.h"
#include "watch/journal/journal_format_linux.h"
#include "watch/journal/sip_hash.h"

namespace vantrel {
namespace {

using testing::JournalEntrySpec;
using testing::JournalFolder;

// The little-endian number at offset `at` of an open journal file.
std::uint64_t Le64At(std::ifstream& in, std::uint64_t at) {
  unsigned char bytes[8];
  in.seekg(static_cast<std::streamoff>(at));
  in.read(reinterpret_cast<char*>(bytes), 8);
  return Le64(bytes);
}

// What a walk gave of one entry.
struct Seen {
  std::uint64_t number;
  bool tagged;
  int priority;
  std::string message;
  bool operator==(const Seen&) const = default;
};

std::ostream& operator<<(std::ostream& out, const Seen& s) {
  return out << s.number << (s.tagged ? " tagged " : " untagged ") << s.priority << " " << s.message;
}

std::vector<Seen> Walk(const std::string& path, std::uint64_t above, const std::optional<std::string>& boot = {}) {
  std::vector<Seen> seen;
  std::unique_ptr<JournalFileReader> reader = JournalFileReader::Open(path);
  if (!reader || !reader->Start("Pervasive SQL", above, boot)) return seen;
  while (std::optional<JournalFileEntry> e = reader->Next()) {
    seen.push_back({e->number, e->tagged, e->priority, e->message ? std::string(*e->message) : "(none)"});
  }
  EXPECT_FALSE(reader->Damaged());
  return seen;
}

// Writes the file with the given layout: the writer takes it from the
// environment.
void WriteAs(JournalFolder& folder, const std::vector<JournalEntrySpec>& entries, bool compact,
             const testing::WriteOptions& options = {}) {
  setenv("SYSTEMD_JOURNAL_COMPACT", compact ? "1" : "0", 1);
  folder.Write(entries, "x.journal", options);
  unsetenv("SYSTEMD_JOURNAL_COMPACT");
}

TEST(SipHashTest, GivesTheReferenceValues) {
  unsigned char key[16];
  unsigned char message[15];
  for (int i = 0; i < 16; ++i) key[i] = static_cast<unsigned char>(i);
  for (int i = 0; i < 15; ++i) message[i] = static_cast<unsigned char>(i);
  EXPECT_EQ(SipHash24(message, 0, key), 0x726fdb47dd0e0e31ULL);
  EXPECT_EQ(SipHash24(message, 15, key), 0xa129ca6149be45e5ULL);
}

// The source's entries by its identifier, and the syslog transport's
// entries without one, in the file's order; nothing else, in either layout.
TEST(JournalFileReaderTest, FindsTheSourceByIdentifierAndUntaggedSyslogEntries) {
  const std::string syslog = "syslog";
  const std::vector<JournalEntrySpec> entries{
      {"Pervasive SQL", 3, "tagged error"},
      {"other", 3, "another program"},
      {"", 4, "Pervasive SQL: untagged warning", "psqlhost", 0, syslog},
      {"Pervasive SQL", 6, "tagged through syslog", "psqlhost", 0, syslog},
      {"sshd", 3, "Pervasive SQL: another program's text", "psqlhost", 0, syslog},
      {"", 3, "a message of the journal transport", "psqlhost", 0, std::string("journal")},
      {"Pervasive SQL", std::nullopt, std::nullopt},
      {"", 2, "untagged of anyone", "psqlhost", 0, syslog},
      {"Pervasive SQL", 12, "odd priority"},
  };
  const std::vector<Seen> expected{
      {1, true, 3, "tagged error"},          {3, false, 4, "Pervasive SQL: untagged warning"},
      {4, true, 6, "tagged through syslog"}, {7, true, -1, "(none)"},
      {8, false, 2, "untagged of anyone"},   {9, true, -1, "odd priority"}};
  for (bool compact : {true, false}) {
    JournalFolder folder;
    WriteAs(folder, entries, compact);
    const std::string path = folder.Path() + "/x.journal";
    EXPECT_EQ(Walk(path, 0), expected) << "compact " << compact;
    EXPECT_EQ(Walk(path, 4), std::vector<Seen>(expected.begin() + 3, expected.end())) << "compact " << compact;
  }
}

// A later check starts above its mark: whole entry arrays are passed over,
// then the first new entry is found by halves; every number from the start
// to the end of the file gives exactly the entries above it.
TEST(JournalFileReaderTest, StartsAboveTheMarkAcrossEntryArrays) {
  for (bool compact : {true, false}) {
    JournalFolder folder;
    std::vector<JournalEntrySpec> entries;
    for (int i = 1; i <= 1500; ++i) {
      entries.push_back({i % 3 == 0 ? "other" : "Pervasive SQL", 3, "e" + std::to_string(i)});
    }
    WriteAs(folder, entries, compact);
    const std::string path = folder.Path() + "/x.journal";
    for (std::uint64_t above : {0, 1, 2, 3, 100, 511, 512, 513, 1000, 1497, 1498, 1499, 1500, 5000}) {
      const std::vector<Seen> seen = Walk(path, above);
      std::size_t expected = 0;
      for (std::uint64_t n = above + 1; n <= 1500; ++n) expected += n % 3 != 0;
      ASSERT_EQ(seen.size(), expected) << "above " << above << " compact " << compact;
      if (!seen.empty()) {
        EXPECT_EQ(seen.front().number, above + 1 + ((above + 1) % 3 == 0)) << above;
      }
    }
  }
}

// Only one boot's entries, when asked; the boot is each entry's own.
TEST(JournalFileReaderTest, KeepsToOneBootWhenAsked) {
  JournalFolder folder;
  const std::string other = "fedcba9876543210fedcba9876543210";
  WriteAs(folder, {{"Pervasive SQL", 3, "first boot"}}, true);
  WriteAs(folder, {{"Pervasive SQL", 3, "second boot"}}, true, {other, 0});
  std::string bytes;
  for (std::size_t i = 0; i < other.size(); i += 2)
    bytes += static_cast<char>(std::stoi(other.substr(i, 2), nullptr, 16));
  EXPECT_EQ(Walk(folder.Path() + "/x.journal", 0, bytes), (std::vector<Seen>{{2, true, 3, "second boot"}}));
}

// What the reader leaves to the library: a file indexed by the older hash,
// and an entry whose message was stored compressed (its field's name is
// inside the compressed bytes).
TEST(JournalFileReaderTest, LeavesToTheLibraryWhatItCannotReadInPlace) {
  JournalFolder folder;
  setenv("SYSTEMD_JOURNAL_KEYED_HASH", "0", 1);
  folder.Write({{"Pervasive SQL", 3, "old hash"}}, "old.journal");
  unsetenv("SYSTEMD_JOURNAL_KEYED_HASH");
  EXPECT_EQ(JournalFileReader::Open(folder.Path() + "/old.journal"), nullptr);

  folder.Write({{"Pervasive SQL", 3, std::string(4000, 'x')}, {"Pervasive SQL", 4, "short"}}, "big.journal");
  std::unique_ptr<JournalFileReader> reader = JournalFileReader::Open(folder.Path() + "/big.journal");
  ASSERT_TRUE(reader);
  ASSERT_TRUE(reader->Start("Pervasive SQL", 0, std::nullopt));
  const std::optional<JournalFileEntry> big = reader->Next();
  ASSERT_TRUE(big);
  EXPECT_FALSE(big->readable);
  EXPECT_EQ(big->number, 1u);
  const std::optional<JournalFileEntry> small = reader->Next();
  ASSERT_TRUE(small);
  EXPECT_TRUE(small->readable);
  EXPECT_EQ(small->message, "short");
}

// Where the data hash table keeps the head of payload's chain.
std::uint64_t BucketOf(std::ifstream& in, const std::string& payload) {
  unsigned char file_id[16];
  in.seekg(journal_format::kFileId);
  in.read(reinterpret_cast<char*>(file_id), 16);
  const std::uint64_t table = Le64At(in, journal_format::kDataHashTable);
  const std::uint64_t buckets = Le64At(in, journal_format::kDataHashTable + 8) / 16;
  return table + SipHash24(payload.data(), payload.size(), file_id) % buckets * 16;
}

// The offset of the data object that holds payload (at payload_at of the
// object), found through its hash chain as the writer linked it.
std::uint64_t DataObjectOf(std::ifstream& in, const std::string& payload, std::uint64_t payload_at) {
  for (std::uint64_t at = Le64At(in, BucketOf(in, payload)); at != 0;
       at = Le64At(in, at + journal_format::kDataNextHash)) {
    if (Le64At(in, at + journal_format::kObjectSize) - payload_at == payload.size()) return at;
  }
  return 0;
}

// A compact file's data object names the last array of its entries, so that
// a later check reads only the end of the list. One that names an earlier
// array disagrees with the chain of arrays: the reader leaves the file to the
// library rather than end the walk at that array's count.
TEST(JournalFileReaderTest, ATailArrayThatIsNotTheLastLeavesTheFileToTheLibrary) {
  JournalFolder folder;
  std::vector<JournalEntrySpec> entries;
  for (int i = 1; i <= 1500; ++i) entries.push_back({"Pervasive SQL", 3, "e" + std::to_string(i)});
  WriteAs(folder, entries, true);
  const std::string path = folder.Path() + "/x.journal";
  std::ifstream in(path, std::ios::binary);
  const std::uint64_t data = DataObjectOf(in, "SYSLOG_IDENTIFIER=Pervasive SQL", journal_format::kCompactDataPayload);
  ASSERT_NE(data, 0u);
  const std::uint64_t first_array = Le64At(in, data + journal_format::kDataEntryArray);
  ASSERT_NE(Le64At(in, first_array + journal_format::kArrayNext), 0u) << "the list needs more than one array";
  in.close();
  std::string offset(4, '\0');
  for (int i = 0; i < 4; ++i) offset[static_cast<std::size_t>(i)] = static_cast<char>(first_array >> (8 * i));
  folder.PatchHeader("x.journal", data + journal_format::kDataTailArray, offset);

  std::unique_ptr<JournalFileReader> reader = JournalFileReader::Open(path);
  ASSERT_TRUE(reader);
  EXPECT_FALSE(reader->Start("Pervasive SQL", 2, std::nullopt));
  EXPECT_TRUE(reader->Damaged());
}

// A data object that its field's list holds but its hash chain does not:
// the file's structures disagree, and the reader leaves the file to the
// library instead of delivering nothing from it.
TEST(JournalFileReaderTest, ADataObjectMissingFromItsHashChainLeavesTheFileToTheLibrary) {
  JournalFolder folder;
  WriteAs(folder, {{"Pervasive SQL", 3, "e1"}}, false);
  const std::string path = folder.Path() + "/x.journal";
  std::ifstream in(path, std::ios::binary);
  const auto le64_at = [&in](std::uint64_t at) { return Le64At(in, at); };
  const std::string tag = "SYSLOG_IDENTIFIER=Pervasive SQL";
  const std::uint64_t bucket = BucketOf(in, tag);
  // Each object of the bucket's chain that is not the tag's stays linked.
  std::uint64_t kept = 0;
  for (std::uint64_t at = le64_at(bucket); at != 0; at = le64_at(at + journal_format::kDataNextHash)) {
    if (le64_at(at + journal_format::kObjectSize) - journal_format::kDataPayload != tag.size()) {
      kept = kept == 0 ? at : kept;
    }
  }
  std::string head(8, '\0');
  for (int i = 0; i < 8; ++i) head[static_cast<std::size_t>(i)] = static_cast<char>(kept >> (8 * i));
  in.close();
  folder.PatchHeader("x.journal", bucket, head);
  folder.PatchHeader("x.journal", bucket + 8, head);

  std::unique_ptr<JournalFileReader> reader = JournalFileReader::Open(path);
  ASSERT_TRUE(reader);
  EXPECT_FALSE(reader->Start("Pervasive SQL", 0, std::nullopt));
}

// The writer goes on while a check reads: entries written after the file
// was mapped may be linked from the lists the walk follows, past the end of
// what was mapped. The walk gives every entry of the mapped part and stops
// there (as damaged: the source then reads the rest through the library).
TEST(JournalFileReaderTest, AFileThatGrowsWhileMappedIsReadUpToWhatWasMapped) {
  JournalFolder folder;
  std::vector<JournalEntrySpec> first, more;
  for (int i = 1; i <= 200; ++i) first.push_back({"Pervasive SQL", 3, "e" + std::to_string(i)});
  for (int i = 201; i <= 20000; ++i) more.push_back({"Pervasive SQL", 3, "e" + std::to_string(i)});
  WriteAs(folder, first, true);
  std::unique_ptr<JournalFileReader> reader = JournalFileReader::Open(folder.Path() + "/x.journal");
  ASSERT_TRUE(reader);
  ASSERT_TRUE(reader->Start("Pervasive SQL", 0, std::nullopt));
  WriteAs(folder, more, true);
  std::uint64_t expected = 1;
  while (std::optional<JournalFileEntry> e = reader->Next()) ASSERT_EQ(e->number, expected++);
  EXPECT_GT(expected, 200u);
}

// Opens the file, then damages the data hash table's offset to point past
// the end of the last object and cuts the file there (page-aligned), as
// journald does when it archives a file a reader has mapped; then starts
// the walk. 0 when the walk ended as damaged; another code when the test
// could not be set up or the walk started.
int StartOnAFileCutUnderTheMapping(JournalFolder& folder, const std::string& path) {
  std::unique_ptr<JournalFileReader> reader = JournalFileReader::Open(path);
  if (!reader) return 2;
  std::ifstream in(path, std::ios::binary);
  const auto le64_at = [&in](std::uint64_t at) { return Le64At(in, at); };
  const std::uint64_t tail = le64_at(journal_format::kTailObject);
  const std::uint64_t tail_end = tail + le64_at(tail + journal_format::kObjectSize);
  const std::uint64_t page = static_cast<std::uint64_t>(sysconf(_SC_PAGESIZE));
  const std::uint64_t cut = (tail_end + page - 1) / page * page;
  const std::uint64_t into_cut = cut + 4 * page;
  if (into_cut + page > std::filesystem::file_size(path)) return 3;
  std::string offset(8, '\0');
  for (int i = 0; i < 8; ++i) offset[static_cast<std::size_t>(i)] = static_cast<char>(into_cut >> (8 * i));
  folder.PatchHeader("x.journal", journal_format::kDataHashTable, offset);
  std::filesystem::resize_file(path, cut);
  const bool started = reader->Start("Pervasive SQL", 0, std::nullopt);
  return !started && reader->Damaged() ? 0 : 4;
}

// journald cuts an archived file down to the end of its last object while a
// reader may have it mapped at its old size. A damaged offset into the cut
// part must end the walk as damaged (the library then takes the file over),
// never the process: a read there raises SIGBUS.
TEST(JournalFileReaderTest, AFileCutShortUnderTheMappingEndsTheWalkAsDamaged) {
  JournalFolder folder;
  WriteAs(folder, {{"Pervasive SQL", 3, "e1"}, {"Pervasive SQL", 3, "e2"}}, false);
  const std::string path = folder.Path() + "/x.journal";
  EXPECT_EXIT(std::exit(StartOnAFileCutUnderTheMapping(folder, path)), ::testing::ExitedWithCode(0), "");
}

// Bytes overwritten anywhere in a file, or a file cut short: the walk ends
// (damaged, or with what it could read) and never reads outside the file.
// Under the sanitizers a read outside it fails the test.
TEST(JournalFileReaderTest, ADamagedFileEndsTheWalkWithoutReadingOutsideIt) {
  JournalFolder folder;
  std::vector<JournalEntrySpec> entries;
  for (int i = 1; i <= 300; ++i) {
    entries.push_back(
        {i % 2 ? "Pervasive SQL" : "", 3, "Pervasive SQL: e" + std::to_string(i), "h", 0, std::string("syslog")});
  }
  WriteAs(folder, entries, true);
  const std::string good = folder.Path() + "/x.journal";
  std::ifstream in(good, std::ios::binary);
  const std::string original((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  const std::string damaged = folder.Path() + "/damaged.journal";
  std::mt19937 random(29);
  for (int round = 0; round < 300; ++round) {
    std::string bytes = original;
    if (round % 10 == 9) {
      bytes.resize(random() % bytes.size());
    } else {
      const std::size_t at = random() % bytes.size();
      for (std::size_t i = at; i < std::min(bytes.size(), at + 1 + random() % 64); ++i) {
        bytes[i] = static_cast<char>(round % 3 == 0 ? 0xff : random());
      }
    }
    std::ofstream(damaged, std::ios::binary | std::ios::trunc) << bytes;
    std::unique_ptr<JournalFileReader> reader = JournalFileReader::Open(damaged);
    if (!reader || !reader->Start("Pervasive SQL", random() % 2 ? 0 : random() % 300, std::nullopt)) continue;
    std::size_t count = 0;
    while (reader->Next()) ASSERT_LE(++count, entries.size()) << "round " << round;
  }
}

}  // namespace
}  // namespace vantrel
