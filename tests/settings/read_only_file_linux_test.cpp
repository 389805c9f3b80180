// The Linux settings file opened for reading alone: nothing is created, a
// missing file or key is "not found", and a file that cannot be parsed is
// reported as the store reports it.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "scratch_key.h"
#include "settings/settings_key.h"

namespace vantrel {
namespace {

TEST(ReadOnlyFileTest, OpensOnlyWhatExists) {
  struct Row {
    const char* name;
    std::string file;                 // below the scratch folder
    std::optional<std::string> text;  // nothing: no file
    long code;
  } rows[] = {
      {"no file", "/settings.reg", std::nullopt, kRegFileNotFound},
      {"no folder either", "/var/lib/vantrel/settings.reg", std::nullopt, kRegFileNotFound},
      {"a file without the key", "/settings.reg",
       "Windows Registry Editor Version 5.00\n\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\other]\n", kRegFileNotFound},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    testing::ScratchKey scratch({});
    std::filesystem::create_directory(scratch.Folder() + "/folder");
    scratch.UseFile(scratch.Folder() + row.file);
    if (row.text) std::ofstream(scratch.File(), std::ios::binary) << *row.text;
    const auto before = std::distance(std::filesystem::recursive_directory_iterator(scratch.Folder()),
                                      std::filesystem::recursive_directory_iterator());

    SettingsKey reg(NewSettingsKeyBackend());
    EXPECT_FALSE(reg.OpenKeyReadOnly());
    EXPECT_EQ(reg.LastError(), row.code);
    EXPECT_EQ(std::distance(std::filesystem::recursive_directory_iterator(scratch.Folder()),
                            std::filesystem::recursive_directory_iterator()),
              before)
        << "nothing created";
  }
}

TEST(ReadOnlyFileTest, AFileThatCannotBeUsedRaisesNamingThePath) {
  struct Row {
    const char* name;
    bool folder;  // a folder at the path, else a file of this text
    std::string after_path;
  } rows[] = {
      {"cannot be parsed", false, ", line 1: "},
      {"a folder", true, ", a folder, not a regular file"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    testing::ScratchKey scratch({});
    if (row.folder) {
      std::filesystem::create_directory(scratch.File());
    } else {
      std::ofstream(scratch.File(), std::ios::binary) << "chaturl=https://chat/hooks/a\n";
    }
    SettingsKey reg(NewSettingsKeyBackend());
    try {
      reg.OpenKeyReadOnly();
      ADD_FAILURE() << "opened";
    } catch (const Exception& e) {
      EXPECT_EQ(ToUtf8(e.Message()).rfind("Cannot read settings file " + scratch.File() + row.after_path, 0), 0u)
          << ToUtf8(e.Message());
    }
  }
}

}  // namespace
}  // namespace vantrel
