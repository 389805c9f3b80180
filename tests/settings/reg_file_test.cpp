// The registry export format on its own: what each kind of line reads as,
// which lines are refused, and what a rewrite of one value leaves.
#include "settings/reg_file.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "settings/reg_value_bytes.h"

namespace vantrel {
namespace {

using Bytes = std::vector<std::uint8_t>;

constexpr char16_t kKey[] = u"HKEY_LOCAL_MACHINE\\SOFTWARE\\tresk\\vantrel";
const std::string kHead = "Windows Registry Editor Version 5.00\n\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\tresk\\vantrel]\n";

// The text as regedit exports it: UTF-16LE with its mark, CR LF. A '§'
// stands for a lone high surrogate, which UTF-8 cannot carry.
std::string Utf16Export(const std::string& utf8) {
  std::string crlf;
  for (char c : utf8) {
    if (c == '\n') crlf += '\r';
    crlf += c;
  }
  String text = FromUtf8(crlf);
  std::replace(text.begin(), text.end(), u'§', u'\xD800');
  const std::vector<std::uint8_t> units = Utf16LeBytes(text);
  return "\xFF\xFE" + std::string(units.begin(), units.end());
}

struct Expected {
  String name;
  std::optional<RegValue> value;  // nothing: the file has no such value
};

TEST(RegFileTest, ReadsEveryKindOfValueLine) {
  struct Row {
    const char* name;
    std::string text;
    std::vector<Expected> values;
  } rows[] = {
      {"string",
       kHead + "\"chaturl\"=\"https://chat/hooks/a\"\n",
       {{u"chaturl", RegValue{1, SzBytes(u"https://chat/hooks/a")}}}},
      {"escaped backslash and quote",
       kHead + R"("x"="C:\\dir \"q\"")" + "\n",
       {{u"x", RegValue{1, SzBytes(u"C:\\dir \"q\"")}}}},
      {"escaped name", kHead + R"("a\"b\\c"="v")" + "\n", {{u"a\"b\\c", RegValue{1, SzBytes(u"v")}}}},
      {"UTF-8 text",
       kHead + "\"instancename\"=\"Kärkölä €\"\n",
       {{u"instancename", RegValue{1, SzBytes(u"Kärkölä €")}}}},
      {"empty string", kHead + "\"x\"=\"\"\n", {{u"x", RegValue{1, SzBytes(u"")}}}},
      {"default value", kHead + "@=\"d\"\n", {{u"", RegValue{1, SzBytes(u"d")}}}},
      {"dword", kHead + "\"lastrecnum\"=dword:0000002a\n", {{u"lastrecnum", RegValue{4, {42, 0, 0, 0}}}}},
      {"dword all ones", kHead + "\"x\"=dword:FFFFFFFF\n", {{u"x", RegValue{4, {255, 255, 255, 255}}}}},
      {"dword of fewer digits", kHead + "\"x\"=dword:7\n", {{u"x", RegValue{4, {7, 0, 0, 0}}}}},
      {"hex binary", kHead + "\"x\"=hex:01,ff,7A\n", {{u"x", RegValue{3, {1, 255, 0x7a}}}}},
      {"empty hex", kHead + "\"x\"=hex:\n", {{u"x", RegValue{3, {}}}}},
      {"hex(2) expandable string",
       kHead + "\"x\"=hex(2):25,00,41,00,25,00,00,00\n",
       {{u"x", RegValue{2, SzBytes(u"%A%")}}}},
      {"hex(7) multi string",
       kHead + "\"x\"=hex(7):61,00,00,00,62,00,00,00,00,00\n",
       {{u"x", RegValue{7, {0x61, 0, 0, 0, 0x62, 0, 0, 0, 0, 0}}}}},
      {"hex(b) qword",
       kHead + "\"x\"=hex(b):01,00,00,00,00,00,00,00\n",
       {{u"x", RegValue{11, {1, 0, 0, 0, 0, 0, 0, 0}}}}},
      {"hex(0) none", kHead + "\"x\"=hex(0):\n", {{u"x", RegValue{0, {}}}}},
      {"hex(4) short dword", kHead + "\"x\"=hex(4):01,02\n", {{u"x", RegValue{4, {1, 2}}}}},
      {"hex(1) string with a NUL inside",
       kHead + "\"x\"=hex(1):61,00,00,00,62,00,00,00\n",
       {{u"x", RegValue{1, {0x61, 0, 0, 0, 0x62, 0, 0, 0}}}}},
      {"hex(ffff0001) any type", kHead + "\"x\"=hex(ffff0001):05\n", {{u"x", RegValue{0xffff0001, {5}}}}},
      {"continued hex", kHead + "\"x\"=hex:01,02,\\\n  03,04,\\\n  05\n", {{u"x", RegValue{3, {1, 2, 3, 4, 5}}}}},
      {"continued hex with comment lines",
       kHead + "\"x\"=hex:01,\\\n; note\n  02\n\"y\"=dword:1\n",
       {{u"x", RegValue{3, {1, 2}}}, {u"y", RegValue{4, {1, 0, 0, 0}}}}},
      {"comments and blank lines",
       kHead + "; the webhook\n\n  ;indented\n\"x\"=dword:1 ; one\n",
       {{u"x", RegValue{4, {1, 0, 0, 0}}}}},
      {"CR LF line ends",
       "Windows Registry Editor Version 5.00\r\n\r\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\tresk\\vantrel]\r\n"
       "\"x\"=\"a\"\r\n\"y\"=hex:01,\\\r\n  02\r\n",
       {{u"x", RegValue{1, SzBytes(u"a")}}, {u"y", RegValue{3, {1, 2}}}}},
      {"UTF-16LE export",
       Utf16Export(kHead + "\"instancename\"=\"Kärkölä\"\n\"lastrecnum\"=dword:00000009\n"),
       {{u"instancename", RegValue{1, SzBytes(u"Kärkölä")}}, {u"lastrecnum", RegValue{4, {9, 0, 0, 0}}}}},
      {"UTF-8 byte-order mark", "\xEF\xBB\xBF" + kHead + "\"x\"=dword:2\n", {{u"x", RegValue{4, {2, 0, 0, 0}}}}},
      {"no line end at the end", kHead + "\"x\"=dword:3", {{u"x", RegValue{4, {3, 0, 0, 0}}}}},
      {"names without regard to case", kHead + "\"ChatURL\"=\"u\"\n", {{u"chaturl", RegValue{1, SzBytes(u"u")}}}},
      {"key path without regard to case",
       "Windows Registry Editor Version 5.00\n\n[hkey_local_machine\\software\\TRESK\\Vantrel]\n\"x\"=dword:4\n",
       {{u"x", RegValue{4, {4, 0, 0, 0}}}}},
      {"values of other keys are not ours",
       "Windows Registry Editor Version 5.00\n\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\other]\n\"x\"=dword:1\n\n"
       "[HKEY_LOCAL_MACHINE\\SOFTWARE\\tresk\\vantrel]\n\"y\"=dword:2\n",
       {{u"x", std::nullopt}, {u"y", RegValue{4, {2, 0, 0, 0}}}}},
      {"the key in two sections",
       kHead + "\"x\"=dword:1\n\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\other]\n\"y\"=dword:5\n\n" +
           "[HKEY_LOCAL_MACHINE\\SOFTWARE\\tresk\\vantrel]\n\"y\"=dword:2\n",
       {{u"x", RegValue{4, {1, 0, 0, 0}}}, {u"y", RegValue{4, {2, 0, 0, 0}}}}},
      {"the last line of a value counts",
       kHead + "\"x\"=dword:1\n\"X\"=dword:2\n",
       {{u"x", RegValue{4, {2, 0, 0, 0}}}}},
      {"a deleted value", kHead + "\"x\"=dword:1\n\"x\"=-\n", {{u"x", std::nullopt}}},
      {"an empty file", "", {{u"x", std::nullopt}}},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    RegFile file;
    try {
      file = RegFile::Parse(row.text);
    } catch (const RegFileError& e) {
      ADD_FAILURE() << ToUtf8(e.Message());
      continue;
    }
    for (const Expected& expected : row.values)
      EXPECT_EQ(file.Find(kKey, expected.name), expected.value) << ToUtf8(expected.name);
  }
}

