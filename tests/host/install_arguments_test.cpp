// The instance name an install run takes from its arguments, and the lines
// it traces for them.
#include <gtest/gtest.h>

#include <utility>
#include <vector>

#include "host/install_arguments.h"

namespace vantrel {
namespace {

TEST(InstanceNameFromArguments, Table) {
  constexpr std::size_t kAll = static_cast<std::size_t>(-1);
  struct Case {
    std::vector<String> args;
    String name;
    std::size_t counted = kAll;  // the arguments listed
  };
  const String long_name(300, u'n');
  const std::vector<Case> cases = {
      {{}, u""},
      {{u"/install"}, u""},
      {{u"/install", u"/silent"}, u""},
      {{u"/install", u"Tuotanto"}, u"Tuotanto"},
      {{u"Eka", u"/install", u"Toka", u"/silent"}, u"Toka"},
      {{u"-install"}, u"-install"},
      {{u"/install", u"   "}, u"   "},
      {{u"/INSTALL", long_name}, long_name},
      {{u"/install", u"/x", u"//y"}, u""},
      // Counting stops at the first empty argument; nothing after it is
      // listed or taken as the name.
      {{u"/install", u"Eka", u"", u"Toka"}, u"Eka", 2},
      {{u"", u"/install", u"Nimi"}, u"", 0},
  };
  for (const Case& c : cases) {
    const std::size_t counted = c.counted == kAll ? c.args.size() : c.counted;
    std::vector<std::pair<String, String>> lines;
    const String name = InstanceNameFromArguments(
        c.args, [&](const String& label, const String& value) { lines.emplace_back(label, value); });
    EXPECT_EQ(name, c.name);
    ASSERT_EQ(lines.size(), counted + 1);
    EXPECT_EQ(lines[0].first, u"paramcount");
    EXPECT_EQ(lines[0].second, IntToStr(static_cast<std::int64_t>(counted)));
    for (std::size_t i = 0; i < counted; ++i) {
      EXPECT_EQ(lines[i + 1].first, u"param" + IntToStr(static_cast<std::int64_t>(i + 1)));
      EXPECT_EQ(lines[i + 1].second, c.args[i]);
    }
  }
}

}  // namespace
}  // namespace vantrel
