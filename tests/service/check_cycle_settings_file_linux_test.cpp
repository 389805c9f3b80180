// The check cycle on the Linux settings file as it may be found: corrupt,
// missing, beyond reach, something other than a regular file, behind links,
// or exported from Windows.
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <filesystem>
#include <functional>

#include "platform/unique_fd.h"
#include "tests/service/module_harness.h"
#include "tests/service/real_components.h"
#include "tests/settings/scratch_key.h"
#include "tests/settings/settings_file_linux.h"
#include "tests/platform/without_file_override_linux.h"

namespace vantrel {
namespace {

using testing::Dword;
using testing::FileValue;
using testing::kHead;
using testing::kKeyLines;
using testing::kOtherKey;
using testing::ModuleHarness;
using testing::ReadBytes;
using testing::RealPortsOf;
using testing::ScratchKey;
using testing::TraceRecorder;
using testing::WriteBytes;

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
    ModuleHarness module(world, RealPortsOf({.settings_key = true}));
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

    EXPECT_THROW(module.TalletaUusiAvain({7, String()}), SettingsKeyError);
    module.TarkastaLogit();
    EXPECT_EQ(world.queries, (std::vector<std::pair<std::int64_t, bool>>{{0, false}})) << "never a first run";
    EXPECT_EQ(trace.lines.size(), 3u) << "every use traces it again";
    EXPECT_EQ(ReadBytes(scratch.File()), row.text);
  }
}

// A file of no bytes (a save cut short by a full disk, say) is no key to
// begin afresh: it is traced as a file that cannot be read, the check is no
// first run, and the file is never written over.
TEST(SettingsFileTest, AFileOfNoBytesIsTracedAndNeverWrittenOver) {
  ScratchKey scratch({});
  WriteBytes(scratch.File(), "");
  ModuleHarness::World world;
  ModuleHarness module(world, RealPortsOf({.settings_key = true}));
  TraceRecorder trace;
  module.TarkastaLogit();
  module.TarkastaLogit();
  const std::string line =
      "virhe rekisterin aukaisussaCannot read settings file " + scratch.File() + ", it is empty (0 bytes)=";
  EXPECT_EQ(trace.lines, std::vector<std::string>(2, line));
  EXPECT_EQ(world.queries, (std::vector<std::pair<std::int64_t, bool>>{{0, false}, {0, false}})) << "no first run";
  EXPECT_TRUE(world.posts.empty());
  EXPECT_EQ(ReadBytes(scratch.File()), "");
  EXPECT_EQ(module.LastCheck().settings_failure, FromUtf8(line.substr(27, line.size() - 28)));
}

// A settings file that can be read but not written (its folder read-only,
// as /etc is under the unit's sandbox): the check reads its values and
// posts with them, says why it cannot be written, and fails at the store;
// the mark waits in memory and is stored once the file can be written.
TEST(SettingsFileTest, AFileThatCannotBeWrittenIsReadAndSaidAndItsMarkWaits) {
  ScratchKey scratch({});
  const std::string text = kHead + "\"chaturl\"=\"http://chat/hook\"\n\"instancename\"=\"Demo\"\n";
  WriteBytes(scratch.File(), text);
  ModuleHarness::World world;
  ModuleHarness module(world, RealPortsOf({.settings_key = true}));
  TraceRecorder trace;
  ASSERT_EQ(chmod(scratch.Folder().c_str(), 0500), 0);
  const std::string said =
      "Cannot write settings file " + scratch.File() + ", folder " + scratch.Folder() + ": Permission denied";
  {
    testing::WithoutFileOverride as_the_service;
    for (int check = 0; check < 2; ++check) {
      try {
        module.TarkastaLogit();
        ADD_FAILURE() << "completed";
      } catch (const SettingsKeyError& e) {
        EXPECT_EQ(e.Message(), u"Failed to set data for 'lastrecnum'");
      }
    }
  }
  chmod(scratch.Folder().c_str(), 0700);
  EXPECT_EQ(trace.lines, std::vector<std::string>(4, "virhe rekisterin aukaisussa" + said + "="))
      << "the read and the store of each check";
  EXPECT_EQ(ToUtf8(module.LastCheck().settings_failure), said);
  ASSERT_EQ(world.posts.size(), 1u) << "the start notice, once";
  EXPECT_EQ(world.posts[0].url, u"http://chat/hook");
  EXPECT_EQ(world.posts[0].json, testing::kStartNotice);
  EXPECT_EQ(world.queries, (std::vector<std::pair<std::int64_t, bool>>{{0, true}, {0, false}}));
  EXPECT_EQ(ReadBytes(scratch.File()), text);

  module.TarkastaLogit();
  EXPECT_EQ(FileValue(scratch.File(), u"lastrecnum"), Dword(0));
  EXPECT_EQ(world.posts.size(), 1u);
  EXPECT_EQ(trace.lines.size(), 4u);
}

