// The service manager as the installer sees it: what one module registers,
// the opened manager and one registration, and the failure texts of the
// manager's codes. install_scm_win.cpp speaks to the Windows service manager;
// install_scm_linux.cpp keeps systemd units in a folder.
#pragma once

#include <cstdint>
#include <memory>

#include "platform/text.h"

namespace vantrel {

// What one module registers.
struct ServiceRegistration {
  String name;          // "VantrelSrv"
  String display_name;  // "Vantrel"
  String binary_path;   // the executable, quoted when it holds a blank
};

// The path as registered: in double quotes when it holds a blank.
String QuotedBinaryPath(const String& path);

// One created registration, open until destroyed.
class ScmService {
 public:
  virtual ~ScmService() = default;
  // Deletes the registration and what the platform keeps beside it; raises
  // the operating-system failure.
  virtual void Delete() = 0;
};

// The opened service manager, closed when destroyed.
class ScmPort {
 public:
  virtual ~ScmPort() = default;
  // Creates the registration (auto start, own process, LocalSystem) with what
  // the platform keeps beside it (Windows: a restart a minute after a crash,
  // the event sources' message file); raises the operating-system failure
  // (1073 when it exists) and then leaves nothing created.
  virtual std::unique_ptr<ScmService> Create(const ServiceRegistration& registration) = 0;
  // Opens the registration by name (1060 when absent).
  virtual std::unique_ptr<ScmService> Open(const String& name) = 0;
};

// Opens the service manager of this platform; raises the operating-system
// failure (code 5 when access is denied).
std::unique_ptr<ScmPort> OpenPlatformScm();

// "System Error.  Code: %d." CR LF and the system text, or "A call to an
// OS function failed" for code 0.
String OsFailureMessage(std::uint32_t code, const String& system_text);
// The failure for a code with this platform's wording of it.
[[noreturn]] void RaiseOsFailure(std::uint32_t code);
// The Windows wording of a service-manager code (trailing period removed).
String ScmErrorText(std::uint32_t code);

}  // namespace vantrel
