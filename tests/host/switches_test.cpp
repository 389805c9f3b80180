// The command-line switch rules, one row per case.
#include <gtest/gtest.h>

#include "host/switches.h"

namespace vantrel {
namespace {

struct Row {
  std::vector<String> args;
  RunMode mode;
  bool silent;
};

TEST(Switches, ModeTable) {
  const std::vector<Row> rows = {
      {{}, RunMode::kService, false},
      {{u"/install"}, RunMode::kInstall, false},
      {{u"-INSTALL"}, RunMode::kInstall, false},
      {{u"/InStAlL"}, RunMode::kInstall, false},
      {{u"install"}, RunMode::kService, false},
      {{u"/installx"}, RunMode::kService, false},
      {{u"//install"}, RunMode::kService, false},
      {{u"/"}, RunMode::kService, false},
      {{u"/uninstall"}, RunMode::kUninstall, false},
      {{u"-Uninstall", u"/silent"}, RunMode::kUninstall, true},
      {{u"/uninstall", u"/install"}, RunMode::kInstall, false},
      {{u"/install", u"-uninstall"}, RunMode::kInstall, false},
      {{u"name", u"x", u"-install"}, RunMode::kInstall, false},
      {{u"/silent"}, RunMode::kService, true},
      {{u"/unknown"}, RunMode::kService, false},
      {{u"\\install"}, RunMode::kService, false},
      // Counting stops at the first empty argument: no switch stands after it.
      {{u"", u"/install", u"/silent", u"name"}, RunMode::kService, false},
      {{u"/install", u"", u"/silent"}, RunMode::kInstall, false},
      {{u"/silent", u"", u"/uninstall"}, RunMode::kService, true},
      {{u"/test"}, RunMode::kTest, false},
      {{u"-TeSt", u"/silent"}, RunMode::kTest, true},
      {{u"test"}, RunMode::kService, false},
      {{u"/tests"}, RunMode::kService, false},
      {{u"/test", u"/install", u"name"}, RunMode::kInstall, false},
      {{u"/uninstall", u"-test"}, RunMode::kUninstall, false},
  };
  for (std::size_t i = 0; i < rows.size(); ++i) {
    const Switches got = ParseSwitches(rows[i].args);
    std::string joined;
    for (const String& a : rows[i].args) joined += ToUtf8(a) + " ";
    EXPECT_EQ(got.mode, rows[i].mode) << "row " << i << ": " << joined;
    EXPECT_EQ(got.silent, rows[i].silent) << "row " << i << ": " << joined;
  }
}

}  // namespace
}  // namespace vantrel
