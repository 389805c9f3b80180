// The Linux claim's lock file: anything but a regular file where it belongs
// (put there to let a second service run beside the first) refuses the
// service instead of leaving it unclaimed.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "platform/exception.h"
#include "scratch_key.h"
#include "settings/settings_key_claim.h"

namespace vantrel {
namespace {

TEST(SettingsKeyClaimLinux, ALockPathThatIsNoRegularFileRefusesTheService) {
  struct Row {
    const char* name;
    void (*make)(const std::string& lock, const std::string& folder);
  } rows[] = {
      {"a link",
       [](const std::string& lock, const std::string& folder) {
         ASSERT_EQ(symlink((folder + "/elsewhere").c_str(), lock.c_str()), 0);
       }},
      {"a FIFO", [](const std::string& lock, const std::string&) { ASSERT_EQ(mkfifo(lock.c_str(), 0600), 0); }},
      {"a folder", [](const std::string& lock, const std::string&) { ASSERT_EQ(mkdir(lock.c_str(), 0700), 0); }},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    testing::ScratchKey scratch({});
    const std::string lock = scratch.Folder() + "/.settings.reg.lock";
    row.make(lock, scratch.Folder());
    try {
      ClaimSettingsKey();
      ADD_FAILURE() << "claimed";
    } catch (const Exception& e) {
      EXPECT_EQ(ToUtf8(e.Message()), "Cannot claim the settings file " + scratch.File() + ": " + lock +
                                         " is no regular file; this one ends");
    }
    EXPECT_FALSE(std::filesystem::exists(scratch.Folder() + "/elsewhere")) << "nothing made where a link leads";
  }
}

// The claim locks by the file's name: a second name of the same file (a hard
// link, from another folder or beside it) would lock another lock file, so a
// settings file with more than one name refuses the service.
TEST(SettingsKeyClaimLinux, ASettingsFileWithASecondNameRefusesTheService) {
  testing::ScratchKey scratch({});
  std::filesystem::create_directory(scratch.Folder() + "/other");
  { std::ofstream(scratch.File()) << "Windows Registry Editor Version 5.00\n"; }
  const std::string second = scratch.Folder() + "/other/settings.reg";
  ASSERT_EQ(link(scratch.File().c_str(), second.c_str()), 0);
  for (const std::string& path : {scratch.File(), second}) {
    SCOPED_TRACE(path);
    scratch.UseFile(path);
    try {
      ClaimSettingsKey();
      ADD_FAILURE() << "claimed";
    } catch (const Exception& e) {
      EXPECT_EQ(ToUtf8(e.Message()), "The settings file " + path +
                                         " has 2 names (hard links), so another service could use it under another; "
                                         "this one ends. Keep one name, and a symbolic link where another path must "
                                         "lead to it");
    }
  }
  // One name again: claimed.
  ASSERT_EQ(unlink(second.c_str()), 0);
  scratch.UseFile(scratch.Folder() + "/settings.reg");
  EXPECT_TRUE(ClaimSettingsKey());
}

}  // namespace
}  // namespace vantrel
