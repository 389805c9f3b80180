// The install hooks of the module: the instance name from the command line
// or the naming dialog, stored as "instancename".
#include <memory>

#include "host/install.h"
#include "host/naming_dialog.h"
#include "host/service_application.h"
#include "platform/exception.h"
#include "platform/trace.h"
#include "service/vantrel_srv.h"

namespace vantrel {

const char16_t kNoNameRefusal[] =
    u"Anna parametrina k\u00e4ytt\u00f6instanssin SELV\u00c4KIELINEN, YMM\u00c4RRETT\u00c4V\u00c4 nimi";

void TVantrelSrv::ServiceBeforeInstall(TService* /*sender*/) {
  Timer1.SetEnabled(false);  // no tick reaches the installing process
  String name = InstanceNameFromArguments(
      CommandLineArguments(), [](const String& label, const String& value) { TraceValue(label, value); });
  if (name.empty()) {
    std::optional<String> typed = AskInstanceName();
    if (!typed) throw Exception(kNoNameRefusal);
    name = *typed;
  }
  if (name.empty()) throw Exception(kNoNameRefusal);
  std::unique_ptr<TRegistry> reg;
  if (avaaRekisteri(reg)) {
    reg->WriteString(u"instancename", name);
    reg->CloseKey();
  }
}

void TVantrelSrv::ServiceAfterInstall(TService* /*sender*/) {}

InstallHooks TVantrelSrv::InstallHooksOf() {
  InstallHooks hooks;
  hooks.before_install = [this](TService& sender) { ServiceBeforeInstall(&sender); };
  hooks.after_install = [this](TService& sender) { ServiceAfterInstall(&sender); };
  return hooks;
}

}  // namespace vantrel
