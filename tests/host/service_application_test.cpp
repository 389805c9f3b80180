// Where a failure that ends the program goes, through the program's ports:
// in service mode to the event log (a box there would hold the service for
// ever, unseen), in install and uninstall runs to the box.
#include <gtest/gtest.h>

#include <functional>
#include <stdexcept>
#include <string>
#include <vector>

#include "host/service_application.h"
#include "host/service_module.h"
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

// A module that only marks that it exists; made as the program makes its
// own, through CreateForm, which hands it the timer factory first.
struct MarkerModule : ServiceModule {
  template <class TimerFactory>
  explicit MarkerModule(const TimerFactory&) : ServiceModule(u"Marker", u"Marker") {}
};

// A box shown for a failure of the run (the service manager refused, the
// removal failed) must find the module and its timer alive: checks go on
// while the box waits. So must the event log line in service mode.
TEST(RunApplication, AFailureIsReportedWhileTheModuleStillLives) {
  for (const std::vector<String>& arguments :
       std::vector<std::vector<String>>{{}, {u"/install"}, {u"/uninstall", u"/silent"}}) {
    SCOPED_TRACE(arguments.empty() ? "service mode" : "registration");
    std::vector<bool> module_alive;
    const auto note = [&](const String&) { module_alive.push_back(ModuleReference() != nullptr); };
    const ProgramPorts ports{arguments, note, note};
    const Steps steps = [&arguments](ServiceApplication& application) -> int {
      application.CreateForm<MarkerModule>();
      if (arguments.empty()) throw Exception(u"failed with the module made");
      application.UpdateRegistration = [](bool, bool) { throw Exception(u"OpenSCManager failed"); };
      return application.Run();
    };
    EXPECT_EQ(RunApplication(steps, ports), 1);
    EXPECT_EQ(module_alive, std::vector<bool>{true});
    EXPECT_EQ(ModuleReference(), nullptr) << "the module outlives the run";
  }
}

}  // namespace
}  // namespace vantrel
