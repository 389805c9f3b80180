// The store's value rules (types, sizes, NUL cut, messages) against the
// build's real settings key: the registry on Windows, the settings file on
// Linux. Every value is written with the backend's own call, then read
// through a registry-access object as the check cycle reads it.
#include <gtest/gtest.h>

#include <climits>
#include <functional>
#include <optional>

#include "scratch_key.h"
#include "settings/reg_value_bytes.h"
#include "settings/settings_key.h"

namespace vantrel {
namespace {

using Bytes = std::vector<std::uint8_t>;

// What a read gave: the text or number read, or "error: " and the message.
template <typename Read>
std::string Outcome(Read read) {
  try {
    return read();
  } catch (const SettingsKeyError& e) {
    return "error: " + ToUtf8(e.Message());
  }
}

// Stores a value as another writer of the key would, through a backend of
// its own that is closed again before the value is read.
void WriteThroughNewBackend(const String& name, std::uint32_t type, const Bytes& data) {
  auto writer = NewSettingsKeyBackend();
  ASSERT_EQ(writer->CreateKey(), kRegSuccess);
  ASSERT_EQ(writer->SetValue(name, type, data), kRegSuccess);
  writer->CloseKey();
}

constexpr const char* kGetFailed = "error: Failed to get data for 'x'";
constexpr const char* kInvalidType = "error: Invalid data type for 'x'";

TEST(ValueRulesTest, EveryTypeAndSizeReadsAsTheStoreSays) {
  struct Row {
    const char* name;
    std::uint32_t type;
    Bytes data;
    const char* read_string;   // the text, or the error
    const char* read_integer;  // the number, or the error; nullptr: not defined
  } rows[] = {
      {"REG_SZ text", kRegSz, SzBytes(u"https://chat/hooks/a"), "https://chat/hooks/a", kGetFailed},
      {"REG_SZ of one character is 4 bytes", kRegSz, SzBytes(u"7"), "7", kInvalidType},
      {"REG_SZ of two characters is 6 bytes", kRegSz, SzBytes(u"42"), "42", kGetFailed},
      {"REG_SZ lone NUL", kRegSz, SzBytes(u""), "", kInvalidType},
      {"REG_SZ without data", kRegSz, {}, "", kInvalidType},
      {"REG_SZ with a NUL in the middle", kRegSz, SzBytes(std::u16string_view(u"ab\0cd", 5)), "ab", kGetFailed},
      {"REG_SZ beyond ASCII", kRegSz, SzBytes(u"Kärkölä €"), "Kärkölä €", kGetFailed},
      {"REG_EXPAND_SZ stays unexpanded", kRegExpandSz, SzBytes(u"%SystemRoot%\\x"), "%SystemRoot%\\x", kGetFailed},
      {"REG_EXPAND_SZ lone NUL", kRegExpandSz, SzBytes(u""), "", kInvalidType},
      {"REG_DWORD", kRegDword, DwordBytes(42), kInvalidType, "42"},
      {"REG_DWORD 0xFFFFFFFF is -1", kRegDword, DwordBytes(0xFFFFFFFF), kInvalidType, "-1"},
      {"REG_DWORD 0x80000000", kRegDword, DwordBytes(0x80000000), kInvalidType, "-2147483648"},
      {"REG_DWORD without data", kRegDword, {}, "", nullptr},
      {"REG_DWORD of 8 bytes", kRegDword, Bytes(8, 1), kInvalidType, kGetFailed},
      {"REG_QWORD", kRegQword, Bytes{1, 0, 0, 0, 0, 0, 0, 0}, kInvalidType, kGetFailed},
      {"REG_BINARY of 4 bytes", kRegBinary, DwordBytes(7), kInvalidType, kInvalidType},
      {"REG_BINARY without data", kRegBinary, {}, "", kInvalidType},
      {"REG_MULTI_SZ", kRegMultiSz, Utf16LeBytes(std::u16string_view(u"a\0b\0\0", 5)), kInvalidType, kGetFailed},
      {"REG_NONE without data", kRegNone, {}, "", kInvalidType},
      {"REG_DWORD_BIG_ENDIAN", 5, DwordBytes(7), kInvalidType, kInvalidType},
  };
  testing::ScratchKey scratch({u"x"});
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    ASSERT_NO_FATAL_FAILURE(WriteThroughNewBackend(u"x", row.type, row.data));
    SettingsKey reg(NewSettingsKeyBackend());
    ASSERT_TRUE(reg.OpenKey());
    EXPECT_TRUE(reg.ValueExists(u"x"));
    EXPECT_EQ(Outcome([&] { return ToUtf8(reg.ReadString(u"x")); }), row.read_string);
    if (row.read_integer) {
      EXPECT_EQ(Outcome([&] { return std::to_string(reg.ReadInteger(u"x")); }), row.read_integer);
    }
    reg.CloseKey();
  }
}

// The mark ("lastrecnum") is read as a 64-bit number from a REG_QWORD of
// exactly 8 bytes; every other value as the 32-bit integer, with its rules.
TEST(ValueRulesTest, TheMarkReadsAQwordOfEightBytesAloneAsSixtyFourBits) {
  struct Row {
    const char* name;
    std::uint32_t type;
    Bytes data;
    const char* read;  // the number, or the error
  } rows[] = {
      {"REG_QWORD of 8 bytes", kRegQword, QwordBytes(0x123456789ull), "4886718345"},
      {"REG_QWORD of 8 bytes, top bit set", kRegQword, QwordBytes(0xFFFFFFFFFFFFFFF9ull), "-7"},
      {"REG_QWORD of 4 bytes", kRegQword, DwordBytes(7), kInvalidType},
      {"REG_QWORD of 2 bytes", kRegQword, Bytes{7, 0}, kInvalidType},
      {"REG_QWORD of 9 bytes", kRegQword, Bytes(9, 1), kGetFailed},
      {"REG_QWORD without data", kRegQword, {}, kInvalidType},
      {"REG_DWORD", kRegDword, DwordBytes(42), "42"},
      {"REG_SZ", kRegSz, SzBytes(u"42"), kGetFailed},
  };
  testing::ScratchKey scratch({u"x"});
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    ASSERT_NO_FATAL_FAILURE(WriteThroughNewBackend(u"x", row.type, row.data));
    SettingsKey reg(NewSettingsKeyBackend());
    ASSERT_TRUE(reg.OpenKey());
    EXPECT_EQ(Outcome([&] { return std::to_string(reg.ReadInteger64(u"x")); }), row.read);
    reg.CloseKey();
  }
}

