#include "host/install.h"

#include <utility>

#include "host/service_application.h"
#include "platform/exception.h"
#include "platform/process.h"

namespace vantrel {

namespace {

void CallHook(const std::function<void(ServiceModule&)>& hook, ServiceModule& module) {
  if (hook) hook(module);
}

void InstallModule(ServiceModule& module, const InstallHooks& hooks, ScmPort& scm, const InstallPorts& ports) {
  const ServiceRegistration registration{module.Name(), module.DisplayName(),
                                         QuotedBinaryPath(ports.executable_path())};
  CallHook(hooks.before_install, module);
  std::unique_ptr<ScmService> service = scm.Create(registration);
  try {
    CallHook(hooks.after_install, module);
  } catch (...) {
    service->Delete();
    throw;
  }
}

void RemoveModule(ServiceModule& module, const InstallHooks& hooks, ScmPort& scm) {
  CallHook(hooks.before_uninstall, module);
  scm.Open(module.Name())->Delete();
  CallHook(hooks.after_uninstall, module);
}

}  // namespace

void UpdateRegistrationWith(ServiceModule& module, const InstallHooks& hooks, bool install, bool silent,
                            const InstallPorts& ports) {
  bool success = true;
  // A manager that cannot be opened raises past the boxes: the run ends
  // with the program's "Application Error".
  std::unique_ptr<ScmPort> scm = ports.open_scm();
  try {
    if (install) {
      InstallModule(module, hooks, *scm, ports);
    } else {
      RemoveModule(module, hooks, *scm);
    }
  } catch (...) {
    success = false;
    const String verb = install ? u"install" : u"uninstall";
    ports.show_box(BoxKind::kError, u"Service \"" + module.DisplayName() + u"\" failed to " + verb +
                                        u" with error: \"" + CurrentFailureMessage() + u"\"");
  }
  if (success && !silent) {
    ports.show_box(BoxKind::kInformation,
                   install ? u"Service installed successfully" : u"Service uninstalled successfully");
  }
}

InstallPorts PlatformInstallPorts() { return InstallPorts{OpenPlatformScm, ExecutablePath, ShowMessageBox}; }

void AttachInstaller(ServiceApplication& application, InstallHooks hooks) {
  application.UpdateRegistration = [&application, hooks = std::move(hooks)](bool install, bool silent) {
    ServiceModule* module = application.Module();
    if (!module) return;
    UpdateRegistrationWith(*module, hooks, install, silent, PlatformInstallPorts());
  };
}

}  // namespace vantrel
