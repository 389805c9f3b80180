// The install hooks of the module: the instance name from the command line
// or the naming dialog, stored as "instancename".
#include <memory>

#include "host/install.h"
#include "host/install_arguments.h"
#include "host/naming_dialog.h"
#include "platform/exception.h"
#include "platform/process.h"
#include "platform/trace.h"
#include "service/vantrel_srv.h"

namespace vantrel {

const char16_t kNoNameRefusal[] =
    u"Anna parametrina k\u00e4ytt\u00f6instanssin SELV\u00c4KIELINEN, YMM\u00c4RRETT\u00c4V\u00c4 nimi";

void TVantrelSrv::ServiceBeforeInstall(ServiceModule* /*sender*/) {
  Timer1.SetEnabled(false);  // no tick reaches the installing process
  String name = InstanceNameFromArguments(CommandLineArguments(),
                                          [](const String& label, const String& value) { TraceValue(label, value); });
  if (name.empty()) {
    std::optional<String> typed = AskInstanceName();
    if (!typed) throw Exception(kNoNameRefusal);
    name = *typed;
  }
  if (name.empty()) throw Exception(kNoNameRefusal);
  std::unique_ptr<SettingsKey> reg;
  if (avaaRekisteri(reg)) {
    reg->WriteString(u"instancename", name);
    reg->CloseKey();
  }
}

void TVantrelSrv::ServiceAfterInstall(ServiceModule* /*sender*/) {}

InstallHooks TVantrelSrv::InstallHooksOf() {
  InstallHooks hooks;
  hooks.before_install = [this](ServiceModule& sender) { ServiceBeforeInstall(&sender); };
  hooks.after_install = [this](ServiceModule& sender) { ServiceAfterInstall(&sender); };
  return hooks;
}

}  // namespace vantrel
