#include "host/service_application.h"

#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <exception>
#include <mutex>
#include <optional>
#include <system_error>
#include <thread>

#include "host/message_box.h"
#include "host/own_console.h"
#include "host/service_thread.h"
#include "platform/exception.h"
#include "platform/process.h"
#include "platform/system_text.h"

namespace vantrel {

namespace {

ServiceModule* g_module_reference = nullptr;

// The exit codes of the STOPPED report of a start whose claim was refused:
// ERROR_SERVICE_SPECIFIC_ERROR, and 1, as the process's own exit code.
constexpr std::uint32_t kServiceSpecificError = 1066;
constexpr std::uint32_t kRefusedExitCode = 1;

// The event type of a warning entry (EVENTLOG_WARNING_TYPE).
constexpr std::uint16_t kEventWarning = 2;

}  // namespace

// Set by the service's start on the ServiceMain thread, or by the dispatcher
// thread when the dispatcher returned without starting the service (as
// outside the service manager); waited for by the main thread.
struct ServiceApplication::ServiceStart {
  enum class Outcome { kPending, kStarted, kRefused, kNotStarted };

  void Decide(Outcome decided, std::shared_ptr<void> held = nullptr, std::exception_ptr refused = nullptr) {
    {
      std::lock_guard lock(mutex);
      if (outcome != Outcome::kPending) return;
      outcome = decided;
      claim = std::move(held);
      refusal = std::move(refused);
    }
    changed.notify_all();
  }

  Outcome Wait() {
    std::unique_lock lock(mutex);
    changed.wait(lock, [this] { return outcome != Outcome::kPending; });
    return outcome;
  }

  // The main thread has left the main loop, for good.
  void EndLoop() {
    {
      std::lock_guard lock(mutex);
      loop_ended = true;
    }
    changed.notify_all();
  }

  // True once the main loop has ended; waits up to ms for it.
  bool WaitForLoopEnd(unsigned ms) {
    std::unique_lock lock(mutex);
    return changed.wait_for(lock, std::chrono::milliseconds(ms), [this] { return loop_ended; });
  }

  // The main loop is stuck in a check: the process ends without it.
  void AbandonLoop() {
    std::lock_guard lock(mutex);
    loop_abandoned = true;
  }
  bool LoopAbandoned() {
    std::lock_guard lock(mutex);
    return loop_abandoned;
  }

  void ReleaseClaim() {
    std::shared_ptr<void> released;
    std::lock_guard lock(mutex);
    released = std::move(claim);
  }

