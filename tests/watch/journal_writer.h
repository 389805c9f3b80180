// Journal entries written as export-format text and made into journal files
// by systemd-journal-remote: the one journal maker of the C++ tests and
// benchmarks (tests/watch/journal_folder.h builds a test's folder on it).
#pragma once

#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>

namespace vantrel::testing {

inline constexpr char kJournalRemote[] = "/lib/systemd/systemd-journal-remote";

struct JournalEntrySpec {
  std::string identifier;  // SYSLOG_IDENTIFIER; empty: none
  std::optional<int> priority;
  std::optional<std::string> message;
  std::optional<std::string> hostname = "psqlhost";
  std::uint64_t extra_usec = 0;                         // added to the entry's whole second
  std::optional<std::string> transport = std::nullopt;  // _TRANSPORT
};

// Appends one entry in export format to text: its wall-clock and monotonic
// stamps, the boot, then the fields the entry names.
inline void AppendEntryText(std::string& text, const JournalEntrySpec& e, std::int64_t realtime_usec,
                            std::uint64_t monotonic_usec, const std::string& boot) {
  text += "__REALTIME_TIMESTAMP=" + std::to_string(realtime_usec) + "\n";
  text += "__MONOTONIC_TIMESTAMP=" + std::to_string(monotonic_usec) + "\n";
  text += "_BOOT_ID=" + boot + "\n";
  if (e.hostname) text += "_HOSTNAME=" + *e.hostname + "\n";
  if (e.transport) text += "_TRANSPORT=" + *e.transport + "\n";
  if (!e.identifier.empty()) text += "SYSLOG_IDENTIFIER=" + e.identifier + "\n";
  if (e.priority) text += "PRIORITY=" + std::to_string(*e.priority) + "\n";
  if (e.message) text += "MESSAGE=" + *e.message + "\n";
  text += "\n";
}

// Appends export-format text to the journal file at path (a new file starts
// a sequence of its own); false when the writer could not be run or failed.
inline bool AppendToJournalFile(const std::string& path, const std::string& text) {
  const std::string command = std::string(kJournalRemote) + " -o '" + path + "' - 2>/dev/null";
  FILE* pipe = popen(command.c_str(), "w");
  if (pipe == nullptr) return false;
  const bool written = std::fwrite(text.data(), 1, text.size(), pipe) == text.size();
  return pclose(pipe) == 0 && written;
}

}  // namespace vantrel::testing
