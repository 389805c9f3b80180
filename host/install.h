// Installing and removing the service: the registration values, the result
// boxes, the operating-system failure texts and the instance-name arguments.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

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

// What one module registers.
struct ServiceRegistration {
  String name;          // "VantrelSrv"
  String display_name;  // "Vantrel"
  String binary_path;   // the executable, quoted when it holds a blank
};

// One created registration, open until destroyed.
class ScmService {
 public:
  virtual ~ScmService() = default;
  // Deletes the registration; raises the operating-system failure.
  virtual void Delete() = 0;
};

// The opened service manager, closed when destroyed.
class ScmPort {
 public:
  virtual ~ScmPort() = default;
  // Creates the registration (auto start, own process, LocalSystem); raises
  // the operating-system failure (1073 when it exists).
  virtual std::unique_ptr<ScmService> Create(const ServiceRegistration& registration) = 0;
  // Opens the registration by name (1060 when absent).
  virtual std::unique_ptr<ScmService> Open(const String& name) = 0;
};

enum class BoxKind { kError, kInformation };

// Where the installer meets the platform; tests put recorders here.
struct InstallPorts {
  std::function<std::unique_ptr<ScmPort>()> open_scm;
  std::function<String()> executable_path;
  std::function<void(BoxKind, const String&)> show_box;
};

// The real parts of this platform.
InstallPorts PlatformInstallPorts();

// Opens the service manager of this platform; raises the operating-system
// failure (code 5 when access is denied).
std::unique_ptr<ScmPort> OpenPlatformScm();

// The executable's full path.
String ExecutablePath();

// "System Error.  Code: %d." CR LF and the system text, or "A call to an
// OS function failed" for code 0.
String OsFailureMessage(std::uint32_t code, const String& system_text);
// The failure for a code with this platform's wording of it.
[[noreturn]] void RaiseOsFailure(std::uint32_t code);
// The Windows wording of a service-manager code (trailing period removed).
String ScmErrorText(std::uint32_t code);

// The path as registered: in double quotes when it holds a blank.
String QuotedBinaryPath(const String& path);

// Installs (install true) or removes the module with the given ports.
void UpdateRegistrationWith(ServiceModule& module, const InstallHooks& hooks, bool install, bool silent,
                            const InstallPorts& ports);

// Sets the application's UpdateRegistration to install its module with
// these hooks and the platform's parts.
void AttachInstaller(ServiceApplication& application, InstallHooks hooks);

// The arguments after the program name of a Windows command line: split at
// blanks and control characters, double quotes open and close stretches in
// which blanks do not split and are dropped, a pair of double quotes at the
// start of an argument is skipped, counting stops at the first empty one.
std::vector<String> SplitCommandLine(const String& command_line);

// The instance name from the counted arguments (CountedArguments): the last
// one not beginning with "/", empty when none. trace receives "paramcount"
// and "paramN" lines for the counted arguments.
String InstanceNameFromArguments(const std::vector<String>& args,
                                 const std::function<void(const String&, const String&)>& trace);

}  // namespace vantrel
