// Installing and removing the service: the module's hooks around its
// registration, the steps with their result boxes, and the ports through
// which they reach the platform.
#pragma once

#include <functional>
#include <memory>

#include "host/install_scm.h"
#include "host/message_box.h"
#include "host/service_module.h"
#include "platform/text.h"

namespace vantrel {

class ServiceApplication;

// The hooks of the module around creating and deleting its registration;
// an empty one is not set.
struct InstallHooks {
  std::function<void(ServiceModule&)> before_install;
  std::function<void(ServiceModule&)> after_install;
  std::function<void(ServiceModule&)> before_uninstall;
  std::function<void(ServiceModule&)> after_uninstall;
};

// Where the installer meets the platform; tests put recorders here.
struct InstallPorts {
  std::function<std::unique_ptr<ScmPort>()> open_scm;
  std::function<String()> executable_path;
  std::function<void(BoxKind, const String&)> show_box;
};

// The real components of this platform.
InstallPorts PlatformInstallPorts();

// Installs (install true) or removes the module with the given ports: a
// failure after the manager is open shows an error box, a success an
// information box unless silent; a manager that cannot be opened raises.
void UpdateRegistrationWith(ServiceModule& module, const InstallHooks& hooks, bool install, bool silent,
                            const InstallPorts& ports);

// Sets the application's UpdateRegistration to install its module with
// these hooks and the platform's parts.
void AttachInstaller(ServiceApplication& application, InstallHooks hooks);

}  // namespace vantrel
