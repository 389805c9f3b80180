// The Linux settings key: the settings file that VANTREL_REGISTRY names,
// created, refused, read, locked and replaced atomically. How the check
// cycle meets such files is tested with the module, in tests/service.
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <functional>
#include <random>
#include <thread>

#include "platform/exception.h"
#include "platform/unique_fd.h"
#include "scratch_key.h"
#include "settings/reg_file.h"
#include "settings/reg_value_bytes.h"
#include "settings/settings_key.h"
#include "settings/settings_key_claim.h"
#include "settings_file_linux.h"

namespace vantrel {
namespace {

using testing::Dword;
using testing::FileValue;
using testing::kHead;
using testing::kKeyLines;
using testing::kOtherKey;
using testing::ReadBytes;
using testing::ScratchKey;
using testing::Sz;
using testing::WriteBytes;

constexpr const char16_t* kKey = testing::kSettingsKeyPath;

// One use of the key as TalletaUusiAvain makes it: open, one write, close.
void StoreInteger(const String& name, std::int32_t value) {
  SettingsKey reg(NewSettingsKeyBackend());
  if (!reg.OpenKey()) throw Exception(u"not opened");
  reg.WriteInteger(name, value);
  reg.CloseKey();
}

TEST(SettingsFileTest, AFileTurnedIntoAFifoAfterOpeningIsNotWrittenOrRead) {
  ScratchKey scratch({});
  StoreInteger(u"lastrecnum", 1);
  SettingsKey reg(NewSettingsKeyBackend());
  ASSERT_TRUE(reg.OpenKey());
  ASSERT_EQ(unlink(scratch.File().c_str()), 0);
  ASSERT_EQ(mkfifo(scratch.File().c_str(), 0600), 0);
  try {
    reg.WriteInteger(u"lastrecnum", 2);
    ADD_FAILURE() << "written";
  } catch (const SettingsKeyError& e) {
    EXPECT_EQ(e.Message(), u"Failed to set data for 'lastrecnum'");
  }
  struct stat st;
  ASSERT_EQ(lstat(scratch.File().c_str(), &st), 0);
  EXPECT_TRUE(S_ISFIFO(st.st_mode));
}

// A write whose way to the file is blocked after the key was opened answers
// as the registry does for a key it may not write: access denied, whatever
// the file system's own reason.
TEST(SettingsFileTest, AWriteThatCannotReachTheFileIsAccessDenied) {
  struct Row {
    const char* name;
    std::function<void(const std::string& folder, const std::string& file)> block;
  } rows[] = {
      {"a regular file where the folder was (ENOTDIR)",
       [](const std::string& folder, const std::string&) {
         std::filesystem::remove_all(folder);
         WriteBytes(folder, "not a folder");
       }},
      {"a folder where the file was (EISDIR)",
       [](const std::string&, const std::string& file) {
         std::filesystem::remove(file);
         std::filesystem::create_directory(file);
       }},
      {"a link to itself where the file was (ELOOP)",
       [](const std::string&, const std::string& file) {
         std::filesystem::remove(file);
         std::filesystem::create_symlink(file, file);
       }},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    ScratchKey scratch({});
    const std::string folder = scratch.Folder() + "/sub";
    scratch.UseFile(folder + "/settings.reg");
    std::unique_ptr<RegistryBackend> key = NewSettingsKeyBackend();
    ASSERT_EQ(key->CreateKey(), kRegSuccess);
    row.block(folder, scratch.File());
    EXPECT_EQ(key->SetValue(u"lastrecnum", kRegDword, Dword(1).data), kRegAccessDenied);
  }
}

TEST(SettingsFileTest, EveryWriteStartsFromTheFileAsItIsThen) {
  ScratchKey scratch({});
  SettingsKey reg(NewSettingsKeyBackend());
  ASSERT_TRUE(reg.OpenKey());
  StoreInteger(u"other", 1);  // written by another hand while reg is open
  reg.WriteInteger(u"lastrecnum", 2);
  EXPECT_EQ(FileValue(scratch.File(), u"other"), Dword(1));
  EXPECT_EQ(FileValue(scratch.File(), u"lastrecnum"), Dword(2));
}

TEST(SettingsFileTest, AFileThatTurnsCorruptAfterOpeningIsNotWrittenOver) {
  ScratchKey scratch({});
  StoreInteger(u"lastrecnum", 1);
  SettingsKey reg(NewSettingsKeyBackend());
  ASSERT_TRUE(reg.OpenKey());
  const std::string corrupt = kHead + "\"lastrecnum\"=dword:1\ngarbage\n";
  WriteBytes(scratch.File(), corrupt);
  try {
    reg.WriteInteger(u"lastrecnum", 2);
    ADD_FAILURE() << "written";
  } catch (const SettingsKeyError& e) {
    EXPECT_EQ(e.Message(), u"Failed to set data for 'lastrecnum'");
  }
  EXPECT_EQ(ReadBytes(scratch.File()), corrupt);
}

// Two writers, each storing its own values one use at a time, as separate
// processes or as threads of this one: the file ends up with all of them.
void ExpectTwoWritersLoseNothing(bool processes) {
  ScratchKey scratch({});
  StoreInteger(u"start", 0);
  constexpr int kWrites = 30;
  auto writer = [](char prefix) {
    for (int i = 0; i < kWrites; ++i) StoreInteger(String(1, prefix) + IntToStr(i), i);
  };
  if (processes) {
    std::vector<pid_t> children;
    for (char prefix : {'a', 'b'}) {
      const pid_t pid = fork();
      ASSERT_GE(pid, 0);
      if (pid == 0) {
        try {
          writer(prefix);
        } catch (...) {
          _exit(1);
        }
        _exit(0);
      }
      children.push_back(pid);
    }
    for (pid_t pid : children) {
      int status = 0;
      ASSERT_EQ(waitpid(pid, &status, 0), pid);
      EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    }
  } else {
    std::thread a(writer, 'a'), b(writer, 'b');
    a.join();
    b.join();
  }
  const RegFile file = RegFile::Parse(ReadBytes(scratch.File()));
  for (char prefix : {'a', 'b'}) {
    for (int i = 0; i < kWrites; ++i) {
      const String name = String(1, prefix) + IntToStr(i);
      EXPECT_EQ(file.Find(kKey, name), Dword(i)) << ToUtf8(name);
    }
  }
  EXPECT_EQ(file.Find(kKey, u"start"), Dword(0));
}

TEST(SettingsFileTest, TwoProcessesWritingDifferentValuesLoseNone) { ExpectTwoWritersLoseNothing(true); }

TEST(SettingsFileTest, TwoThreadsWritingDifferentValuesLoseNone) { ExpectTwoWritersLoseNothing(false); }

TEST(SettingsFileTest, AWriterKilledAtAnyPointLeavesTheOldFileOrTheNewOne) {
  ScratchKey scratch({});
  WriteBytes(scratch.File(), "Windows Registry Editor Version 5.00\n\n" + kOtherKey + "\n" + kKeyLines +
                                 "\"chaturl\"=\"http://chat/hook\"\n\"lastrecnum\"=dword:00000000\n");
  std::mt19937 random(12345);
  std::uint32_t seen = 0;
  constexpr int kRounds = 40;
  for (int round = 0; round < kRounds; ++round) {
    int written[2];
    ASSERT_EQ(pipe(written), 0);
    UniqueFd written_read(written[0]), written_write(written[1]);
    const pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
      // Counts up from the stored number for as long as it lives, and says
      // so after each write.
      try {
        for (;;) {
          SettingsKey reg(NewSettingsKeyBackend());
          if (!reg.OpenKey()) _exit(1);
          reg.WriteInteger(u"lastrecnum", reg.ReadInteger(u"lastrecnum") + 1);
          (void)!write(written[1], "w", 1);
        }
      } catch (...) {
        _exit(2);
      }
    }
    written_write.reset();
    // Once it has written, however long that took on a busy machine, it is
    // killed at a random point of its next writes.
    pollfd first{written_read.get(), POLLIN, 0};
    ASSERT_EQ(poll(&first, 1, 60000), 1) << "round " << round << ": the writer wrote nothing in a minute";
    usleep(std::uniform_int_distribution<useconds_t>(0, 8000)(random));
    kill(pid, SIGKILL);
    int status = 0;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    ASSERT_TRUE(WIFSIGNALED(status)) << "the writer stopped by itself with " << WEXITSTATUS(status);

    RegFile file;
    ASSERT_NO_THROW(file = RegFile::Parse(ReadBytes(scratch.File()))) << "round " << round;
    const auto value = file.Find(kKey, u"lastrecnum");
    ASSERT_TRUE(value && value->type == kRegDword && value->data.size() == 4) << "round " << round;
    const std::uint32_t number = DwordFromBytes(value->data.data());
    EXPECT_GE(number, seen) << "round " << round;
    seen = number;
    EXPECT_EQ(file.Find(kKey, u"chaturl"), Sz(u"http://chat/hook"));
    EXPECT_NE(file.Text().find(kOtherKey), std::string::npos);
  }
  EXPECT_GE(seen, std::uint32_t{kRounds}) << "every writer wrote at least once";
  StoreInteger(u"lastrecnum", 0);
  EXPECT_FALSE(std::filesystem::exists(scratch.Folder() + "/.settings.reg.tmp")) << "a dead writer's file is cleared";
}

// The claim is a lock on ".NAME.lock" beside the file the settings path
// leads to: paths that lead to one file share it, other files in the same
// folder do not, and it goes with its process however that ends.
TEST(SettingsFileTest, TheClaimFollowsLinksToTheFileAndGoesWithItsProcess) {
  ScratchKey scratch({});
  const std::string folder = scratch.Folder();
  std::filesystem::create_directory(folder + "/etc");
  std::filesystem::create_symlink("etc/vantrel.reg", folder + "/settings.reg");  // not made yet

  auto claim = ClaimSettingsKey();
  ASSERT_TRUE(claim);
  struct stat st;
  ASSERT_EQ(lstat((folder + "/etc/.vantrel.reg.lock").c_str(), &st), 0) << "beside the file, not the link";
  EXPECT_TRUE(S_ISREG(st.st_mode));
  EXPECT_EQ(st.st_mode & 07777, 0600u);
  EXPECT_FALSE(std::filesystem::exists(folder + "/.settings.reg.lock"));

  scratch.UseFile(folder + "/etc/vantrel.reg");  // the same file, by its own name
  try {
    ClaimSettingsKey();
    ADD_FAILURE() << "claimed twice";
  } catch (const Exception& e) {
    EXPECT_EQ(ToUtf8(e.Message()),
              "Another Vantrel service already uses the settings file " + folder + "/etc/vantrel.reg; this one ends");
  }
  scratch.UseFile(folder + "/etc/other.reg");  // another file in the same folder
  EXPECT_TRUE(ClaimSettingsKey());
  claim.reset();

  // A process that holds the claim and is killed lets it go.
  scratch.UseFile(folder + "/settings.reg");
  int ready[2];
  ASSERT_EQ(pipe(ready), 0);
  const pid_t pid = fork();
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    auto held = ClaimSettingsKey();
    (void)!write(ready[1], held ? "y" : "n", 1);
    pause();
    _exit(0);
  }
  close(ready[1]);
  char answer = 0;
  ASSERT_EQ(read(ready[0], &answer, 1), 1);
  close(ready[0]);
  EXPECT_EQ(answer, 'y');
  EXPECT_THROW(ClaimSettingsKey(), Exception);
  kill(pid, SIGKILL);
  ASSERT_EQ(waitpid(pid, nullptr, 0), pid);
  EXPECT_TRUE(ClaimSettingsKey());
}

}  // namespace
}  // namespace vantrel
