// The Linux service manager (a unit folder) failing part way: the code and
// wording each failure gives, and nothing left behind by a create that fails.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
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

}  // namespace
}  // namespace vantrel