TEST(RegFileTest, RefusesAFileItCannotReadNamingTheLine) {
  struct Row {
    const char* name;
    std::string text;
    int line;
  } rows[] = {
      {"another first line", "REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\tresk\\vantrel]\n", 1},
      {"a lone newline", "\n", 1},
      {"value before any key", "Windows Registry Editor Version 5.00\n\n\"x\"=dword:1\n", 3},
      {"key without closing bracket", kHead + "[HKEY_LOCAL_MACHINE\\SOFTWARE\n", 4},
      {"string without closing quote", kHead + "\"x\"=\"abc\n", 4},
      {"name without closing quote", kHead + "\"x=dword:1\n", 4},
      {"unknown escape", kHead + "\"x\"=\"C:\\dir\"\n", 4},
      {"no equals sign", kHead + "\"x\" dword:1\n", 4},
      {"text after a string", kHead + "\"x\"=\"a\" b\n", 4},
      {"unknown data", kHead + "\"x\"=qword:1\n", 4},
      {"dword too long", kHead + "\"x\"=dword:123456789\n", 4},
      {"dword not hex", kHead + "\"x\"=dword:12g4\n", 4},
      {"dword empty", kHead + "\"x\"=dword:\n", 4},
      {"hex not hex", kHead + "\"x\"=hex:01,zz\n", 4},
      {"hex byte of three digits", kHead + "\"x\"=hex:100\n", 4},
      {"hex with an empty item", kHead + "\"x\"=hex:01,,02\n", 4},
      {"hex without colon", kHead + "\"x\"=hex(2)01\n", 4},
      {"hex type not hex", kHead + "\"x\"=hex(z):01\n", 4},
      {"bad continuation line", kHead + "\"y\"=dword:1\n\"x\"=hex:01,\\\n  02,xx\n", 6},
      {"a value line cut off after its continuation", kHead + "\"x\"=hex:01,\\\n\"y\"=dword:1\n", 5},
      {"garbage", kHead + "\"x\"=dword:1\nwhatever\n", 5},
      {"garbage in a UTF-16LE export", Utf16Export(kHead + "junk\n"), 4},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    try {
      RegFile::Parse(row.text);
      ADD_FAILURE() << "parsed";
    } catch (const RegFileError& e) {
      EXPECT_EQ(e.Line(), row.line) << ToUtf8(e.Message());
      EXPECT_EQ(ToUtf8(e.Message()).rfind("line " + std::to_string(row.line) + ": ", 0), 0u) << ToUtf8(e.Message());
    }
  }
}

