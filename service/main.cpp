// Program entry: the service application, COM on the main thread, the
// service module with its armed timer and the real components at its ports, then
// Run, which chooses the mode from
// the command line. A failure that escapes ends the process with code 1; in
// service mode it goes to the event log, otherwise to a box. The test switch
// ends it with its own code. A process that the program started for one HTTP
// attempt (Linux) makes it and ends, before any of that.
#include "host/install.h"
#include "host/service_application.h"
#include "host/service_module.h"
#include "notify/attempt_process.h"
#include "service/real_ports.h"
#include "service/vantrel_srv.h"
#include "settings/settings_key_claim.h"

int main() {
  if (const std::optional<int> code = vantrel::RunHttpAttemptProcess()) return *code;
  return vantrel::RunApplication([](vantrel::ServiceApplication& application) {
    application.Initialize();                                                                 // COM on Windows
    auto& module = application.CreateForm<vantrel::TVantrelSrv>(vantrel::RealModulePorts());  // first tick in 1000 ms
    vantrel::AttachInstaller(application, module.InstallHooksOf());
    application.ClaimServiceMode = vantrel::ClaimSettingsKey;  // one service process per settings key
    application.SendTestNotice = [&module] { return module.SendTestNotice(); };
    return application.Run();
  });
}
