// The one service application of the process: the main loop, the service
// module it owns, the application's event log writer, and Run, which chooses
// the mode from the command line.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <utility>
#include <vector>

#include "host/event_logger.h"
#include "host/service.h"
#include "host/switches.h"
#include "platform/main_loop.h"

namespace vantrel {

class TServiceApplication {
 public:
  // Makes the main thread's loop and the application writer (source = the
  // executable's file name). On the main thread, before anything else.
  TServiceApplication();
  ~TServiceApplication();
  TServiceApplication(const TServiceApplication&) = delete;
  TServiceApplication& operator=(const TServiceApplication&) = delete;

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

  // Chooses the mode from the command line and runs it; the process's exit
  // code.
  int Run();

  // Installs or removes the service (the installer sets it); while unset, an
  // install or uninstall run fails with "not built in".
  std::function<void(bool install, bool silent)> UpdateRegistration;

  // Sends the test notice and gives the exit code (the module sets it);
  // while unset, a test run fails with "not built in".
  std::function<int()> SendTestNotice;

  MainLoop& Loop() { return loop_; }
  TEventLogger& ApplicationWriter() { return app_writer_; }
  TService* Module() { return module_.get(); }

 private:
  void AdoptModule(std::unique_ptr<TService> module);
  // Runs the main loop until quit; a failure escaping one message goes to
  // the application writer and the loop goes on.
  void RunMainLoop();
  // Service mode: the platform's dispatcher, the service threads, the loop.
  void RunServiceMode();

  struct Platform;  // the platform state (COM on Windows)

  MainLoop loop_;
  TEventLogger app_writer_;
  std::unique_ptr<Platform> platform_;
  std::unique_ptr<TService> module_;  // destroyed first: its timer uses the loop
};

// The module the control handler reaches; set by CreateForm.
TService* ModuleReference();

// The program's arguments 1..n.
std::vector<String> CommandLineArguments();

// The executable's file name with its extension, without the folder.
String ExecutableFileName();

// Shows a failure that ends the process ("Application Error" box on
// Windows, standard error on Linux).
void ShowFatalError(const String& message);

}  // namespace vantrel
