#include "host/install.h"

#include <utility>

#include "host/message_box.h"
#include "host/naming_dialog.h"
#include "host/switches.h"
#include "host/service_application.h"
#include "platform/exception.h"

namespace vantrel {

const char16_t kNamingTitle[] = u"Anna instanssin selv\u00e4kielinen, ymm\u00e4rrett\u00e4v\u00e4 nimi";

String OsFailureMessage(std::uint32_t code, const String& system_text) {
  if (code == 0) return u"A call to an OS function failed";
  return u"System Error.  Code: " + IntToStr(code) + u".\r\n" + system_text;
}

void RaiseOsFailure(std::uint32_t code) { throw Exception(OsFailureMessage(code, ScmErrorText(code))); }

String QuotedBinaryPath(const String& path) {
  return path.find(u' ') == String::npos ? path : u"\"" + path + u"\"";
}

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
  std::unique_ptr<ScmPort> scm = ports.open_scm();  // a failure here leaves
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

InstallPorts PlatformInstallPorts() {
  return InstallPorts{OpenPlatformScm, ExecutablePath, ShowMessageBox};
}

void AttachInstaller(ServiceApplication& application, InstallHooks hooks) {
  application.UpdateRegistration = [&application, hooks = std::move(hooks)](bool install, bool silent) {
    ServiceModule* module = application.Module();
    if (!module) return;
    UpdateRegistrationWith(*module, hooks, install, silent, PlatformInstallPorts());
  };
}

std::vector<String> SplitCommandLine(const String& line) {
  std::vector<String> args;
  std::size_t pos = 0;
  const std::size_t n = line.size();
  bool first = true;  // the program name
  for (;;) {
    while (pos < n && line[pos] <= u' ') ++pos;
    if (pos + 1 < n && line[pos] == u'"' && line[pos + 1] == u'"') pos += 2;
    String token;
    while (pos < n && line[pos] > u' ') {
      if (line[pos] == u'"') {
        ++pos;
        while (pos < n && line[pos] != u'"') token += line[pos++];
        if (pos < n) ++pos;
      } else {
        token += line[pos++];
      }
    }
    if (first) {
      first = false;
      if (pos >= n && token.empty()) return args;
      continue;
    }
    if (token.empty()) return args;
    args.push_back(std::move(token));
  }
}

String InstanceNameFromArguments(const std::vector<String>& all,
                                 const std::function<void(const String&, const String&)>& trace) {
  const std::vector<String> args = CountedArguments(all);
  String name;
  trace(u"paramcount", IntToStr(static_cast<std::int64_t>(args.size())));
  for (std::size_t i = 0; i < args.size(); ++i) {
    trace(u"param" + IntToStr(static_cast<std::int64_t>(i + 1)), args[i]);
    if (args[i][0] != u'/') name = args[i];
  }
  return name;
}

}  // namespace vantrel