  std::mutex mutex;
  std::condition_variable changed;
  Outcome outcome = Outcome::kPending;
  std::shared_ptr<void> claim;
  std::exception_ptr refusal;
  bool loop_ended = false;
  bool loop_abandoned = false;
};

ServiceModule* ModuleReference() { return g_module_reference; }

ServiceApplication::ServiceApplication(std::vector<String> arguments)
    : switches_(ParseSwitches(arguments)),
      app_writer_(ExecutableFileName()),
      platform_(NewPlatform()),
      start_(std::make_unique<ServiceStart>()) {}

ServiceApplication::~ServiceApplication() {
  module_.reset();
  AdoptModule(nullptr);
}

std::function<std::unique_ptr<TimerPort>(std::function<void()>)> ServiceApplication::TimerFactory() {
  return [this](std::function<void()> on_tick) { return loop_.NewTimer(std::move(on_tick)); };
}

void ServiceApplication::AdoptModule(std::unique_ptr<ServiceModule> module) {
  module_ = std::move(module);
  g_module_reference = module_.get();
}

int ServiceApplication::Run() {
  const Switches& switches = switches_;
  switch (switches.mode) {
    case RunMode::kInstall:
    case RunMode::kUninstall:
      // Installation and removal plug in here.
      if (!UpdateRegistration) {
        throw Exception(switches.mode == RunMode::kInstall ? String(u"Service installation is not built in")
                                                           : String(u"Service removal is not built in"));
      }
      ReleaseOwnConsole();  // started from Explorer: only the dialog and the boxes show
      UpdateRegistration(switches.mode == RunMode::kInstall, switches.silent);
      return 0;
    case RunMode::kTest:
      if (!SendTestNotice) throw Exception(u"The test notice is not built in");
      return SendTestNotice();
    case RunMode::kService: RunServiceMode(); return 0;
  }
  return 0;
}

void ServiceApplication::RunMainLoop() {
  for (;;) {
    try {
      loop_.Run();
      return;
    } catch (const std::system_error&) {
      throw;  // the loop itself failed: nothing to go on with
    } catch (...) {
      app_writer_.LogMessage(CurrentFailureMessage());
    }
  }
}

bool ServiceApplication::ClaimAtServiceStart(ServiceModule& module) {
  try {
    start_->Decide(ServiceStart::Outcome::kStarted, ClaimServiceMode ? ClaimServiceMode() : nullptr);
    return true;
  } catch (...) {
    start_->Decide(ServiceStart::Outcome::kRefused, nullptr, std::current_exception());
  }
  // The service manager sees a start that failed, not one that ran and
  // stopped; a stop it was told of never counts as a crash to recover from.
  module.Win32ErrCode = kServiceSpecificError;
  module.ErrCode = kRefusedExitCode;
  module.SetStatus(ServiceState::kStopped);
  return false;
}

void ServiceApplication::EndChecksAtStop(ServiceModule& module) {
  loop_.Quit();
  if (!WaitForChecksAtStop(
          module, [this](unsigned ms) { return start_->WaitForLoopEnd(ms); }, kStopReportMs, kChecksEndLimitMs)) {
    start_->AbandonLoop();
    module.LogMessage(u"The check under way did not end after the stop; the service ends without it", kEventWarning);
    return;
  }
  start_->ReleaseClaim();
}

void ServiceApplication::RunServiceMode() {
  std::function<std::uint32_t()> dispatch = ServiceDispatcher();
  std::uint32_t dispatcher_result = 0;
  std::thread dispatcher([this, dispatch = std::move(dispatch), &dispatcher_result] {
    dispatcher_result = dispatch();
    // STOPPED has been told; the main thread will never come back.
    if (start_->LoopAbandoned()) std::_Exit(0);
    start_->Decide(ServiceStart::Outcome::kNotStarted);
    loop_.Quit();
  });
  // The claim guards the checks, and the main loop delivers the ticks that
  // run them: it begins only once the service has started under the claim.
  // Started outside the service manager nothing starts, nothing is claimed
  // and no check runs; the dispatcher's code is logged below.
  if (start_->Wait() == ServiceStart::Outcome::kStarted) {
    try {
      RunMainLoop();
    } catch (...) {
      start_->EndLoop();
      dispatcher.detach();
      throw;
    }
  }
  start_->EndLoop();
  dispatcher.join();
  start_->ReleaseClaim();  // held until the last check has ended
  if (start_->refusal) std::rethrow_exception(start_->refusal);
  if (dispatcher_result != 0) app_writer_.LogMessage(SystemErrorText(dispatcher_result));
}

ProgramPorts PlatformProgramPorts() {
  return ProgramPorts{
      CommandLineArguments(),
      [](const String& message) { EventLogger(ExecutableFileName()).LogMessage(message); },
      [](const String& message) { ShowMessageBox(BoxKind::kApplicationError, message); },
  };
}

namespace {

// Writes the failure being handled where this run's mode shows it; the
// process's exit code for it.
int ReportFailure(const ProgramPorts& ports) {
  const String message = CurrentFailureMessage();
  if (ParseSwitches(ports.arguments).mode == RunMode::kService) {
    ports.log_failure(message);
  } else {
    ports.show_failure(message);
  }
  return 1;
}

}  // namespace

int RunApplication(const std::function<int(ServiceApplication&)>& steps, const ProgramPorts& ports) {
  std::optional<ServiceApplication> application;
  try {
    application.emplace(ports.arguments);
  } catch (...) {
    return ReportFailure(ports);
  }
  // A failure of the steps is shown while the application, its module and
  // the module's timer still live: the box's own message loop goes on
  // running the timer, so a check falls due and runs while the box waits,
  // as it does under any other box of the program.
  try {
    return steps(*application);
  } catch (...) {
    return ReportFailure(ports);
  }
}

}  // namespace vantrel
