// The mark: how far the event log has been reported. The settings keep it as
// "lastrecnum", the record number of the last entry reported (a REG_DWORD
// while it fits in 32 signed bits, a REG_QWORD above), and "lastrecpos", where that leaves the log in the event
// source's own terms (RecordMark::position), written with the number it belongs to and a check sum. Between checks the
// service holds it in memory.
//
// The ledger is the one owner of the mark: it loads both values and checks
// them against each other, holds a mark the chat has accepted until it is
// stored, keeps what a check passed over without finding anything, and
// writes the two values in one place and one order.
#pragma once

#include <cstdint>
#include <optional>
#include <utility>

#include "platform/text.h"
#include "settings/settings_key.h"
#include "watch/event_record.h"
#include "watch/said_once.h"

namespace vantrel {

class MarkLedger {
 public:
  // said: what the service has said once while it runs; the ledger notes
  // there the stored values whose position it traced as not used.
  explicit MarkLedger(SaidOnce& said) : said_(said) {}

  // Reads "lastrecnum" and "lastrecpos" from the open key. False when there
  // is no "lastrecnum" and no delivered mark waits: a first run, and the
  // mark held in memory stays. A position that cannot be read, or that was
  // written for another number, is traced and not used: the number alone
  // decides; the trace is written once for the values as they stand, not
  // at every check that finds them unchanged. A delivered mark that waits
  // to be stored stands in for the stored one; so does the mark a check
  // without new entries reached, as long as the settings hold what they
  // held then. A "lastrecnum" of the wrong type raises as any setting does;
  // a "lastrecpos" that is no text is a position that cannot be read.
  bool Load(SettingsKey& reg);

  // The mark the next query starts from.
  const RecordMark& Mark() const { return mark_; }

  // The query moved the mark to reached; found: it took entries.
  void Reached(RecordMark reached, bool found);

  // The chat accepted the notice of the entries up to the mark reached: it
  // is held until a store succeeds, so they are not posted again.
  void Delivered() { delivered_ = mark_; }
  // A mark that could not be stored (a first run's): held as a delivered one
  // until a store succeeds, so the next check is no first run and starts
  // from it.
  void HoldUnstored(RecordMark mark) { delivered_ = std::move(mark); }
  const std::optional<RecordMark>& DeliveredMark() const { return delivered_; }

  // What a first run that found nothing stores before its start notice:
  // the number 0, with the position reached where it says more than the
  // number (the journal's sequences, all of them now known).
  RecordMark FirstRunMark() const;

  // The settings now hold mark; a delivered mark it stands for is done.
  void Stored(const RecordMark& mark);

  // Writes mark to the open key: "lastrecnum" first, then "lastrecpos" (when
  // the mark has a position, or an earlier one must not stay beside the new
  // number). A store cut off between the two leaves the new number beside a
  // position written for another, which is then not used. A failed write
  // raises.
  static void Write(SettingsKey& reg, const RecordMark& mark);

  // What a store whose key cannot be opened raises: the failure of its first
  // write ("Failed to set data for 'lastrecnum'").
  static SettingsKeyError StoreFailure();

 private:
  // The two values as the settings hold them.
  struct StoredValues {
    std::int64_t number = 0;
    String position;
    bool operator==(const StoredValues&) const = default;
  };

  RecordMark mark_;
  std::optional<RecordMark> delivered_;
  std::optional<StoredValues> loaded_;  // as last loaded or stored
  // The mark reached by checks that found nothing since loaded_ was read.
  std::optional<std::pair<StoredValues, RecordMark>> passed_;
  SaidOnce& said_;
};

}  // namespace vantrel
