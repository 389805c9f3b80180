#include "watch/journal/journal_files_linux.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <functional>
#include <memory>
#include <string_view>
#include <system_error>

#include "platform/unique_fd.h"
#include "watch/journal/journal_format_linux.h"
#include "watch/journal/journal_test_seam_linux.h"

namespace vantrel {

namespace testing_seam {
namespace {
std::function<void()> g_between_names_and_open;
}  // namespace
void SetBetweenJournalNamesAndOpen(std::function<void()> hook) { g_between_names_and_open = std::move(hook); }
}  // namespace testing_seam

namespace {

using namespace journal_format;

std::string Hex(const unsigned char* bytes, std::size_t count) {
  static constexpr char kDigits[] = "0123456789abcdef";
  std::string text;
  for (std::size_t i = 0; i < count; ++i) {
    text += kDigits[bytes[i] >> 4];
    text += kDigits[bytes[i] & 15];
  }
  return text;
}

bool IsJournalFileName(std::string_view name) { return name.ends_with(".journal") || name.ends_with(".journal~"); }

bool IsId128(std::string_view name) {
  return name.size() == 32 &&
         std::all_of(name.begin(), name.end(), [](char c) { return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'); });
}

// The names in a folder; none when it cannot be read.
std::vector<std::string> Names(const std::string& folder) {
  std::vector<std::string> names;
  const std::unique_ptr<DIR, int (*)(DIR*)> dir(opendir(folder.c_str()), closedir);
  if (!dir) return names;
  while (const dirent* entry = readdir(dir.get())) names.emplace_back(entry->d_name);
  std::sort(names.begin(), names.end());
  return names;
}

// What reading one listed name gave: a journal file, nothing to read, or a
// failure to read what is there.
struct ReadResult {
  std::optional<JournalFileHeader> file;
  std::optional<std::string> failure;
};

std::string CannotRead(const std::string& path, int error) {
  return "Cannot read the journal file " + path + ": " + std::system_category().message(error);
}

ReadResult ReadHeaderOf(const std::string& path) {
  UniqueFd fd = OpenForReading(path);
  if (!fd) {
    // Removed (archived, vacuumed) since it was listed: nothing to read.
    if (errno == ENOENT) return {};
    return {std::nullopt, CannotRead(path, errno)};
  }
  struct stat info {};
  if (fstat(fd.get(), &info) != 0) return {std::nullopt, CannotRead(path, errno)};
  if (!S_ISREG(info.st_mode)) return {};
  unsigned char header[kListedHeader];
  const ssize_t got = pread(fd.get(), header, sizeof header, 0);
  if (got < 0) return {std::nullopt, CannotRead(path, errno)};
  if (got != static_cast<ssize_t>(sizeof header) || !HasSignature(header) ||
      Le64(header + kHeaderSize) < kListedHeader) {
    return {};
  }
  JournalFileHeader file{path,
                         std::move(fd),
                         Hex(header + kSeqnumId, 16),
                         Le64(header + kHeadSeqnum),
                         Le64(header + kTailSeqnum),
                         Hex(header + kTailBootId, 16),
                         header[kState] == 1};
  if (Le64(header + kEntryCount) == 0 || file.tail == 0 || file.head > file.tail) return {};
  return {std::move(file), std::nullopt};
}

// The journal files of a root folder and of its machine folders (of
// only_machine when it is given), by path, as the folders list them now.
void AddPathsOf(const std::string& root, const std::string& only_machine, std::vector<std::string>& paths) {
  const std::vector<std::string> names = Names(root);
  for (const std::string& name : names) {
    if (IsJournalFileName(name)) paths.push_back(root + "/" + name);
  }
  for (const std::string& name : names) {
    if (IsId128(name) && (only_machine.empty() || name == only_machine)) {
      const std::string machine = root + "/" + name;
      for (const std::string& file : Names(machine)) {
        if (IsJournalFileName(file)) paths.push_back(machine + "/" + file);
      }
    }
  }
}

std::string LocalMachineId() {
  std::ifstream file("/etc/machine-id");
  std::string id;
  std::getline(file, id);
  return IsId128(id) ? id : std::string("-");
}

}  // namespace

std::optional<JournalFileHeader> ReadJournalFileHeader(const std::string& path) {
  return std::move(ReadHeaderOf(path).file);
}

JournalListing ListJournalFiles(const std::string& folder) {
  const auto paths_now = [&folder] {
    std::vector<std::string> paths;
    if (!folder.empty()) {
      AddPathsOf(folder, std::string(), paths);
    } else {
      const std::string machine = LocalMachineId();
      AddPathsOf("/run/log/journal", machine, paths);
      AddPathsOf("/var/log/journal", machine, paths);
    }
    return paths;
  };
  // journald archives a file by renaming it and putting a new one under its
  // name. A name read before that and opened after it stands for the new
  // file, and the archived one would be missed: so the names are read again
  // once the files are open, and while they changed the files are listed
  // again (a few times at most; journald does not rotate that often).
  constexpr int kTries = 4;
  for (int attempt = 1;; ++attempt) {
    const std::vector<std::string> paths = paths_now();
    if (const std::function<void()> hook = testing_seam::g_between_names_and_open) hook();  // it may replace itself
    JournalListing listing;
    for (const std::string& path : paths) {
      ReadResult read = ReadHeaderOf(path);
      if (read.file) listing.files.push_back(std::move(*read.file));
      if (read.failure) listing.failures.push_back(std::move(*read.failure));
    }
    if (attempt == kTries || paths_now() == paths) return listing;
  }
}

}  // namespace vantrel
