// The Linux service manager (a unit folder): the unit it writes, as systemd
// reads and rates it, and failing part way: the code and wording each
// failure gives, and nothing left behind by a create that fails.
#include <gtest/gtest.h>

#include <stdio.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <sstream>
#include <string>

#include "host/install_scm.h"
#include "platform/exception.h"
#include "scratch_folder_linux.h"

namespace vantrel {
namespace {

namespace fs = std::filesystem;

const ServiceRegistration kRegistration{u"VantrelSrv", u"Vantrel", u"/usr/sbin/vantrel"};

String FailureOf(const std::function<void()>& action) {
  try {
    action();
  } catch (const Exception& e) {
    return e.Message();
  }
  return u"no failure";
}

TEST(UnitFolder, EachFailureGivesTheCodeAWindowsCallWouldGive) {
  struct Row {
    const char* name;
    std::function<void(const fs::path& dir)> after_open;  // what happens to the folder meanwhile
    bool install;
    String failure;
  };
  const Row rows[] = {
      {"the unit folder removed after it was opened", [](const fs::path& dir) { fs::remove_all(dir); }, true,
       u"System Error.  Code: 3.\r\nThe system cannot find the path specified"},
      {"a regular file where the wants folder belongs",
       [](const fs::path& dir) { std::ofstream(dir / "multi-user.target.wants") << "not a folder"; }, true,
       u"System Error.  Code: 5.\r\nAccess is denied"},
      {"a registration that exists", [](const fs::path& dir) { std::ofstream(dir / "VantrelSrv.service"); }, true,
       u"System Error.  Code: 1073.\r\nThe specified service already exists"},
      {"removing a registration never made", [](const fs::path&) {}, false,
       u"System Error.  Code: 1060.\r\nThe specified service does not exist as an installed service"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    const testing::ScratchFolder scratch("vantrel-units");
    const fs::path& dir = scratch.Path();
    setenv("VANTREL_UNIT_DIR", dir.c_str(), 1);
    std::unique_ptr<ScmPort> scm = OpenPlatformScm();
    unsetenv("VANTREL_UNIT_DIR");
    row.after_open(dir);
    if (row.install) {
      EXPECT_EQ(FailureOf([&] { scm->Create(kRegistration); }), row.failure);
    } else {
      EXPECT_EQ(FailureOf([&] { scm->Open(u"VantrelSrv")->Delete(); }), row.failure);
    }
    if (row.install && fs::exists(dir)) {
      // A create that failed leaves no unit of its own and no temporary file.
      for (const auto& entry : fs::directory_iterator(dir)) {
        const std::string name = entry.path().filename().string();
        EXPECT_TRUE(name == "multi-user.target.wants" || (name == "VantrelSrv.service" && fs::file_size(entry) == 0))
            << name;
      }
    }
  }
}

// What a command printed on standard output and error, and how it ended.
struct Output {
  int status = -1;
  std::string text;
};

Output RunCommand(const std::string& command) {
  Output output;
  FILE* pipe = ::popen((command + " 2>&1").c_str(), "r");
  if (!pipe) return output;
  char buffer[4096];
  for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;) output.text.append(buffer, n);
  output.status = ::pclose(pipe);
  return output;
}

std::string ReadFile(const fs::path& path) {
  std::ifstream in(path);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

// The unit written when the settings path is settings_path (a file, a link
// or nothing yet).
std::string UnitFor(const fs::path& dir, const fs::path& settings_path) {
  fs::create_directories(dir / "units");
  setenv("VANTREL_UNIT_DIR", (dir / "units").c_str(), 1);
  setenv("VANTREL_REGISTRY", settings_path.c_str(), 1);
  const ServiceRegistration registration{u"VantrelSrv", u"Vantrel", u"/usr/bin/true"};
  OpenPlatformScm()->Create(registration);
  unsetenv("VANTREL_UNIT_DIR");
  unsetenv("VANTREL_REGISTRY");
  return ReadFile(dir / "units" / "VantrelSrv.service");
}

// systemd reads the unit without a complaint (a misspelt directive or a path
// it cannot parse is a warning of systemd-analyze verify), and rates its
// sandbox at most 2.0, for every place the settings may lie.
TEST(UnitFolder, SystemdReadsTheUnitAndRatesItsSandboxAtMostTwo) {
  if (RunCommand("systemd-analyze --version").status != 0) GTEST_SKIP() << "no systemd-analyze here";
  struct Row {
    const char* name;
    std::function<fs::path(const fs::path& dir)> settings;     // makes the settings, gives their path
    std::function<std::string(const fs::path& dir)> writable;  // the ReadWritePaths= line, or none
  };
  const testing::ScratchFolder scratch("vantrel-unit");
  const fs::path odd = scratch.Path() / "etc 100%";
  const Row rows[] = {
      {"the settings at the default path", [](const fs::path&) { return fs::path("/var/lib/vantrel/settings.reg"); },
       [](const fs::path&) { return std::string(); }},
      {"a link made before the install, to a folder with a blank and a %",
       [&](const fs::path& dir) {
         fs::create_directories(odd);
         std::ofstream(odd / "settings.reg") << "Windows Registry Editor Version 5.00\n";
         fs::create_symlink(odd / "settings.reg", dir / "settings.reg");
         return dir / "settings.reg";
       },
       [&](const fs::path&) { return "ReadWritePaths=\"-" + scratch.Path().string() + "/etc 100%%\"\n"; }},
      {"a relative link through another link",
       [&](const fs::path& dir) {
         fs::create_directories(dir.parent_path() / "srv");
         fs::create_symlink("../srv/settings.reg", dir / "second.reg");
         fs::create_symlink("second.reg", dir / "settings.reg");
         return dir / "settings.reg";
       },
       [](const fs::path& dir) { return "ReadWritePaths=-" + dir.parent_path().string() + "/srv\n"; }},
  };
  int n = 0;
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    const fs::path dir = scratch.Path() / std::to_string(++n) / "lib";
    fs::create_directories(dir);
    const std::string unit = UnitFor(dir, row.settings(dir));
    const std::string writable = row.writable(dir);
    if (writable.empty()) {
      EXPECT_EQ(unit.find("ReadWritePaths="), std::string::npos) << unit;
    } else {
      EXPECT_NE(unit.find("\n" + writable), std::string::npos) << unit;
    }
    const std::string file = (dir / "units" / "VantrelSrv.service").string();
    const Output verified = RunCommand("systemd-analyze verify --man=no '" + file + "'");
    EXPECT_EQ(verified.status, 0);
    EXPECT_EQ(verified.text, "") << unit;
    const Output rated = RunCommand("systemd-analyze security --offline=yes --no-pager '" + file + "'");
    const std::string::size_type at = rated.text.find("Overall exposure level for VantrelSrv.service: ");
    ASSERT_NE(at, std::string::npos) << rated.text;
    EXPECT_LE(std::stod(rated.text.substr(at + 47)), 2.0) << rated.text;
  }
}

}  // namespace
}  // namespace vantrel
