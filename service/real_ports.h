// The module's ports wired to the build's real components: what the program
// runs with. Linked into the program, never into the module's library.
#pragma once

#include "service/vantrel_srv.h"

namespace vantrel {

// The settings key (the registry on Windows, the settings file on Linux),
// the event log query (WMI, the journal), the webhook exchange, the
// computer name, the local clock, the status line, the certificate note,
// the check-outcome entries (the Application log where the service manager
// shows no status line) and standard output.
ModulePorts RealModulePorts();

}  // namespace vantrel
