// The Linux settings key: the settings file that VANTREL_REGISTRY names,
// created, refused, read, locked and replaced atomically.
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
#include <fstream>
#include <random>
#include <sstream>
#include <thread>

#include "platform/unique_fd.h"
#include "tests/service/module_harness.h"
#include "scratch_key.h"
#include "settings/reg_file.h"
#include "settings/reg_value_bytes.h"
#include "settings/settings_key_claim.h"

namespace vantrel {
namespace {

using testing::ModuleHarness;
using testing::ScratchKey;
using testing::TraceRecorder;

constexpr char16_t kKey[] = u"HKEY_LOCAL_MACHINE\\SOFTWARE\\tresk\\vantrel";
const std::string kHead = "Windows Registry Editor Version 5.00\n\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\tresk\\vantrel]\n";
// The key's section header alone, and the file's first lines up to it.
const std::string kKeyLines = "[HKEY_LOCAL_MACHINE\\SOFTWARE\\tresk\\vantrel]\n";
const std::string kOtherKey = "[HKEY_LOCAL_MACHINE\\SOFTWARE\\other]\n\"lastrecnum\"=dword:00000063\n";

std::string ReadBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

void WriteBytes(const std::string& path, const std::string& bytes) { std::ofstream(path, std::ios::binary) << bytes; }

std::optional<RegValue> FileValue(const std::string& path, std::u16string_view name) {
  return RegFile::Parse(ReadBytes(path)).Find(kKey, name);
}

RegValue Sz(std::u16string_view text) { return {kRegSz, SzBytes(text)}; }

RegValue Dword(std::uint32_t n) { return {kRegDword, DwordBytes(n)}; }

// One use of the key as TalletaUusiAvain makes it: open, one write, close.
void StoreInteger(const String& name, std::int32_t value) {
  SettingsKey reg(NewSettingsKeyBackend());
  if (!reg.OpenKey()) throw Exception(u"not opened");
  reg.WriteInteger(name, value);
  reg.CloseKey();
}

TEST(SettingsFileTest, ACorruptFileIsTracedByTheModuleAndNeverWrittenOver) {
  struct Row {
    const char* name;
    std::string text;
    int line;
  } rows[] = {
      {"not an export", "chaturl=https://chat/hooks/a\n", 1},
      {"bad hex", kHead + "\"lastrecnum\"=dword:0000002a\n\"chaturl\"=hex:zz\n", 5},
      {"string not closed", kHead + "\"chaturl\"=\"https://chat\n", 4},
      {"value before the key", "Windows Registry Editor Version 5.00\n\"lastrecnum\"=dword:1\n" + kKeyLines, 2},
      {"garbage in a UTF-16LE file", std::string("\xFF\xFEW\0", 4), 1},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    ScratchKey scratch({});
    WriteBytes(scratch.File(), row.text);
    ModuleHarness::World world;
    ModuleHarness module(world, {.settings_key = true});
    TraceRecorder trace;

    std::unique_ptr<SettingsKey> reg;
    EXPECT_FALSE(module.avaaRekisteri(reg));
    ASSERT_TRUE(reg) << "handed over also when not opened";
    const std::string message =
        "Cannot read settings file " + scratch.File() + ", line " + std::to_string(row.line) + ": ";
    ASSERT_EQ(trace.lines.size(), 1u);
    EXPECT_EQ(trace.lines[0].rfind("virhe rekisterin aukaisussa" + message, 0), 0u) << trace.lines[0];
    EXPECT_EQ(trace.lines[0].back(), '=');
    reg.reset();

    module.TalletaUusiAvain({7, String()});
    module.TarkastaLogit();
    EXPECT_EQ(world.queries, (std::vector<std::pair<std::int64_t, bool>>{{0, false}})) << "never a first run";
    EXPECT_EQ(trace.lines.size(), 3u) << "every use traces it again";
    EXPECT_EQ(ReadBytes(scratch.File()), row.text);
  }
}

TEST(SettingsFileTest, NoFileIsCreatedWithMode0600AndItsFoldersAndTheFirstCycleIsAFirstRun) {
  ScratchKey scratch({});
  scratch.UseFile(scratch.Folder() + "/var/lib/vantrel/settings.reg");
  ModuleHarness::World world;
  ModuleHarness module(world, {.settings_key = true});
  TraceRecorder trace;

  module.TarkastaLogit();
  struct stat st;
  ASSERT_EQ(stat(scratch.File().c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0600u);
  EXPECT_TRUE(S_ISREG(st.st_mode));
  EXPECT_EQ(world.queries, (std::vector<std::pair<std::int64_t, bool>>{{0, true}}));
  EXPECT_EQ(ReadBytes(scratch.File()), kHead + "\"lastrecnum\"=dword:00000000\n\n");
  EXPECT_TRUE(trace.lines.empty());

  module.TarkastaLogit();
  EXPECT_EQ(world.queries.back(), std::make_pair(std::int64_t{0}, false));
  EXPECT_FALSE(std::filesystem::exists(scratch.Folder() + "/var/lib/vantrel/.settings.reg.tmp"));
}

TEST(SettingsFileTest, ALocationThatCannotBeCreatedLeavesTheKeyClosedWithoutATrace) {
  struct Row {
    const char* name;
    std::string file;  // below the scratch folder
  } rows[] = {
      {"a folder below a regular file", "/plain/sub/settings.reg"},
      {"the file below a regular file", "/plain/settings.reg"},
      {"a link that leads round in a loop", "/loop"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    ScratchKey scratch({});
    WriteBytes(scratch.Folder() + "/plain", "not a folder");
    std::filesystem::create_symlink("loop", scratch.Folder() + "/loop");
    scratch.UseFile(scratch.Folder() + row.file);
    ModuleHarness::World world;
    ModuleHarness module(world, {.settings_key = true});
    TraceRecorder trace;

    std::unique_ptr<SettingsKey> reg;
    EXPECT_FALSE(module.avaaRekisteri(reg));
    ASSERT_TRUE(reg);
    EXPECT_EQ(reg->LastError(), kRegAccessDenied);
    reg.reset();
    module.TalletaUusiAvain({5, String()});
    module.TarkastaLogit();
    EXPECT_EQ(world.queries, (std::vector<std::pair<std::int64_t, bool>>{{0, false}}));
    EXPECT_TRUE(trace.lines.empty());
    EXPECT_EQ(ReadBytes(scratch.Folder() + "/plain"), "not a folder");
  }
}

TEST(SettingsFileTest, AnythingButARegularFileIsNeverReadAndLeavesTheKeyClosedWithAMessage) {
  // (row, what is made at the path, what the message says after the path)
  struct Row {
    const char* name;
    std::function<void(const std::string& path, const std::string& folder)> make;
    std::string says;
  };
  const Row rows[] = {
      {"a FIFO without a writer", [](const std::string& p, auto&) { ASSERT_EQ(mkfifo(p.c_str(), 0600), 0); },
       "a FIFO, not a regular file"},
      {"a link to /dev/zero", [](const std::string& p, auto&) { std::filesystem::create_symlink("/dev/zero", p); },
       "it leads to /dev/zero, a character device, not a regular file"},
      {"a link to a FIFO in another folder",
       [](const std::string& p, const std::string& folder) {
         std::filesystem::create_directory(folder + "/etc");
         ASSERT_EQ(mkfifo((folder + "/etc/fifo").c_str(), 0600), 0);
         std::filesystem::create_symlink("etc/fifo", p);
       },
       "it leads to FOLDER/etc/fifo, a FIFO, not a regular file"},
      {"a folder", [](const std::string& p, auto&) { std::filesystem::create_directory(p); },
       "a folder, not a regular file"},
      {"a socket",
       [](const std::string& p, auto&) {
         UniqueFd bound(socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
         sockaddr_un addr{};
         addr.sun_family = AF_UNIX;
         ASSERT_LT(p.size(), sizeof addr.sun_path);
         p.copy(addr.sun_path, p.size());
         ASSERT_EQ(bind(bound.get(), reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
       },
       "a socket, not a regular file"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    ScratchKey scratch({});
    row.make(scratch.File(), scratch.Folder());
    if (::testing::Test::HasFatalFailure()) return;
    struct stat before;
    ASSERT_EQ(lstat(scratch.File().c_str(), &before), 0);
    ModuleHarness::World world;
    ModuleHarness module(world, {.settings_key = true});
    TraceRecorder trace;

    std::unique_ptr<SettingsKey> reg;
    EXPECT_FALSE(module.avaaRekisteri(reg));
    ASSERT_TRUE(reg);
    reg.reset();
    module.TalletaUusiAvain({7, String()});
    module.TarkastaLogit();

    std::string says = row.says;
    if (const auto at = says.find("FOLDER"); at != std::string::npos) says.replace(at, 6, scratch.Folder());
    const std::string line = "virhe rekisterin aukaisussaCannot read settings file " + scratch.File() + ", " + says + "=";
    EXPECT_EQ(trace.lines, std::vector<std::string>(3, line)) << "every use says it again";
    EXPECT_EQ(world.queries, (std::vector<std::pair<std::int64_t, bool>>{{0, false}})) << "never a first run";
    struct stat after;
    ASSERT_EQ(lstat(scratch.File().c_str(), &after), 0);
    EXPECT_EQ(after.st_ino, before.st_ino) << "left where it was";
    EXPECT_EQ(after.st_mode, before.st_mode);
    EXPECT_FALSE(std::filesystem::exists(scratch.Folder() + "/.settings.reg.tmp"));
  }
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

// The settings path is a link: the file it leads to is read, created and
// replaced in its own folder with its own mode, and the link stays a link, so
// later edits of that file are what the next use reads.
TEST(SettingsFileTest, ALinkIsFollowedToTheFileItLeadsToAndStaysALink) {
  struct Row {
    const char* name;
    std::vector<std::pair<std::string, std::string>> links;  // (link below the folder, what it holds)
    std::string file;                                         // below the folder, where the links lead
    bool exists;
  } rows[] = {
      {"relative link to a file in another folder", {{"settings.reg", "etc/vantrel.reg"}}, "etc/vantrel.reg", true},
      {"absolute link", {{"settings.reg", "FOLDER/etc/vantrel.reg"}}, "etc/vantrel.reg", true},
      {"two links in a row",
       {{"settings.reg", "etc/link.reg"}, {"etc/link.reg", "../srv/vantrel.reg"}},
       "srv/vantrel.reg",
       true},
      {"link to a file not made yet, in folders not made yet", {{"settings.reg", "new/sub/vantrel.reg"}},
       "new/sub/vantrel.reg", false},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    ScratchKey scratch({});
    const std::string folder = scratch.Folder();
    const std::string file = folder + "/" + row.file;
    std::filesystem::create_directories(folder + "/etc");
    std::filesystem::create_directories(folder + "/srv");
    for (auto [link, target] : row.links) {
      if (const auto at = target.find("FOLDER"); at != std::string::npos) target.replace(at, 6, folder);
      std::filesystem::create_symlink(target, folder + "/" + link);
    }
    if (row.exists) {
      WriteBytes(file, kHead + "\"chaturl\"=\"http://chat/one\"\n\"lastrecnum\"=dword:00000001\n");
      chmod(file.c_str(), 0640);
    }
    ModuleHarness::World world;
    world.records = {5};
    ModuleHarness module(world, {.settings_key = true});
    TraceRecorder trace;

    module.TarkastaLogit();
    EXPECT_TRUE(trace.lines.empty()) << trace.lines[0];
    for (const auto& [link, target] : row.links) {
      EXPECT_TRUE(std::filesystem::is_symlink(folder + "/" + link)) << link;
    }
    struct stat st;
    ASSERT_EQ(lstat(file.c_str(), &st), 0);
    EXPECT_TRUE(S_ISREG(st.st_mode));
    EXPECT_EQ(st.st_mode & 07777, row.exists ? 0640u : 0600u);
    EXPECT_EQ(FileValue(file, u"lastrecnum"), Dword(5));
    for (const char* sub : {"", "/etc", "/srv", "/new/sub"}) {
      for (const char* temp : {"/.settings.reg.tmp", "/.vantrel.reg.tmp", "/.link.reg.tmp"}) {
        EXPECT_FALSE(std::filesystem::exists(folder + sub + temp)) << sub << temp;
      }
    }

    // An edit of the file itself is what the next cycle reads.
    WriteBytes(file, kHead + "\"chaturl\"=\"http://chat/two\"\n\"lastrecnum\"=dword:00000001\n");
    world.posts.clear();
    module.TarkastaLogit();
    ASSERT_EQ(world.posts.size(), 1u);
    EXPECT_EQ(world.posts[0].url, u"http://chat/two");
    EXPECT_EQ(FileValue(file, u"lastrecnum"), Dword(5));
  }
}

// A file exported by regedit (UTF-16LE with its mark, CR LF) and copied over
// as it is: read, and after a store the same bytes but the stored value's.
TEST(SettingsFileTest, AWindowsExportKeepsItsFormAndOnlyTheStoredValueChanges) {
  ScratchKey scratch({});
  const std::string text = "Windows Registry Editor Version 5.00\n\n" + kOtherKey + "\n; set by hand\n" +
                           "[HKEY_LOCAL_MACHINE\\SOFTWARE\\tresk\\vantrel]\n\"ChatUrl\"=\"http://chat/hook\"\n"
                           "\"instancename\"=hex(2):4b,00,e4,00,72,00,6b,00,f6,00,00,00\n"
                           "\"Käyttäjän muistio\"=hex:00,01,02,03,04,05,06,07,08,09,0a,0b,0c,0d,0e,0f,10,11,12,13,14,\\\n"
                           "  15,16,17,18,19,1a,1b,1c,1d,1e,1f,20,21,22,23,24,25,26,27,28,29,2a,2b,2c,2d,\\\n"
                           "  2e,2f\n"
                           "\"lastrecnum\"=dword:00000003\n";
  std::string crlf;
  for (char c : text) crlf += c == '\n' ? std::string("\r\n") : std::string(1, c);
  const auto exported = [](const std::string& utf8) {
    const std::vector<std::uint8_t> units = Utf16LeBytes(FromUtf8(utf8));
    return "\xFF\xFE" + std::string(units.begin(), units.end());
  };
  WriteBytes(scratch.File(), exported(crlf));
  chmod(scratch.File().c_str(), 0640);

  ModuleHarness::World world;
  world.records = {5};
  ModuleHarness module(world, {.settings_key = true});
  module.TarkastaLogit();

  ASSERT_EQ(world.posts.size(), 1u);
  EXPECT_EQ(world.posts[0].url, u"http://chat/hook");
  EXPECT_EQ(world.posts[0].json, "{\"text\":\"Mahdollisia PSQL lisenssiongelmia Kärkö, koneen nimi KONE1\"}");
  std::string expected = crlf;
  expected.replace(expected.find("dword:00000003"), 14, "dword:00000005");
  EXPECT_EQ(ReadBytes(scratch.File()), exported(expected));
  struct stat st;
  ASSERT_EQ(stat(scratch.File().c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0640u) << "the file keeps its mode";
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
  ModuleHarness::World world;
  ModuleHarness module(world, {.settings_key = true});
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