TEST(RegFileTest, SettingAValueRewritesOnlyItsOwnLines) {
  const std::string other = "[HKEY_CURRENT_USER\\Software\\Other]\r\n\"lastrecnum\"=dword:00000001\r\n";
  struct Row {
    const char* name;
    std::string before;
    String value_name;
    RegValue value;
    std::string after;
  } rows[] = {
      {"new file", "", u"lastrecnum", RegValue{4, {0, 0, 0, 0}},
       "Windows Registry Editor Version 5.00\n\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\tresk\\vantrel]\n"
       "\"lastrecnum\"=dword:00000000\n\n"},
      {"replaced in place, other keys and comments kept",
       "Windows Registry Editor Version 5.00\r\n\r\n" + other + "\r\n; our key\r\n" +
           "[HKEY_LOCAL_MACHINE\\SOFTWARE\\tresk\\vantrel]\r\n\"chaturl\"=\"u\"\r\n\"LastRecNum\"=dword:00000005\r\n"
           "\"instancename\"=\"i\"\r\n\r\n" +
           other,
       u"lastrecnum", RegValue{4, {42, 0, 0, 0}},
       "Windows Registry Editor Version 5.00\r\n\r\n" + other + "\r\n; our key\r\n" +
           "[HKEY_LOCAL_MACHINE\\SOFTWARE\\tresk\\vantrel]\r\n\"chaturl\"=\"u\"\r\n\"LastRecNum\"=dword:0000002a\r\n"
           "\"instancename\"=\"i\"\r\n\r\n" +
           other},
      {"added after the last value of the key", kHead + "\"chaturl\"=\"u\"\n\n; end\n", u"instancename",
       RegValue{1, SzBytes(u"Demo")}, kHead + "\"chaturl\"=\"u\"\n\"instancename\"=\"Demo\"\n\n; end\n"},
      {"added to an empty key", kHead + "\n" + "[HKEY_LOCAL_MACHINE\\SOFTWARE\\other]\n\"x\"=dword:1\n", u"x",
       RegValue{4, {2, 0, 0, 0}},
       kHead + "\"x\"=dword:00000002\n\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\other]\n\"x\"=dword:1\n"},
      {"key added at the end",
       "Windows Registry Editor Version 5.00\n\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\other]\n\"x\"=dword:1", u"x",
       RegValue{4, {2, 0, 0, 0}},
       "Windows Registry Editor Version 5.00\n\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\other]\n\"x\"=dword:1\n\n" +
           kHead.substr(kHead.find('[')) + "\"x\"=dword:00000002\n\n"},
      {"continued hex replaced by one line", kHead + "\"x\"=hex:01,\\\n  02,\\\n  03\n\"y\"=dword:1\n", u"x",
       RegValue{4, {7, 0, 0, 0}}, kHead + "\"x\"=dword:00000007\n\"y\"=dword:1\n"},
      {"added after hex data left hanging on a backslash", kHead + "\"x\"=hex:01,\\\n\n", u"y",
       RegValue{4, {5, 0, 0, 0}}, kHead + "\"x\"=hex:01,\\\n\n\"y\"=dword:00000005\n\n"},
      {"earlier lines of the same value dropped", kHead + "\"x\"=dword:1\n\"y\"=dword:1\n\"X\"=dword:2\n", u"x",
       RegValue{4, {3, 0, 0, 0}}, kHead + "\"y\"=dword:1\n\"x\"=dword:00000003\n"},
      {"a deleted value set again", kHead + "\"x\"=-\n", u"x", RegValue{4, {3, 0, 0, 0}},
       kHead + "\"x\"=dword:00000003\n"},
      {"UTF-16LE export kept as it came, a lone surrogate included",
       Utf16Export(kHead + "\"note\"=\"a§b\"\n\"instancename\"=\"Kärkölä\"\n\"lastrecnum\"=dword:00000009\n"),
       u"lastrecnum", RegValue{4, {10, 0, 0, 0}},
       Utf16Export(kHead + "\"note\"=\"a§b\"\n\"instancename\"=\"Kärkölä\"\n\"lastrecnum\"=dword:0000000a\n")},
      {"UTF-16LE with an odd last byte: it stays the last", Utf16Export(kHead + "\"x\"=dword:1") + "A", u"lastrecnum",
       RegValue{4, {10, 0, 0, 0}}, Utf16Export(kHead + "\"x\"=dword:1\n\"lastrecnum\"=dword:0000000a\n") + "A"},
      {"UTF-8 with its byte-order mark kept", "\xEF\xBB\xBF" + kHead + "\"lastrecnum\"=dword:00000009\n", u"lastrecnum",
       RegValue{4, {10, 0, 0, 0}}, "\xEF\xBB\xBF" + kHead + "\"lastrecnum\"=dword:0000000a\n"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    RegFile file = RegFile::Parse(row.before);
    file.Set(kKey, row.value_name, row.value);
    EXPECT_EQ(file.Text(), row.after);
    EXPECT_EQ(RegFile::Parse(file.Text()).Find(kKey, row.value_name), row.value);
  }
}

TEST(RegFileTest, EveryValueIsWrittenAsRegeditWouldAndReadsBackTheSame) {
  Bytes long_data(40);
  for (std::size_t i = 0; i < long_data.size(); ++i) long_data[i] = static_cast<std::uint8_t>(i);
  struct Row {
    const char* name;
    String value_name;
    RegValue value;
    std::vector<std::string> lines;
  } rows[] = {
      {"plain string", u"chaturl", RegValue{1, SzBytes(u"https://a/b")}, {"\"chaturl\"=\"https://a/b\""}},
      {"string to escape", u"x", RegValue{1, SzBytes(u"a\\\"b")}, {R"("x"="a\\\"b")"}},
      {"name to escape", u"a\"\\\n", RegValue{1, SzBytes(u"v")}, {R"("a\"\\\n"="v")"}},
      {"default value", u"", RegValue{1, SzBytes(u"v")}, {"@=\"v\""}},
      {"string with a line break", u"x", RegValue{1, SzBytes(u"a\nb")}, {"\"x\"=hex(1):61,00,0a,00,62,00,00,00"}},
      {"string with a NUL inside",
       u"x",
       RegValue{1, SzBytes(std::u16string_view(u"a\0b", 3))},
       {"\"x\"=hex(1):61,00,00,00,62,00,00,00"}},
      {"string without its NUL", u"x", RegValue{1, {0x61, 0}}, {"\"x\"=hex(1):61,00"}},
      {"string of odd size", u"x", RegValue{1, {0x61, 0, 0}}, {"\"x\"=hex(1):61,00,00"}},
      {"string without data", u"x", RegValue{1, {}}, {"\"x\"=hex(1):"}},
      {"lone surrogate", u"x", RegValue{1, {0x00, 0xD8, 0, 0}}, {"\"x\"=hex(1):00,d8,00,00"}},
      {"pair of surrogates", u"x", RegValue{1, SzBytes(u"\U0001F600")}, {"\"x\"=\"\U0001F600\""}},
      {"dword", u"x", RegValue{4, {0xff, 0xff, 0xff, 0xff}}, {"\"x\"=dword:ffffffff"}},
      {"short dword", u"x", RegValue{4, {1}}, {"\"x\"=hex(4):01"}},
      {"binary", u"x", RegValue{3, {0xab}}, {"\"x\"=hex:ab"}},
      {"qword", u"x", RegValue{11, {1, 2, 3, 4, 5, 6, 7, 8}}, {"\"x\"=hex(b):01,02,03,04,05,06,07,08"}},
      {"none", u"x", RegValue{0, {}}, {"\"x\"=hex(0):"}},
      {"long binary wraps at 80 columns",
       u"x",
       RegValue{3, long_data},
       {"\"x\"=hex:00,01,02,03,04,05,06,07,08,09,0a,0b,0c,0d,0e,0f,10,11,12,13,14,15,16,\\",
        "  17,18,19,1a,1b,1c,1d,1e,1f,20,21,22,23,24,25,26,27"}},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    const auto lines = FormatRegValue(row.value_name, row.value);
    EXPECT_EQ(lines, row.lines);
    for (const auto& line : lines) EXPECT_LE(line.size(), 80u);
    std::string text = kHead;
    for (const auto& line : lines) text += line + "\n";
    EXPECT_EQ(RegFile::Parse(text).Find(kKey, row.value_name), row.value);
  }
}

}  // namespace
}  // namespace vantrel
