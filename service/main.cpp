// Program entry: the service application, COM on the main thread, the
// service module with its armed timer, then Run, which chooses the mode from
// the command line. A failure that escapes ends the process with code 1; the
// test switch ends it with its own code.
#include "host/install.h"
#include "host/service.h"
#include "host/service_application.h"
#include "platform/exception.h"
#include "service/vantrel_srv.h"

int main() {
  try {
    vantrel::TServiceApplication application;  // main loop and application writer
    application.Initialize();                  // COM on Windows
    auto& module = application.CreateForm<vantrel::TVantrelSrv>();  // arms Timer1: first tick in 1000 ms
    vantrel::AttachInstaller(application, module.InstallHooksOf());
    application.SendTestNotice = [&module] { return module.SendTestNotice(); };
    return application.Run();
  } catch (...) {
    vantrel::ShowFatalError(vantrel::CurrentFailureMessage());
    return 1;
  }
}