TEST(SettingsFileTest, NoFileIsCreatedWithMode0600AndItsFoldersAndTheFirstCycleIsAFirstRun) {
  ScratchKey scratch({});
  scratch.UseFile(scratch.Folder() + "/var/lib/vantrel/settings.reg");
  ModuleHarness::World world;
  ModuleHarness module(world, RealPortsOf({.settings_key = true}));
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

TEST(SettingsFileTest, ALocationThatCannotBeCreatedLeavesTheKeyClosedWithItsReason) {
  struct Row {
    const char* name;
    std::string file;  // below the scratch folder
    std::string says;  // after "Cannot read settings file PATH, "
  } rows[] = {
      {"a folder below a regular file", "/plain/sub/settings.reg", "Not a directory"},
      {"the file below a regular file", "/plain/settings.reg", "Not a directory"},
      {"a link that leads round in a loop", "/loop", "Too many levels of symbolic links"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    ScratchKey scratch({});
    WriteBytes(scratch.Folder() + "/plain", "not a folder");
    std::filesystem::create_symlink("loop", scratch.Folder() + "/loop");
    scratch.UseFile(scratch.Folder() + row.file);
    ModuleHarness::World world;
    ModuleHarness module(world, RealPortsOf({.settings_key = true}));
    TraceRecorder trace;

    std::unique_ptr<SettingsKey> reg;
    EXPECT_FALSE(module.avaaRekisteri(reg));
    ASSERT_TRUE(reg);
    reg.reset();
    EXPECT_THROW(module.TalletaUusiAvain({5, String()}), SettingsKeyError);
    module.TarkastaLogit();
    EXPECT_EQ(world.queries, (std::vector<std::pair<std::int64_t, bool>>{{0, false}}));
    const std::string line =
        "virhe rekisterin aukaisussaCannot read settings file " + scratch.File() + ", " + row.says + "=";
    EXPECT_EQ(trace.lines, std::vector<std::string>(3, line));
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
    ModuleHarness module(world, RealPortsOf({.settings_key = true}));
    TraceRecorder trace;

    std::unique_ptr<SettingsKey> reg;
    EXPECT_FALSE(module.avaaRekisteri(reg));
    ASSERT_TRUE(reg);
    reg.reset();
    EXPECT_THROW(module.TalletaUusiAvain({7, String()}), SettingsKeyError);
    module.TarkastaLogit();

    std::string says = row.says;
    if (const auto at = says.find("FOLDER"); at != std::string::npos) says.replace(at, 6, scratch.Folder());
    const std::string line =
        "virhe rekisterin aukaisussaCannot read settings file " + scratch.File() + ", " + says + "=";
    EXPECT_EQ(trace.lines, std::vector<std::string>(3, line)) << "every use says it again";
    EXPECT_EQ(world.queries, (std::vector<std::pair<std::int64_t, bool>>{{0, false}})) << "never a first run";
    struct stat after;
    ASSERT_EQ(lstat(scratch.File().c_str(), &after), 0);
    EXPECT_EQ(after.st_ino, before.st_ino) << "left where it was";
    EXPECT_EQ(after.st_mode, before.st_mode);
    EXPECT_FALSE(std::filesystem::exists(scratch.Folder() + "/.settings.reg.tmp"));
  }
}

// The settings path is a link: the file it leads to is read, created and
// replaced in its own folder with its own mode, and the link stays a link, so
// later edits of that file are what the next use reads.
TEST(SettingsFileTest, ALinkIsFollowedToTheFileItLeadsToAndStaysALink) {
  struct Row {
    const char* name;
    std::vector<std::pair<std::string, std::string>> links;  // (link below the folder, what it holds)
    std::string file;                                        // below the folder, where the links lead
    bool exists;
  } rows[] = {
      {"relative link to a file in another folder", {{"settings.reg", "etc/vantrel.reg"}}, "etc/vantrel.reg", true},
      {"absolute link", {{"settings.reg", "FOLDER/etc/vantrel.reg"}}, "etc/vantrel.reg", true},
      {"two links in a row",
       {{"settings.reg", "etc/link.reg"}, {"etc/link.reg", "../srv/vantrel.reg"}},
       "srv/vantrel.reg",
       true},
      {"link to a file not made yet, in folders not made yet",
       {{"settings.reg", "new/sub/vantrel.reg"}},
       "new/sub/vantrel.reg",
       false},
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
    ModuleHarness module(world, RealPortsOf({.settings_key = true}));
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
  const std::string text =
      "Windows Registry Editor Version 5.00\n\n" + kOtherKey + "\n; set by hand\n" +
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
  ModuleHarness module(world, RealPortsOf({.settings_key = true}));
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

}  // namespace
}  // namespace vantrel
