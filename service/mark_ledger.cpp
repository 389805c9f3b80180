#include "service/mark_ledger.h"

#include <algorithm>
#include <climits>
#include <tuple>
#include <string_view>

#include "platform/whole_number.h"
#include "watch/event_log_query.h"

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

// "lastrecpos" as written: "<number>:<position>:<check sum>".
String Sealed(const RecordMark& mark) {
  const String body = IntToStr(mark.number) + u":" + mark.position;
  return body + u":" + CheckSum(body);
}

// A decimal or hexadecimal number that is the whole of text.
std::optional<std::int64_t> NumberOf(std::u16string_view text, int base) {
  return WholeNumber<std::int64_t>(ToUtf8(text), base);
}

// The position a stored "lastrecpos" holds for the number; the reason it is
// not used when it is not one the service wrote, as it stands, or was
// written for another number.
std::pair<String, String> Unsealed(const String& stored, std::int64_t number) {
  std::optional<std::int64_t> for_number;
  String position;
  const std::size_t first = stored.find(u':'), last = stored.rfind(u':');
  if (first != String::npos && last != first &&
      CheckSum(std::u16string_view(stored).substr(0, last)) == std::u16string_view(stored).substr(last + 1)) {
    for_number = NumberOf(std::u16string_view(stored).substr(0, first), 10);
    position = stored.substr(first + 1, last - first - 1);
  }
  if (!for_number) return {String(), u"it cannot be read"};
  if (*for_number != number) return {String(), u"it is for record " + IntToStr(*for_number)};
  return {position, String()};
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
    if (!stored.position.empty()) std::tie(mark.position, why) = Unsealed(stored.position, stored.number);
    if (passed_ && passed_->first == stored) {
      mark = passed_->second;  // nothing new came between
    } else {
      passed_.reset();
      if (!why.empty() && traced_ != stored) TraceUnusedPosition(why, stored.number);
      if (!why.empty()) traced_ = stored;
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
  return RecordMark{0, IsRecordIdentity(mark_.position) ? String() : mark_.position};
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
