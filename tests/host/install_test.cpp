// The installer's portable rules: command-line splitting, the instance name
// from the arguments, the failure texts and the install/remove steps with
// recording ports.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "host/install.h"
#include "platform/exception.h"

namespace vantrel {
namespace {

TEST(SplitCommandLine, Table) {
  struct Case {
    String line;
    std::vector<String> args;
  };
  const std::vector<Case> cases = {
      {u"prog.exe", {}},
      {u"", {}},
      {u"prog.exe /install name", {u"/install", u"name"}},
      {u"\"C:\\Program Files\\v.exe\" /install", {u"/install"}},
      {u"prog /install \"two words\"", {u"/install", u"two words"}},
      {u"prog /install two words", {u"/install", u"two", u"words"}},
      {u"prog a\"b c\"d", {u"ab cd"}},             // quotes inside an argument
      {u"prog \"\"x y", {u"x", u"y"}},             // a leading pair is skipped
      {u"prog a \"\" b", {u"a"}},                  // an empty argument ends counting
      {u"prog a\\\"b c", {u"a\\b c"}},             // no escape character
      {u"prog\t a\x01" u"b \r\n c", {u"a", u"b", u"c"}},  // control characters split
      {u"prog \"open quote runs", {u"open quote runs"}},
      {u"prog    -install   ", {u"-install"}},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(SplitCommandLine(c.line), c.args) << ToUtf8(c.line);
  }
}

TEST(InstanceNameFromArguments, Table) {
  constexpr std::size_t kAll = static_cast<std::size_t>(-1);
  struct Case {
    std::vector<String> args;
    String name;
    std::size_t counted = kAll;  // the arguments listed
  };
  const String long_name(300, u'n');
  const std::vector<Case> cases = {
      {{}, u""},
      {{u"/install"}, u""},
      {{u"/install", u"/silent"}, u""},
      {{u"/install", u"Tuotanto"}, u"Tuotanto"},
      {{u"Eka", u"/install", u"Toka", u"/silent"}, u"Toka"},
      {{u"-install"}, u"-install"},
      {{u"/install", u"   "}, u"   "},
      {{u"/INSTALL", long_name}, long_name},
      {{u"/install", u"/x", u"//y"}, u""},
      // Counting stops at the first empty argument; nothing after it is
      // listed or taken as the name.
      {{u"/install", u"Eka", u"", u"Toka"}, u"Eka", 2},
      {{u"", u"/install", u"Nimi"}, u"", 0},
  };
  for (const Case& c : cases) {
    const std::size_t counted = c.counted == kAll ? c.args.size() : c.counted;
    std::vector<std::pair<String, String>> lines;
    const String name = InstanceNameFromArguments(
        c.args, [&](const String& label, const String& value) { lines.emplace_back(label, value); });
    EXPECT_EQ(name, c.name);
    ASSERT_EQ(lines.size(), counted + 1);
    EXPECT_EQ(lines[0].first, u"paramcount");
    EXPECT_EQ(lines[0].second, IntToStr(static_cast<std::int64_t>(counted)));
    for (std::size_t i = 0; i < counted; ++i) {
      EXPECT_EQ(lines[i + 1].first, u"param" + IntToStr(static_cast<std::int64_t>(i + 1)));
      EXPECT_EQ(lines[i + 1].second, c.args[i]);
    }
  }
}

TEST(InstallTexts, OsFailureAndQuotedPath) {
  EXPECT_EQ(OsFailureMessage(1073, u"The specified service already exists"),
            u"System Error.  Code: 1073.\r\nThe specified service already exists");
  EXPECT_EQ(OsFailureMessage(0, u"ignored"), u"A call to an OS function failed");
  EXPECT_EQ(QuotedBinaryPath(u"C:\\v\\vantrel.exe"), u"C:\\v\\vantrel.exe");
  EXPECT_EQ(QuotedBinaryPath(u"C:\\Program Files\\v.exe"), u"\"C:\\Program Files\\v.exe\"");
  try {
    RaiseOsFailure(1060);
    FAIL();
  } catch (const Exception& e) {
    EXPECT_EQ(e.Message().rfind(u"System Error.  Code: 1060.\r\n", 0), 0u);
    EXPECT_GT(e.Message().size(), std::u16string(u"System Error.  Code: 1060.\r\n").size());
  }
}

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
      {"silent success", true, u"", u"", 0,
       {u"open scm", u"before", kCreate, u"after", u"close service", u"close scm"}, {}},
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
    return u"Service \"Vantrel\" failed to uninstall with error: \"System Error.  Code: " +
           IntToStr(code) + u".\r\n" + ScmErrorText(code) + u"\"";
  };
  const std::vector<Case> cases = {
      {"success", false, 0, 0, {u"open scm", u"open VantrelSrv", u"delete", u"close service", u"close scm"},
       {{BoxKind::kInformation, u"Service uninstalled successfully"}}},
      {"silent", true, 0, 0, {u"open scm", u"open VantrelSrv", u"delete", u"close service", u"close scm"}, {}},
      {"not installed", true, 1060, 0, {u"open scm", u"open VantrelSrv", u"close scm"},
       {{BoxKind::kError, failed(1060)}}},
      {"marked for deletion", false, 0, 1072,
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
