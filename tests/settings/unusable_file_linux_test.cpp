// A Linux settings file that is there but cannot be used as a key to write:
// one of no bytes (a save cut short) is read as nothing and never written
// over; one that cannot be written is reported with its path and the
// system's reason, and can still be read.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>

#include "platform/exception.h"
#include "scratch_key.h"
#include "settings/settings_key.h"
#include "settings_file_linux.h"
#include "tests/platform/without_file_override_linux.h"

namespace vantrel {
namespace {

using testing::Dword;
using testing::FileValue;
using testing::kHead;
using testing::ReadBytes;
using testing::ScratchKey;
using testing::WriteBytes;

// The message that opening raises, or "opened".
std::string OpeningFailure(bool (SettingsKey::*open)()) {
  SettingsKey reg(NewSettingsKeyBackend());
  try {
    return (reg.*open)() ? "opened" : "not opened, code " + std::to_string(reg.LastError());
  } catch (const Exception& e) {
    return ToUtf8(e.Message());
  }
}

TEST(UnusableSettingsFileTest, AFileOfNoBytesIsNeitherReadNorWrittenOver) {
  ScratchKey scratch({});
  WriteBytes(scratch.File(), "");
  const std::string message = "Cannot read settings file " + scratch.File() + ", it is empty (0 bytes)";
  EXPECT_EQ(OpeningFailure(&SettingsKey::OpenKey), message);
  EXPECT_EQ(OpeningFailure(&SettingsKey::OpenKeyReadOnly), message);
  EXPECT_EQ(ReadBytes(scratch.File()), "");
  EXPECT_FALSE(std::filesystem::exists(scratch.Folder() + "/.settings.reg.tmp"));

  // Cut short after the key was opened: the write fails and the file stays.
  WriteBytes(scratch.File(), kHead);
  std::unique_ptr<RegistryBackend> key = NewSettingsKeyBackend();
  ASSERT_EQ(key->CreateKey(), kRegSuccess);
  WriteBytes(scratch.File(), "");
  EXPECT_NE(key->SetValue(u"lastrecnum", kRegDword, Dword(1).data), kRegSuccess);
  EXPECT_EQ(ReadBytes(scratch.File()), "");
}

// A new file that cannot be filled (here a folder takes the writer's
// temporary path, as a full disk would fail the write) is not left behind
// with no bytes, which would be refused from then on.
TEST(UnusableSettingsFileTest, ANewFileThatCannotBeFilledIsNotLeftEmpty) {
  ScratchKey scratch({});
  const std::string blocker = scratch.Folder() + "/.settings.reg.tmp";
  std::filesystem::create_directory(blocker);
  EXPECT_EQ(OpeningFailure(&SettingsKey::OpenKey), "Cannot write settings file " + scratch.File() + ", File exists");
  EXPECT_FALSE(std::filesystem::exists(scratch.File()));
  std::filesystem::remove(blocker);
  EXPECT_EQ(OpeningFailure(&SettingsKey::OpenKey), "opened");
  EXPECT_EQ(ReadBytes(scratch.File()), kHead + "\n");
}

TEST(UnusableSettingsFileTest, AFileThatCannotBeWrittenIsNamedWithTheReasonAndCanStillBeRead) {
  // (row, the settings path below the scratch folder, the file it leads to,
  // what is taken away, what the message says after "Cannot write settings
  // file PATH, ")
  struct Row {
    const char* name;
    std::string path;
    std::string file;
    std::string read_only;  // chmod a-w of this, below the folder
    std::string says;
  } rows[] = {
      {"a read-only file", "settings.reg", "settings.reg", "settings.reg", "Permission denied"},
      {"a read-only folder", "settings.reg", "settings.reg", "", "folder FOLDER: Permission denied"},
      {"a link to a read-only file elsewhere", "settings.reg", "etc/vantrel.reg", "etc/vantrel.reg",
       "it leads to FOLDER/etc/vantrel.reg, Permission denied"},
      {"a link to a file in a read-only folder", "settings.reg", "etc/vantrel.reg", "etc",
       "it leads to FOLDER/etc/vantrel.reg, folder FOLDER/etc: Permission denied"},
      {"no file, in a read-only folder", "new.reg", "", "", "Permission denied"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    ScratchKey scratch({});
    const std::string folder = scratch.Folder();
    std::filesystem::create_directory(folder + "/etc");
    scratch.UseFile(folder + "/" + row.path);
    const std::string text = kHead + "\"instancename\"=\"Demo\"\n";
    if (!row.file.empty()) {
      WriteBytes(folder + "/" + row.file, text);
      if (row.file != row.path) std::filesystem::create_symlink(row.file, scratch.File());
    }
    const std::string taken = folder + (row.read_only.empty() ? "" : "/" + row.read_only);
    struct stat before;
    ASSERT_EQ(stat(taken.c_str(), &before), 0);
    ASSERT_EQ(chmod(taken.c_str(), before.st_mode & 0555), 0);
    std::string says = row.says;
    for (std::size_t at; (at = says.find("FOLDER")) != std::string::npos;) says.replace(at, 6, folder);
    {
      testing::WithoutFileOverride as_the_service;
      EXPECT_EQ(OpeningFailure(&SettingsKey::OpenKey), "Cannot write settings file " + scratch.File() + ", " + says);
      SettingsKey reg(NewSettingsKeyBackend());
      if (row.file.empty()) {
        EXPECT_FALSE(reg.OpenKeyReadOnly());
        EXPECT_EQ(reg.LastError(), kRegFileNotFound);
      } else {
        ASSERT_TRUE(reg.OpenKeyReadOnly());
        EXPECT_EQ(reg.ReadString(u"instancename"), u"Demo");
      }
    }
    chmod(taken.c_str(), before.st_mode);
    if (row.file.empty()) {
      EXPECT_FALSE(std::filesystem::exists(scratch.File())) << "nothing made";
    } else {
      EXPECT_EQ(ReadBytes(folder + "/" + row.file), text);
    }
  }
}

}  // namespace
}  // namespace vantrel
