// Which journal entries are new, decided by what identifies them and never
// by their times. The journal numbers its entries per sequence: one journald
// writes one sequence, numbered from 1, across all its files; a reboot with a
// volatile journal, a journald that lost its files or a second journald
// starts another. So an entry is new when its sequence is known and its
// number is above that sequence's mark, or when its sequence was never seen.
//
// The marks live in the position stored beside the record number, at most
// kBound sequences. When the journal holds more at once, some are left out:
// first those it no longer holds, then those not written in the running
// boot, and among them the ones that moved on longest ago. The marks list
// each sequence left out that the journal still holds (up to kLeftBound of
// them) by its first digits, with its mark: its entries above the mark are
// new, as in a known one. A sequence neither known nor listed was never
// seen, and all of it is new. Only when the list overflows ("forgot", until
// every sequence of the journal is known again) does any unknown sequence
// count only its entries of the running boot.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace vantrel {

// One sequence as the journal holds it at a check.
struct JournalSequence {
  std::string id;          // 32 hexadecimal digits
  std::uint64_t tail = 0;  // the highest number its files hold
  bool this_boot = false;  // the last entry of one of its files was written in the running boot
};

class SequenceMarks {
 public:
  static constexpr std::size_t kBound = 16;
  static constexpr std::size_t kLeftBound = 48;  // sequences noted as left out for the bound

  // What a check does with one sequence of the journal.
  enum class Action {
    kSkip,              // nothing in it is new
    kReadAbove,         // its entries above `above` are new
    kReadIfOfThisBoot,  // its entries of the running boot are new, the others not
  };
  struct Plan {
    Action action = Action::kSkip;
    std::uint64_t above = 0;
    bool operator==(const Plan&) const = default;
  };

  // Nothing known: every sequence is new.
  SequenceMarks() = default;

  // The number rule alone, for settings without a position: an entry is new
  // when its number is above `number`, whatever its sequence.
  static SequenceMarks NumberRule(std::int64_t number);

  // The marks of a stored position: the text Text() writes; an empty text
  // is the number rule for `number`. Nothing when the text is not one Text()
  // writes.
  static std::optional<SequenceMarks> Read(std::string_view text, std::int64_t number);

  // What this check does with one sequence of the journal.
  Plan PlanFor(const JournalSequence& sequence) const;

  // Notes that the check dealt with every entry of the sequence up to
  // `through`: its mark moves there, never back.
  void Advance(const std::string& id, std::uint64_t through);

  // Ends the check: the sequences of the journal written in the running boot
  // come first, then its others, then the ones it no longer holds; within
  // each, those that moved on come first, the newest first, then the others
  // as they were. Past kBound the last are left out. complete
  // is false when the check ended before dealing with every sequence: the
  // number rule (if any) then stays for the ones it did not reach.
  void Finish(const std::vector<JournalSequence>& present, bool complete);

  // The marks as stored: "<id>=<mark>" for each known sequence, newest
  // first, then "floor=<number>" while the number rule stays,
  // "left=<8 digits>:<mark>.<8 digits>:<mark>..." for the sequences left
  // out, and "forgot"
  // while the list of them overflowed, separated by commas. Empty for the
  // number rule alone.
  std::string Text() const;

 private:
  struct Known {
    std::string id;
    std::uint64_t mark = 0;
  };

  const Known* Find(std::string_view id) const;
  const Known* FindLeft(std::string_view id) const;  // by the first digits of id

  std::vector<Known> known_;           // newest first
  std::optional<std::int64_t> floor_;  // the number rule for sequences not known
  std::vector<Known> left_;            // the sequences of the journal left out for the bound, by their first digits
  bool forgot_ = false;                // more were left out than the list holds
  std::vector<std::string> advanced_;  // this check's, in the order they moved on
};

}  // namespace vantrel
