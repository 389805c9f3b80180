#include "service/mark_ledger.h"

#include <algorithm>
#include <climits>
#include <optional>
#include <string_view>

#include "watch/event_log_query.h"
#include "watch/record_position.h"

namespace vantrel {

namespace {

constexpr char16_t kNumberName[] = u"lastrecnum";
constexpr char16_t kPositionName[] = u"lastrecpos";

// FNV-1a over the UTF-16 code units, as 8 hexadecimal digits: enough to
// tell a position edited by hand from one the service wrote.
String CheckSum(std::u16string_view text) {
  std::uint32_t hash = 2166136261u;
  for (char16_t c : text) {
    for (int shift : {0, 8}) {
      hash ^= static_cast<std::uint8_t>(c >> shift);
      hash *= 16777619u;
    }
  }
  static constexpr char16_t kDigits[] = u"0123456789abcdef";
  String digits(8, u'0');
  for (int i = 7; i >= 0; --i, hash >>= 4) digits[static_cast<std::size_t>(i)] = kDigits[hash & 15];
  return digits;
}

// "lastrecpos" as written: the position bound to its number
// (NumberedPosition), then ":" and its check sum.
String Sealed(const RecordMark& mark) {
  const String body = NumberedPosition(mark);
  return body + u":" + CheckSum(body);
}

// What a stored "lastrecpos" holds under its seal; nothing when it is not
// one the service wrote, as it stands.
std::optional<std::u16string_view> Unsealed(std::u16string_view stored) {
  const std::size_t last = stored.rfind(u':');
  if (last == std::u16string_view::npos || CheckSum(stored.substr(0, last)) != stored.substr(last + 1)) {
    return std::nullopt;
  }
  return stored.substr(0, last);
}

// The position a stored "lastrecpos" holds for the number; the reason it is
// not used when it is not one the service wrote, as it stands, or was
// written for another number.
PositionForNumber StoredPositionOf(const String& stored, std::int64_t number) {
  const std::optional<std::u16string_view> body = Unsealed(stored);
  if (!body) return {String(), u"it cannot be read"};
  return PositionOf(*body, number);
}

}  // namespace

bool MarkLedger::Load(SettingsKey& reg) {
  const bool stored_mark = reg.ValueExists(kNumberName);
  if (!stored_mark) {
    loaded_.reset();
    passed_.reset();
  } else {
    StoredValues stored{reg.ReadInteger64(kNumberName), String()};
    String why;
    if (reg.ValueExists(kPositionName)) {
      try {
        stored.position = reg.ReadString(kPositionName);
      } catch (const SettingsKeyError&) {
        why = u"it cannot be read";
      }
    }
    RecordMark mark{stored.number, String()};
    if (!stored.position.empty()) {
      PositionForNumber used = StoredPositionOf(stored.position, stored.number);
      mark.position = std::move(used.position);
      why = std::move(used.why_not_used);
    }
    if (passed_ && passed_->first == stored) {
      mark = passed_->second;  // nothing new came between
    } else {
      passed_.reset();
      if (!why.empty() && said_.First(u"lastrecpos", IntToStr(stored.number) + u'\n' + stored.position)) {
        TraceUnusedPosition(why, stored.number);
      }
    }
    mark_ = std::move(mark);
    loaded_ = std::move(stored);
  }
  // Entries the chat has accepted are never posted again by this process,
  // also when their mark could not be stored: the delivered mark stands in
  // for the stored one, and a start notice has gone out with it.
  if (delivered_) mark_ = *delivered_;
  return stored_mark || delivered_;
}

void MarkLedger::Reached(RecordMark reached, bool found) {
  mark_ = std::move(reached);
  if (found) return;
  // Nothing found: where the query got to holds nothing to report, so the
  // next check may start there while the settings stay as they were.
  if (delivered_) delivered_ = mark_;
  if (loaded_) passed_.emplace(*loaded_, mark_);
}

RecordMark MarkLedger::FirstRunMark() const {
  return RecordMark{0, PositionStandsAlone(mark_.position) ? mark_.position : String()};
}

void MarkLedger::Stored(const RecordMark& mark) {
  loaded_ = StoredValues{mark.number, mark.position.empty() ? String() : Sealed(mark)};
  passed_.reset();
  if (delivered_ == mark) delivered_.reset();
}

SettingsKeyError MarkLedger::StoreFailure() { return SetDataFailure(kNumberName); }

void MarkLedger::Write(SettingsKey& reg, const RecordMark& mark) {
  if (mark.number >= INT32_MIN && mark.number <= INT32_MAX) {
    reg.WriteInteger(kNumberName, static_cast<std::int32_t>(mark.number));
  } else {
    reg.WriteInteger64(kNumberName, mark.number);
  }
  if (!mark.position.empty()) {
    reg.WriteString(kPositionName, Sealed(mark));
  } else if (reg.ValueExists(kPositionName)) {
    reg.WriteString(kPositionName, String());
  }
}

}  // namespace vantrel
