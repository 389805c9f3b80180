// Journal files made for a test (tests/watch/journal_writer.h), in a folder
// that the event source reads.
#pragma once

#include <gtest/gtest.h>
#include <stdlib.h>
#include <time.h>

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <vector>

#include "tests/watch/journal_writer.h"
#include "watch/journal/journal_format_linux.h"

namespace vantrel::testing {

inline constexpr std::uint64_t kFirstStamp = 1700000000000000;  // 2023-11-14 22:13:20 UTC
inline constexpr char kTestBoot[] = "0123456789abcdef0123456789abcdef";
inline constexpr std::int64_t kHourUsec = 3600LL * 1000000;

// How a batch of entries is written: in which boot, and how far the wall
// clock of the writing machine was off (it is what __REALTIME_TIMESTAMP
// records).
struct WriteOptions {
  std::string boot = kTestBoot;
  std::int64_t clock_off_usec = 0;
};

// The boot the tests run in, as a journal writes it.
inline std::string RunningBoot() {
  std::ifstream file("/proc/sys/kernel/random/boot_id");
  std::string id;
  std::getline(file, id);
  std::string hex;
  for (char c : id) {
    if (c != '-') hex += c;
  }
  return hex;
}

// A folder of journal files that lives as long as the test, named to the
// query by VANTREL_JOURNAL_DIR, with the local time zone set to tz.
class JournalFolder {
 public:
  explicit JournalFolder(const char* tz = "UTC0") {
    char pattern[] = "/tmp/vantrel-journal-XXXXXX";
    dir_ = mkdtemp(pattern);
    setenv("VANTREL_JOURNAL_DIR", dir_.c_str(), 1);
    const char* old_tz = getenv("TZ");
    if (old_tz != nullptr) old_tz_ = old_tz;
    setenv("TZ", tz, 1);
    tzset();
  }
  ~JournalFolder() {
    unsetenv("VANTREL_JOURNAL_DIR");
    if (old_tz_) {
      setenv("TZ", old_tz_->c_str(), 1);
    } else {
      unsetenv("TZ");
    }
    tzset();
    std::error_code ignored;
    std::filesystem::remove_all(dir_, ignored);
  }

  const std::string& Path() const { return dir_; }

  // Appends entries to a journal file of the folder, one second after the
  // last written (as the clock of options says). A new file starts a
  // sequence of its own, numbered from 1, as a journal does after its files
  // were removed, after a reboot, or when a second journald writes.
  void Write(const std::vector<JournalEntrySpec>& entries, const std::string& file = "x.journal",
             const WriteOptions& options = {}) {
    std::string text;
    for (const JournalEntrySpec& e : entries) {
      const std::int64_t stamp =
          static_cast<std::int64_t>(kFirstStamp + written_ * 1000000 + e.extra_usec) + options.clock_off_usec;
      AppendEntryText(text, e, stamp, 1000000 + written_, options.boot);
      ++written_;
    }
    ASSERT_TRUE(AppendToJournalFile(dir_ + "/" + file, text)) << kJournalRemote << " -o " << dir_ << "/" << file;
  }

  // Makes the next entry appended to the file take number last + 1, as on a
  // host whose journal has counted that many entries: the file header's
  // tail_entry_seqnum, which the writer continues from.
  void RaiseSequence(std::uint64_t last, const std::string& file = "x.journal") {
    unsigned char bytes[8];
    for (int i = 0; i < 8; ++i) bytes[i] = static_cast<unsigned char>(last >> (8 * i));
    PatchHeader(file, journal_format::kTailSeqnum, std::string(reinterpret_cast<char*>(bytes), 8));
  }

  // Makes file one of the sequence of `of`, as journald writes a user's
  // file beside the system's with one numbering (systemd 257): the header's
  // seqnum_id. Its entries keep their numbers.
  void JoinSequence(const std::string& file, const std::string& of) {
    std::ifstream from(dir_ + "/" + of, std::ios::binary);
    std::string id(16, '\0');
    from.seekg(journal_format::kSeqnumId);
    ASSERT_TRUE(from.read(id.data(), 16));
    PatchHeader(file, journal_format::kSeqnumId, id);
  }

  // Marks file open for writing (header state online), as journald leaves
  // its files between syncs.
  void SetOnline(const std::string& file) { PatchHeader(file, journal_format::kState, std::string(1, '\1')); }

  // Sets an incompatible flag that no reader knows (as a newer journald
  // writes), so that neither this program nor the library opens the file.
  void SetUnknownIncompatibleFlag(const std::string& file) {
    std::ifstream from(dir_ + "/" + file, std::ios::binary);
    std::string flags(4, '\0');
    from.seekg(journal_format::kIncompatibleFlags);
    ASSERT_TRUE(from.read(flags.data(), 4));
    flags[3] = static_cast<char>(flags[3] | 0x40);
    PatchHeader(file, journal_format::kIncompatibleFlags, flags);
  }

  // Writes bytes over the file's header at offset.
  void PatchHeader(const std::string& file, std::uint64_t offset, const std::string& bytes) {
    FILE* f = std::fopen((dir_ + "/" + file).c_str(), "r+b");
    ASSERT_NE(f, nullptr);
    ASSERT_EQ(std::fseek(f, static_cast<long>(offset), SEEK_SET), 0);
    ASSERT_EQ(std::fwrite(bytes.data(), 1, bytes.size(), f), bytes.size());
    ASSERT_EQ(std::fclose(f), 0);
  }

 private:
  std::string dir_;
  std::optional<std::string> old_tz_;
  std::uint64_t written_ = 0;
};

}  // namespace vantrel::testing
