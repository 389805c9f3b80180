#include <gtest/gtest.h>

#include "module_fakes.h"
#include "service/mark_ledger.h"

namespace vantrel {
namespace {

using testing::MemoryKey;
using testing::TraceRecorder;

const std::string kCursor5 = "s=0123456789abcdef0123456789abcdef;i=5;b=fedcba9876543210fedcba9876543210;m=1;t=2;x=3";

// The two values as a store of mark leaves them in a key.
std::map<String, MemoryKey::Value> Written(const RecordMark& mark) {
  MemoryKey key;
  SettingsKey reg(key.Factory()());
  EXPECT_TRUE(reg.OpenKey());
  MarkLedger::Write(reg, mark);
  return key.values;
}

// What Load makes of the values in the key, and what it traces.
struct Loaded {
  RecordMark mark;
  std::vector<std::string> trace;
};
Loaded LoadFrom(MarkLedger& ledger, MemoryKey& key) {
  TraceRecorder trace;
  SettingsKey reg(key.Factory()());
  EXPECT_TRUE(reg.OpenKey());
  ledger.Load(reg);
  return {ledger.Mark(), trace.lines};
}

// A position is used only when it was written for the stored number;
// anything else leaves the number alone to decide, and says why.
TEST(MarkLedgerTest, APositionIsUsedOnlyForItsOwnNumber) {
  const RecordMark sealed{5, u"0123456789abcdef0123456789abcdef=5"};
  const auto edited = [&sealed](std::size_t at, char16_t c) {
    MemoryKey key;
    key.values = Written(sealed);
    SettingsKey reg(key.Factory()());
    EXPECT_TRUE(reg.OpenKey());
    String text = reg.ReadString(u"lastrecpos");
    text[at] = c;
    return MemoryKey::Sz(text);
  };
  struct Row {
    const char* name;
    MemoryKey::Value number;
    std::optional<MemoryKey::Value> position;
    RecordMark expected;
    std::vector<std::string> trace;
  } rows[] = {
      {"no position", MemoryKey::Dword(5), std::nullopt, {5, String()}, {}},
      {"an empty position", MemoryKey::Dword(5), MemoryKey::Sz(String()), {5, String()}, {}},
      {"as the ledger wrote it", MemoryKey::Dword(5), Written(sealed).at(u"lastrecpos"), sealed, {}},
      {"as the ledger wrote it, past 31 bits",
       MemoryKey::Qword(0x1'0000'0005),
       Written({0x1'0000'0005, u"p"}).at(u"lastrecpos"),
       {0x1'0000'0005, u"p"},
       {}},
      {"the number changed by hand",
       MemoryKey::Dword(6),
       Written(sealed).at(u"lastrecpos"),
       {6, String()},
       {"lastrecpos not used=it is for record 5; the number 6 alone decides"}},
      {"the position changed by hand",
       MemoryKey::Dword(5),
       edited(4, u'f'),
       {5, String()},
       {"lastrecpos not used=it cannot be read; the number 5 alone decides"}},
      {"a journal cursor, a form the service never wrote",
       MemoryKey::Dword(5),
       MemoryKey::Sz(FromUtf8(kCursor5)),
       {5, String()},
       {"lastrecpos not used=it cannot be read; the number 5 alone decides"}},
      {"text that is nothing",
       MemoryKey::Dword(5),
       MemoryKey::Sz(u"tomorrow"),
       {5, String()},
       {"lastrecpos not used=it cannot be read; the number 5 alone decides"}},
      {"not text",
       MemoryKey::Dword(5),
       MemoryKey::Dword(5),
       {5, String()},
       {"lastrecpos not used=it cannot be read; the number 5 alone decides"}},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    MemoryKey key;
    key.values[u"lastrecnum"] = row.number;
    if (row.position) key.values[u"lastrecpos"] = *row.position;
    SaidOnce said;
    MarkLedger ledger(said);
    const Loaded loaded = LoadFrom(ledger, key);
    EXPECT_EQ(loaded.mark, row.expected) << ToUtf8(loaded.mark.position);
    EXPECT_EQ(loaded.trace, row.trace);
  }
}

// A position that is not used is traced once while the settings stay as
// they are, whatever the checks in between did; another unusable value is
// traced again, a good store ends it.
TEST(MarkLedgerTest, AnUnusablePositionIsTracedOnce) {
  MemoryKey key;
  key.values[u"lastrecnum"] = MemoryKey::Dword(7);
  key.values[u"lastrecpos"] = MemoryKey::Sz(u"edited by hand");
  SaidOnce said;
  MarkLedger ledger(said);
  EXPECT_EQ(LoadFrom(ledger, key).trace.size(), 1u);
  ledger.Reached({9, u"found"}, true);  // entries found, their notice refused: nothing stored
  EXPECT_EQ(LoadFrom(ledger, key).trace, std::vector<std::string>{}) << "the next check";
  ledger.Reached({7, u"nothing"}, false);
  EXPECT_EQ(LoadFrom(ledger, key).mark, (RecordMark{7, u"nothing"})) << "where the check without entries got to";

  key.values[u"lastrecpos"] = MemoryKey::Sz(u"edited again");
  EXPECT_EQ(LoadFrom(ledger, key).trace.size(), 1u);

  const RecordMark stored{12, u"good"};
  {
    SettingsKey reg(key.Factory()());
    ASSERT_TRUE(reg.OpenKey());
    MarkLedger::Write(reg, stored);
  }
  ledger.Stored(stored);
  const Loaded after = LoadFrom(ledger, key);
  EXPECT_EQ(after.mark, stored);
  EXPECT_TRUE(after.trace.empty());
}

// The number goes first, so a store cut off between the two values leaves
// a position that names another number: it is not used.
TEST(MarkLedgerTest, AStoreCutOffBetweenTheValuesLeavesTheNumberToDecide) {
  MemoryKey key;
  key.values = Written({5, u"five"});
  key.writable_values = 1;
  {
    SettingsKey reg(key.Factory()());
    ASSERT_TRUE(reg.OpenKey());
    EXPECT_THROW(MarkLedger::Write(reg, {9, u"nine"}), SettingsKeyError);
  }
  SaidOnce said;
  MarkLedger ledger(said);
  const Loaded loaded = LoadFrom(ledger, key);
  EXPECT_EQ(loaded.mark, (RecordMark{9, String()}));
  EXPECT_EQ(loaded.trace,
            std::vector<std::string>{"lastrecpos not used=it is for record 5; the number 9 alone decides"});
}

}  // namespace
}  // namespace vantrel
