// How the event log query's cost grows on Linux: a later check should cost in
// proportion to the entries written since the check before, not to the
// journal's history. Builds journals of two history sizes, appends the same
// few new entries to each, and prints the later check's time on the large
// history as a ratio of its time on the small one (near 1 is the aim), and
// both against a first check that walks the whole history. The references
// are journalctl exporting the watched source's entries from the same files:
// its errors and warnings (what a later check selects), and also its
// information entries (what the first check of an installation selects). A
// check should cost no more than that, a later one a small fraction of it.
#include <stdlib.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "tests/watch/journal_writer.h"
#include "watch/event_log_query.h"

namespace {

using vantrel::testing::kJournalRemote;

// Appends count entries (every other one of the watched source, priorities
// 3 to 6 in turn) to dir/x.journal; the first gets number `first` in its text.
bool WriteEntries(const std::string& dir, int first, int count) {
  std::string text;
  for (int i = first; i < first + count; ++i) {
    const vantrel::testing::JournalEntrySpec entry{i % 2 == 0 ? "Pervasive SQL" : "other", 3 + i % 4,
                                                   "entry " + std::to_string(i), "benchhost"};
    vantrel::testing::AppendEntryText(text, entry, 1700000000000000LL + static_cast<std::int64_t>(i) * 1000, 1000 + i,
                                      "0123456789abcdef0123456789abcdef");
  }
  return vantrel::testing::AppendToJournalFile(dir + "/x.journal", text);
}

// Best of several runs of one query, in milliseconds.
double QueryMs(const vantrel::RecordMark& start, bool first_run, vantrel::RecordMark* reached,
               std::size_t* entries_found) {
  double best = 1e300;
  for (int run = 0; run < 5; ++run) {
    vantrel::RecordMark mark = start;
    vantrel::EventRecords records;
    vantrel::SaidOnce said;
    auto t0 = std::chrono::steady_clock::now();
    vantrel::QueryEventLog(mark, records, first_run, vantrel::kDefaultSourceName, said);
    best = std::min(best, std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0).count());
    *reached = mark;
    *entries_found = records.size();
  }
  return best;
}

// Best of several runs of journalctl exporting the source's entries up to
// the given priority name, in milliseconds.
double JournalctlMs(const std::string& dir, const char* priority) {
  const std::string command =
      "journalctl -D " + dir + " -t 'Pervasive SQL' -p " + priority + " -o export >/dev/null 2>&1";
  double best = 1e300;
  for (int run = 0; run < 3; ++run) {
    auto t0 = std::chrono::steady_clock::now();
    if (std::system(command.c_str()) != 0) return -1;
    best = std::min(best, std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0).count());
  }
  return best;
}

struct Measure {
  double journalctl_warning_ms;
  double journalctl_info_ms;
  double full_ms;
  double later_ms;
  std::size_t later_entries;
};

bool Run(int history, int fresh, Measure* out) {
  char pattern[] = "/tmp/vantrel-bench-XXXXXX";
  const char* made = mkdtemp(pattern);
  if (made == nullptr) return false;
  const std::string dir = made;
  setenv("VANTREL_JOURNAL_DIR", dir.c_str(), 1);
  bool ok = WriteEntries(dir, 0, history);
  vantrel::RecordMark mark;
  std::size_t entries = 0;
  if (ok) {
    out->full_ms = QueryMs(vantrel::RecordMark(), true, &mark, &entries);
    ok = WriteEntries(dir, history, fresh);
  }
  if (ok) {
    vantrel::RecordMark reached;
    out->later_ms = QueryMs(mark, false, &reached, &out->later_entries);
    out->journalctl_warning_ms = JournalctlMs(dir, "warning");
    out->journalctl_info_ms = JournalctlMs(dir, "info");
    ok = out->journalctl_warning_ms > 0 && out->journalctl_info_ms > 0;
  }
  unsetenv("VANTREL_JOURNAL_DIR");
  std::error_code ignored;
  std::filesystem::remove_all(dir, ignored);
  return ok;
}

}  // namespace

int main() {
  constexpr int kSmall = 10000;
  constexpr int kLarge = 100000;
  constexpr int kFresh = 20;
  Measure small{};
  Measure large{};
  if (!Run(kSmall, kFresh, &small) || !Run(kLarge, kFresh, &large)) {
    std::fprintf(stderr, "could not make the journal files with %s, or run journalctl\n", kJournalRemote);
    return 1;
  }
  std::printf("history %6d: first check %8.2f ms, later check %6.3f ms (%zu entries)\n", kSmall, small.full_ms,
              small.later_ms, small.later_entries);
  std::printf("history %6d: first check %8.2f ms, later check %6.3f ms (%zu entries)\n", kLarge, large.full_ms,
              large.later_ms, large.later_entries);
  std::printf("later check, %dx history / 1x history: %.2f (first check: %.2f)\n", kLarge / kSmall,
              large.later_ms / small.later_ms, large.full_ms / small.full_ms);
  std::printf("later check / first check on %d entries: %.4f\n", kLarge, large.later_ms / large.full_ms);
  std::printf("journalctl -t 'Pervasive SQL' -o export on %d entries: -p warning %.2f ms, -p info %.2f ms\n",
              kLarge + kFresh, large.journalctl_warning_ms, large.journalctl_info_ms);
  std::printf("first check / journalctl -p warning: %.2f, / journalctl -p info (the same entries): %.2f\n",
              large.full_ms / large.journalctl_warning_ms, large.full_ms / large.journalctl_info_ms);
  std::printf("later check / journalctl -p warning: %.4f\n", large.later_ms / large.journalctl_warning_ms);
  return 0;
}
