// How the program splits a Windows command line into its arguments.
#include <gtest/gtest.h>

#include <vector>

#include "platform/command_line.h"

namespace vantrel {
namespace {

TEST(SplitCommandLine, Table) {
  struct Case {
    String line;
    std::vector<String> args;
  };
  const std::vector<Case> cases = {
      {u"prog.exe", {}},
      {u"", {}},
      {u"prog.exe /install name", {u"/install", u"name"}},
      {u"\"C:\\Program Files\\v.exe\" /install", {u"/install"}},
      {u"prog /install \"two words\"", {u"/install", u"two words"}},
      {u"prog /install two words", {u"/install", u"two", u"words"}},
      {u"prog a\"b c\"d", {u"ab cd"}},  // quotes inside an argument
      {u"prog \"\"x y", {u"x", u"y"}},  // a leading pair is skipped
      // A pair before an argument begins is skipped with the blanks after it;
      // only the line's end stops the count.
      {u"prog a \"\" b", {u"a", u"b"}},
      {u"prog /install \"\" \"Demo 1\"", {u"/install", u"Demo 1"}},
      {u"prog a \"\"  \"\"\t\"\"\"\" b", {u"a", u"b"}},
      {u"prog \"\"\"two words\"", {u"two words"}},
      {u"prog a\"\" b", {u"a", u"b"}},  // inside an argument: an empty stretch
      {u"prog a \"\"", {u"a"}},
      {u"prog \"\" \"\" ", {}},
      {u"prog a\\\"b c", {u"a\\b c"}},  // no escape character
      {u"prog\t a\x01"
       u"b \r\n c",
       {u"a", u"b", u"c"}},  // control characters split
      {u"prog \"open quote runs", {u"open quote runs"}},
      {u"prog    -install   ", {u"-install"}},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(SplitCommandLine(c.line), c.args) << ToUtf8(c.line);
  }
}

}  // namespace
}  // namespace vantrel
