// Where a failure that ends the program goes, through the program's ports:
// in service mode to the event log (a box there would hold the service for
// ever, unseen), in install and uninstall runs to the box.
#include <gtest/gtest.h>

#include <functional>
#include <stdexcept>
#include <string>
#include <vector>

#include "host/service_application.h"
#include "platform/exception.h"

namespace vantrel {
namespace {

// What the steps of the entry do after the application is made.
using Steps = std::function<int(ServiceApplication&)>;

int FailBeforeRun(ServiceApplication&) { throw Exception(u"boom"); }

int FailNotOurOwn(ServiceApplication&) { throw std::runtime_error("bad_alloc or the like"); }

int FailingRegistration(ServiceApplication& application) {
  application.UpdateRegistration = [](bool, bool) { throw Exception(u"no rights"); };
  return application.Run();
}

int QuietRegistration(ServiceApplication& application) {
  application.ClaimServiceMode = []() -> std::shared_ptr<void> { throw Exception(u"claimed outside service mode"); };
  application.UpdateRegistration = [](bool, bool) {};
  return application.Run();
}

TEST(RunApplication, AFailureThatEscapesGoesToTheEventLogInServiceModeAndToTheBoxOtherwise) {
  struct Row {
    const char* name;
    std::vector<String> arguments;
    Steps steps;
    int exit_code;
    std::vector<String> logged;
    std::vector<String> shown;
  };
  const Row rows[] = {
      {"service mode, before Run", {}, FailBeforeRun, 1, {u"boom"}, {}},
      {"service mode, a failure not of the program's own", {}, FailNotOurOwn, 1, {u"bad_alloc or the like"}, {}},
      {"the silent switch alone is service mode", {u"/silent"}, FailBeforeRun, 1, {u"boom"}, {}},
      {"an unknown switch is service mode", {u"//install"}, FailBeforeRun, 1, {u"boom"}, {}},
      {"install, before Run", {u"-INSTALL", u"Name"}, FailBeforeRun, 1, {}, {u"boom"}},
      {"install, from the registration", {u"/install"}, FailingRegistration, 1, {}, {u"no rights"}},
      {"uninstall, silent", {u"/uninstall", u"/silent"}, FailingRegistration, 1, {}, {u"no rights"}},
      {"install without a failure claims nothing", {u"/install", u"/silent"}, QuietRegistration, 0, {}, {}},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    std::vector<String> logged, shown;
    const ProgramPorts ports{
        row.arguments,
        [&](const String& message) { logged.push_back(message); },
        [&](const String& message) { shown.push_back(message); },
    };
    EXPECT_EQ(RunApplication(row.steps, ports), row.exit_code);
    EXPECT_EQ(logged, row.logged);
    EXPECT_EQ(shown, row.shown);
  }
}

}  // namespace
}  // namespace vantrel
