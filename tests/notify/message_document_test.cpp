// The message document's JSON bytes for one line each.
#include <gtest/gtest.h>

#include "notify/message_document.h"

namespace vantrel {
namespace {

struct Case {
  const char* name;
  std::u16string line;
  std::string json;
};
void PrintTo(const Case& c, std::ostream* os) { *os << c.name; }

class MessageDocumentLine : public ::testing::TestWithParam<Case> {};

TEST_P(MessageDocumentLine, GivesExactJsonBytes) {
  MessageDocument doc;
  doc.InitFast();
  doc.SetMember(u"text", GetParam().line);
  EXPECT_EQ(doc.ToUtf8Json(), GetParam().json);
}

INSTANTIATE_TEST_SUITE_P(
    Table, MessageDocumentLine,
    ::testing::Values(Case{"Ascii", u"Mahdollisia PSQL lisenssiongelmia Abc 12, koneen nimi K1",
                           "{\"text\":\"Mahdollisia PSQL lisenssiongelmia Abc 12, koneen nimi K1\"}"},
                      Case{"AUmlaut", u"h\u00e4ly", "{\"text\":\"h\xC3\xA4ly\"}"},
                      Case{"QuoteBackslashTab", u"a\"b\\c\td", "{\"text\":\"a\\\"b\\\\c\\td\"}"},
                      Case{"Control1F", u"x\u001Fy", "{\"text\":\"x\\u001Fy\"}"},
                      Case{"SlashAnd7F", u"a/b\u007Fc",
                           "{\"text\":\"a/b\x7F"
                           "c\"}"},
                      Case{"Empty", u"", "{\"text\":\"\"}"},
                      Case{"OutsideBmp", u"a\U0001F600b",
                           "{\"text\":\"a\xF0\x9F\x98\x80"
                           "b\"}"},
                      Case{"ReversedPair", std::u16string{u'a', 0xDE00, 0xD83D, u'b'},
                           "{\"text\":\"a\xF0\x9F\x98\x80"
                           "b\"}"},
                      Case{"UnpairedSurrogateCuts", std::u16string{u'a', u'b', 0xD83D, u'c', u'd'},
                           "{\"text\":\"ab\"}"},
                      Case{"LoneLowSurrogateCuts", std::u16string{u'a', 0xDC00}, "{\"text\":\"a\"}"},
                      Case{"EmbeddedNul", std::u16string{u'a', u'\0', u'b'}, "{\"text\":\"a\"}"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(MessageDocument, ReversedPairComesBackInOrder) {
  MessageDocument doc;
  doc.InitFast();
  doc.SetMember(u"text", std::u16string{0xDE00, 0xD83D});
  EXPECT_EQ(doc.ToUtf8Json(), "{\"text\":\"\xF0\x9F\x98\x80\"}");
}

TEST(MessageDocument, UpperCaseNameReplacesTheSameMember) {
  MessageDocument doc;
  doc.InitFast();
  doc.SetMember(u"text", u"one");
  doc.SetMember(u"TEXT", u"two");
  EXPECT_EQ(doc.ToUtf8Json(), "{\"text\":\"two\"}");
  EXPECT_EQ(doc.Kind(), MessageDocumentKind::kObject);
}

TEST(MessageDocument, UnsetDocumentGivesNull) {
  MessageDocument doc;
  doc.InitFast();
  EXPECT_EQ(doc.Kind(), MessageDocumentKind::kUndefined);
  EXPECT_EQ(doc.ToUtf8Json(), "null");
}

TEST(MessageDocument, CopiesShareMembers) {
  MessageDocument doc;
  doc.InitFast();
  MessageDocument copy = doc;
  doc.SetMember(u"text", u"x");
  EXPECT_EQ(copy.ToUtf8Json(), "{\"text\":\"x\"}");
}

}  // namespace
}  // namespace vantrel
