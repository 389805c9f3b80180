// The real program installing and removing itself in a test unit folder,
// without a controlling terminal (so the naming prompt counts as cancelled).
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "scratch_folder_linux.h"

namespace vantrel {
namespace {

namespace fs = std::filesystem;

struct RunResult {
  int exit_code = -1;
  std::string err;
};

class InstallBinary : public ::testing::Test {
 protected:
  void SetUp() override { fs::create_directory(units_); }

  RunResult Run(const std::vector<std::string>& args, const fs::path& unit_dir,
                const std::string& binary = VANTREL_BINARY) {
    const fs::path err_file = dir_ / "stderr.txt";
    const pid_t pid = fork();
    if (pid == 0) {
      setsid();  // no controlling terminal
      const int in = open("/dev/null", O_RDONLY);
      const int err = open(err_file.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
      dup2(in, 0);
      dup2(err, 1);
      dup2(err, 2);
      setenv("VANTREL_UNIT_DIR", unit_dir.c_str(), 1);
      setenv("VANTREL_REGISTRY", (dir_ / "settings.reg").c_str(), 1);
      alarm(30);  // a run that hangs ends with SIGALRM; it survives exec
      std::vector<char*> argv{const_cast<char*>(binary.c_str())};
      for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
      argv.push_back(nullptr);
      execv(binary.c_str(), argv.data());
      _exit(127);
    }
    RunResult result;
    int status = 0;
    waitpid(pid, &status, 0);
    result.exit_code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    std::ifstream in(err_file);
    std::stringstream text;
    text << in.rdbuf();
    result.err = text.str();
    return result;
  }

  fs::path Unit() const { return units_ / "VantrelSrv.service"; }
  fs::path Link() const { return units_ / "multi-user.target.wants" / "VantrelSrv.service"; }

  const testing::ScratchFolder scratch_{"vantrel-install"};
  const fs::path dir_ = scratch_.Path();
  const fs::path units_ = dir_ / "units";
};

std::string ReadAll(const fs::path& path) {
  std::ifstream in(path);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

TEST_F(InstallBinary, InstallTwiceThenUninstallTwice) {
  RunResult r = Run({"/install", "Testi instanssi"}, units_);
  EXPECT_EQ(r.exit_code, 0);
  EXPECT_NE(r.err.find("Information\nService installed successfully\n"), std::string::npos) << r.err;
  EXPECT_NE(r.err.find("paramcount=2"), std::string::npos) << r.err;
  EXPECT_NE(r.err.find("param2=Testi instanssi"), std::string::npos) << r.err;
  const std::string unit = ReadAll(Unit());
  EXPECT_NE(unit.find("Description=Vantrel\n"), std::string::npos) << unit;
  EXPECT_NE(unit.find("Type=notify\n"), std::string::npos) << unit;
  EXPECT_NE(unit.find(std::string("ExecStart=") + fs::canonical(VANTREL_BINARY).string() + "\n"), std::string::npos)
      << unit;
  EXPECT_NE(unit.find("WantedBy=multi-user.target\n"), std::string::npos) << unit;
  EXPECT_EQ(unit.find("User="), std::string::npos);
  ASSERT_TRUE(fs::is_symlink(Link()));
  EXPECT_TRUE(fs::equivalent(Link(), Unit()));
  // No temporary file is left beside the unit.
  EXPECT_EQ(std::distance(fs::directory_iterator(units_), fs::directory_iterator()), 2);

  r = Run({"/install", "Toinen", "/silent"}, units_);
  EXPECT_EQ(r.exit_code, 0);
  EXPECT_NE(r.err.find("Error\nService \"Vantrel\" failed to install with error: \"System Error.  Code: 1073.\r\n"
                       "The specified service already exists\"\n"),
            std::string::npos)
      << r.err;
  EXPECT_EQ(ReadAll(Unit()), unit);  // the registration stays as it was

  r = Run({"/uninstall"}, units_);
  EXPECT_EQ(r.exit_code, 0);
  EXPECT_NE(r.err.find("Information\nService uninstalled successfully\n"), std::string::npos) << r.err;
  EXPECT_FALSE(fs::exists(fs::symlink_status(Unit())));
  EXPECT_FALSE(fs::exists(fs::symlink_status(Link())));

  r = Run({"-UNINSTALL", "/silent"}, units_);
  EXPECT_EQ(r.exit_code, 0);
  EXPECT_NE(r.err.find("Error\nService \"Vantrel\" failed to uninstall with error: \"System Error.  Code: 1060.\r\n"
                       "The specified service does not exist as an installed service\"\n"),
            std::string::npos)
      << r.err;
}

// The settings path is a link to a file not made yet, in folders not made
// yet: the install makes them and stores the name there; the link stays.
TEST_F(InstallBinary, InstallThroughADanglingSettingsLinkStoresTheNameWhereItLeads) {
  fs::create_symlink("etc/vantrel/settings.reg", dir_ / "settings.reg");
  const RunResult r = Run({"/install", "Nimi", "/silent"}, units_);
  EXPECT_EQ(r.exit_code, 0) << r.err;
  EXPECT_TRUE(fs::is_symlink(dir_ / "settings.reg"));
  EXPECT_EQ(ReadAll(dir_ / "etc/vantrel/settings.reg"),
            "Windows Registry Editor Version 5.00\n\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\tresk\\vantrel]\n"
            "\"instancename\"=\"Nimi\"\n\n");
  EXPECT_TRUE(fs::exists(Unit()));
}

TEST_F(InstallBinary, SilentInstallShowsNoBox) {
  const RunResult r = Run({"/install", "/silent", "Nimi"}, units_);
  EXPECT_EQ(r.exit_code, 0);
  EXPECT_EQ(r.err.find("Information"), std::string::npos) << r.err;
  EXPECT_EQ(r.err.find("Error"), std::string::npos) << r.err;
  EXPECT_TRUE(fs::exists(Unit()));
}

// systemd splits ExecStart= at blanks, reads C escapes and expands "%"
// specifiers in the executable; the unit must still name the same file.
TEST_F(InstallBinary, ExecStartNamesTheSameFile) {
  const struct {
    std::string folder;
    std::string written;
  } cases[] = {
      {"with blank", "\"" + (dir_ / "with blank").string() + "/vantrel\""},
      {"100%", (dir_ / "100%%").string() + "/vantrel"},
      {"$HOME", (dir_ / "$HOME").string() + "/vantrel"},
      {"back\\slash", (dir_ / "back\\\\slash").string() + "/vantrel"},
      {"both % and blank", "\"" + (dir_ / "both %% and blank").string() + "/vantrel\""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.folder);
    const fs::path folder = dir_ / c.folder;
    fs::create_directory(folder);
    const fs::path copy = folder / "vantrel";
    fs::copy_file(VANTREL_BINARY, copy);
    const RunResult r = Run({"/install", "Nimi", "/silent"}, units_, copy.string());
    EXPECT_EQ(r.exit_code, 0) << r.err;
    EXPECT_NE(ReadAll(Unit()).find("ExecStart=" + c.written + "\n"), std::string::npos) << ReadAll(Unit());
    Run({"/uninstall", "/silent"}, units_, copy.string());
  }
}

TEST_F(InstallBinary, NoNameWithoutTerminalRefuses) {
  const RunResult r = Run({"/install", "/silent"}, units_);
  EXPECT_EQ(r.exit_code, 0);
  EXPECT_NE(
      r.err.find("Error\nService \"Vantrel\" failed to install with error: \"Anna parametrina "
                 "k\xC3\xA4ytt\xC3\xB6instanssin SELV\xC3\x84KIELINEN, YMM\xC3\x84RRETT\xC3\x84V\xC3\x84 nimi\"\n"),
      std::string::npos)
      << r.err;
  EXPECT_FALSE(fs::exists(fs::symlink_status(Unit())));
}

TEST_F(InstallBinary, UnwritableUnitFolderEndsWithApplicationError) {
  std::ofstream(dir_ / "plain") << "a regular file";
  for (const char* mode : {"/install", "/uninstall"}) {
    const RunResult r = Run({mode, "Nimi"}, dir_ / "plain" / "units");
    EXPECT_EQ(r.exit_code, 1) << mode;
    EXPECT_NE(r.err.find("Application Error\nSystem Error.  Code: 5.\r\nAccess is denied\n"), std::string::npos)
        << r.err;
    // The hook never ran: nothing traced for the name.
    EXPECT_EQ(r.err.find("paramcount"), std::string::npos) << r.err;
  }
}

}  // namespace
}  // namespace vantrel