TEST(ValueRulesTest, AMissingValueDoesNotExistReadsEmptyAndFailsAsInteger) {
  testing::ScratchKey scratch({u"x"});
  SettingsKey reg(NewSettingsKeyBackend());
  ASSERT_TRUE(reg.OpenKey());
  EXPECT_FALSE(reg.ValueExists(u"x"));
  EXPECT_EQ(reg.ReadString(u"x"), u"");
  EXPECT_EQ(Outcome([&] { return std::to_string(reg.ReadInteger(u"x")); }), kGetFailed);
}

TEST(ValueRulesTest, WritesStoreRegSzWithItsNulAndRegDword) {
  struct Row {
    const char* name;
    std::function<void(SettingsKey&)> write;
    std::uint32_t type;
    Bytes data;
  } rows[] = {
      {"string", [](SettingsKey& r) { r.WriteString(u"x", u"Demo ä"); }, kRegSz, SzBytes(u"Demo ä")},
      {"empty string", [](SettingsKey& r) { r.WriteString(u"x", u""); }, kRegSz, Bytes{0, 0}},
      {"integer", [](SettingsKey& r) { r.WriteInteger(u"x", 42); }, kRegDword, DwordBytes(42)},
      {"negative integer", [](SettingsKey& r) { r.WriteInteger(u"x", -1); }, kRegDword, DwordBytes(0xFFFFFFFF)},
      {"string over an integer", [](SettingsKey& r) { r.WriteString(u"x", u"a"); }, kRegSz, SzBytes(u"a")},
  };
  testing::ScratchKey scratch({u"x"});
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    {
      SettingsKey reg(NewSettingsKeyBackend());
      ASSERT_TRUE(reg.OpenKey());
      row.write(reg);
      reg.CloseKey();
    }
    auto reader = NewSettingsKeyBackend();
    ASSERT_EQ(reader->CreateKey(), kRegSuccess);
    std::uint32_t type = 0, size = 64;
    Bytes data(size);
    ASSERT_EQ(reader->QueryValue(u"x", &type, data.data(), &size), kRegSuccess);
    data.resize(size);
    EXPECT_EQ(type, row.type);
    EXPECT_EQ(data, row.data);
  }
}

TEST(ValueRulesTest, AQueryIntoATooSmallBufferAsksForMoreData) {
  testing::ScratchKey scratch({u"x"});
  auto key = NewSettingsKeyBackend();
  ASSERT_EQ(key->CreateKey(), kRegSuccess);
  ASSERT_EQ(key->SetValue(u"x", kRegSz, SzBytes(u"abc")), kRegSuccess);
  std::uint32_t type = 0, size = 0;
  ASSERT_EQ(key->QueryValue(u"x", &type, nullptr, &size), kRegSuccess);
  EXPECT_EQ(type, kRegSz);
  EXPECT_EQ(size, 8u);
  std::uint8_t small[4] = {};
  size = sizeof small;
  EXPECT_EQ(key->QueryValue(u"x", &type, small, &size), kRegMoreData);
  EXPECT_EQ(size, 8u);
}

}  // namespace
}  // namespace vantrel
