// ASCII case and blanks: only A to Z fold, and only the given characters
// are trimmed.
#include "platform/ascii.h"

#include <gtest/gtest.h>

#include "platform/text.h"

namespace vantrel {
namespace {

TEST(AsciiTest, OnlyAsciiLettersFold) {
  struct Row {
    std::u16string a, b;
    bool same;
  } rows[] = {
      {u"Content-Type", u"content-TYPE", true},
      {u"@[", u"`{", false},  // the neighbours of A and Z are no letters
      {u"@[`{", u"@[`{", true},
      {u"\u00c4", u"\u00e4", false},  // Ä and ä: no folding beyond ASCII
      {u"\u0130", u"i", false},
      {u"ab", u"abc", false},
      {u"", u"", true},
  };
  for (const Row& row : rows) {
    EXPECT_EQ(EqualsIgnoringAsciiCase(row.a, row.b), row.same) << ToUtf8(row.a) << " / " << ToUtf8(row.b);
  }
  EXPECT_TRUE(EqualsIgnoringAsciiCase("Set-Cookie", "SET-cookie"));
  EXPECT_FALSE(EqualsIgnoringAsciiCase("\xC3\x84", "\xC3\xA4"));
  EXPECT_EQ(AsciiLowered("Text/HTML; Charset=\xC3\x84"), "text/html; charset=\xC3\x84");
  EXPECT_TRUE(StartsWithIgnoringAsciiCase("DWORD:0000002a", "dword:"));
  EXPECT_FALSE(StartsWithIgnoringAsciiCase("dwor", "dword:"));
}

TEST(AsciiTest, TrimTakesOnlyTheGivenCharacters) {
  EXPECT_EQ(Trim(" \t a b \t "), "a b");
  EXPECT_EQ(Trim(" \r a \r"), "\r a \r");
  EXPECT_EQ(Trim(" \r a \r", " \r"), "a");
  EXPECT_EQ(TrimLeft("  a  "), "a  ");
  EXPECT_EQ(TrimRight("  a  "), "  a");
  EXPECT_EQ(Trim(" \t "), "");
  EXPECT_EQ(Trim(""), "");
}

}  // namespace
}  // namespace vantrel
