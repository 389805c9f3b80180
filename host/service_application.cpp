#include "host/service_application.h"

#include <system_error>
#include <thread>

#include "host/message_box.h"
#include "host/own_console.h"
#include "platform/exception.h"
#include "platform/process.h"
#include "platform/system_text.h"

namespace vantrel {

namespace {

ServiceModule* g_module_reference = nullptr;

}  // namespace

ServiceModule* ModuleReference() { return g_module_reference; }

ServiceApplication::ServiceApplication(std::vector<String> arguments)
    : switches_(ParseSwitches(arguments)), app_writer_(ExecutableFileName()), platform_(NewPlatform()) {}

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
    case RunMode::kService: {
      // Held until the service mode has ended, its last check included.
      const std::shared_ptr<void> claim = ClaimServiceMode ? ClaimServiceMode() : nullptr;
      RunServiceMode();
      return 0;
    }
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

void ServiceApplication::RunServiceMode() {
  std::function<std::uint32_t()> dispatch = ServiceDispatcher();
  std::uint32_t dispatcher_result = 0;
  std::thread dispatcher([this, dispatch = std::move(dispatch), &dispatcher_result] {
    dispatcher_result = dispatch();
    loop_.Quit();
  });
  try {
    RunMainLoop();
  } catch (...) {
    dispatcher.detach();
    throw;
  }
  dispatcher.join();
  if (dispatcher_result != 0) app_writer_.LogMessage(SystemErrorText(dispatcher_result));
}

ProgramPorts PlatformProgramPorts() {
  return ProgramPorts{
      CommandLineArguments(),
      [](const String& message) { EventLogger(ExecutableFileName()).LogMessage(message); },
      [](const String& message) { ShowMessageBox(BoxKind::kApplicationError, message); },
  };
}

int RunApplication(const std::function<int(ServiceApplication&)>& steps, const ProgramPorts& ports) {
  try {
    ServiceApplication application(ports.arguments);
    return steps(application);
  } catch (...) {
    const String message = CurrentFailureMessage();
    if (ParseSwitches(ports.arguments).mode == RunMode::kService) {
      ports.log_failure(message);
    } else {
      ports.show_failure(message);
    }
    return 1;
  }
}

}  // namespace vantrel
