// The running test program's own facts: its arguments as main received them
// and the executable it runs.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "platform/process.h"

namespace vantrel {
namespace {

TEST(Process, ArgumentsAreTheOnesMainReceivedWithoutTheProgram) {
  // CTest starts each case with --gtest_filter=...: plain arguments that
  // every rule splits alike.
  const std::vector<std::string> argv = ::testing::internal::GetArgvs();
  ASSERT_FALSE(argv.empty());
  std::vector<String> expected;
  for (std::size_t i = 1; i < argv.size(); ++i) expected.push_back(FromUtf8(argv[i]));
  EXPECT_EQ(CommandLineArguments(), expected);
}

TEST(Process, ExecutableIsThisTestProgram) {
  const String path = ExecutablePath();
  const String name = ExecutableFileName();
  EXPECT_TRUE(name == u"platform_tests" || name == u"platform_tests.exe") << ToUtf8(name);
  ASSERT_GT(path.size(), name.size());
  EXPECT_EQ(path.substr(path.size() - name.size()), name);
  const std::filesystem::path file{path};
  EXPECT_TRUE(file.is_absolute()) << ToUtf8(path);
  EXPECT_TRUE(std::filesystem::is_regular_file(file)) << ToUtf8(path);
}

}  // namespace
}  // namespace vantrel
