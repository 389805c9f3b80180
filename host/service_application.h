// The one service application of the process: the main loop, the service
// module it owns, the application's event log writer, and Run, which chooses
// the mode from the command line; and the program's run from start to end,
// which decides where a failure that ends it goes.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <utility>
#include <vector>

#include "host/event_logger.h"
#include "host/service_module.h"
#include "host/switches.h"
#include "platform/main_loop.h"

namespace vantrel {

class ServiceApplication {
 public:
  // Makes the main thread's loop and the application writer (source = the
  // executable's file name); arguments are the program's arguments 1..n,
  // from which Run chooses the mode. On the main thread, before anything
  // else.
  explicit ServiceApplication(std::vector<String> arguments);
  ~ServiceApplication();
  ServiceApplication(const ServiceApplication&) = delete;
  ServiceApplication& operator=(const ServiceApplication&) = delete;

  // Once per process: COM as a single-threaded apartment on Windows.
  void Initialize();

  // Constructs the module, owned by the application, and makes it the
  // process's module reference; args follow the timer factory.
  template <class Module, class... Args>
  Module& CreateForm(Args&&... args) {
    auto module = std::make_unique<Module>(TimerFactory(), std::forward<Args>(args)...);
    Module& ref = *module;
    AdoptModule(std::move(module));
    return ref;
  }

  // Makes timers whose ticks arrive on the main loop.
  std::function<std::unique_ptr<TimerPort>(std::function<void()>)> TimerFactory();

  // Chooses the mode from the arguments and runs it; the process's exit
  // code.
  int Run();

  // Installs or removes the service (the installer sets it); while unset, an
  // install or uninstall run fails with "not built in".
  std::function<void(bool install, bool silent)> UpdateRegistration;

  // The service's own start calls it (ClaimAtServiceStart) and the process
  // holds what it gives until the service mode ends; it raises to refuse the
  // start, as when another process already serves the same settings. Unset:
  // nothing is claimed.
  std::function<std::shared_ptr<void>()> ClaimServiceMode;

  // Service mode, in the service's own start on the platform's ServiceMain
  // thread, with the module's status sink set and before its first report:
  // takes ClaimServiceMode's claim and lets the main loop, whose ticks run
  // the checks, begin. A refused claim reports STOPPED with the
  // service-specific exit code 1 and gives false; Run then raises the
  // refusal once the dispatcher has returned.
  bool ClaimAtServiceStart(ServiceModule& module);

  // Service mode, on the platform's ServiceMain thread once the service
  // thread has ended (a stop, a shutdown): ends the main loop after the
  // check under way (the stop has ended its HTTP attempt), reporting
  // STOP_PENDING with its checkpoint advanced every kStopReportMs while it
  // waits, and lets the claim go. STOPPED, which follows, is then told only
  // once the checks have ended, and a start right after it can claim.
  //
  // A check that has not ended kChecksEndLimitMs after the stop is stuck in
  // a call that nothing can end (an event log query that never answers): it
  // holds nothing delivered, since a mark is stored right after the post. It
  // is left: a warning goes to the event log, STOPPED is told, and the
  // process ends as soon as the dispatcher has returned.
  void EndChecksAtStop(ServiceModule& module);
  static constexpr unsigned kStopReportMs = 500;
  static constexpr unsigned kChecksEndLimitMs = 5000;

  // Sends the test notice and gives the exit code (the module sets it);
  // while unset, a test run fails with "not built in".
  std::function<int()> SendTestNotice;

  MainLoop& Loop() { return loop_; }
  EventLogger& ApplicationWriter() { return app_writer_; }
  ServiceModule* Module() { return module_.get(); }

 private:
  // The platform's part, in service_application_win.cpp and _linux.cpp.
  struct Platform;  // its state: COM on Windows
  // Makes the platform's state; first thing of the constructor.
  static std::shared_ptr<Platform> NewPlatform();
  // Service mode, on the main thread before the dispatcher thread starts:
  // readies the platform and gives what that thread runs, the platform's
  // dispatcher. It returns once the service has stopped, with 0 or the
  // system error code that ended it.
  std::function<std::uint32_t()> ServiceDispatcher();

  // What the service's start told the main thread: the claim it holds, or
  // the refusal; in service_application.cpp.
  struct ServiceStart;

  void AdoptModule(std::unique_ptr<ServiceModule> module);
  // Runs the main loop until quit; a failure escaping one message goes to
  // the application writer and the loop goes on, a failure of the loop
  // itself (std::system_error) is raised.
  void RunMainLoop();
  // Service mode: the dispatcher on its own thread; on this one the main
  // loop, once the service has started under its claim, until the dispatcher
  // has returned. A code the dispatcher returns goes to the application
  // writer; a refused claim is raised.
  void RunServiceMode();

  Switches switches_;
  MainLoop loop_;
  EventLogger app_writer_;
  std::shared_ptr<Platform> platform_;
  std::unique_ptr<ServiceStart> start_;
  std::unique_ptr<ServiceModule> module_;  // destroyed first: its timer uses the loop
};

// Where the program's run meets the platform; tests put recorders here.
struct ProgramPorts {
  // The program's arguments 1..n.
  std::vector<String> arguments;
  // Writes one error entry under the executable's file name, as the
  // application writer does.
  std::function<void(const String&)> log_failure;
  // Shows a failure to the person at the screen ("Application Error").
  std::function<void(const String&)> show_failure;
};

// The process's own arguments, event log and "Application Error" box.
ProgramPorts PlatformProgramPorts();

// The program from start to end on the main thread: makes the service
// application, runs steps on it (Initialize, CreateForm, Run) and gives the
// process's exit code: what they return, 1 when a failure escapes them. In
// service mode that failure goes to the event log: a service has no desktop,
// and a box there would hold the process for ever while the service manager
// still shows it running. In install and uninstall runs a person is there,
// and the box shows it.
int RunApplication(const std::function<int(ServiceApplication&)>& steps,
                   const ProgramPorts& ports = PlatformProgramPorts());

// The module the control handler reaches; set by CreateForm.
ServiceModule* ModuleReference();

}  // namespace vantrel
