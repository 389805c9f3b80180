// The install and remove steps, with a recording service manager and boxes.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "host/install.h"
#include "platform/exception.h"

namespace vantrel {
namespace {

// A service manager that records every step and fails on request.
struct Recorder {
  std::vector<String> steps;
  std::vector<std::pair<BoxKind, String>> boxes;
  bool open_fails = false;
  std::uint32_t create_fails = 0;
  std::uint32_t open_service_fails = 0;
  std::uint32_t delete_fails = 0;
};

class FakeService : public ScmService {
 public:
  explicit FakeService(Recorder& r) : r_(r) {}
  ~FakeService() override { r_.steps.push_back(u"close service"); }
  void Delete() override {
    r_.steps.push_back(u"delete");
    if (r_.delete_fails) RaiseOsFailure(r_.delete_fails);
  }

 private:
  Recorder& r_;
};

class FakeScm : public ScmPort {
 public:
  explicit FakeScm(Recorder& r) : r_(r) {}
  ~FakeScm() override { r_.steps.push_back(u"close scm"); }
  std::unique_ptr<ScmService> Create(const ServiceRegistration& reg) override {
    r_.steps.push_back(u"create " + reg.name + u"|" + reg.display_name + u"|" + reg.binary_path);
    if (r_.create_fails) RaiseOsFailure(r_.create_fails);
    return std::make_unique<FakeService>(r_);
  }
  std::unique_ptr<ScmService> Open(const String& name) override {
    r_.steps.push_back(u"open " + name);
    if (r_.open_service_fails) RaiseOsFailure(r_.open_service_fails);
    return std::make_unique<FakeService>(r_);
  }

 private:
  Recorder& r_;
};

InstallPorts PortsOf(Recorder& r) {
  InstallPorts ports;
  ports.open_scm = [&r]() -> std::unique_ptr<ScmPort> {
    r.steps.push_back(u"open scm");
    if (r.open_fails) RaiseOsFailure(5);
    return std::make_unique<FakeScm>(r);
  };
  ports.executable_path = [] { return String(u"/opt/my dir/vantrel"); };
  ports.show_box = [&r](BoxKind kind, const String& text) { r.boxes.emplace_back(kind, text); };
  return ports;
}

InstallHooks HooksOf(Recorder& r, const String& before_failure = u"", const String& after_failure = u"") {
  InstallHooks hooks;
  hooks.before_install = [&r, before_failure](ServiceModule&) {
    r.steps.push_back(u"before");
    if (!before_failure.empty()) throw Exception(before_failure);
  };
  hooks.after_install = [&r, after_failure](ServiceModule&) {
    r.steps.push_back(u"after");
    if (!after_failure.empty()) throw Exception(after_failure);
  };
  return hooks;
}

const String kCreate = u"create VantrelSrv|Vantrel|\"/opt/my dir/vantrel\"";

TEST(UpdateRegistration, InstallSteps) {
  struct Case {
    const char* what;
    bool silent;
    String before_failure;
    String after_failure;
    std::uint32_t create_fails;
    std::vector<String> steps;
    std::vector<std::pair<BoxKind, String>> boxes;
  };
  const String exists = u"System Error.  Code: 1073.\r\n" + ScmErrorText(1073);
  const std::vector<Case> cases = {
      {"success",
       false,
       u"",
       u"",
       0,
       {u"open scm", u"before", kCreate, u"after", u"close service", u"close scm"},
       {{BoxKind::kInformation, u"Service installed successfully"}}},
      {"silent success",
       true,
       u"",
       u"",
       0,
       {u"open scm", u"before", kCreate, u"after", u"close service", u"close scm"},
       {}},
      {"hook refuses",
       true,
       u"no name",
       u"",
       0,
       {u"open scm", u"before", u"close scm"},
       {{BoxKind::kError, u"Service \"Vantrel\" failed to install with error: \"no name\""}}},
      {"exists",
       false,
       u"",
       u"",
       1073,
       {u"open scm", u"before", kCreate, u"close scm"},
       {{BoxKind::kError, u"Service \"Vantrel\" failed to install with error: \"" + exists + u"\""}}},
      {"after hook fails",
       false,
       u"",
       u"late",
       0,
       {u"open scm", u"before", kCreate, u"after", u"delete", u"close service", u"close scm"},
       {{BoxKind::kError, u"Service \"Vantrel\" failed to install with error: \"late\""}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Recorder r;
    r.create_fails = c.create_fails;
    ServiceModule module(u"VantrelSrv", u"Vantrel");
    UpdateRegistrationWith(module, HooksOf(r, c.before_failure, c.after_failure), true, c.silent, PortsOf(r));
    EXPECT_EQ(r.steps, c.steps);
    EXPECT_EQ(r.boxes, c.boxes);
  }
}

TEST(UpdateRegistration, RemoveSteps) {
  struct Case {
    const char* what;
    bool silent;
    std::uint32_t open_fails;
    std::uint32_t delete_fails;
    std::vector<String> steps;
    std::vector<std::pair<BoxKind, String>> boxes;
  };
  auto failed = [](std::uint32_t code) {
    return u"Service \"Vantrel\" failed to uninstall with error: \"System Error.  Code: " + IntToStr(code) + u".\r\n" +
           ScmErrorText(code) + u"\"";
  };
  const std::vector<Case> cases = {
      {"success",
       false,
       0,
       0,
       {u"open scm", u"open VantrelSrv", u"delete", u"close service", u"close scm"},
       {{BoxKind::kInformation, u"Service uninstalled successfully"}}},
      {"silent", true, 0, 0, {u"open scm", u"open VantrelSrv", u"delete", u"close service", u"close scm"}, {}},
      {"not installed",
       true,
       1060,
       0,
       {u"open scm", u"open VantrelSrv", u"close scm"},
       {{BoxKind::kError, failed(1060)}}},
      {"marked for deletion",
       false,
       0,
       1072,
       {u"open scm", u"open VantrelSrv", u"delete", u"close service", u"close scm"},
       {{BoxKind::kError, failed(1072)}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Recorder r;
    r.open_service_fails = c.open_fails;
    r.delete_fails = c.delete_fails;
    ServiceModule module(u"VantrelSrv", u"Vantrel");
    Recorder hooks_recorder;  // install hooks never run on removal
    UpdateRegistrationWith(module, HooksOf(hooks_recorder), false, c.silent, PortsOf(r));
    EXPECT_EQ(r.steps, c.steps);
    EXPECT_EQ(r.boxes, c.boxes);
    EXPECT_TRUE(hooks_recorder.steps.empty());
  }
}

TEST(UpdateRegistration, UnopenableManagerLeavesWithoutHooksOrBoxes) {
  for (const bool install : {true, false}) {
    Recorder r;
    r.open_fails = true;
    ServiceModule module(u"VantrelSrv", u"Vantrel");
    try {
      UpdateRegistrationWith(module, HooksOf(r), install, false, PortsOf(r));
      ADD_FAILURE() << "no failure";
    } catch (const Exception& e) {
      EXPECT_EQ(e.Message().rfind(u"System Error.  Code: 5.\r\n", 0), 0u);
    }
    EXPECT_EQ(r.steps, std::vector<String>{u"open scm"});
    EXPECT_TRUE(r.boxes.empty());
  }
}

}  // namespace
}  // namespace vantrel
